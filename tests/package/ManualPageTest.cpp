// The manual pages and the bash completion as the package installs them, held against
// what the installed programs' --help says: an option added to a program and forgotten in
// its page or its completion fails here.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "package/UnpackedPackage.h"
#include "support/ChildProcess.h"
#include "support/TempFolder.h"

namespace qv::test {
namespace {

std::set<std::string> optionsIn(const std::string& text) {
  std::set<std::string> options;
  const std::regex option("--[a-z][a-z-]*[a-z]");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
       it != std::sregex_iterator(); ++it)
    options.insert(it->str());
  return options;
}

class ManualPageTest : public ::testing::TestWithParam<std::string> {
 protected:
  static void SetUpTestSuite() { package = new UnpackedPackage(); }
  static void TearDownTestSuite() {
    delete package;
    package = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(package->ok()) << package->problem(); }

  std::string help() const {
    const CommandResult r = runCommand(
        shellQuoted(package->root() + "/usr/bin/" + GetParam()) + " --help", package->scratch());
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }
  // The page as man shows it (no hyphens that split options), and what the formatter
  // complained about.
  CommandResult rendered() const {
    const std::string page = package->root() + "/usr/share/man/man1/" + GetParam() + ".1.gz";
    return runCommand("man --nh --warnings -E UTF-8 -l -Tutf8 " + shellQuoted(page) + " | col -b",
                      package->scratch(), "LC_ALL=C.UTF-8 MANWIDTH=80");
  }

  static UnpackedPackage* package;
};
UnpackedPackage* ManualPageTest::package = nullptr;

TEST_P(ManualPageTest, PageRendersCleanlyAndDescribesExactlyTheOptionsOfHelp) {
  const CommandResult page = rendered();
  ASSERT_EQ(page.status, 0) << page.err;
  EXPECT_EQ(page.err, "") << "the formatter warns about the page";
  EXPECT_NE(page.out.find("NAME"), std::string::npos);
  const std::set<std::string> fromHelp = optionsIn(help());
  ASSERT_GE(fromHelp.size(), 3u);
  EXPECT_EQ(optionsIn(page.out), fromHelp);
}

INSTANTIATE_TEST_SUITE_P(Programs, ManualPageTest, ::testing::Values("quorvex", "quorvex-analyze"),
                         [](const auto& info) {
                           return std::regex_replace(info.param, std::regex("-"), "_");
                         });

// Completes the words of a command line as bash would at the end of it.
std::set<std::string> completions(const UnpackedPackage& package, const std::string& words) {
  const std::string script =
      "source /usr/share/bash-completion/bash_completion; source " +
      shellQuoted(package.root() + "/usr/share/bash-completion/completions/quorvex-analyze") +
      "; COMP_WORDS=(" + words +
      "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1));"
      " COMP_LINE=\"${COMP_WORDS[*]}\"; COMP_POINT=${#COMP_LINE};"
      " _quorvex_analyze quorvex-analyze \"${COMP_WORDS[-1]}\" \"${COMP_WORDS[-2]}\";"
      " printf '%s\\n' \"${COMPREPLY[@]}\"";
  const CommandResult r = runCommand("bash -c " + shellQuoted(script), package.scratch());
  std::set<std::string> words_;
  std::string line;
  std::istringstream in(r.out);
  while (std::getline(in, line)) {
    if (!line.empty()) words_.insert(line);
  }
  return words_;
}

class CompletionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { package = new UnpackedPackage(); }
  static void TearDownTestSuite() {
    delete package;
    package = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(package->ok()) << package->problem();
    if (access("/usr/share/bash-completion/bash_completion", R_OK) != 0)
      GTEST_SKIP() << "bash-completion is not installed (scripts/deps installs it)";
  }
  static UnpackedPackage* package;
};
UnpackedPackage* CompletionTest::package = nullptr;

TEST_F(CompletionTest, CompletesTheCommandsAndEveryOptionOfHelp) {
  const std::string help =
      runCommand(shellQuoted(package->root() + "/usr/bin/quorvex-analyze") + " --help",
                 package->scratch())
          .out;
  EXPECT_EQ(
      completions(*package, "quorvex-analyze ''"),
      (std::set<std::string>{"file", "live", "devices", "demo", "traces", "--help", "--version"}));
  EXPECT_EQ(completions(*package, "quorvex-analyze de"),
            (std::set<std::string>{"devices", "demo"}));

  // Every option that --help lists is offered after the command it belongs to.
  std::set<std::string> offered = {"--help", "--version"};
  for (const char* command :
       {"file", "live", "demo", "traces export", "traces import", "traces average"}) {
    const auto some = completions(*package, std::string("quorvex-analyze ") + command + " --");
    EXPECT_FALSE(some.empty()) << command;
    offered.insert(some.begin(), some.end());
  }
  EXPECT_EQ(offered, optionsIn(help));
  // The demo takes only outputs; live has no --meas-file.
  EXPECT_EQ(completions(*package, "quorvex-analyze demo --"),
            (std::set<std::string>{"--out", "--json", "--svg", "--save-trace"}));
  EXPECT_EQ(completions(*package, "quorvex-analyze live --meas-"), std::set<std::string>{});
  EXPECT_EQ(completions(*package, "quorvex-analyze traces ''"),
            (std::set<std::string>{"list", "export", "import", "average"}));
  EXPECT_EQ(completions(*package, "quorvex-analyze traces average A B --"),
            (std::set<std::string>{"--name", "--newest"}));
  EXPECT_EQ(completions(*package, "quorvex-analyze traces export Stage --format f"),
            (std::set<std::string>{"frd"}));
  EXPECT_EQ(completions(*package, "quorvex-analyze file --smoothing 4"),
            (std::set<std::string>{"48"}));
}

}  // namespace
}  // namespace qv::test
