// The capture channel's timing on the virtual sound system: a delivery thread that was not
// running for a while, levels that must be as new as the driver's last period, and a
// channel freed while its callback calls into the library.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "audio/QVRecorder.h"
#include "audiolib/AudioLibrary.h"
#include "audiolib/backends/virtual/VirtualSoundSystem.h"
#include "platform/MainQueue.h"
#include "support/TestConsumer.h"
#include "support/VirtualDevices.h"

namespace qv {
namespace {

using test::LogCapture;
using test::TestConsumer;
using test::TestRecorderDelegate;
using namespace std::chrono_literals;

constexpr const char* kVirtualUID = "Virtual:Virtual Sound System";

AudioLibrary::Options realTime(bool simulated = false) { return test::virtualOnly(simulated); }

// Holds the record queue, and with it the capture's delivery thread, once for `stall`.
class StallingConsumer final : public test::StubConsumer {
 public:
  explicit StallingConsumer(std::chrono::milliseconds stall) : stall_(stall) {}
  void getData(const void*, uint32_t) override {
    if (blocks_.fetch_add(1) == 2) std::this_thread::sleep_for(stall_);
  }
  int blocks() const { return blocks_.load(); }

 private:
  std::chrono::milliseconds stall_;
  std::atomic<int> blocks_{0};
};

TEST(CaptureStall, ADeliveryThreadStalledForSecondsResumesTheCapture) {
  // Three seconds without deliveries are 24 missed periods; run back to back they would
  // find the ring empty and take the device for gone.
  LogCapture log;
  AudioLibrary library(realTime());
  auto delegate = std::make_shared<TestRecorderDelegate>();
  auto recorder = QVRecorder::initWithDeviceUUID(kVirtualUID, 2, 44100, false, delegate, library);
  ASSERT_NE(recorder, nullptr);
  auto consumer = std::make_shared<StallingConsumer>(3000ms);
  recorder->addConsumer(consumer);
  recorder->resumeRec();
  const uint32_t channel = recorder->inputChannel();
  ASSERT_NE(channel, 0u);
  auto& main = dispatch::mainQueue();
  ASSERT_TRUE(main.runUntil([&] { return consumer->blocks() >= 3; }, 10));
  const auto stalled = std::chrono::steady_clock::now();
  ASSERT_TRUE(main.runUntil([&] { return consumer->blocks() >= 4; }, 10));
  EXPECT_GE(std::chrono::steady_clock::now() - stalled, 2900ms);
  // Well past the silence limit of two seconds after the stall (the first block after it
  // came in six pieces of at most 15360 frames).
  ASSERT_TRUE(main.runUntil([&] { return consumer->blocks() >= 30; }, 10));
  main.runFor(0.3);
  EXPECT_FALSE(log.contains("vanished"));
  EXPECT_EQ(recorder->inputChannel(), channel);
  EXPECT_TRUE(library.channelIsActive(channel));
  EXPECT_EQ(delegate->calls(), (std::vector<std::pair<bool, uint32_t>>{{true, channel}}));
  recorder->stopRec();
}

TEST(CaptureLevel, ATwentyMillisecondBurstInsideABlockShowsAtTheNextPoll) {
  // In simulated time a block is delivered every 5513 frames; the burst lies between two
  // deliveries, so only levels taken from what the driver has captured can show it.
  AudioLibrary library(realTime(true));
  auto delegate = std::make_shared<TestRecorderDelegate>();
  auto recorder = QVRecorder::initWithDeviceUUID(kVirtualUID, 2, 44100, false, delegate, library);
  ASSERT_NE(recorder, nullptr);
  constexpr uint64_t kBurstStart = 6000;
  constexpr uint64_t kBurstFrames = 882;  // 20 ms
  std::atomic<uint64_t> played{0};
  ASSERT_TRUE(library.init(kDefaultDevice, 44100) ||
              AudioLibrary::errorCode() == kAudioErrorAlready);
  // The output is the virtual device's reference input, channel 2: the right level.
  const uint32_t tone = library.streamCreate(44100, [&](uint32_t, void* buffer, uint32_t bytes) {
    auto* f = static_cast<float*>(buffer);
    uint64_t n = played.load();
    for (uint32_t i = 0; i < bytes / 4; ++i, ++n) {
      const bool burst = n >= kBurstStart && n < kBurstStart + kBurstFrames;
      f[i] = burst ? 0.8f * std::sin(2.0f * static_cast<float>(M_PI) * 1000.0f *
                                     static_cast<float>(n) / 44100.0f)
                   : 0.01f;
    }
    played.store(n);
    return bytes;
  });
  ASSERT_TRUE(library.channelPlay(tone, false));
  recorder->resumeRec();
  const uint32_t channel = recorder->inputChannel();
  auto& sound = library.virtualSoundSystem();
  float levels[2] = {0, 0};
  const float window = 1.0f / 15;  // the level meter's: 2940 frames

  sound.render(5513);
  ASSERT_TRUE(library.channelGetLevel(channel, levels, window, kLevelStereo));
  EXPECT_FLOAT_EQ(levels[1], 0.01f);
  sound.render(7000 - 5513);  // 118 frames after the burst, no delivery since 5513
  ASSERT_TRUE(library.channelGetLevel(channel, levels, window, kLevelStereo));
  EXPECT_NEAR(levels[1], 0.8f, 0.005f);
  sound.render(3000);  // the window now starts after the burst
  ASSERT_TRUE(library.channelGetLevel(channel, levels, window, kLevelStereo));
  EXPECT_FLOAT_EQ(levels[1], 0.01f);

  recorder->pauseRec();
  EXPECT_FALSE(library.channelGetLevel(channel, levels, window, kLevelStereo));
  EXPECT_EQ(AudioLibrary::errorCode(), kAudioErrorNotPlaying);
  recorder->resumeRec();
  // Nothing captured since the restart: silence, not the level from before the pause.
  ASSERT_TRUE(library.channelGetLevel(channel, levels, window, kLevelStereo));
  EXPECT_EQ(levels[1], 0.0f);
  sound.render(100);
  ASSERT_TRUE(library.channelGetLevel(channel, levels, window, 0));
  EXPECT_FLOAT_EQ(levels[0], 0.01f);  // without the stereo flag: the loudest channel
}

TEST(CaptureFree, AChannelIsFreedWhileItsCallbackCallsTheLibrary) {
  AudioLibrary library(realTime());
  ASSERT_TRUE(library.recordInit(0));
  std::mutex mutex;
  std::condition_variable changed;
  bool inCallback = false;
  bool freeing = false;
  const uint32_t handle =
      library.recordStart(44100, 2, false, 125, [&](uint32_t, const void*, uint32_t) {
        std::unique_lock<std::mutex> lock(mutex);
        if (!inCallback) {
          inCallback = true;
          changed.notify_all();
          changed.wait(lock, [&] { return freeing; });
          lock.unlock();
          std::this_thread::sleep_for(100ms);  // channelFree is under way by now
          EXPECT_FALSE(library.recordingDevices().empty());
        }
        return true;
      });
  ASSERT_NE(handle, 0u);
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 5s, [&] { return inCallback; }));
    freeing = true;
    changed.notify_all();
  }
  std::atomic<bool> freed{false};
  std::thread freer([&] {
    EXPECT_TRUE(library.channelFree(handle));
    freed = true;
  });
  for (int i = 0; i < 100 && !freed; ++i) std::this_thread::sleep_for(50ms);
  if (!freed) {
    // Joined under the library's lock, the delivery thread waits for that lock forever.
    ADD_FAILURE() << "channelFree and the capture's callback deadlocked";
    std::fflush(nullptr);
    std::_Exit(1);
  }
  freer.join();
  EXPECT_FALSE(library.channelIsActive(handle));
}

}  // namespace
}  // namespace qv
