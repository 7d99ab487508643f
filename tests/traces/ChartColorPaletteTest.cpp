#include <gtest/gtest.h>

#include "traces/ChartColorPalette.h"

namespace qv {
namespace {

const RGBAColor kGreen{0.0f, 1.0f, 0.0f, 1.0f};
const RGBAColor kOrange{1.0f, 0.5f, 0.0f, 1.0f};
const RGBAColor kAzure{0.0f, 0.5f, 1.0f, 1.0f};

TEST(ChartColorPalette, NextColorCyclesThroughTheSevenColours) {
  ChartColorPalette palette;
  ASSERT_EQ(palette.colors().size(), 7u);
  // Eight calls: the seven colours in order, then the first again.
  std::vector<RGBAColor> got;
  for (int i = 0; i < 8; ++i) got.push_back(palette.nextColor());
  EXPECT_EQ(got[0], kGreen);
  EXPECT_EQ(got[1], kOrange);
  EXPECT_EQ(got[6], kAzure);
  EXPECT_EQ(got[7], kGreen);
  for (int i = 0; i < 7; ++i)
    EXPECT_EQ(got[static_cast<size_t>(i)], palette.colors()[static_cast<size_t>(i)]);
}

TEST(ChartColorPalette, ResetRestartsTheIndex) {
  ChartColorPalette palette;
  palette.nextColorIndex();
  palette.nextColorIndex();
  palette.reset();
  EXPECT_EQ(palette.nextColorIndex(), 0);
  EXPECT_EQ(palette.colorIndex(), 1);
}

TEST(ChartColorPalette, UnusedColoursFollowTheMarks) {
  ChartColorPalette palette;
  ASSERT_NE(palette.nextUnusedColor(), nullptr);
  EXPECT_EQ(*palette.nextUnusedColor(), kGreen);
  palette.setColorAsUsed(kGreen, true);
  EXPECT_EQ(*palette.nextUnusedColor(), kOrange);
  palette.setColorAsUsed(kGreen, false);
  EXPECT_EQ(palette.unusedColors().back(), kGreen);
  EXPECT_EQ(palette.unusedColors().size(), 7u);
  // Colours compare by value: an equal colour made elsewhere marks the same entry.
  palette.setColorAsUsed(RGBAColor{1.0f, 0.5f, 0.0f, 1.0f}, true);
  EXPECT_EQ(palette.unusedColors().size(), 6u);
}

// Traces are thin lines among white live curves and the orange-red coherence: the palette's
// orange (1, 0.5, 0) and red (1, 0, 0) are one colour family with the coherence (1, 0.3, 0);
// every other colour a trace may get, and a near-white, must be told apart.
TEST(ChartColorPalette, OnlyColoursOfTheLiveCurvesFamilyCountAsNearThem) {
  const auto& all = ChartColorPalette::darkBackgroundColors();
  for (std::size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(ChartColorPalette::nearLiveCurve(all[i]), i == 1 || i == 3) << i;
  }
  EXPECT_TRUE(ChartColorPalette::nearLiveCurve({1.0f, 0.3f, 0.0f, 1.0f}));
  EXPECT_TRUE(ChartColorPalette::nearLiveCurve({0.95f, 0.95f, 0.95f, 1.0f}));
  EXPECT_FALSE(ChartColorPalette::nearLiveCurve({0.0f, 0.0f, 1.0f, 1.0f}));
}

TEST(ChartColorPaletteDeathTest, MarkingAColourTwiceIsAProgrammingError) {
  ChartColorPalette palette;
  palette.setColorAsUsed(kGreen, true);
  EXPECT_DEATH(palette.setColorAsUsed(kGreen, true), "count != _unusedColors.count");
  EXPECT_DEATH(palette.setColorAsUsed(kOrange, false), "count != _unusedColors.count");
}

}  // namespace
}  // namespace qv
