#include <gtest/gtest.h>

#include "gui/app/CommandLine.h"

namespace qv::gui {
namespace {

CommandLine parse(std::vector<std::string> args) {
  args.insert(args.begin(), "quorvex");
  return CommandLine::parse(args);
}

TEST(CommandLine, ScreenshotTakesAFileAndAnOptionalDelay) {
  auto c = parse({"--screenshot", "out.png"});
  ASSERT_TRUE(c.error.empty()) << c.error;
  EXPECT_EQ(c.screenshot, "out.png");
  EXPECT_DOUBLE_EQ(c.afterSeconds, 5.0);
  c = parse({"--screenshot=a b.png", "--after", "0.5"});
  ASSERT_TRUE(c.error.empty()) << c.error;
  EXPECT_EQ(c.screenshot, "a b.png");
  EXPECT_DOUBLE_EQ(c.afterSeconds, 0.5);
}

TEST(CommandLine, MistakesAreOneLineEachAndNothingRuns) {
  EXPECT_NE(parse({"--screenshot"}).error, "");
  EXPECT_NE(parse({"--screenshot", "x.png", "--after", "soon"}).error, "");
  EXPECT_NE(parse({"--screenshot", "x.png", "--after", "-1"}).error, "");
  EXPECT_NE(parse({"--screenshot", "x.png", "--after", "nan"}).error, "");
  EXPECT_NE(parse({"--after", "5"}).error, "");  // a delay for no screenshot
  EXPECT_NE(parse({"--screnshot", "x.png"}).error, "");
  EXPECT_NE(parse({"stray"}).error, "");
}

TEST(CommandLine, QtsOwnOptionsPassWithTheirValues) {
  auto c = parse({"-platform", "offscreen", "--style=Fusion", "--version"});
  EXPECT_TRUE(c.error.empty()) << c.error;
  EXPECT_TRUE(c.version);
  EXPECT_TRUE(parse({"--help"}).help);
}

}  // namespace
}  // namespace qv::gui
