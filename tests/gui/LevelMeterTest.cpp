// The level meter: where levels land on its -60..0 dB scale, what the covers leave lit,
// and when it runs (a channel and a visible widget tree, nothing less).
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cmath>

#include "gui/display/QVLevelMeterView.h"
#include "support/DisplayTestSupport.h"
#include "support/GuiTestSupport.h"

namespace qv::gui {
namespace {

// The ends of the green and the yellow segment, -24 and -12 dB, less the 0.001 that keeps
// silence on the scale.
const float kGreenEnd = static_cast<float>(std::pow(10.0, -1.2) - 0.001);   // about 0.0621
const float kYellowEnd = static_cast<float>(std::pow(10.0, -0.6) - 0.001);  // about 0.2502

TEST(LevelMeterScaleTest, LevelsEndTheLitScaleAtTheSegmentEnds) {
  EXPECT_DOUBLE_EQ(QVLevelMeterBackLayer::xForLevel(0.0, 300.0), 0.0);
  EXPECT_NEAR(QVLevelMeterBackLayer::xForLevel(kGreenEnd, 300.0), 180.0, 1e-4);
  EXPECT_NEAR(QVLevelMeterBackLayer::xForLevel(kYellowEnd, 300.0), 240.0, 1e-4);
  EXPECT_DOUBLE_EQ(QVLevelMeterBackLayer::rowY(0, 2, 24.0), 10.0);  // 5/12 of the height
  EXPECT_DOUBLE_EQ(QVLevelMeterBackLayer::rowY(1, 2, 24.0), 16.0);  // 2/3

  // Painted as the meter paints: scale, then covers, in a 300 × 24 image.
  QImage image(300, 24, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::black);
  QPainter painter(&image);
  QVLevelMeterBackLayer().drawInContext(painter, QSizeF(300, 24));
  const float levels[2] = {kGreenEnd, kYellowEnd};
  QVLevelMeterUpdateLayer(nullptr).drawLevels(painter, QSizeF(300, 24), levels, 2);
  const float silence[2] = {0.0f, 0.0f};
  QImage quiet = image.copy();
  QPainter quietPainter(&quiet);
  QVLevelMeterUpdateLayer(nullptr).drawLevels(quietPainter, QSizeF(300, 24), silence, 2);

  EXPECT_EQ(image.pixelColor(177, 10), QColor(0, 255, 0));                        // green, lit
  EXPECT_EQ(image.pixelColor(183, 10).green(), image.pixelColor(183, 10).red());  // yellow ...
  EXPECT_NEAR(image.pixelColor(183, 10).red(), 128, 2);       // ... under a half-black cover
  EXPECT_EQ(image.pixelColor(237, 16), QColor(255, 255, 0));  // yellow, lit
  EXPECT_NEAR(image.pixelColor(243, 16).red(), 128, 2);       // red, covered
  EXPECT_EQ(image.pixelColor(100, 13), QColor(Qt::black));    // nothing between the rows
  EXPECT_NEAR(quiet.pixelColor(0, 10).green(), 128, 2);       // silence covers from the edge
}

class LevelMeterViewTest : public ::testing::Test {
 protected:
  guitest::VirtualRoom room_{true};  // its library, never rendered: no levels
  QWidget window_;
  QVLevelMeterView* meter_ = new QVLevelMeterView(room_.library(), &window_);
};

TEST_F(LevelMeterViewTest, ChannelBeforeShowingStartsNothingShowingStartsAndHidingStops) {
  meter_->setChannel(1234);
  EXPECT_FALSE(meter_->isRunning());
  EXPECT_EQ(meter_->timer(), nullptr);

  window_.show();
  EXPECT_TRUE(meter_->isRunning());
  EXPECT_TRUE(meter_->timer()->isValid());
  EXPECT_DOUBLE_EQ(meter_->levelReader().updateInterval(), static_cast<double>(1.0f / 15.0f));
  // The scale is drawn once; thirty readings a second of a silent channel leave the
  // covers where they are and ask for no further paint.
  ASSERT_TRUE(guitest::processEventsUntil([&] { return meter_->paintCount() >= 1; }, 10000));
  guitest::processEventsFor(250);
  EXPECT_EQ(meter_->paintCount(), 1u);
  EXPECT_EQ(meter_->backgroundDrawCount(), 1u);

  meter_->hide();
  EXPECT_FALSE(meter_->isRunning());
  meter_->show();
  EXPECT_TRUE(meter_->isRunning());
}

TEST_F(LevelMeterViewTest, ChannelZeroStopsAfterOneMoreRedraw) {
  window_.show();
  EXPECT_FALSE(meter_->isRunning());  // shown without a channel
  meter_->setChannel(7);
  ASSERT_TRUE(guitest::processEventsUntil([&] { return meter_->paintCount() >= 1; }, 10000));
  guitest::processEventsFor(100);  // running, reading silence

  meter_->setChannel(0);
  EXPECT_FALSE(meter_->isRunning());
  EXPECT_FALSE(meter_->timer()->isValid());
  const uint64_t paints = meter_->paintCount();
  ASSERT_TRUE(guitest::processEventsUntil([&] { return meter_->paintCount() > paints; }, 5000));
  guitest::processEventsFor(150);  // several ticks' worth: no further paint comes
  EXPECT_EQ(meter_->paintCount(), paints + 1);
}

// On a backdrop the meter is opaque: repainting its covers repaints nothing behind it.
TEST_F(LevelMeterViewTest, OnABackdropARepaintLeavesTheWidgetsBehindAlone) {
  struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      paints += e->type() == QEvent::Paint;
      return false;
    }
  } behind;
  window_.resize(200, 60);
  meter_->setGeometry(10, 10, 180, 40);
  window_.installEventFilter(&behind);
  window_.show();
  guitest::processEventsFor(50);
  behind.paints = 0;
  meter_->repaint();
  EXPECT_EQ(behind.paints, 1) << "see-through, the window paints first";

  meter_->setBackdrop(QColor(24, 24, 24));
  meter_->repaint();
  behind.paints = 0;
  meter_->repaint();
  EXPECT_EQ(behind.paints, 0);
  EXPECT_EQ(meter_->grab().toImage().pixelColor(100, 13), QColor(24, 24, 24));  // between rows
}

// Levels that move repaint the covers, without drawing the scale again.
TEST(LevelMeterLiveTest, MovingLevelsRepaintTheCovers) {
  guitest::VirtualRoom room(false);  // the room's pink noise in real time
  QWidget window;
  auto* meter = new QVLevelMeterView(room.library(), &window);
  meter->resize(180, 44);
  window.show();
  room.recorder().resumeRec();
  meter->setChannel(room.recorder().inputChannel());
  EXPECT_TRUE(guitest::processEventsUntil([&] { return meter->paintCount() >= 4; }, 10000));
  EXPECT_EQ(meter->backgroundDrawCount(), 1u);
  meter->setChannel(0);
  room.recorder().stopRec();
}

}  // namespace
}  // namespace qv::gui
