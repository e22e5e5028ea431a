#include "host/options.h"

#include <CLI/CLI.hpp>
#include <cstdio>

#include "host/failure.h"
#include "host/help_pages.h"

#ifndef DAVFP_VERSION
#define DAVFP_VERSION "unknown"
#endif

namespace davfp::cli {

bool isPlatformCommand(Command command) {
  switch (command) {
    case Command::item:
    case Command::enumerate:
    case Command::changes:
    case Command::anchor:
    case Command::fetch:
    case Command::create:
    case Command::modify:
    case Command::remove:
      return true;
    default:
      return false;
  }
}

platform::ItemIdentifier identifierFor(const std::string& argument) {
  if (argument == "root") return platform::kRootContainerItemIdentifier;
  if (argument == "workingset") return platform::kWorkingSetContainerItemIdentifier;
  if (argument == "trash") return platform::kTrashContainerItemIdentifier;
  return argument;
}

platform::ItemFields parseFieldMask(const std::string& text) {
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  std::string digits = hex ? text.substr(2) : text;
  const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
  if (digits.empty() || digits.find_first_not_of(allowed) != std::string::npos ||
      digits.size() > (hex ? 16 : 19)) {
    throw UsageError("--fields: \"" + text + "\" is not a field mask (a number, decimal or 0x hexadecimal)");
  }
  return std::stoull(digits, nullptr, hex ? 16 : 10);
}

namespace {

constexpr const char* kFooter = R"(
Platform commands (item, enumerate, changes, anchor, fetch, create, modify, delete) print JSON, one object per
line. Path commands (ls, get, put, cat, tree, du, mkdir, mv, rm, watch) are for people; --json gives them
the same output. Wherever an identifier or a container is asked for, root, workingset and trash stand for the
platform's constants (the root is printed as NSFileProviderRootContainerItemIdentifier). Items in JSON carry
"path", the item's path on the drive ("/" for the root; null where a platform command cannot tell it without
asking the server), and "capabilityNames" beside the number "capabilities". mount makes the drive a folder
that every program can use; unmount ends it; status and sync-now are about a mount; pin, unpin and evict
keep a mount's files offline or free the space they take.

Exit status: 0 done, 1 the request failed, 2 usage error, 130 interrupted.
)";

struct Parser {
  Options o;
  CLI::App app{"davfp: use a WebDAV drive through its file provider extension, playing the platform's part.",
               "davfp"};
  std::string domain, name, type, contents, newParent, fieldMask, version;
  std::vector<std::pair<CLI::App*, Command>> commands;
  std::vector<std::string> getOperands, putOperands;

  CLI::App* command(const char* commandName, Command command, const char* description) {
    CLI::App* sub = app.add_subcommand(commandName, description);
    commands.emplace_back(sub, command);
    return sub;
  }

  void define() {
    // -h is a command's own option (ls -lh: sizes for people); help is --help only, in every command.
    app.set_help_flag("--help", "Print this help and exit");
    app.set_version_flag("--version", "davfp " DAVFP_VERSION);
    app.require_subcommand(1);
    app.fallthrough();
    app.footer(kFooter);
    app.add_option("--domain", domain,
                   "The drive's domain identifier, as drives.json lists it (also $DAVFP_DOMAIN); without "
                   "it, the default drive (davfp-host default), else the only drive published")
        ->envname("DAVFP_DOMAIN")
        ->type_name("ID");
    app.add_flag("-v,--verbose", o.verbose, "Show the platform's error domain and code with errors");
    app.add_flag("--json", o.json, "Path commands print the platform commands' JSON instead of text");
    app.add_flag("--no-wait", o.noWait,
                 "Fail at once (status 1) when another davfp process is using the drive, instead of waiting");

    auto* item = command("item", Command::item, "Print the item with this identifier");
    item->add_option("ID", o.id, "Item identifier, or root, workingset, trash")->required();

    auto* enumerate =
        command("enumerate", Command::enumerate, "Print every item of a container, one per line");
    enumerate->add_option("CONTAINER", o.container, "Folder identifier, or root, workingset, trash")
        ->required();

    command("changes", Command::changes,
            "Run one change pass over the working set: {\"updated\":ITEM} or {\"deleted\":ID} lines, then "
            "{\"anchor\":\"N\"}");
    command("anchor", Command::anchor, "Print the current sync anchor");

    auto* fetch = command("fetch", Command::fetch, "Write an item's contents to DEST and print the item");
    fetch->add_option("ID", o.id, "Item identifier")->required();
    fetch->add_option("DEST", o.dest, "Local file to write")->required();

    auto* create = command("create", Command::create, "Create an item in PARENT and print it");
    create->add_option("PARENT", o.parent, "Parent folder identifier, or root")->required();
    create->add_option("NAME", name, "The new item's name")->required();
    auto* folder = create->add_flag("--folder", o.folder, "Create a folder");
    create->add_option("--type", type, "The item's type (a MIME type name)")->excludes(folder);
    create->add_option("--contents", contents, "Local file with the new file's contents")->excludes(folder);

    auto* modify =
        command("modify", Command::modify,
                "Change an item: rename, move, replace contents; print the item with \"pendingFields\"");
    modify->add_option("ID", o.id, "Item identifier")->required();
    modify->add_option("--name", name, "New name");
    modify->add_option("--parent", newParent, "New parent folder identifier, or root");
    modify->add_option("--contents", contents, "Local file with the new contents");
    modify->add_option("--fields", fieldMask,
                       "Changed-field mask to send (decimal or 0x hex); default: from the options given");

    auto* remove = command("delete", Command::remove, "Delete an item");
    remove->add_option("ID", o.id, "Item identifier")->required();
    remove->add_flag("--recursive", o.recursive, "Delete a folder with everything in it");
    auto* ver = remove->add_option("--version", version, "Content version the deletion is based on");
    remove->add_flag("--before-first-sync", o.beforeFirstSync, "Base the deletion on an item never synced")
        ->excludes(ver);

    auto* ls =
        command("ls", Command::ls, "List a folder (or show a file); every folder below it: ls -R docs");
    ls->add_flag("-l,--long", o.longFormat, "Long listing: kind, size, date, name");
    ls->add_flag("-R,--recursive", o.recursive, "List the folders below too, each under a \"PATH:\" line");
    ls->add_flag("-h,--human-readable", o.humanSizes, "With -l: sizes as 1.5K, 60M, 2.0G");
    ls->add_option("PATH", o.path, "Path on the drive; default: the root");

    auto* get = command("get", Command::get, "Download files, or folders with -r");
    get->add_option("PATH", getOperands, "Paths on the drive, then the local file or folder (default: .)")
        ->required();
    get->add_flag("-r,--recursive", o.recursive, "Copy folders with everything in them, as cp -r does");

    auto* put = command("put", Command::put, "Upload files, or folders with -r; - is standard input");
    put->add_option("LOCAL", putOperands,
                    "Local files (- for standard input), then the path on the drive (a folder: into it)")
        ->required();
    put->add_flag("-r,--recursive", o.recursive, "Copy folders with everything in them, as cp -r does");

    auto* mkdir = command("mkdir", Command::mkdir, "Create a folder");
    mkdir->add_flag("-p,--parents", o.parents, "Create missing parent folders too; no error if it exists");
    mkdir->add_option("PATH", o.path, "Path on the drive")->required();

    auto* mv = command("mv", Command::mv, "Rename or move an item (never over an existing one)");
    mv->add_option("FROM", o.from, "Path on the drive")->required();
    mv->add_option("TO", o.to, "New path, or an existing folder to move into")->required();

    auto* rm = command("rm", Command::rm, "Delete an item");
    rm->add_flag("-r,--recursive", o.recursive, "Delete a folder with everything in it");
    rm->add_option("PATH", o.path, "Path on the drive")->required();

    auto* cat = command("cat", Command::cat, "Write files' contents to standard output");
    cat->add_option("PATH", o.paths, "Paths of files on the drive")->required();

    auto* tree = command("tree", Command::tree, "Show a folder and everything below it as an indented tree");
    tree->add_option("PATH", o.path, "Path on the drive; default: the root");

    auto* du = command("du", Command::du, "Print the total size of the files below each PATH");
    du->add_flag("-h,--human-readable", o.humanSizes, "Sizes as 1.5K, 60M, 2.0G");
    du->add_option("PATH", o.paths, "Paths on the drive; default: the root");

    auto* watch =
        command("watch", Command::watch, "Print what changes on the server until interrupted (Ctrl-C)");
    watch->add_option("--interval", o.interval, "Seconds between change passes")
        ->check(CLI::Range(1, 86400))
        ->capture_default_str();

    auto* mount = command("mount", Command::mount,
                          "Make the drive a folder at MOUNTPOINT: files are fetched when opened, changes on "
                          "the server appear");
    mount->add_option("MOUNTPOINT", o.mountpoint, "An existing empty folder")->required();
    mount->add_option("--poll", o.poll, "Seconds between looks for changes on the server")
        ->check(CLI::Range(1, 86400))
        ->capture_default_str();
    mount
        ->add_option("--cache-max", o.cacheMax,
                     "Most the local copies may take (e.g. 500M, 20G; default: a tenth of their file system, "
                     "at most 20G); above it, files not pinned, not open and sent are evicted, oldest first")
        ->transform(CLI::AsSizeValue(false))
        ->check(CLI::PositiveNumber);
    mount->add_flag("-f,--foreground", o.foreground, "Stay in the foreground (log with -v) until unmounted");
    mount->add_flag("--debug", o.debug, "Log every file system request (with --foreground)");
    mount->add_option("--ready-fd", o.readyFd)->group("");

    auto* unmount = command("unmount", Command::unmount, "End the mount at MOUNTPOINT");
    unmount->add_option("MOUNTPOINT", o.mountpoint, "Where the drive is mounted")->required();

    auto* status =
        command("status", Command::status,
                "Show the drive's mount: where, changes not sent yet, conflicts, the last look for "
                "changes, the replica's size");
    status->add_option("MOUNTPOINT", o.mountpoint,
                       "Where a drive is mounted; default: the drive of --domain");

    auto* syncNow = command("sync-now", Command::syncNow, "Make the drive's mount look for changes now");
    syncNow->add_option("MOUNTPOINT", o.mountpoint,
                        "Where a drive is mounted; default: the drive of --domain");

    auto* pin =
        command("pin", Command::pin,
                "Keep files on this computer: pin PATHs in a mounted drive and fetch every file below "
                "them now");
    pin->add_option("PATH", o.paths,
                    "A path in the mount's folder, or a drive path (\"/Reports\") of the mounted drive")
        ->required();
    pin->add_flag("--no-wait", o.noWait, "Return once the PATHs are pinned, without fetching their files");

    auto* unpin = command("unpin", Command::unpin,
                          "Let PATHs in a mounted drive go again: their files may be evicted to free space");
    unpin->add_option("PATH", o.paths, "A path in the mount's folder, or a drive path of the mounted drive")
        ->required();

    auto* evict =
        command("evict", Command::evict,
                "Free up space: drop the local copies of clean files (a folder: every file below it); they "
                "are fetched again when opened");
    evict->add_option("PATH", o.paths, "A path in the mount's folder, or a drive path of the mounted drive")
        ->required();

    addCommandFooters(app);
  }

  // What the command line lacks that CLI11 cannot tell: put's last operand, the path on the drive.
  std::string missing() const {
    for (const auto& [sub, command] : commands) {
      if (sub->parsed() && command == Command::put && putOperands.size() < 2) {
        return "PATH is required: put LOCAL... PATH";
      }
    }
    return {};
  }

  void collect() {
    for (const auto& [sub, command] : commands) {
      if (sub->parsed()) o.command = command;
    }
    if (!domain.empty()) o.domain = domain;
    auto given = [this](const char* option) {
      for (const auto& [sub, command] : commands) {
        if (sub->parsed() && sub->get_option_no_throw(option) != nullptr &&
            sub->get_option_no_throw(option)->count() > 0) {
          return true;
        }
      }
      return false;
    };
    if (o.command == Command::get) {
      // get PATH [LOCAL], or get PATH... LOCAL: the last of several operands is where they go.
      o.path = getOperands.front();
      if (getOperands.size() > 1) o.local = getOperands.back();
      if (getOperands.size() > 1) o.sources.assign(getOperands.begin(), getOperands.end() - 1);
      if (getOperands.size() == 1) o.sources = getOperands;
    }
    if (o.command == Command::put) {
      o.local = putOperands.front();
      o.path = putOperands.back();
      o.sources.assign(putOperands.begin(), putOperands.end() - 1);
    }
    if (o.command == Command::create || given("--name")) o.name = name;
    if (given("--type")) o.type = type;
    if (given("--contents")) o.contents = contents;
    if (given("--parent")) o.newParent = newParent;
    if (given("--fields")) o.fieldMask = fieldMask;
    if (given("--version")) o.version = version;
  }
};

}  // namespace

std::variant<Options, int> parseCommandLine(int argc, char** argv) {
  Parser parser;
  parser.define();
  // Made from the definitions above at build or install time: the manual page and the bash completion.
  if (argc == 2 && std::string(argv[1]) == "--help-man") {
    std::fputs(manPage(parser.app, DAVFP_VERSION).c_str(), stdout);
    return 0;
  }
  if (argc == 2 && std::string(argv[1]) == "--help-bash-completion") {
    std::fputs(bashCompletion(parser.app).c_str(), stdout);
    return 0;
  }
  // CLI11 reports a mistyped command only as a missing one; name it, and what there is instead.
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--domain") {
      ++i;
      continue;
    }
    if (arg.starts_with("-")) continue;
    bool known = false;
    std::string names;
    for (const auto& [sub, command] : parser.commands) {
      known = known || sub->get_name() == arg;
      names += (names.empty() ? "" : ", ") + sub->get_name();
    }
    if (known) break;
    std::fprintf(stderr, "davfp: unknown command \"%s\"; the commands are %s (see davfp --help)\n",
                 arg.c_str(), names.c_str());
    return 2;
  }
  try {
    parser.app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int status = parser.app.exit(e);
    return status == 0 ? 0 : 2;
  }
  if (std::string missing = parser.missing(); !missing.empty()) {
    std::fprintf(stderr, "%s\nRun with --help for more information.\n", missing.c_str());
    return 2;
  }
  parser.collect();
  return std::move(parser.o);
}

}  // namespace davfp::cli
