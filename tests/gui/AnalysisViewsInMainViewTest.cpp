// The spectrum, spectrogram and group delay views in the measurement view on the virtual sound
// system: chosen from the View menu, one at a time, over the plots, fed through the session's
// listener while running, and with their engines stopped once hidden.
// clang-format off
#include "support/MainViewFixture.h"
#include <QAction>
#include <QLabel>
#include "gui/display/SpectrumPlotView.h"
#include "session/AnalysisViews.h"
// clang-format on

namespace qv::gui::test {
namespace {

using AnalysisViewsInMainView = MainViewFixture;

TEST_F(AnalysisViewsInMainView, TheViewMenuShowsOneViewAtATimeOverThePlots) {
  settings().setGeneratorOn(false);
  auto& view = startedView();
  view.show();
  view.setGeneratorOn(true);
  SpectrumViewController& spectrum = *view.spectrumView();
  SpectrogramViewController& spectrogram = *view.spectrogramView();
  const auto& config = [&] { return view.session().views().config(); };

  view.actionForTag(QVMainViewController::kTagSpectrumView)->trigger();
  EXPECT_TRUE(spectrum.isVisible());
  EXPECT_EQ(spectrum.geometry(), view.outlets().plotBaseView->rect());
  // The listener brings the level in while the session runs.
  ASSERT_TRUE(guitest::processEventsUntil(
      [&] { return spectrum.levelLabel()->text().contains("dB(Z) FS"); }, 10000));
  guitest::processEventsFor(1500);
  guitest::saveScreenshot(view, "mainview-spectrum");

  view.actionForTag(QVMainViewController::kTagSpectrogramView)->trigger();
  EXPECT_FALSE(spectrum.isVisible());
  EXPECT_TRUE(spectrogram.isVisible());
  EXPECT_FALSE(config().rta.shown);
  EXPECT_TRUE(config().spectrogram.shown);
  EXPECT_FALSE(view.actionForTag(QVMainViewController::kTagSpectrumView)->isChecked());
  guitest::processEventsFor(3000);
  guitest::saveScreenshot(view, "mainview-spectrogram");

  view.actionForTag(QVMainViewController::kTagGroupDelayView)->trigger();
  EXPECT_FALSE(spectrogram.isVisible());
  EXPECT_TRUE(view.groupDelayView()->isVisible());
  EXPECT_FALSE(config().spectrogram.shown);
  EXPECT_TRUE(config().groupDelay.shown);
  guitest::processEventsFor(2000);
  guitest::saveScreenshot(view, "mainview-group-delay");

  view.actionForTag(QVMainViewController::kTagGroupDelayView)->trigger();
  EXPECT_FALSE(view.groupDelayView()->isVisible());
  EXPECT_FALSE(config().spectrogram.shown || config().rta.shown || config().level.shown ||
               config().groupDelay.shown);
  EXPECT_FALSE(settings().defaults().value("QVSpectrogramShown").toBool());
}

}  // namespace
}  // namespace qv::gui::test
