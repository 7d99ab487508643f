// The spectrum and level view and the spectrogram on a driven session fed with known tones:
// the curves lie at the tones' levels in their bands, the level reads the tone, a calibrator
// turns both into dB SPL and the calibration survives a restart, the spectrogram's rows show
// the tone where and when it played; damaged stored choices read as defaults.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "gui/display/GroupDelayViewController.h"
#include "gui/display/SpectrogramViewController.h"
#include "gui/display/SpectrumPlotView.h"
#include "gui/display/SpectrumViewController.h"
#include "gui/plot/ChartPainter.h"
#include "gui/support/GuiTestSupport.h"
#include "platform/Clock.h"
#include "session/AnalysisViews.h"

namespace qv::gui {
namespace {

constexpr uint32_t kRate = 48000;
constexpr int32_t kBlock = 6000;  // 125 ms

class SpectrumViewTest : public ::testing::Test {
 protected:
  SpectrumViewTest()
      : store_(dir_.filePath("settings.ini"), QSettings::IniFormat), session_(makeSession()) {
    area_.resize(1200, 640);
  }

  std::shared_ptr<session::MeasurementSession> makeSession() {
    session::MeasurementSession::Config c;
    c.driven = true;
    c.clock = clock_;
    c.sampleRate = kRate;
    auto s = std::make_shared<session::MeasurementSession>(c);
    s->announce(kRate);
    return s;
  }

  // `seconds` of frames, `frame(position, measurement, reference)` making each, four
  // display ticks per block, then the view takes the newest snapshot (`eachTick`: after
  // every tick, and its plot paints it).
  template <class View, class Frame>
  void feed(View& view, double seconds, Frame frame, bool eachTick = false) {
    std::vector<float> block(2 * kBlock);
    for (int b = 0; b < static_cast<int>(seconds * 8); ++b) {
      for (int32_t f = 0; f < kBlock; ++f, ++position_)
        frame(position_, block[2 * static_cast<size_t>(f)], block[2 * static_cast<size_t>(f) + 1]);
      session_->deliverToDisplay(block.data(), kBlock);
      for (int t = 0; t < 4; ++t) {
        clock_->advance(0.03125);
        session_->displayTick();
        if (eachTick) {
          view.refresh();
          view.plotView()->renderImage(1.0);
        }
      }
    }
    view.refresh();
  }

  // A tone of amplitude `am` at `fm` on the measurement and `ar` at `fr` on the reference.
  template <class View>
  void run(View& view, double seconds, double fm, double am, double fr, double ar,
           bool eachTick = false) {
    const auto tone = [](double f, double a, int64_t at) {
      return static_cast<float>(a * std::sin(2 * std::numbers::pi * f * at / kRate));
    };
    feed(
        view, seconds,
        [&](int64_t at, float& m, float& r) { m = tone(fm, am, at), r = tone(fr, ar, at); },
        eachTick);
  }

  // White noise on the reference and the same noise `delay` samples later on the
  // measurement (a pure delay).
  template <class View>
  void runDelayed(View& view, double seconds, int delay) {
    feed(view, seconds, [&](int64_t at, float& m, float& r) {
      r = noise_[static_cast<size_t>(at % 1024)] = static_cast<float>(gaussian_(random_));
      m = noise_[static_cast<size_t>((at - delay + 1024) % 1024)];
    });
  }

  // Whether a pixel of about `color` lies within `reach` pixels of the point (Hz, value).
  static bool curveNear(SpectrumPlotView& plot, double hz, double db, QColor color, int reach = 3) {
    const QImage image = plot.renderImage(1.0);
    const QPointF p = plot.widgetPointForValue(QPointF(std::log10(hz), db));
    for (int dy = -reach; dy <= reach; ++dy) {
      for (int dx = -3; dx <= 3; ++dx) {
        const QPoint at(static_cast<int>(p.x()) + dx, static_cast<int>(p.y()) + dy);
        if (!image.rect().contains(at)) continue;
        // Antialiased edges are the colour dimmed: brought back to full strength first.
        const QColor c = image.pixelColor(at);
        const int strength = std::max({c.red(), c.green(), c.blue()});
        const int full = std::max({color.red(), color.green(), color.blue()});
        if (strength < full * 6 / 10) continue;
        const auto scaled = [&](int v) { return v * full / strength; };
        if (std::abs(scaled(c.red()) - color.red()) < 40 &&
            std::abs(scaled(c.green()) - color.green()) < 40 &&
            std::abs(scaled(c.blue()) - color.blue()) < 40)
          return true;
      }
    }
    return false;
  }

  QTemporaryDir dir_;
  QSettings store_;
  std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
  std::shared_ptr<session::MeasurementSession> session_;
  QWidget area_;
  int64_t position_ = 0;
  std::vector<float> noise_ = std::vector<float>(1024, 0.0f);
  std::mt19937 random_{7};
  std::normal_distribution<double> gaussian_{0.0, 0.1};
};

const QColor kWhite(255, 255, 255);
const QColor kBlue(89, 178, 255);  // the reference's light blue

TEST_F(SpectrumViewTest, CurvesAndLevelSitAtTheTonesAndTheEnginesRunOnlyWhileShown) {
  SpectrumViewController view(session_, store_, &area_);
  view.setShown(true);
  EXPECT_TRUE(session_->views().config().rta.shown);
  area_.show();

  // 1 kHz at -20 dBFS on the measurement, 125 Hz at -40 dBFS on the reference (a full-scale
  // sine reads 0 dB); the 1/3-octave bands hold each tone whole.
  run(view, 3.0, 1000.0, 0.1, 125.0, 0.01);
  SpectrumPlotView& plot = *view.plotView();
  EXPECT_TRUE(curveNear(plot, 1000.0, -20.0, kWhite));
  EXPECT_TRUE(curveNear(plot, 125.0, -40.0, kBlue));
  EXPECT_FALSE(curveNear(plot, 125.0, -20.0, kWhite)) << "no measurement tone at 125 Hz";
  EXPECT_TRUE(view.levelLabel()->text().startsWith("-20.0 dB(Z) FS"))
      << view.levelLabel()->text().toStdString();

  // The view's choices reach the engine: A weighting (-16.1 dB at 125 Hz, 0 dB at 1 kHz).
  view.setBandsPerOctave(12);
  view.setWeighting(Weighting::A);
  run(view, 3.0, 1000.0, 0.1, 125.0, 0.01);
  EXPECT_TRUE(curveNear(plot, 125.0, -56.1, kBlue));
  EXPECT_TRUE(view.levelLabel()->text().startsWith("-20.0 dB(A) FS"))
      << view.levelLabel()->text().toStdString();

  // The tone moves to 2 kHz: 1 kHz keeps its held peak until a click on the plot.
  const auto peakAt1k = [&] {
    const auto snap = session_->views().latest();
    const auto& rta = snap->rta;
    const double step = (rta.lastLog - rta.firstLog) / (rta.count - 1);
    return rta.peaks[0][static_cast<size_t>(std::lround((3.0 - rta.firstLog) / step))];
  };
  run(view, 3.0, 2000.0, 0.1, 125.0, 0.01);
  EXPECT_NEAR(peakAt1k(), -20.0, 0.2);
  const QPointF at = plot.widgetPointForValue(QPointF(3.0, -50.0));
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
    QMouseEvent click(type, at, plot.mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                      Qt::NoModifier);
    QApplication::sendEvent(&plot, &click);
  }
  run(view, 0.5, 2000.0, 0.1, 125.0, 0.01);
  // What is held now is the 1 s average still decaying from the old tone (about -31 dB
  // three seconds on), no longer its -20 dB.
  EXPECT_LT(peakAt1k(), -25.0);

  view.setShown(false);
  EXPECT_FALSE(session_->views().config().rta.shown);
  EXPECT_FALSE(session_->views().config().level.shown);
  EXPECT_FALSE(view.isVisible());
}

TEST_F(SpectrumViewTest, ACalibratorTurnsTheReadingsIntoSoundPressureLevelsThatAreKept) {
  {
    SpectrumViewController view(session_, store_, &area_);
    view.setShown(true);
    area_.show();
    // A 94 dB calibrator arriving at -26.02 dBFS (amplitude 0.05) on the measurement.
    run(view, 1.0, 1000.0, 0.05, 1000.0, 0.0);
    view.calibrate();
    run(view, 4.0, 1000.0, 0.05, 1000.0, 0.0);
    ASSERT_TRUE(view.settings().calibration[0]) << view.calibrationLabel()->text().toStdString();
    EXPECT_NEAR(*view.settings().calibration[0], 94.0 - 20 * std::log10(0.05), 0.05);
    EXPECT_FALSE(view.settings().calibration[1]);
    run(view, 2.0, 1000.0, 0.05, 1000.0, 0.0);
    EXPECT_TRUE(view.levelLabel()->text().startsWith(" 94.0 dB(Z) SPL"))
        << view.levelLabel()->text().toStdString();
    // The scale moved to dB SPL with the calibration.
    EXPECT_TRUE(curveNear(*view.plotView(), 1000.0, 94.0, kWhite));

    // Silence fails a calibration and keeps the one in force.
    view.calibrate();
    run(view, 4.0, 1000.0, 0.0, 1000.0, 0.0);
    EXPECT_EQ(view.calibrationLabel()->text().toStdString(),
              "No calibrator: the input is too quiet");
    EXPECT_NEAR(*view.settings().calibration[0], 94.0 - 20 * std::log10(0.05), 0.05);
  }
  // A restart: the view comes back shown, with its calibration.
  SpectrumViewController again(session_, store_, &area_);
  EXPECT_TRUE(again.shown());
  ASSERT_TRUE(again.settings().calibration[0]);
  EXPECT_NEAR(*again.settings().calibration[0], 94.0 - 20 * std::log10(0.05), 0.05);
  EXPECT_EQ(session_->views().config().calibration[0], again.settings().calibration[0]);
}

TEST_F(SpectrumViewTest, SpectrogramAddsOneRowPerTickAtTheTonesLevel) {
  SpectrogramViewController view(session_, store_, &area_);
  view.setShown(true);
  EXPECT_TRUE(session_->views().config().spectrogram.shown);
  area_.show();
  // 2 s of 1 kHz at -20 dBFS, then 1.5 s (48 ticks) of silence. A frame spans 0.68 s
  // (32768 samples): the newest 26 rows hold silence only, rows 48 to 90 the tone only.
  run(view, 2.0, 1000.0, 0.1, 1000.0, 0.0, true);
  run(view, 1.5, 1000.0, 0.0, 1000.0, 0.0, true);
  SpectrumPlotView& plot = *view.plotView();
  const QImage image = plot.renderImage(1.0);
  const QRectF chart = plot.chartRect();
  // The history's columns are rows over the height, the newest at the top.
  const auto snapshot = session_->views().latest();
  ASSERT_TRUE(snapshot && snapshot->spectrogram.history);
  const double rowHeight = chart.height() / snapshot->spectrogram.history->capacity();
  const auto colourAt = [&](double hz, int row) {
    const QPointF x = plot.widgetPointForValue(QPointF(std::log10(hz), 0.0));
    return image.pixelColor(
        QPoint(static_cast<int>(x.x()), static_cast<int>(chart.top() + (row + 0.5) * rowHeight)));
  };
  // The colour map spans -120 … 0 dBFS: -20 dBFS sits at 100/120 of it.
  const QColor tone = QColor::fromRgba(ChartPainter::colorMapPixel(100.0 / 120.0));
  const auto near = [](QColor a, QColor b) {
    return std::abs(a.red() - b.red()) < 40 && std::abs(a.green() - b.green()) < 40 &&
           std::abs(a.blue() - b.blue()) < 40;
  };
  EXPECT_TRUE(near(colourAt(1000.0, 70), tone)) << "the tone, 70 ticks back";
  EXPECT_FALSE(near(colourAt(1000.0, 10), tone)) << "silence, the newest rows";
  EXPECT_FALSE(near(colourAt(300.0, 70), tone)) << "no tone at 300 Hz";

  view.setShown(false);
  EXPECT_FALSE(session_->views().config().spectrogram.shown);
}

TEST_F(SpectrumViewTest, GroupDelayOfAPureDelayIsDrawnAtIt) {
  GroupDelayViewController view(session_, store_, &area_);
  view.setShown(true);
  EXPECT_TRUE(session_->views().config().groupDelay.shown);
  area_.show();
  // 160 samples at 48 kHz: 3.333 ms at every frequency. A few seconds' averages scatter
  // by a few tenths of a millisecond: 8 pixels are 0.3 ms here. The engine's figures are
  // checked where it is; here the curve is drawn where they put it.
  const double ms = 160.0 / 48.0;
  runDelayed(view, 3.0, 160);
  SpectrumPlotView& plot = *view.plotView();
  EXPECT_TRUE(curveNear(plot, 1000.0, ms, kWhite, 8));
  EXPECT_FALSE(curveNear(plot, 1000.0, 0.0, kWhite, 8));

  view.setShown(false);
  EXPECT_FALSE(session_->views().config().groupDelay.shown);
}

TEST_F(SpectrumViewTest, DamagedStoredChoicesReadAsTheDefaults) {
  store_.setValue("QVSpectrumBandsPerOctave", 5);
  store_.setValue("QVSpectrumWeighting", "B");
  store_.setValue("QVSpectrumAveragingSeconds", 0.7);
  store_.setValue("QVSplCalibrationMeasurement", "loud");
  store_.setValue("QVSplCalibrationReference", 1e9);
  store_.setValue("QVCalibratorLevel", -3);
  const SpectrumViewSettings s = SpectrumViewSettings::read(store_);
  const SpectrumViewSettings defaults;
  EXPECT_EQ(s.bandsPerOctave, defaults.bandsPerOctave);
  EXPECT_EQ(s.weighting, defaults.weighting);
  EXPECT_EQ(s.averagingSeconds, defaults.averagingSeconds);
  EXPECT_FALSE(s.calibration[0]);
  EXPECT_FALSE(s.calibration[1]);
  EXPECT_EQ(s.calibratorLevelDb, defaults.calibratorLevelDb);

  // What is written reads back.
  SpectrumViewSettings chosen;
  chosen.bandsPerOctave = 48;
  chosen.weighting = Weighting::C;
  chosen.averagingSeconds = 0.0;
  chosen.calibration[1] = 101.5;
  chosen.write(store_);
  const SpectrumViewSettings back = SpectrumViewSettings::read(store_);
  EXPECT_EQ(back.bandsPerOctave, 48);
  EXPECT_EQ(back.weighting, Weighting::C);
  EXPECT_EQ(back.averagingSeconds, 0.0);
  EXPECT_EQ(back.calibration[1], 101.5);
  EXPECT_FALSE(back.calibration[0]);

  store_.setValue("QVSpectrogramResolution", 7);
  store_.setValue("QVSpectrogramSeconds", "long");
  const SpectrogramViewSettings g = SpectrogramViewSettings::read(store_);
  EXPECT_EQ(g.octResolution, SpectrogramViewSettings().octResolution);
  EXPECT_EQ(g.historySeconds, SpectrogramViewSettings().historySeconds);
}

}  // namespace
}  // namespace qv::gui
