#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Assert.h"
#include "platform/Log.h"

namespace qv {
namespace {

TEST(Log, FormatsPrintfStyleIntoTheSinkIncludingLongLines) {
  std::vector<std::string> lines;
  auto previous = setLogSink([&](const std::string& l) { lines.push_back(l); });
  log("Realm migration from v.%llul to v.%ul", 14ULL, 15u);
  const std::string longText(2000, 'x');
  log("%s!", longText.c_str());
  setLogSink(previous);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Realm migration from v.14l to v.15l");
  EXPECT_EQ(lines[1], longText + "!");
}

TEST(AssertDeathTest, PrintsTheConditionTextAndStopsInReleaseBuilds) {
  const int inputChannelCount = 1;
  EXPECT_DEATH(QV_ASSERT(inputChannelCount == 2), "inputChannelCount == 2");
  EXPECT_DEATH(QV_ASSERT_TEXT(false, "!(n2<n1)"), "!\\(n2<n1\\)");
}

}  // namespace
}  // namespace qv
