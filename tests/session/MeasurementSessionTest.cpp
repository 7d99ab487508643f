// The measurement session: fed blocks in simulated time, the finder's reading becomes the
// delay in force only through the acceptance rule and then flattens the phase; snapshots
// carry levels, counts and the controls in force; on the virtual sound system in real time
// the display runs while the capture does, the room's delay is found and inserted, and
// readers on other threads only ever see whole snapshots.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "delay/DelaySignals.h"
#include "engine/TransferFunctionModel.h"
#include "platform/MainQueue.h"
#include "session/MeasurementSession.h"
#include "support/VirtualDevices.h"

namespace qv::session {
namespace {

constexpr uint32_t kRate = 44100;
constexpr int32_t kLag = 441;  // 10 ms at 44.1 kHz: the measurement lags the reference

class DrivenSessionTest : public ::testing::Test {
 protected:
  DrivenSessionTest() : session_(config()) { session_.announce(kRate); }

  MeasurementSession::Config config() {
    MeasurementSession::Config c;
    c.driven = true;
    c.clock = clock_;
    c.sampleRate = kRate;
    c.smoothing = 96;  // the kernel {0, 1, 0}: every band as measured
    c.averagingIndex = 100.0f;
    return c;
  }

  // A block every 125 ms with four display ticks and one finder tick after it.
  void run(double seconds) {
    for (int b = 0; b < static_cast<int>(seconds * 8); ++b) {
      const std::vector<float> block = signal_.block(5513);
      session_.deliverToDisplay(block.data(), 5513);
      session_.deliverToFinder(block.data(), 5513);
      for (int t = 0; t < 4; ++t) {
        clock_->advance(0.03125);
        session_.displayTick();
      }
      if (const auto r = session_.finderTick()) reading_ = *r;
    }
  }

  // Largest |phase| over 1–2 kHz in the latest snapshot, where the band is not blanked.
  float largestPhase() const {
    const auto s = session_.latestDisplay();
    float largest = 0.0f;
    for (int32_t b = static_cast<int32_t>(s->axis->bandIndexForFreq(1000.0f));
         b <= static_cast<int32_t>(s->axis->bandIndexForFreq(2000.0f)); ++b) {
      const float phase = s->phase[static_cast<size_t>(b)];
      if (std::isfinite(phase)) largest = std::max(largest, std::fabs(phase));
    }
    return largest;
  }

  std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
  test::DelayedNoise signal_{kLag, 7};
  MeasurementSession session_;
  FinderReading reading_;
};

// The session passes the acceptance rule's decision on (the rule's cases are held where it
// lives): in Auto the third agreeing reading becomes the delay as found (441 samples: 10 ms,
// not rounded), and holding back the reference by it flattens the phase.
TEST_F(DrivenSessionTest, ConfirmedReadingsBecomeTheDelayAndThenFlattenThePhase) {
  run(4.0);
  ASSERT_EQ(reading_.estimate.state, DelayState::Found);
  EXPECT_NEAR(reading_.estimate.delaySamples, kLag, 0.01);
  EXPECT_GT(reading_.estimate.meanCoherence, 0.9);
  ASSERT_EQ(session_.latestDelay()->serial, reading_.serial);
  // Uncompensated, the phase turns by 360° every 100 Hz.
  EXPECT_GT(largestPhase(), 150.0f);

  EXPECT_FALSE(session_.applyFinderReading(reading_)) << "automatic insertion is off";
  session_.setAutoInsertDelay(true);
  EXPECT_FALSE(session_.applyFinderReading(reading_));
  EXPECT_FALSE(session_.applyFinderReading(reading_));
  ASSERT_TRUE(session_.applyFinderReading(reading_)) << "the third agreeing result";
  EXPECT_NEAR(session_.delayMs(), 10.0, 1e-3);
  EXPECT_EQ(session_.delayStatus().changes, 1);
  const double inserted = session_.delayStatus().appliedSamples;
  // The mean of three equal readings: the reading itself, to the last bits of a double.
  EXPECT_NEAR(inserted, reading_.estimate.delaySamples, 1e-9) << "as found, not rounded";
  EXPECT_FALSE(session_.applyFinderReading(reading_)) << "already in force";
  run(3.0);
  EXPECT_NEAR(session_.latestDisplay()->delayMs, 10.0, 1e-3);
  EXPECT_NEAR(session_.appliedDelaySamples(), inserted, 1e-9);
  // Holding back the reference by the lag lines the channels up: H = 1 at 0°.
  EXPECT_LT(largestPhase(), 10.0f);
  const auto s = session_.latestDisplay();
  const BandPoint at1k = s->closest(s->magnitude, 1000.0f);
  EXPECT_NEAR(at1k.y, 0.0, 0.5);
  EXPECT_NEAR(at1k.x, 1000.0, 4.0);
}

TEST_F(DrivenSessionTest, SnapshotsCarryTheLevelsTheCountsAndTheControlsInForce) {
  std::vector<float> block(2 * 100, 0.0f);
  block[2 * 10] = 0.8f;       // measurement
  block[2 * 20 + 1] = -0.4f;  // reference
  session_.deliverToDisplay(block.data(), 100);
  session_.setDelayMs(-2.5);
  session_.publishDisplay();
  auto s = session_.latestDisplay();
  EXPECT_FLOAT_EQ(s->levels[0], 0.8f);
  EXPECT_FLOAT_EQ(s->levels[1], 0.4f);
  EXPECT_EQ(s->framesDelivered, 100);
  EXPECT_EQ(s->blocksDelivered, 1u);
  EXPECT_EQ(s->delayMs, -2.5);
  EXPECT_EQ(s->smoothing, 96);
  EXPECT_EQ(s->averagingIndex, 100.0f);

  // No new block: the levels fall back by 5 % of the way to 0.
  session_.publishDisplay();
  s = session_.latestDisplay();
  EXPECT_FLOAT_EQ(s->levels[0], 0.76f);
  EXPECT_FLOAT_EQ(s->levels[1], 0.38f);

  // The delay control's own rules: exact to a fraction of a sample (2 ms at 44.1 kHz is
  // 88.2 samples, not 88), within ±3 s, and nothing changes for what is refused.
  EXPECT_TRUE(session_.setDelayMs(2.0));
  session_.displayTick();
  EXPECT_NEAR(session_.appliedDelaySamples(), 88.2, 1e-9);
  EXPECT_TRUE(session_.setDelayMs(-3000.0));
  EXPECT_FALSE(session_.setDelayMs(3000.01));
  EXPECT_FALSE(session_.setDelayMs(std::nan("")));
  EXPECT_EQ(session_.delayMs(), -3000.0);
  EXPECT_TRUE(session_.setDelayMs(0.005));
  EXPECT_EQ(session_.delayMs(), 0.0);
}

AudioLibrary::Options virtualSoundSystem() { return test::virtualOnly(false); }

constexpr const char* kVirtualDevice = "Virtual:Virtual Sound System";

// The room's direct sound arrives 132 samples after the reference, 132.885 (3.0133 ms)
// through the loudspeaker's low-pass, at half amplitude (about -6 dB over 1–2 kHz, where
// its coherence is high); both inputs show a level.
TEST(DeviceSessionTest, TheDisplayRunsWhileCapturingAndTheRoomsDelayIsInserted) {
  dispatch::mainQueue().drain();
  AudioLibrary library(virtualSoundSystem());
  MeasurementSession::Config config;
  config.library = &library;
  config.processorCount = 4;
  MeasurementSession session(config);
  session.setChannelMap(0, 1);
  session.setAutoInsertDelay(true);
  std::vector<bool> running;
  int displays = 0;
  int accepted = 0;
  session.setRunningListener([&](bool r) { running.push_back(r); });
  session.setDisplayListener([&] { ++displays; });
  session.setDelayListener([&](const DelaySnapshot& result, bool taken) {
    EXPECT_GT(result.points, 0);
    accepted += taken;
  });

  // Readers elsewhere take snapshots all the while; each must be whole and newer than the
  // last they saw.
  std::atomic<bool> done{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 2; ++r) {
    readers.emplace_back([&] {
      uint64_t lastDisplay = 0;
      uint64_t lastDelay = 0;
      while (!done.load()) {
        if (const auto d = session.latestDisplay()) {
          wrong += d->serial < lastDisplay || d->bandCount() != session.axis().bandCount();
          lastDisplay = d->serial;
        }
        if (const auto d = session.latestDelay()) {
          wrong += d->serial < lastDelay;
          lastDelay = d->serial;
        }
      }
    });
  }

  ASSERT_TRUE(session.startCapture(kVirtualDevice));
  EXPECT_EQ(running, std::vector<bool>{true}) << "the recorder started, so did the display";
  ASSERT_TRUE(session.startDelayFinder());
  EXPECT_TRUE(dispatch::mainQueue().runUntil([&] { return accepted >= 1; }, 30.0));
  dispatch::mainQueue().runFor(1.5);  // the averages settle with the delay in place
  session.stopCapture();
  done = true;
  for (auto& t : readers) t.join();

  EXPECT_EQ(running, (std::vector<bool>{true, false}));
  EXPECT_NEAR(session.delayMs(), 3.0133, 0.005);
  EXPECT_EQ(session.delayStatus().estimate.state, DelayState::Found);
  EXPECT_GT(displays, 0);
  EXPECT_EQ(wrong.load(), 0);
  const auto s = session.latestDisplay();
  EXPECT_GT(s->framesDelivered, 0);
  EXPECT_GT(s->levels[0], 0.0f);
  EXPECT_GT(s->levels[1], 0.0f);
  EXPECT_NEAR(s->delayMs, 3.0133, 0.005);
  const auto first = static_cast<int32_t>(std::ceil(s->axis->bandIndexForFreq(1000.0f)));
  const auto last = static_cast<int32_t>(std::floor(s->axis->bandIndexForFreq(2000.0f)));
  int bands = 0;
  double sum = 0.0;
  for (int32_t b = first; b <= last; ++b) {
    const float value = s->magnitude[static_cast<size_t>(b)];
    if (!std::isfinite(value)) continue;
    ++bands;
    sum += value;
  }
  ASSERT_GT(bands, (last - first) * 9 / 10) << "the coherence blanks few bands at 1-2 kHz";
  EXPECT_NEAR(sum / bands, -6.0, 2.0);
}

TEST(DeviceSessionTest, GoingWhileTicksRunLeavesNothingBehind) {
  dispatch::mainQueue().drain();
  AudioLibrary library(virtualSoundSystem());
  MeasurementSession::Config config;
  config.library = &library;
  auto session = std::make_unique<MeasurementSession>(config);
  int displays = 0;
  session->setDisplayListener([&] { ++displays; });
  ASSERT_TRUE(session->startCapture(kVirtualDevice));
  ASSERT_TRUE(session->startDelayFinder());
  ASSERT_TRUE(dispatch::mainQueue().runUntil([&] { return session->displayTicks() >= 3; }, 10.0));
  session.reset();
  const int before = displays;
  dispatch::mainQueue().runFor(0.2);  // wake-ups still queued for it find nobody
  EXPECT_EQ(displays, before);
}

}  // namespace
}  // namespace qv::session
