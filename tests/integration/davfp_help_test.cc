// davfp's help for people: each command's --help, the manual page and the bash completion, all made from the
// same definitions as the parser's.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "support/host_drive.h"

namespace davfp::testing {
namespace {

class DavfpHelpTest : public ::testing::Test {
 protected:
  ProcessResult davfp(const std::vector<std::string>& args) {
    std::vector<std::string> argv{davfpProgram()};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, drive_.environment());
  }

  static bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }

  HostDrive drive_;
};

TEST_F(DavfpHelpTest, EachCommandsHelpListsTheGlobalOptionsAndExamplesWithoutTheLongFooter) {
  for (const std::string command : {"ls", "item", "mount", "pin"}) {
    SCOPED_TRACE(command);
    ProcessResult r = davfp({command, "--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* part : {"--domain ID", "--json", "-v, --verbose", "Example", "davfp "}) {
      EXPECT_TRUE(has(r.out, part)) << part << " missing in:\n" << r.out;
    }
    EXPECT_TRUE(has(r.out, "  davfp " + command) || has(r.out, "  davfp --domain work " + command)) << r.out;
    EXPECT_FALSE(has(r.out, "Exit status")) << r.out;
  }
  ProcessResult overview = davfp({"--help"});
  EXPECT_TRUE(has(overview.out, "Exit status")) << overview.out;
  EXPECT_TRUE(has(overview.out, "root, workingset and trash")) << overview.out;
  EXPECT_TRUE(has(davfp({"item", "--help"}).out, "root, workingset, trash"));
}

TEST_F(DavfpHelpTest, ManualPageAndCompletionComeFromTheCommandLineDefinitions) {
  ProcessResult man = davfp({"--help-man"});
  ASSERT_EQ(man.status, 0);
  EXPECT_EQ(man.out.rfind(".TH DAVFP 1", 0), 0u);
  for (const char* part : {".SS ls\n", ".SS sync\\-now\n", "\\-\\-domain", "\\-\\-cache\\-max", "Exit status",
                           "davfp ls \\-lh /Reports"}) {
    EXPECT_TRUE(has(man.out, part)) << part;
  }
  // No line of text starts with a roff request by accident: every line that starts with "." is one of the
  // page's own requests.
  const std::set<std::string> requests{".TH", ".SH", ".SS", ".TP", ".B", ".BR",
                                       ".PP", ".RS", ".RE", ".nf", ".fi"};
  std::istringstream lines(man.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with(".")) {
      EXPECT_TRUE(requests.contains(line.substr(0, line.find(' ')))) << line;
    }
  }

  // The completion, sourced into bash, completes commands, a command's options, and the drives for --domain.
  drive_.publish({{"work", {"Work", "http://127.0.0.1:1/"}}, {"home", {"Home", "http://127.0.0.1:1/"}}});
  ProcessResult script = davfp({"--help-bash-completion"});
  ASSERT_EQ(script.status, 0);
  std::string file = drive_.scratch() + "/davfp.bash";
  writeFile(file, script.out);
  auto complete = [&](const std::string& words) {
    std::string program = "source '" + file + "'; COMP_WORDS=(" + words +
                          "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _davfp; echo \"${COMPREPLY[*]}\"";
    return runProcess({"/bin/bash", "-c", program}, drive_.environment());
  };
  EXPECT_EQ(complete("davfp s").out, "status sync-now\n");
  EXPECT_EQ(complete("davfp --json ls --h").out, "--human-readable --help\n");
  EXPECT_EQ(complete("davfp mount --c").out, "--cache-max\n");
  EXPECT_EQ(complete("davfp --domain ''").out, "home work\n");
}

}  // namespace
}  // namespace davfp::testing
