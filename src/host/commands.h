// The commands. Each checks its local arguments (names, local files, destinations) before it makes any
// request, then works through the platform contract only, prints its output on stdout, and returns the exit
// status; failures are thrown (Failure, UsageError). Run on the main thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "client/platform_client.h"
#include "host/drive_session.h"
#include "host/interrupt.h"
#include "host/options.h"
#include "host/program_env.h"

namespace davfp::cli {

struct Context {
  client::PlatformClient& platform;
  ProgramEnv& env;
  Interrupt& interrupt;
  const Options& options;
  // The drive, open while the command runs; a command that waits between passes lets it go meanwhile.
  DriveSession& session;
};

int runPlatformCommand(Context& context);
int runPathCommand(Context& context);

// The destination of get that means standard output.
inline constexpr const char* kStandardOutput = "-";

// Where a command that downloads wants the engine's temporary directory: next to the file it saves (or the
// file a link there leads to). Empty for the other commands and for a destination written in place (the
// standard temporary directory).
std::string downloadBase(const Options& options);

// The private download directory, made before the request so that a place that cannot take the file fails
// as a local error (Failure), not as a failed download.
std::string prepareDownload(ProgramEnv& env);

// Writes text to stdout at once: output goes out as it is made, also into pipes (watch).
void emit(const std::string& text);
// Prints each item as a JSON line (appendItemLine), written out in large pieces and flushed once at the end.
// Items of the folder at folderPath carry their paths; without it, the paths they tell (evidentPath).
void emitItems(const std::vector<platform::ItemRef>& items,
               const std::optional<std::string>& folderPath = std::nullopt);

}  // namespace davfp::cli
