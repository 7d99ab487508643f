// The delay locator on real threads: audio arriving on a producer thread of its own while
// the locator ticks on its queue, results delivered on the main queue (run here by hand),
// settings changed while it runs, and a stop that holds; silence, samples that are no
// number and a restart in manual ticks. Also the virtual sound system's room, through a
// recorder, read where its README puts the direct sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/QVRecorder.h"
#include "audiolib/AudioLibrary.h"
#include "audiolib/backends/virtual/VirtualSoundSystem.h"
#include "delay/DelayLocator.h"
#include "platform/MainQueue.h"
#include "support/KnownSystems.h"
#include "support/LogCapture.h"
#include "support/TestConsumer.h"
#include "support/VirtualDevices.h"

namespace qv {
namespace {

namespace known = test::known;

class DelayLocatorLifecycle : public ::testing::Test {
 protected:
  void SetUp() override { dispatch::mainQueue().drain(); }
  void TearDown() override {
    if (locator) locator->stop();
    dispatch::mainQueue().drain();
  }
  std::shared_ptr<DelayLocator> locator;
};

TEST_F(DelayLocatorLifecycle, StartNeedsTwoAnnouncedChannels) {
  locator = std::make_shared<DelayLocator>(true);
  EXPECT_FALSE(locator->start([](const DelayEstimate&) {}));
  locator->setInputChannelCountSamplingRateAudioDataTransport(1, 48000, {});
  EXPECT_FALSE(locator->start([](const DelayEstimate&) {}));
  EXPECT_FALSE(locator->isRunning());
  locator->setInputChannelCountSamplingRateAudioDataTransport(2, 48000, {});
  EXPECT_TRUE(locator->start([](const DelayEstimate&) {}));
  EXPECT_TRUE(locator->isRunning());
}

// Ten seconds of audio fed by a thread of its own in blocks of 125 ms, as fast as the ring
// takes them, while the locator's own timer ticks: the results reach the main queue, the
// last ones found at the recording's delay; a new range set meanwhile is taken (the search
// starts afresh and finds it again); after stop nothing more arrives.
TEST_F(DelayLocatorLifecycle, TicksOnItsOwnQueueAndDeliversOnTheMainQueue) {
  const uint32_t rate = 48000;
  const double lag = 1234.5;
  const auto reference = known::referenceNoise(rate * 10, 111);
  const auto frames = known::interleave(known::delayed(reference, lag), reference);
  locator = std::make_shared<DelayLocator>(true);
  locator->setInputChannelCountSamplingRateAudioDataTransport(2, rate, {});
  std::atomic<int> delivered{0};
  bool offMain = false;
  DelayEstimate last;
  ASSERT_TRUE(locator->start([&](const DelayEstimate& e) {
    offMain = offMain || !dispatch::mainQueue().isCurrent();
    last = e;
    ++delivered;
  }));

  std::atomic<bool> fed{false};
  std::thread producer([&] {
    const size_t block = rate / 8;
    for (size_t at = 0; at + block <= frames.size() / 2; at += block) {
      locator->getData(frames.data() + 2 * at, static_cast<uint32_t>(block * 8));
      // Real time would be 125 ms; a tenth of it keeps the ring from overflowing.
      std::this_thread::sleep_for(std::chrono::milliseconds(12));
    }
    fed = true;
  });
  ASSERT_TRUE(dispatch::mainQueue().runUntil([&] { return delivered.load() >= 5; }, 30.0));
  DelaySearch::Settings narrower;
  narrower.rangeSeconds = 0.1;
  locator->setSettings(narrower);
  ASSERT_TRUE(dispatch::mainQueue().runUntil([&] { return fed.load(); }, 60.0));
  producer.join();
  // Let the last audio be searched.
  dispatch::mainQueue().runFor(0.5);
  EXPECT_FALSE(offMain);
  EXPECT_EQ(locator->settings().rangeSeconds, 0.1);
  EXPECT_EQ(last.state, DelayState::Found);
  EXPECT_NEAR(last.delaySamples, lag, 1e-3);
  ASSERT_NE(last.impulse, nullptr);
  EXPECT_EQ(last.impulseCount, 32768);

  locator->stop();
  dispatch::mainQueue().drain();
  const int before = delivered.load();
  locator->getData(frames.data(), 8 * 4800);
  dispatch::mainQueue().runFor(0.3);
  EXPECT_EQ(delivered.load(), before);
}

// A locator first started for results on its ticking thread, then again for results on
// the main queue: what reaches the main queue is the tick's estimate with its whole impulse.
TEST_F(DelayLocatorLifecycle, MainQueueDeliveryAfterATickThreadStartCarriesTheImpulse) {
  const uint32_t rate = 48000;
  const size_t block = rate / 10;
  const auto reference = known::referenceNoise(rate * 3, 113);
  const auto frames = known::interleave(known::delayed(reference, 480.0), reference);
  locator = std::make_shared<DelayLocator>(false);
  locator->setInputChannelCountSamplingRateAudioDataTransport(2, rate, {});
  int onTick = 0;
  ASSERT_TRUE(
      locator->start([&](const DelayEstimate&) { ++onTick; }, DelayLocator::Delivery::TickThread));
  locator->getData(frames.data(), static_cast<uint32_t>(block * 8));
  ASSERT_TRUE(locator->processTick());
  EXPECT_EQ(onTick, 1);
  locator->stop();

  std::vector<float> delivered;
  ASSERT_TRUE(locator->start(
      [&](const DelayEstimate& e) { delivered.assign(e.impulse, e.impulse + e.impulseCount); }));
  for (size_t b = 1; b < 25; ++b)
    locator->getData(frames.data() + 2 * b * block, static_cast<uint32_t>(block * 8));
  ASSERT_TRUE(locator->processTick());
  dispatch::mainQueue().drain();
  const DelayEstimate& last = locator->lastEstimate();
  EXPECT_EQ(onTick, 1);
  EXPECT_EQ(last.state, DelayState::Found);
  ASSERT_EQ(delivered.size(), static_cast<size_t>(last.impulseCount));
  EXPECT_TRUE(std::equal(delivered.begin(), delivered.end(), last.impulse));
}

// A locator made for 48 kHz keeps a ring of its own size: 1.3 s of audio at that rate wait
// whole for a late tick, and the position counts every frame; 1.4 s do not fit.
TEST(DelayLocatorInput, RingHoldsOverASecondAtTheRateItIsMadeFor) {
  const uint32_t rate = 48000;
  const size_t block = rate / 10;
  const auto reference = known::referenceNoise(rate * 2, 114);
  const auto frames = known::interleave(known::delayed(reference, 64.0), reference);
  test::LogCapture log;
  auto locator = std::make_shared<DelayLocator>(false, rate);
  locator->setInputChannelCountSamplingRateAudioDataTransport(2, rate, {});
  for (size_t b = 0; b < 13; ++b)
    locator->getData(frames.data() + 2 * b * block, static_cast<uint32_t>(block * 8));
  EXPECT_EQ(log.count("AAAAA"), 0);
  ASSERT_TRUE(locator->processTick());
  EXPECT_EQ(locator->lastEstimate().position, static_cast<int64_t>(13 * block));
  for (size_t b = 0; b < 14; ++b)
    locator->getData(frames.data() + 2 * b * block, static_cast<uint32_t>(block * 8));
  EXPECT_EQ(log.count("AAAAA"), 1);
}

// Silence says nothing (unsure, no value that is not a number); samples that are no number
// are taken as silence and spoil nothing; a restart passes over the audio from before it
// (here another lag, waiting in the ring) while positions go on counting every frame.
TEST(DelayLocatorInput, SilenceBadSamplesAndARestart) {
  const uint32_t rate = 44100;
  const size_t block = rate / 10;
  auto locator = std::make_shared<DelayLocator>(false);
  locator->setInputChannelCountSamplingRateAudioDataTransport(2, rate, {});
  const auto feed = [&](const std::vector<float>& frames, size_t from, size_t blocks, bool tick) {
    for (size_t b = 0; b < blocks; ++b) {
      locator->getData(frames.data() + 2 * (from + b * block), static_cast<uint32_t>(block * 8));
      if (tick) locator->processTick();
    }
  };
  const std::vector<float> silence(2 * block * 20, 0.0f);
  feed(silence, 0, 20, true);
  const DelayEstimate& quiet = locator->lastEstimate();
  EXPECT_EQ(quiet.state, DelayState::Unsure);
  EXPECT_TRUE(std::isfinite(quiet.delaySamples) && std::isfinite(quiet.peakToNext) &&
              std::isfinite(quiet.meanCoherence));

  const auto reference = known::referenceNoise(rate * 12, 112);
  auto frames = known::interleave(known::delayed(reference, 100.25), reference);
  for (size_t i = 0; i < 200; i += 7) frames[2 * block * 3 + i] = std::nanf("");
  frames[2 * block * 3 + 501] = INFINITY;
  feed(frames, 0, 60, true);
  EXPECT_EQ(locator->lastEstimate().state, DelayState::Found);
  EXPECT_NEAR(locator->lastEstimate().delaySamples, 100.25, 0.01);

  // Another lag arrives and waits untaken; the restart comes before the next tick.
  const auto other = known::interleave(known::delayed(reference, 2000.0), reference);
  feed(other, 60 * block, 5, false);
  locator->restart();
  int found = 0;
  for (size_t b = 65; b < 110; ++b) {
    feed(frames, b * block, 1, false);
    if (!locator->processTick()) continue;
    const DelayEstimate& e = locator->lastEstimate();
    ASSERT_EQ(e.position, static_cast<int64_t>((20 + b + 1) * block));
    if (e.state != DelayState::Found) continue;
    ++found;
    ASSERT_NEAR(e.delaySamples, 100.25, 0.05) << "the audio from before the restart was used";
  }
  EXPECT_GT(found, 30);
}

// The virtual room: the direct sound 132 samples late through a band-pass (80 Hz, 12 kHz),
// a reflection of 0.2 at 573 samples and noise. The arrival is the band-pass's impulse peak
// after the direct sound's 132 samples: read between samples, the band-limited impulse
// h(t) = Re Σ H_k e^(iω_k t) of the two sections peaks at 132.885 samples (numpy; the old
// finder read 133 to the sample), not at the reflection, and the result is steady.
TEST(VirtualRoomDelayLocator, ReadsTheDocumentedDirectSound) {
  AudioLibrary library(test::virtualOnly(true));
  auto delegate = std::make_shared<test::TestRecorderDelegate>();
  auto recorder = QVRecorder::initWithDeviceUUID("Virtual:Virtual Sound System", 2, 44100, false,
                                                 delegate, library);
  ASSERT_NE(recorder, nullptr);
  recorder->setChannelMap({0, 1});  // microphone, reference
  auto locator = std::make_shared<DelayLocator>(false);
  recorder->addConsumer(locator);
  recorder->resumeRec();
  double lowest = 1e9, highest = -1e9;
  for (int tick = 0; tick < 60; ++tick) {
    library.virtualSoundSystem().render(4410);
    recorder->performSafeBlock([] {});
    if (!locator->processTick() || tick < 20) continue;
    const DelayEstimate& e = locator->lastEstimate();
    ASSERT_EQ(e.state, DelayState::Found) << tick;
    lowest = std::min(lowest, e.delaySamples);
    highest = std::max(highest, e.delaySamples);
  }
  recorder->stopRec();
  EXPECT_NEAR(lowest, 132.885, 0.02);
  EXPECT_NEAR(highest, 132.885, 0.02);
  RecordProperty("arrival_samples", std::to_string(0.5 * (lowest + highest)));
}

}  // namespace
}  // namespace qv
