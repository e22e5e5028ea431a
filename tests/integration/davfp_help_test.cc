// davfp's help for people: each command's --help, the manual page and the bash completion, all made from the
// same definitions as the parser's.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "support/host_drive.h"

namespace davfp::testing {
namespace {

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(DavfpHelpTest, HelpManualPageAndCompletionComeFromTheCommandLineDefinitions) {
  HostDrive drive;
  for (const std::string command : {"ls", "mount"}) {
    SCOPED_TRACE(command);
    std::string help = drive.ok({command, "--help"});
    for (const std::string part : {"--domain ID", "--json", "-v, --verbose", "Example", "  davfp "}) {
      EXPECT_TRUE(has(help, part)) << part << " missing in:\n" << help;
    }
  }

  std::string man = drive.ok({"--help-man"});
  EXPECT_EQ(man.rfind(".TH DAVFP 1", 0), 0u);
  for (const char* part : {".SS ls\n", ".SS sync\\-now\n", "\\-\\-cache\\-max", "davfp ls \\-lh /Reports"}) {
    EXPECT_TRUE(has(man, part)) << part;
  }
  // Every line that starts with "." is one of the page's own requests, never text taken for one.
  const std::set<std::string> requests{".TH", ".SH", ".SS", ".TP", ".B", ".BR", ".PP", ".RS", ".RE", ".nf", ".fi"};
  std::istringstream lines(man);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with(".")) {
      EXPECT_TRUE(requests.contains(line.substr(0, line.find(' ')))) << line;
    }
  }

  // Sourced into bash, the completion completes commands, a command's options, and the drives for --domain.
  drive.publish({{"work", {"Work", "http://127.0.0.1:1/"}}, {"home", {"Home", "http://127.0.0.1:1/"}}});
  const std::string file = drive.scratch() + "/davfp.bash";
  writeFile(file, drive.ok({"--help-bash-completion"}));
  for (const auto& [words, expected] : std::vector<std::pair<std::string, std::string>>{
           {"davfp s", "status sync-now\n"},
           {"davfp --json ls --h", "--human-readable --help\n"},
           {"davfp mount --c", "--cache-max\n"},
           {"davfp --domain ''", "home work\n"}}) {
    std::string program = "source '" + file + "'; COMP_WORDS=(" + words +
                          "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _davfp; echo \"${COMPREPLY[*]}\"";
    EXPECT_EQ(runProcess({"/bin/bash", "-c", program}, drive.environment()).out, expected) << words;
  }
}

}  // namespace
}  // namespace davfp::testing
