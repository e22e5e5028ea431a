#include "host/help_pages.h"

#include <CLI/CLI.hpp>

#include "host/command_examples.h"

namespace davfp::cli {

namespace {

// The options a person gives: not --help or --version, not the hidden ones (no group).
std::vector<const CLI::Option*> shownOptions(const CLI::App& app, bool positional) {
  return app.get_options([&](const CLI::Option* o) {
    return o != app.get_help_ptr() && o != app.get_version_ptr() && !o->get_group().empty() &&
           o->nonpositional() != positional;
  });
}

std::vector<const CLI::App*> commandsOf(const CLI::App& app) {
  return app.get_subcommands([](const CLI::App*) { return true; });
}

bool isFlag(const CLI::Option& option) { return option.get_type_size() == 0; }

// "-v, --verbose" or "--domain ID": the option's names and its value's name.
std::string optionShape(const CLI::Option& option) {
  std::string shape;
  for (const auto& name : option.get_snames()) shape += (shape.empty() ? "-" : ", -") + name;
  for (const auto& name : option.get_lnames()) shape += (shape.empty() ? "--" : ", --") + name;
  if (!isFlag(option) && !option.get_type_name().empty()) shape += " " + option.get_type_name();
  return shape;
}

// "PATH", "[PATH]" or "PATH...", as the argument is required, optional or repeated.
std::string argumentShape(const CLI::Option& argument) {
  std::string shape = argument.get_name();
  if (argument.get_items_expected_max() > 1) shape += "...";
  return argument.get_required() ? shape : "[" + shape + "]";
}

std::string usageOf(const CLI::App& command) {
  std::string usage = "davfp [GLOBAL OPTIONS] " + command.get_name();
  if (!shownOptions(command, false).empty()) usage += " [OPTIONS]";
  for (const auto* argument : shownOptions(command, true)) usage += " " + argumentShape(*argument);
  return usage;
}

// Text broken into lines of at most width characters, each after indent spaces.
std::string wrapped(const std::string& text, size_t indent, size_t width) {
  std::string out, line;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && indent + line.size() + 1 + word.size() > width) {
      out += std::string(indent, ' ') + line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  if (!line.empty()) out += std::string(indent, ' ') + line + "\n";
  return out;
}

std::string globalOptionsText(const CLI::App& app) {
  std::string text = "Global options (before or after the command):\n";
  for (const auto* option : shownOptions(app, false)) {
    std::string shape = "  " + optionShape(*option);
    shape.resize(std::max<size_t>(shape.size() + 1, 22), ' ');
    std::string description = wrapped(option->get_description(), 22, 110);
    text += shape.size() > 22 ? shape + "\n" + description : shape + description.substr(22);
  }
  return text;
}

// Text as roff: backslashes and hyphens escaped, no line taken for a request.
std::string roff(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
  }
  std::string guarded;
  bool lineStart = true;
  for (char c : out) {
    if (lineStart && (c == '.' || c == '\'')) guarded += "\\&";
    guarded += c;
    lineStart = c == '\n';
  }
  return guarded;
}

std::string roffOption(const std::string& shape, const std::string& description) {
  return ".TP\n.B " + roff(shape) + "\n" + roff(description) + "\n";
}

// Words for a bash "case" pattern's list: the options of a command.
std::string optionWords(const CLI::App& command) {
  std::string words;
  for (const auto* option : shownOptions(command, false)) {
    for (const auto& name : option->get_snames()) words += " -" + name;
    for (const auto& name : option->get_lnames()) words += " --" + name;
  }
  return words;
}

}  // namespace

void addCommandFooters(CLI::App& app) {
  const std::string global = globalOptionsText(app);
  for (auto* command : app.get_subcommands([](CLI::App*) { return true; })) {
    std::string footer = global;
    const auto& examples = examplesOf(command->get_name());
    if (!examples.empty()) footer += examples.size() == 1 ? "\nExample:\n" : "\nExamples:\n";
    for (const auto& example : examples) footer += "  " + example + "\n";
    // The program's long footer (the overview, the exit status) belongs to davfp --help only.
    command->footer(footer);
  }
}

std::string manPage(const CLI::App& app, const std::string& version) {
  std::string page = ".TH DAVFP 1 \"\" \"davfp " + roff(version) + "\" \"User Commands\"\n";
  // The description without the program's name before it and the full stop after it.
  std::string summary = app.get_description();
  if (summary.starts_with("davfp: ")) summary.erase(0, 7);
  if (summary.ends_with('.')) summary.pop_back();
  page += ".SH NAME\ndavfp \\- " + roff(summary) + "\n";
  page += ".SH SYNOPSIS\n.B davfp\n[\\fIGLOBAL OPTIONS\\fR] \\fICOMMAND\\fR [\\fIARGUMENTS\\fR]\n";
  page += ".SH GLOBAL OPTIONS\n";
  for (const auto* option : shownOptions(app, false)) {
    page += roffOption(optionShape(*option), option->get_description());
  }
  page += roffOption("--help", "Print the help (of the command when given after it) and exit");
  page += roffOption("--version", "Print the version and exit");
  page += ".SH COMMANDS\n";
  for (const auto* command : commandsOf(app)) {
    page += ".SS " + roff(command->get_name()) + "\n" + roff(command->get_description()) + "\n.PP\n";
    page += ".B " + roff(usageOf(*command)) + "\n";
    for (const auto* argument : shownOptions(*command, true)) {
      page += roffOption(argument->get_name(), argument->get_description());
    }
    for (const auto* option : shownOptions(*command, false)) {
      page += roffOption(optionShape(*option), option->get_description());
    }
    const auto& examples = examplesOf(command->get_name());
    if (!examples.empty()) page += ".PP\n" + std::string(examples.size() == 1 ? "Example:" : "Examples:");
    if (!examples.empty()) page += "\n.PP\n.RS\n.nf\n";
    for (const auto& example : examples) page += roff(example) + "\n";
    if (!examples.empty()) page += ".fi\n.RE\n";
  }
  page += ".SH NOTES\n";
  std::string footer = app.get_footer();
  size_t start = footer.find_first_not_of('\n');
  page += roff(start == std::string::npos ? "" : footer.substr(start)) + "\n";
  page += ".SH SEE ALSO\n.BR davfp\\-host (1)\n";
  return page;
}

std::string bashCompletion(const CLI::App& app) {
  std::string commands, cases;
  for (const auto* command : commandsOf(app)) {
    commands += " " + command->get_name();
    cases += "    " + command->get_name() + ") words=\"$global" + optionWords(*command) + " --help\" ;;\n";
  }
  return "# bash completion for davfp: its commands and options, and the published drives for --domain.\n"
         "_davfp() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} cmd=\"\" i words\n"
         "  local global=\"" +
         optionWords(app).substr(1) +
         "\"\n"
         "  if [ \"$prev\" = --domain ]; then\n"
         "    local drives=${XDG_DATA_HOME:-$HOME/.local/share}/org.davfp.shared/drives.json\n"
         "    words=$(grep -oE '\"[^\"]+\" *: *\\{' \"$drives\" 2>/dev/null | sed -E "
         "'s/^\"([^\"]+)\".*/\\1/')\n"
         "    COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
         "    return\n"
         "  fi\n"
         "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
         "    case ${COMP_WORDS[i]} in\n"
         "      --domain) ((i++)) ;;\n"
         "      -*) ;;\n"
         "      *) cmd=${COMP_WORDS[i]}; break ;;\n"
         "    esac\n"
         "  done\n"
         "  case $cmd in\n"
         "    \"\") words=\"$global --help --version" +
         commands + "\" ;;\n" + cases +
         "    *) words=\"\" ;;\n"
         "  esac\n"
         "  if [ -z \"$cmd\" ] || [[ $cur == -* ]]; then\n"
         "    COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
         "  fi\n"
         "}\n"
         "complete -o default -o bashdefault -F _davfp davfp\n";
}

}  // namespace davfp::cli
