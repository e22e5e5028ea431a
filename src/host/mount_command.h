// The mount commands. `davfp mount` in the foreground runs the mount in this process on the drive's session
// until the folder is unmounted or the program is interrupted; without --foreground it starts itself again in
// the foreground as a process of its own (a new session, its log in the replica's folder) and returns once
// that process has mounted the folder or failed to, with its reason. `davfp unmount` unmounts the folder and
// waits until the mount's process has let the drive go. `davfp status` reads the mount's journal and replica,
// `davfp sync-now` asks the mount's process for a change pass (SIGUSR1) and waits for it to be done.
#pragma once

#include <stop_token>
#include <string>

#include "host/commands.h"
#include "host/options.h"
#include "platform/env.h"

namespace davfp::cli {

int runMount(Context& context, const std::string& domain);
// Starts the background mount of domain and waits for it to mount.
int startBackgroundMount(const Options& options, const std::string& domain);
// A background mount that fails before it mounts says why to the process that started it.
void tellStarter(const Options& options, const std::string& failure);
int unmount(const Options& options, platform::Env& env, std::stop_token stop);
// status and sync-now: about the mount at options.mountpoint, or the mount of the drive chosen as for the
// other commands.
int mountStatus(const Options& options, platform::Env& env);
int syncNow(const Options& options, platform::Env& env, Interrupt& interrupt);

}  // namespace davfp::cli
