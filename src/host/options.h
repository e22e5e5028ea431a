// The davfp command line: which command, its arguments and the global options, parsed with CLI11.
// Parsing checks only the shape of the command line; what the arguments name is checked by the commands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/file_provider.h"

namespace davfp::cli {

enum class Command {
  item,
  enumerate,
  changes,
  anchor,
  fetch,
  create,
  modify,
  remove,
  ls,
  get,
  put,
  mkdir,
  mv,
  rm,
  watch,
  cat,
  tree,
  du,
  mount,
  unmount,
  status,
  syncNow,
  pin,
  unpin,
  evict
};

// The platform commands speak JSON only; the path commands speak to people unless --json is given.
bool isPlatformCommand(Command command);

struct Options {
  Command command = Command::ls;
  std::optional<std::string> domain;
  bool verbose = false;
  bool json = false;
  // Fail at once when another process is using the drive, instead of waiting for it.
  bool noWait = false;

  // Identifiers and containers (aliases allowed), as given.
  std::string id;
  std::string container;
  std::string parent;
  // create: the new item's name; modify: the new name.
  std::optional<std::string> name;
  // fetch: where the contents go.
  std::string dest;
  // create: folder or type; create, modify: the local file with the contents.
  bool folder = false;
  std::optional<std::string> type;
  std::optional<std::string> contents;
  // modify
  std::optional<std::string> newParent;
  std::optional<std::string> fieldMask;
  // delete, rm
  bool recursive = false;
  std::optional<std::string> version;
  bool beforeFirstSync = false;
  // path commands
  std::string path;      // ls, get, put (target), mkdir, rm
  std::string local;     // get (optional target), put (source)
  // get and put of several items, or with -r: what is copied (drive paths for get, local ones for put); the
  // destination is path (put) or local (get).
  std::vector<std::string> sources;
  std::string from, to;  // mv
  bool longFormat = false;
  bool humanSizes = false;  // ls -h
  bool parents = false;
  int interval = 5;  // watch, in seconds
  // mount, unmount
  std::string mountpoint;
  int poll = 10;            // seconds between change passes
  int64_t cacheMax = 0;     // bytes the mount's replica may take; 0: its default
  bool foreground = false;  // stay in the terminal instead of going into the background
  bool debug = false;       // libfuse's request log
  int readyFd = -1;         // the background mount tells its starter through this descriptor
  // pin, unpin, evict: paths in a mount's folder, or drive paths; cat, du: drive paths
  std::vector<std::string> paths;
};

// Parses the command line. An exit status instead of options when the program is done already: 0 after
// --help or --version, 2 after a usage error (the message already on stderr).
std::variant<Options, int> parseCommandLine(int argc, char** argv);

// The identifier an argument names: "root", "workingset" and "trash" are the container identifiers, anything
// else is an item identifier as it is.
platform::ItemIdentifier identifierFor(const std::string& argument);

// A --fields mask in decimal or 0x hexadecimal. Throws UsageError.
platform::ItemFields parseFieldMask(const std::string& text);

}  // namespace davfp::cli
