#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <mutex>

#include "JackServer.h"
#include "audio/BassLevelReader.h"
#include "audio/GeneratorController.h"
#include "audio/QVRecorder.h"
#include "audio/QXBassHelper.h"
#include "audiolib/AudioLibrary.h"
#include "platform/MainQueue.h"
#include "support/TestConsumer.h"

namespace qv {
namespace {

using test::JackServer;
using test::LogCapture;
using test::TestConsumer;
using test::TestRecorderDelegate;

constexpr const char* kJackUID = "JACK Audio Connection Kit:system";
constexpr const char* kClient = "qvtest";

bool waitFor(const std::function<bool()>& done, double seconds = 15) {
  return dispatch::mainQueue().runUntil(done, seconds);
}

std::string uniqueName() {
  static int counter = 0;
  return "qvtest-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

// Our JACK output played straight into our JACK input, on a dummy server of our own.
class JackLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server = std::make_unique<JackServer>(uniqueName());
    ASSERT_TRUE(server->start()) << "jackd did not come up";
    AudioLibrary::Options options;
    options.clientName = kClient;
    library = std::make_unique<AudioLibrary>(options);
    ASSERT_NE(QXBassHelper(*library).recordingDeviceHandleForUUID(kJackUID), kDefaultDevice);
  }
  void TearDown() override {
    generator.reset();
    recorder.reset();
    library.reset();
    server.reset();
  }
  void startGenerator() {
    generator = std::make_unique<GeneratorController>(*library);
    generator->setDeviceHandle(QXBassHelper(*library).playbackDeviceHandleForUUID(kJackUID));
    generator->start();
    ASSERT_TRUE(generator->isOn());
  }
  void startRecorder(std::vector<int32_t> map) {
    recorder = QVRecorder::initWithDeviceUUID(kJackUID, 2, 44100, false, delegate, *library);
    ASSERT_NE(recorder, nullptr);
    recorder->setChannelMap(map);
    recorder->addConsumer(consumer);
    ASSERT_NE(recorder->startRecChannel(), 0u);  // ports exist from here on
  }

  std::unique_ptr<JackServer> server;
  std::unique_ptr<AudioLibrary> library;
  std::unique_ptr<GeneratorController> generator;
  std::shared_ptr<QVRecorder> recorder;
  std::shared_ptr<TestRecorderDelegate> delegate = std::make_shared<TestRecorderDelegate>();
  std::shared_ptr<TestConsumer> consumer = std::make_shared<TestConsumer>();
};

TEST_F(JackLoopTest, NoiseComesBackBitExactAtTheDeviceRate) {
  // A capture at the device's own rate (no resampling) must hold a run of the very
  // samples the generator computed, after the 0.2 s fade-in.
  const uint32_t device = QXBassHelper(*library).recordingDeviceHandleForUUID(kJackUID);
  ASSERT_TRUE(library->recordInit(device));
  std::mutex mutex;
  std::vector<float> captured;
  const uint32_t handle =
      library->recordStart(0, 2, false, 125, [&](uint32_t, const void* d, uint32_t bytes) {
        std::lock_guard<std::mutex> lock(mutex);
        const auto* f = static_cast<const float*>(d);
        captured.insert(captured.end(), f, f + bytes / 4);
        return true;
      });
  ASSERT_NE(handle, 0u);
  ChannelInfo info;
  ASSERT_TRUE(library->channelGetInfo(handle, &info));
  EXPECT_EQ(info.freq, 48000u);
  SubtractiveRandom replay = SubtractiveRandom::shared();
  startGenerator();
  EXPECT_EQ(generator->sampleRate(), 48000);  // the output runs at the server's rate
  ASSERT_TRUE(JackServer::loop(kClient));
  ASSERT_TRUE(waitFor([&] {
    std::lock_guard<std::mutex> lock(mutex);
    return captured.size() >= 2 * 48000 * 2;
  }));
  std::vector<float> frames;
  {
    std::lock_guard<std::mutex> lock(mutex);
    frames = captured;
  }
  std::vector<float> noise(48000 * 30);
  PinkNoiseGenerator offline(48000);
  offline.generate(noise.data(), static_cast<uint32_t>(noise.size()), replay);

  const size_t start = frames.size() / 2 - 8192 * 2;  // well after the fade-in, in frames*2
  const size_t k = start / 2;
  size_t match = noise.size();
  for (size_t m = 48000 / 4; m + 8192 < noise.size(); ++m) {
    if (noise[m] != frames[2 * k]) continue;
    bool all = true;
    for (size_t i = 0; i < 8192 && all; ++i) all = noise[m + i] == frames[2 * (k + i)];
    if (all) {
      match = m;
      break;
    }
  }
  ASSERT_LT(match, noise.size()) << "the looped noise is not a copy of the generated noise";
  // The loop delays: the generator had produced more samples than the capture received.
  EXPECT_GT(match, 0u);
  for (size_t i = 0; i < 8192; ++i)
    ASSERT_EQ(frames[2 * (k + i) + 1], 0.0f);  // in_1 is unconnected
  library->channelFree(handle);
}

TEST_F(JackLoopTest, RecorderDeliversResampledBlocksInMapOrder) {
  startRecorder({1, 0});  // output 0 <- device channel 1 (silent), output 1 <- channel 0 (noise)
  startGenerator();
  ASSERT_TRUE(JackServer::loop(kClient));
  recorder->resumeRec();
  ASSERT_TRUE(waitFor([&] { return consumer->blocks() >= 14; }));
  recorder->pauseRec();
  EXPECT_EQ(recorder->samplingRate(), 44100u);
  EXPECT_EQ(consumer->samplingRate(), 44100u);  // resampled from the server's 48000
  EXPECT_EQ(consumer->inputChannelCount(), 2u);

  const auto sizes = consumer->blockFrames();
  uint64_t total = 0;
  for (size_t i = 1; i < sizes.size(); ++i) total += sizes[i];
  const double mean = static_cast<double>(total) / static_cast<double>(sizes.size() - 1);
  // One block per 125 ms is 5512.5 frames at 44100 Hz; JACK's 1024-frame periods
  // (21.3 ms) make single blocks uneven, their mean is not.
  EXPECT_NEAR(mean, 5512.5, 600);
  for (uint32_t s : sizes) EXPECT_LE(s, 15360u);

  const auto silent = consumer->channel(0);
  const auto noise = consumer->channel(1);
  for (float v : silent) ASSERT_EQ(v, 0.0f);
  double power = 0;
  size_t n = 0;
  for (size_t i = noise.size() / 2; i < noise.size(); ++i, ++n) power += noise[i] * noise[i];
  // The generator's pink noise has an RMS of about 0.07 (measured offline at 48 kHz);
  // resampling keeps the level, dropping only the little energy above 20 kHz.
  SubtractiveRandom r;
  PinkNoiseGenerator offline(48000);
  std::vector<float> ref(96000);
  offline.generate(ref.data(), 96000, r);
  double refPower = 0;
  for (size_t i = 48000; i < ref.size(); ++i) refPower += ref[i] * ref[i];
  EXPECT_NEAR(std::sqrt(power / n), std::sqrt(refPower / 48000), 0.1 * std::sqrt(refPower / 48000));
}

TEST_F(JackLoopTest, PauseResumeStopAndALateConsumer) {
  startRecorder({0, 1});
  startGenerator();
  ASSERT_TRUE(JackServer::loop(kClient));
  recorder->resumeRec();
  const uint32_t channel = recorder->inputChannel();
  ASSERT_TRUE(waitFor([&] { return consumer->blocks() >= 2; }));
  recorder->pauseRec();
  recorder->performSafeBlock([] {});  // a delivery in flight has ended
  const size_t paused = consumer->blocks();
  dispatch::mainQueue().runFor(0.5);
  EXPECT_EQ(consumer->blocks(), paused);

  recorder->resumeRec();
  auto late = std::make_shared<TestConsumer>();
  recorder->addConsumer(late);
  EXPECT_EQ(late->announcements(), 1);
  EXPECT_EQ(late->samplingRate(), 44100u);
  ASSERT_TRUE(waitFor([&] { return late->blocks() >= 2; }));
  recorder->stopRec();
  const size_t stopped = late->blocks();
  dispatch::mainQueue().runFor(0.3);
  EXPECT_EQ(late->blocks(), stopped);
  using Call = std::pair<bool, uint32_t>;
  EXPECT_EQ(delegate->calls(),
            (std::vector<Call>{{true, channel}, {false, channel}, {true, channel}, {false, 0}}));
}

TEST_F(JackLoopTest, LevelsShowTheLoopOnTheLeftOnly) {
  startRecorder({0, 1});
  startGenerator();
  ASSERT_TRUE(JackServer::loop(kClient));
  recorder->resumeRec();
  ASSERT_TRUE(waitFor([&] { return consumer->blocks() >= 4; }));
  BassLevelReader reader(*library);
  reader.setChannel(recorder->inputChannel());
  reader.setUpdateInterval(0.25);
  reader.updateLevels();
  // Device channel 0 (left) carries pink noise peaking well above 0.05; channel 1 is open.
  EXPECT_GT(reader.levels()[0], 0.05f);
  EXPECT_LT(reader.levels()[0], 1.0f);
  EXPECT_EQ(reader.levels()[1], 0.0f);
}

TEST_F(JackLoopTest, MissingDevicesFallBackToTheDefaults) {
  LogCapture log;
  generator = std::make_unique<GeneratorController>(*library);
  generator->setDeviceHandle(57);
  generator->start();
  EXPECT_TRUE(generator->isOn());
  EXPECT_TRUE(log.contains("Generator: Error initing bass: 23"));
  generator->stop();
  EXPECT_FALSE(generator->isOn());
  // Likewise a recording device that is not there: the default input (the JACK server,
  // the only hardware here) records instead.
  auto fallback =
      QVRecorder::initWithDeviceUUID("ALSA:unplugged card", 2, 44100, false, delegate, *library);
  ASSERT_NE(fallback->startRecChannel(), 0u);
  AudioDeviceInfo info;
  ASSERT_TRUE(library->recordGetDeviceInfo(fallback->deviceHandle(), &info));
  EXPECT_EQ(info.driver, kJackUID);
}

// Runs last in this file: after a server died under an open stream, PortAudio in this
// process cannot be re-initialised.
TEST_F(JackLoopTest, ZKilledServerEndsTheCaptureWithoutAHang) {
  LogCapture log;
  startRecorder({0, 1});
  startGenerator();
  ASSERT_TRUE(JackServer::loop(kClient));
  recorder->resumeRec();
  ASSERT_TRUE(waitFor([&] { return consumer->blocks() >= 2; }));
  server->stop();
  ASSERT_TRUE(waitFor([&] { return recorder->inputChannel() == 0; }));
  EXPECT_TRUE(log.contains("vanished"));
  EXPECT_EQ(delegate->calls().back(), (std::pair<bool, uint32_t>{false, 0}));
  EXPECT_FALSE(generator->isOn());
  generator->stop();
  recorder->resumeRec();  // nothing to record from any more; must not crash or hang
}

}  // namespace
}  // namespace qv
