#include <gtest/gtest.h>

#include "traces/ChartColorPalette.h"

namespace qv {
namespace {

const RGBAColor kGreen{0.0f, 1.0f, 0.0f, 1.0f};
const RGBAColor kOrange{1.0f, 0.5f, 0.0f, 1.0f};

// A capture's colour comes from the newest trace's, not from the palette's own rotation
// (TraceStoreTest holds the order).
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
