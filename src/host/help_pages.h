// The help that davfp's command line gives beyond CLI11's own: each command's --help ends with the global
// options and the command's examples, and the manual page and the bash completion are made from the same
// definitions (the commands, options and descriptions that the parser has), so they never disagree with it.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace davfp::cli {

// Gives every command of app a footer: the global options (app's own, but --help and --version) and the
// command's examples. Call once every command is defined.
void addCommandFooters(CLI::App& app);

// The manual page davfp(1) in roff: app's description, its global options, every command with its arguments,
// options and examples, and app's footer.
std::string manPage(const CLI::App& app, const std::string& version);

// A bash completion script for the program: its commands, each command's options and the global ones, and
// the drives published for --domain. Paths are completed as local file names.
std::string bashCompletion(const CLI::App& app);

}  // namespace davfp::cli
