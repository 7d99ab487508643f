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
#include <limits>
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

// Plays sample(n) as frame n on the default output, which the virtual device hands back as
// its reference input; the stream's handle, or 0.
template <typename Sample>
uint32_t playOnReference(AudioLibrary& library, Sample sample) {
  if (!library.init(kDefaultDevice, 44100) && AudioLibrary::errorCode() != kAudioErrorAlready)
    return 0;
  const uint32_t stream = library.streamCreate(
      44100, [sample, played = uint64_t{0}](uint32_t, void* buffer, uint32_t bytes) mutable {
        auto* f = static_cast<float*>(buffer);
        for (uint32_t i = 0; i < bytes / 4; ++i) f[i] = sample(played++);
        return bytes;
      });
  return stream != 0 && library.channelPlay(stream, false) ? stream : 0;
}

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
  // The output is the virtual device's reference input, channel 2: the right level.
  ASSERT_NE(playOnReference(library,
                            [](uint64_t n) {
                              const bool burst = n >= kBurstStart && n < kBurstStart + kBurstFrames;
                              return burst ? 0.8f * std::sin(2.0f * static_cast<float>(M_PI) *
                                                             1000.0f * static_cast<float>(n) /
                                                             44100.0f)
                                           : 0.01f;
                            }),
            0u);
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

TEST(CaptureGarbage, SamplesThatAreNoAudioArriveAsSilenceInTheBlocksAndTheLevels) {
  // A sound server's plug-in was seen to hand over values near 1e29 in its first periods;
  // in the averages they, or a NaN, would ruin the measurement. Here the virtual device's
  // reference input (its output) carries such values for 100 frames in a steady 0.25.
  LogCapture log;
  AudioLibrary library(realTime(true));
  auto delegate = std::make_shared<TestRecorderDelegate>();
  auto recorder = QVRecorder::initWithDeviceUUID(kVirtualUID, 2, 44100, false, delegate, library);
  ASSERT_NE(recorder, nullptr);
  auto consumer = std::make_shared<TestConsumer>();
  recorder->addConsumer(consumer);
  constexpr uint64_t kBadStart = 3000, kBadFrames = 100;
  const float bad[] = {std::numeric_limits<float>::quiet_NaN(),
                       std::numeric_limits<float>::infinity(), -1.55e29f, 64.5f, -65.0f};
  // The largest sample still taken as audio sits among the garbage.
  ASSERT_NE(playOnReference(library,
                            [bad](uint64_t n) {
                              const bool garbage = n >= kBadStart && n < kBadStart + kBadFrames;
                              return garbage ? (n % 6 == 5 ? -64.0f : bad[n % 6]) : 0.25f;
                            }),
            0u);
  recorder->resumeRec();
  const uint32_t channel = recorder->inputChannel();
  auto& sound = library.virtualSoundSystem();
  sound.render(kBadStart + kBadFrames + 10);
  float levels[2] = {0, 0};
  ASSERT_TRUE(library.channelGetLevel(channel, levels, 1.0f, kLevelStereo));
  EXPECT_FLOAT_EQ(levels[1], 64.0f);
  sound.render(3 * 5513);
  ASSERT_TRUE(
      dispatch::mainQueue().runUntil([&] { return consumer->channel(1).size() >= 12000; }, 10));

  // Every sample delivered is audio; in the reference, the one garbage value in six that is
  // the largest audio sample (-64) comes through unchanged and the others as silence. (The
  // virtual room's filters turn the microphone into garbage for good after a NaN, so it
  // adds to the count in the log.)
  size_t kept = 0, silent = 0;
  for (int c : {0, 1}) {
    const std::vector<float> samples = consumer->channel(c);
    for (size_t i = 0; i < samples.size(); ++i) {
      ASSERT_TRUE(std::isfinite(samples[i]) && std::fabs(samples[i]) <= 64.0f)
          << "channel " << c << ", sample " << i << ": " << samples[i];
      if (c == 1) kept += samples[i] == -64.0f ? 1 : 0;
      if (c == 1) silent += samples[i] == 0.0f ? 1 : 0;
    }
  }
  const size_t garbage = kBadFrames - kBadFrames / 6;
  EXPECT_EQ(kept, kBadFrames / 6);
  EXPECT_GE(silent, garbage);
  // Told once (the log tells of more at most every ten seconds), with its count.
  ASSERT_EQ(log.count("samples that are no audio"), 1);
  const std::string line = log.lines()[0];
  const auto at = line.find(" delivered ");
  ASSERT_NE(at, std::string::npos) << line;
  EXPECT_GE(std::stoul(line.substr(at + 11)), garbage) << line;
  recorder->stopRec();
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
