// Which drives are mounted where, from the kernel's table of mounts (/proc/self/mounts): a drive's mount
// shows as the file system type "fuse.davfp" with the source "davfp:DOMAIN", the domain percent-encoded
// (fsnameOf) so that no character of it can break the mount's options or the table's fields.
#pragma once

#include <string>

namespace davfp::mount {

// The source under which domain is mounted.
std::string fsnameOf(const std::string& domain);
// The mount point of domain's mount; empty when it is not mounted. Given the command line of the process
// that holds the drive, only a mount that it names counts: a domain may be mounted by other users too, with
// homes (and drives) of their own. With the holder's pid, its arguments count also as paths relative to its
// working directory, so that a mount point given as "mnt" is found as well.
std::string mountpointOf(const std::string& domain, const std::string& holderCommand = {},
                         long holderPid = 0);
// The domain mounted at the absolute path mountpoint; empty when no drive is mounted there.
std::string domainMountedAt(const std::string& mountpoint);

}  // namespace davfp::mount
