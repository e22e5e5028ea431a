// davfp: plays the platform's part for one file provider domain, so that a person or a script can use a
// WebDAV drive from the command line through the extension's contract.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "host/commands.h"
#include "host/drive_choice.h"
#include "host/drive_session.h"
#include "host/failure.h"
#include "host/interrupt.h"
#include "host/json_output.h"
#include "host/mount_command.h"
#include "host/options.h"
#include "host/pin_commands.h"
#include "host/program_env.h"
#include "host/visible_text.h"

namespace {

using namespace davfp::cli;

constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int kInterrupted = kInterruptedStatus;

int report(const Failure& failure, const Options& options, bool json, const Interrupt& interrupt) {
  if (options.command == Command::mount) tellStarter(options, visible(humanMessage(failure, false)));
  if (json) {
    emit(jsonLine(errorJson(failure.error)));
  } else {
    std::fprintf(stderr, "%s\n", visible(humanMessage(failure, options.verbose)).c_str());
  }
  bool cancelled =
      failure.error.is(davfp::platform::kCocoaErrorDomain, davfp::platform::cocoa::kUserCancelled);
  return cancelled && interrupt.interrupted() ? kInterrupted : kFailed;
}

}  // namespace

int main(int argc, char** argv) {
  static Interrupt interrupt;
  // Never destroyed, like the standard Env: the engine's threads may still hold it while the process ends.
  static std::atomic<ProgramEnv*> env = nullptr;
  // Before any thread exists, so that every thread inherits the blocked signals.
  handleSignals(interrupt, [] {
    if (ProgramEnv* e = env.load()) e->cleanUp();
  });

  auto parsed = parseCommandLine(argc, argv);
  if (const int* status = std::get_if<int>(&parsed)) return *status;
  const Options& options = std::get<Options>(parsed);
  bool json = options.json || isPlatformCommand(options.command);

  int status = 0;
  std::optional<Drive> drive;
  // Lives until the process ends (see the end of main), with the drive's lock and the extension.
  std::optional<DriveSession> session;
  auto explained = [&](Failure failure) {
    return drive ? explainUnpublished(explainRefused(std::move(failure), *drive), *drive, *env.load())
                 : failure;
  };
  try {
    env = new ProgramEnv(downloadBase(options));
    ProgramEnv& programEnv = *env.load();
    if (options.command == Command::unmount) {
      status = unmount(options, programEnv, interrupt.token());
    } else if (options.command == Command::status) {
      status = mountStatus(options, programEnv);
    } else if (options.command == Command::syncNow) {
      status = syncNow(options, programEnv, interrupt);
    } else if (options.command == Command::pin) {
      status = pin(options, programEnv, interrupt);
    } else if (options.command == Command::unpin) {
      status = unpin(options, programEnv);
    } else if (options.command == Command::evict) {
      status = evict(options, programEnv);
    } else {
      drive = chooseDrive(options.domain, programEnv);
      programEnv.setDomain(drive->domain);
      const bool mount = options.command == Command::mount;
      if (mount && !options.foreground) {
        status = startBackgroundMount(options, drive->domain);
      } else {
        // A mount does not wait for the drive: it would keep the folder away for as long as the other holds
        // it.
        session.emplace(davfp::platform::Domain{drive->domain, drive->displayName}, programEnv, interrupt,
                        !options.noWait && !mount);
        session->open();
        Context context{session->platform(), programEnv, interrupt, options, *session};
        status = mount                                ? runMount(context, drive->domain)
                 : isPlatformCommand(options.command) ? runPlatformCommand(context)
                                                      : runPathCommand(context);
      }
    }
  } catch (const UsageError& e) {
    std::fprintf(stderr, "davfp: %s\n", visible(e.what()).c_str());
    status = kUsage;
  } catch (const Failure& failure) {
    status = report(explained(failure), options, json, interrupt);
  } catch (const davfp::platform::Error& error) {
    status = report(explained(Failure{{}, error, {}}), options, json, interrupt);
  }
  if (ProgramEnv* e = env.load()) e->cleanUp();
  std::fflush(stdout);
  std::fflush(stderr);
  // The answer is out. Like a platform, the program keeps its extension for as long as it lives: taking it
  // apart (a large domain's state, its connections) is no part of any command, and a cancelled request may
  // still run on the engine's threads. Everything the engine keeps is already on disk.
  std::_Exit(std::ferror(stdout) ? kFailed : status);
}
