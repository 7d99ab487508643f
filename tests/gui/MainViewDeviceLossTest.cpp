// The measurement view when its JACK server is killed and started again: the window says
// in words what was lost, the start button stops saying Pause, and the measurement comes
// back by itself on the same device with moving curves.
// clang-format off
#include "audiolib/AudioLibrary.h"
#include "integration/JackServer.h"
#include "session/MeasurementSession.h"
#include "support/MainViewFixture.h"
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <cmath>
#include <unistd.h>
// clang-format on

namespace qv::gui::test {
namespace {

constexpr const char* kJackUID = "JACK Audio Connection Kit:system";

class MainViewDeviceLossTest : public MainViewFixture {
 protected:
  static bool jackListed() {
    const auto devices = AudioLibrary::shared().recordingDevices();
    return std::any_of(devices.begin(), devices.end(),
                       [](const AudioDeviceInfo& d) { return d.driver == kJackUID && d.enabled; });
  }
  static int shownBands(const QVMainViewController& view) {
    const auto s = view.session().latestDisplay();
    return static_cast<int>(std::count_if(s->magnitude.begin(), s->magnitude.end(),
                                          [](float m) { return std::isfinite(m); }));
  }
  // Both of our inputs hear the noise we play on the same server.
  static bool feedNoise() {
    for (const char* input : {"quorvex:measurement", "quorvex:reference"}) {
      for (const char* system : {"system:capture_1", "system:capture_2"})
        qv::test::JackServer::tool({"jack_disconnect", system, input}, true);
      if (!qv::test::JackServer::connect("quorvex:generator", input)) return false;
    }
    return true;
  }
  static bool noticeSays(const QVMainViewController& view, const char* words) {
    const QLabel* notice = view.outlets().noticeLabel;
    return !notice->isHidden() && notice->text().contains(QString::fromUtf8(words));
  }
};

TEST_F(MainViewDeviceLossTest, TheLossIsToldInTheWindowAndTheMeasurementComesBackByItself) {
  qv::test::JackServer server("qvviewloss-" + std::to_string(getpid()));
  if (!server.start()) GTEST_SKIP() << "no JACK server could be started here";
  settings().setAutoDelayOn(false);
  settings().setMeasChannelIndex(0);
  settings().setRefChannelIndex(1);
  settings().setPreferredRecordingDeviceUUID(kJackUID);
  settings().setPreferredPlaybackDeviceUUID(kJackUID);
  auto& view = makeView();
  view.show();
  ASSERT_TRUE(guitest::processEventsUntil([] { return jackListed(); }, 10000));
  EXPECT_TRUE(view.outlets().noticeLabel->isHidden()) << "nothing to say before a loss";

  view.startAnalysis();
  ASSERT_TRUE(view.started());
  view.onGeneratorOn();
  ASSERT_TRUE(view.generatorOn());
  ASSERT_TRUE(feedNoise());
  ASSERT_TRUE(guitest::processEventsUntil([&] { return shownBands(view) > 0; }, 10000));

  server.stop();
  // The noise and the measurement are found lost each on its own; the notice that counts
  // is the measurement's.
  ASSERT_TRUE(guitest::processEventsUntil([&] { return !view.started(); }, 10000))
      << view.outlets().noticeLabel->text().toStdString();
  EXPECT_TRUE(noticeSays(view, "went away")) << view.outlets().noticeLabel->text().toStdString();
  EXPECT_TRUE(noticeSays(view, "resumes by itself"))
      << view.outlets().noticeLabel->text().toStdString();
  EXPECT_FALSE(view.outlets().startButton->isChecked());
  EXPECT_EQ(view.outlets().startButton->text(), startButtonText(false));
  EXPECT_TRUE(guitest::processEventsUntil(
      [&] { return !view.outlets().generatorButton->isChecked(); }, 5000))
      << "the noise button still lit without its device";
  guitest::saveScreenshot(view, "mainview-device-lost");

  ASSERT_TRUE(server.start());
  ASSERT_TRUE(guitest::processEventsUntil([&] { return view.started(); }, 15000));
  EXPECT_TRUE(noticeSays(view, "is back"));
  EXPECT_TRUE(view.outlets().startButton->isChecked());
  ASSERT_TRUE(guitest::processEventsUntil([&] { return view.generatorOn(); }, 10000));
  EXPECT_TRUE(view.outlets().generatorButton->isChecked());
  // The curves move again, on audio captured after the return (the new server's ports
  // start unconnected).
  ASSERT_TRUE(feedNoise());
  ASSERT_TRUE(guitest::processEventsUntil([&] { return shownBands(view) > 0; }, 10000));
  guitest::saveScreenshot(view, "mainview-device-back");
  view.setGeneratorOn(false);
  view.stop();
  // The shared library lets go of the server before the next test starts one of its own.
  server.stop();
  EXPECT_TRUE(guitest::processEventsUntil([] { return !jackListed(); }, 10000));
}

}  // namespace
}  // namespace qv::gui::test
