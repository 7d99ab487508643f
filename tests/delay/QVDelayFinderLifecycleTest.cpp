#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "delay/DelaySignals.h"
#include "delay/QVDelayFinder.h"
#include "platform/Clock.h"
#include "platform/MainQueue.h"

namespace qv {
namespace {

struct Received {
  int calls = 0;
  bool onMainQueue = true;
  std::vector<float> impulse;
  int32_t count = 0;
  float delay = 0;
  float coherence = 0;
};

class DelayFinderLifecycle : public ::testing::Test {
 protected:
  void SetUp() override { dispatch::mainQueue().drain(); }
  void TearDown() override {
    if (finder) finder->stop();
    dispatch::mainQueue().drain();
  }

  std::shared_ptr<QVDelayFinder> make(bool ownTimer, uint32_t channels) {
    finder = std::make_shared<QVDelayFinder>(0, 0, clock, ownTimer);
    finder->setInputChannelCountSamplingRateAudioDataTransport(channels, 44100, {});
    return finder;
  }
  QVDelayFinder::ResultBlock recorder() {
    return [this](const float* impulse, int32_t count, float delay, float coherence) {
      received.calls++;
      received.onMainQueue = received.onMainQueue && dispatch::mainQueue().isCurrent();
      received.impulse.assign(impulse, impulse + count);
      received.count = count;
      received.delay = delay;
      received.coherence = coherence;
    };
  }

  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  std::shared_ptr<QVDelayFinder> finder;
  Received received;
  std::optional<QVDelayFinder::Error> error;
};

// One channel announced: the only effect of start is error 1001 with its message.
TEST_F(DelayFinderLifecycle, OneChannelOnlyReportsTheError) {
  make(/*ownTimer=*/true, 1);
  finder->startWithResultBlockErrorBlock(recorder(),
                                         [this](const QVDelayFinder::Error& e) { error = e; });
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->code, 1001);
  EXPECT_EQ(error->domain, QVDelayFinder::kErrorDomain);
  EXPECT_EQ(error->localizedDescription,
            "Wrong preconditions to start delay finder: channels not equal 2");
  EXPECT_FALSE(finder->isRunning());
  EXPECT_EQ(finder->timer(), nullptr);
  dispatch::mainQueue().drain();
  EXPECT_EQ(received.calls, 0);
  // Absent blocks are allowed.
  finder->startWithResultBlockErrorBlock(nullptr, nullptr);
  EXPECT_FALSE(finder->isRunning());
}

// A started finder with a previous timer that is now started with one channel stops it.
TEST_F(DelayFinderLifecycle, ErrorStopsAnEarlierRun) {
  make(true, 2);
  finder->startWithResultBlockErrorBlock(recorder(), nullptr);
  ASSERT_NE(finder->timer(), nullptr);
  EXPECT_TRUE(finder->timer()->isValid());
  finder->setInputChannelCountSamplingRateAudioDataTransport(1, 44100, {});
  finder->startWithResultBlockErrorBlock(recorder(), [this](const auto& e) { error = e; });
  EXPECT_TRUE(error.has_value());
  EXPECT_FALSE(finder->isRunning());
  EXPECT_FALSE(finder->timer()->isValid());
}

// The timer ticks on the finder's own queue with a real clock; its results arrive on the
// main queue. The rings start with silence, so the first results say 0 s, coherence 0.
TEST_F(DelayFinderLifecycle, TimerDeliversResultsOnTheMainQueue) {
  finder = std::make_shared<QVDelayFinder>(0, 0);
  finder->setInputChannelCountSamplingRateAudioDataTransport(2, 44100, {});
  finder->startWithResultBlockErrorBlock(recorder(), [this](const auto& e) { error = e; });
  ASSERT_NE(finder->timer(), nullptr);
  EXPECT_EQ(finder->timer()->name(), "delaylocator.timer");
  EXPECT_EQ(finder->timer()->leeway(), 1'000'000'000u);
  EXPECT_TRUE(finder->isRunning());
  ASSERT_TRUE(dispatch::mainQueue().runUntil([this] { return received.calls >= 2; }, 30.0));
  EXPECT_FALSE(error.has_value());
  EXPECT_TRUE(received.onMainQueue);
  EXPECT_EQ(received.count, 65536);
  EXPECT_EQ(received.delay, 0.0f);
  EXPECT_EQ(received.coherence, 0.0f);

  finder->stop();
  EXPECT_FALSE(finder->isRunning());
  EXPECT_FALSE(finder->timer()->isValid());
}

// Ticks run by hand: several ticks before the main queue runs give one call with the
// newest result, and nothing computed before stop arrives after it.
TEST_F(DelayFinderLifecycle, MainQueueGetsOnlyTheNewestResultAndNothingAfterStop) {
  make(/*ownTimer=*/false, 2);
  finder->startWithResultBlockErrorBlock(recorder(), nullptr);
  EXPECT_EQ(finder->timer(), nullptr);
  ASSERT_TRUE(finder->isRunning());

  std::vector<float> block(2 * 4410);
  for (size_t i = 0; i < block.size(); ++i) block[i] = (i % 7 == 0) ? 0.5f : -0.1f;
  for (int t = 0; t < 3; ++t) {
    finder->getData(block.data(), static_cast<uint32_t>(block.size() * sizeof(float)));
    clock->advance(0.1);
    ASSERT_TRUE(finder->processTick());
  }
  EXPECT_EQ(dispatch::mainQueue().drain(), 1);
  ASSERT_EQ(received.calls, 1);
  const auto last = finder->lastResult();
  EXPECT_EQ(received.delay, last.delay);
  EXPECT_EQ(received.coherence, last.meanCoherence);
  EXPECT_EQ(std::memcmp(received.impulse.data(), last.impulse, 65536 * sizeof(float)), 0);

  // Two ticks' results cross correctly one after another too.
  for (int t = 0; t < 2; ++t) {
    clock->advance(0.1);
    ASSERT_TRUE(finder->processTick());
    dispatch::mainQueue().drain();
    ASSERT_EQ(received.calls, 2 + t);
    EXPECT_EQ(
        std::memcmp(received.impulse.data(), finder->lastResult().impulse, 65536 * sizeof(float)),
        0);
  }

  clock->advance(0.1);
  ASSERT_TRUE(finder->processTick());
  finder->stop();
  dispatch::mainQueue().drain();
  EXPECT_EQ(received.calls, 3);
}

TEST_F(DelayFinderLifecycle, DestroyedFinderLeavesNoDeliveryBehind) {
  make(false, 2);
  finder->startWithResultBlockErrorBlock(recorder(), nullptr);
  ASSERT_TRUE(finder->processTick());
  finder.reset();
  dispatch::mainQueue().drain();
  EXPECT_EQ(received.calls, 0);
}

// The recorder's queue feeds the rings while the finder's own timer reads them, in real
// time: the only shared state is the rings' fill counts (ThreadSanitizer checks that), and
// the 10 ms lag comes through once the initial silence has left the window.
TEST_F(DelayFinderLifecycle, FindsTheDelayWhileTheRecorderDelivers) {
  finder = std::make_shared<QVDelayFinder>(0, 0);
  auto recordQueue = dispatch::makeSerialQueue("record.queue");
  recordQueue->sync(
      [this] { finder->setInputChannelCountSamplingRateAudioDataTransport(2, 44100, {}); });
  std::atomic<bool> delivering{true};
  std::thread capture([&] {
    test::DelayedNoise signal(441, 21);
    while (delivering.load()) {
      const auto block = signal.block(2205);
      recordQueue->sync([&] {
        finder->getData(block.data(), static_cast<uint32_t>(block.size() * sizeof(float)));
      });
      std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the capture pace
    }
  });
  finder->startWithResultBlockErrorBlock(recorder(), nullptr);
  const bool found = dispatch::mainQueue().runUntil(
      [this] { return received.calls > 0 && received.delay == 0.01f; }, 60.0);
  delivering.store(false);
  capture.join();
  finder->stop();
  EXPECT_TRUE(found) << "last delay " << received.delay;
  EXPECT_GT(received.coherence, 0.5f);
}

using DelayFinderLifecycleDeathTest = DelayFinderLifecycle;

// Starting before a recorder announced its format is a programming error.
TEST_F(DelayFinderLifecycleDeathTest, StartBeforeRegistrationStops) {
  EXPECT_DEATH(
      {
        auto unregistered = std::make_shared<QVDelayFinder>(0, 0, clock, false);
        unregistered->startWithResultBlockErrorBlock(nullptr, nullptr);
      },
      "_samplingRate");
}

}  // namespace
}  // namespace qv
