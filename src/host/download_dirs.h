// The private folders that downloads pass through on their way to the file being saved:
// ".davfp-PID-XXXXXX" next to it, named after the process that made them. A process that ends removes its
// own; one that is killed outright cannot, and the next download into the same folder removes what it left,
// telling such leftovers from the folders of processes that still run by the process named. Functions of the
// file system; thread-safe as the file system is.
#pragma once

#include <string>

namespace davfp::cli {

// Makes a new private folder (mode 0700) of this process in base. Throws platform::Error (POSIX) when it
// cannot.
std::string makeDownloadDirectory(const std::string& base);

// Removes from base, with everything in them, the download folders of this user whose process no longer
// runs. The folders of running processes (this one's too), of other users, names that name no process (such
// as those of older versions, which cannot be told from a running one's), and anything that is not a folder
// stay. Never fails: what cannot be removed stays for the next time.
void removeAbandonedDownloadDirectories(const std::string& base);

}  // namespace davfp::cli
