// The level meter: where levels land on its -60..0 dB scale, what the covers leave lit,
// and when it runs (a channel and a visible widget tree, nothing less).
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cmath>

#include "gui/display/QVLevelMeterView.h"
#include "support/GuiTestSupport.h"

#pragma push_macro("emit")
#undef emit
#include "audio/BassLevelReader.h"
#include "audiolib/AudioLibrary.h"
#pragma pop_macro("emit")

namespace qv::gui {
namespace {

// The ends of the green and the yellow segment: -24 dB and -12 dB of full scale, less the
// 0.001 that keeps silence on the scale.
const double kGreenEnd = std::pow(10.0, -1.2) - 0.001;   // about 0.0621
const double kYellowEnd = std::pow(10.0, -0.6) - 0.001;  // about 0.2502

TEST(LevelMeterScaleTest, LevelsLandOnTheSegmentEnds) {
  EXPECT_DOUBLE_EQ(QVLevelMeterBackLayer::xForLevel(0.0, 300.0), 0.0);
  EXPECT_NEAR(QVLevelMeterBackLayer::xForLevel(kGreenEnd, 300.0), 180.0, 1e-9);
  EXPECT_NEAR(QVLevelMeterBackLayer::xForLevel(kYellowEnd, 300.0), 240.0, 1e-9);
  // Full scale lies a hair beyond the right edge.
  EXPECT_GT(QVLevelMeterBackLayer::xForLevel(1.0, 300.0), 300.0);
  EXPECT_LT(QVLevelMeterBackLayer::xForLevel(1.0, 300.0), 300.2);
}

TEST(LevelMeterScaleTest, TwoRowsAtFiveTwelfthsAndTwoThirdsOfTheHeight) {
  EXPECT_DOUBLE_EQ(QVLevelMeterBackLayer::rowY(0, 2, 24.0), 10.0);
  EXPECT_DOUBLE_EQ(QVLevelMeterBackLayer::rowY(1, 2, 24.0), 16.0);
  EXPECT_DOUBLE_EQ(QVLevelMeterBackLayer::rowY(0, 2, 25.0), std::floor(25.0 * 5 / 12));
}

// The scale with covers for two levels, as the meter paints it, in a 300 × 24 image.
QImage paintMeter(const float (&levels)[2]) {
  QImage image(300, 24, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::black);
  QPainter painter(&image);
  QVLevelMeterBackLayer back;
  back.drawInContext(painter, QSizeF(300, 24));
  QVLevelMeterUpdateLayer bars(nullptr);
  bars.drawLevels(painter, QSizeF(300, 24), levels, 2);
  return image;
}

TEST(LevelMeterScaleTest, CoversLeaveTheScaleLitUpToTheLevel) {
  const float levels[2] = {static_cast<float>(kGreenEnd), static_cast<float>(kYellowEnd)};
  const QImage image = paintMeter(levels);
  const QColor lit0 = image.pixelColor(177, 10);
  const QColor dim0 = image.pixelColor(183, 10);
  EXPECT_EQ(lit0, QColor(0, 255, 0));                         // green, lit
  EXPECT_EQ(dim0.red(), dim0.green());                        // yellow under a half-black cover ...
  EXPECT_NEAR(dim0.red(), 128, 2);                            // ... at half strength
  EXPECT_EQ(image.pixelColor(237, 16), QColor(255, 255, 0));  // yellow, lit
  EXPECT_NEAR(image.pixelColor(243, 16).red(), 128, 2);       // red, covered
  EXPECT_EQ(image.pixelColor(243, 16).green(), 0);
  // Between the rows nothing is drawn.
  EXPECT_EQ(image.pixelColor(100, 13), QColor(Qt::black));
}

TEST(LevelMeterScaleTest, SilenceCoversTheWholeScale) {
  const float levels[2] = {0.0f, 0.0f};
  const QImage image = paintMeter(levels);
  EXPECT_NEAR(image.pixelColor(0, 10).green(), 128, 2);
  EXPECT_NEAR(image.pixelColor(150, 16).green(), 128, 2);
}

class LevelMeterViewTest : public ::testing::Test {
 protected:
  static AudioLibrary::Options quietLibrary() {
    AudioLibrary::Options options;
    options.portAudio = false;
    options.rescanSeconds = 0;
    options.simulatedTime = true;
    return options;
  }

  AudioLibrary library_{quietLibrary()};
  QWidget window_;
};

TEST_F(LevelMeterViewTest, ChannelBeforeShowingStartsNothingShowingStartsTheMeter) {
  auto* meter = new QVLevelMeterView(library_, &window_);
  meter->resize(200, 24);
  EXPECT_DOUBLE_EQ(meter->levelReader().updateInterval(), 0.25);

  meter->setChannel(1234);
  EXPECT_FALSE(meter->isRunning());
  EXPECT_EQ(meter->timer(), nullptr);

  window_.show();
  EXPECT_TRUE(meter->isRunning());
  ASSERT_NE(meter->timer(), nullptr);
  EXPECT_TRUE(meter->timer()->isValid());
  EXPECT_EQ(meter->timer()->name(), "level.meter");
  EXPECT_EQ(meter->timer()->leeway(), 1'000'000u);
  EXPECT_DOUBLE_EQ(meter->levelReader().updateInterval(), static_cast<double>(1.0f / 15.0f));
  EXPECT_EQ(meter->channel(), 1234u);

  // Thirty readings a second repaint only the covers: the scale is drawn once.
  ASSERT_TRUE(guitest::processEventsUntil([&] { return meter->paintCount() >= 4; }, 10000));
  EXPECT_EQ(meter->backgroundDrawCount(), 1u);
}

TEST_F(LevelMeterViewTest, ChannelZeroStopsAfterOneMoreRedraw) {
  auto* meter = new QVLevelMeterView(library_, &window_);
  meter->resize(200, 24);
  window_.show();
  EXPECT_FALSE(meter->isRunning());  // shown without a channel
  meter->setChannel(7);
  EXPECT_TRUE(meter->isRunning());
  ASSERT_TRUE(guitest::processEventsUntil([&] { return meter->paintCount() >= 2; }, 10000));

  meter->setChannel(0);
  EXPECT_FALSE(meter->isRunning());
  EXPECT_FALSE(meter->timer()->isValid());
  const uint64_t paints = meter->paintCount();
  ASSERT_TRUE(guitest::processEventsUntil([&] { return meter->paintCount() == paints + 1; }, 5000));
  guitest::processEventsFor(150);  // several ticks' worth: no further paint comes
  EXPECT_EQ(meter->paintCount(), paints + 1);
}

TEST_F(LevelMeterViewTest, HidingStopsAndShowingAgainRestarts) {
  auto* meter = new QVLevelMeterView(library_, &window_);
  window_.show();
  meter->setChannel(3);
  ASSERT_TRUE(meter->isRunning());
  meter->hide();
  EXPECT_FALSE(meter->isRunning());
  meter->show();
  EXPECT_TRUE(meter->isRunning());
  window_.hide();
  EXPECT_FALSE(meter->isRunning());
}

}  // namespace
}  // namespace qv::gui
