// The live display end to end: the virtual sound system plays its pink noise through its
// room in real time, the recorder feeds the plot controller's model and a delay finder,
// and a window shows the three views and the level meter for about three seconds. The
// magnitude curve must be drawn where the model's values say (the room's direct sound
// comes at half amplitude, about -6 dB), the coherence curve must be drawn, and the meter
// must show a level. The screenshot is kept for a person to look at.
#include <gtest/gtest.h>

#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <cmath>

#include "gui/display/QVLevelMeterView.h"
#include "gui/display/QVPlotViewController.h"
#include "support/DisplayTestSupport.h"
#include "support/GuiTestSupport.h"

#pragma push_macro("emit")
#undef emit
#include "audio/BassLevelReader.h"
#include "audio/QVRecorder.h"
#include "audio/QVRecorderDelegate.h"
#include "audiolib/AudioLibrary.h"
#include "delay/QVDelayFinder.h"
#pragma pop_macro("emit")

namespace qv::gui {
namespace {

bool isBright(QColor c) { return c.red() > 180 && c.green() > 180 && c.blue() > 180; }
bool isCoherenceOrange(QColor c) {
  return c.red() > 200 && c.green() > 40 && c.green() < 120 && c.blue() < 60;
}

class QuietDelegate final : public QVRecorderDelegate {
 public:
  void recorderStartedWithChannel(QVRecorder&, uint32_t) override {}
  void recorderStoppedWithChannel(QVRecorder&, uint32_t) override {}
};

class LiveDisplayEndToEndTest : public ::testing::Test {
 protected:
  static AudioLibrary::Options realTime() {
    AudioLibrary::Options options;
    options.portAudio = false;
    options.rescanSeconds = 0;
    return options;
  }

  void SetUp() override {
    window_.resize(1200, 800);
    window_.setStyleSheet("background-color: black; color: #dcdcdc;");
    auto* column = new QVBoxLayout(&window_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* top = new QWidget(&window_);
    top->setFixedHeight(44);
    auto* row = new QHBoxLayout(top);
    row->addWidget(new QLabel("meas\nref", top));
    meter_ = new QVLevelMeterView(library_, top);
    meter_->setFixedSize(240, 36);
    row->addWidget(meter_);
    row->addStretch();
    column->addWidget(top);
    base_ = new QWidget(&window_);
    column->addWidget(base_, 1);
    controller_ = std::make_unique<QVPlotViewController>(options());
    controller_->setBaseView(base_);
    controller_->setShowImpulsePlot(true);
    window_.show();
  }

  QVPlotController::Options options() {
    QVPlotController::Options o;
    o.processorCount = 4;
    o.traceManager = &store_;
    return o;
  }

  void TearDown() override { controller_.reset(); }

  AudioLibrary library_{realTime()};
  test::TempFolder folder_;
  TraceManager store_{folder_.path()};
  QWidget window_;
  QVLevelMeterView* meter_ = nullptr;
  QWidget* base_ = nullptr;
  std::unique_ptr<QVPlotViewController> controller_;
};

TEST_F(LiveDisplayEndToEndTest, VirtualRoomShowsItsCurvesAndLevels) {
  QVPlotController& plots = *controller_->plotController();
  auto delegate = std::make_shared<QuietDelegate>();
  auto recorder = QVRecorder::initWithDeviceUUID("Virtual:Virtual Sound System", 2, 44100, false,
                                                 delegate, library_);
  ASSERT_NE(recorder, nullptr);
  recorder->setChannelMap({0, 1});  // measurement microphone, reference
  recorder->addConsumer(plots.tfModel()->tfDataSource());
  auto finder = std::make_shared<QVDelayFinder>(QVDelayFinder::kFftSize, 0);
  recorder->addConsumer(finder);

  // What the main window does with the finder's results: the impulse into its view and,
  // once the reading is sure, the delay into the model.
  bool delaySet = false;
  finder->startWithResultBlockErrorBlock(
      [&](const float* impulse, int32_t count, float delay, float coherence) {
        auto chart = plots.liveImpChart();
        if (!chart || !chart->chartPtr()) return;
        controller_->impPlotView()->setDataOfLengthForChart(impulse, std::min(count, 16384),
                                                            chart->chartPtr());
        controller_->impPlotView()->update();
        if (!delaySet && coherence > 0.5f) {
          plots.setDelay(static_cast<float>(std::ceil(delay * 100000.0) / 100.0));
          delaySet = true;
        }
      },
      {});
  recorder->resumeRec();
  meter_->setChannel(recorder->inputChannel());
  controller_->start();

  guitest::processEventsFor(3000);
  const float measLevel = meter_->levelReader().levels()[0];
  const float refLevel = meter_->levelReader().levels()[1];
  const QString screenshot = guitest::saveScreenshot(window_, "live-display-virtual-room");
  const QImage meterImage = meter_->grab().toImage();

  controller_->stop();
  finder->stop();
  recorder->stopRec();
  meter_->setChannel(0);
  QVPlotController::updateQueue()->sync([] {});  // the last tick is done

  EXPECT_GT(plots.tickCount(), 45u);
  EXPECT_TRUE(delaySet);
  EXPECT_NEAR(plots.delay(), 3.02f, 0.02f);
  EXPECT_GT(measLevel, 0.01f);
  EXPECT_GT(refLevel, 0.01f);

  // The magnitude curve over 1–2 kHz: the values drawn and the pixels they became.
  SpectrumPlotView& mag = *controller_->magPlotView();
  plot::ChartSnapshot drawn;
  plots.liveMagChart()->chart()->snapshot(drawn);
  const QImage magImage = mag.renderImage(1.0);
  const TransferFunctionModel& model = *plots.tfModel();
  const auto first = static_cast<int32_t>(std::ceil(model.bandIndexForFreq(1000.0f)));
  const auto last = static_cast<int32_t>(std::floor(model.bandIndexForFreq(2000.0f)));
  int bands = 0;
  int onCurve = 0;
  double sum = 0;
  for (int32_t b = first; b <= last; ++b) {
    const float value = drawn.values[static_cast<size_t>(b)];
    ASSERT_EQ(value, model.mpolyline()->values()[b]);
    if (!std::isfinite(value)) continue;
    ++bands;
    sum += value;
    const QPointF p = mag.widgetPointForValue(QPointF(drawn.x.xAt(b), value));
    bool found = false;
    for (int dx = -1; dx <= 1 && !found; ++dx) {
      for (int dy = -4; dy <= 4 && !found; ++dy) {
        const QPoint at(static_cast<int>(std::floor(p.x())) + dx,
                        static_cast<int>(std::floor(p.y())) + dy);
        found = magImage.rect().contains(at) && isBright(magImage.pixelColor(at));
      }
    }
    onCurve += found;
  }
  ASSERT_GT(bands, (last - first) * 9 / 10) << "the room's coherence is high at 1-2 kHz";
  EXPECT_GE(onCurve, bands * 95 / 100) << screenshot.toStdString();
  EXPECT_NEAR(sum / bands, -6.0, 2.0);

  // The coherence curve in orange on the phase view.
  const QImage phaseImage = controller_->phasePlotView()->renderImage(1.0);
  int orange = 0;
  for (int y = 0; y < phaseImage.height(); ++y) {
    for (int x = 0; x < phaseImage.width(); ++x)
      orange += isCoherenceOrange(phaseImage.pixelColor(x, y));
  }
  EXPECT_GT(orange, phaseImage.width() / 2);

  // The meter as it was shown: both rows lit from the left edge, covered near full scale.
  const int w = meterImage.width();
  const double h = meterImage.height();
  for (int32_t channel = 0; channel < 2; ++channel) {
    const int y = static_cast<int>(QVLevelMeterBackLayer::rowY(channel, 2, h));
    EXPECT_EQ(meterImage.pixelColor(w / 10, y), QColor(0, 255, 0)) << "row " << channel;
    EXPECT_LT(meterImage.pixelColor(w - 2, y).red(), 200) << "row " << channel;
  }
}

}  // namespace
}  // namespace qv::gui
