#include <condition_variable>

#include "JackLoopFixture.h"
#include "support/StubConsumer.h"

namespace qv {
namespace {

using namespace test;

// The server at each rate an output may run at: what the generator plays is recorded
// through a loop of our own ports.
class JackGeneratorRateTest : public JackLoopTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    rate = GetParam();
    JackLoopTest::SetUp();
  }
};

TEST_P(JackGeneratorRateTest, PlayedNoiseIsBoundedFreeOfDcAndBitExact) {
  // A capture at the device's own rate (no resampling) must hold a run of the very
  // samples the generator computed for that rate, after the 0.2 s fade-in; every sample
  // that reached the output lies within the limiter's ceiling and the mean carries no DC.
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
  EXPECT_EQ(info.freq, static_cast<uint32_t>(rate));
  SubtractiveRandom replay = SubtractiveRandom::shared();
  startGenerator();
  EXPECT_EQ(generator->sampleRate(), rate);  // the output runs at the server's rate
  ASSERT_TRUE(JackServer::loop(kClient, "generator", "in_1"));
  const size_t wanted = size_t(rate) * 2 * 2;  // two seconds of two channels
  ASSERT_TRUE(waitFor([&] {
    std::lock_guard<std::mutex> lock(mutex);
    return captured.size() >= wanted;
  }));
  std::vector<float> frames;
  {
    std::lock_guard<std::mutex> lock(mutex);
    frames = captured;
  }
  library->channelFree(handle);

  float peak = 0;
  double sum = 0;
  size_t heard = 0;
  for (size_t i = 0; i < frames.size(); i += 2) {
    peak = std::max(peak, std::fabs(frames[i]));
    if (frames[i] != 0.0f) ++heard;
    sum += frames[i];
  }
  EXPECT_LE(peak, PinkNoiseGenerator::kCeiling);
  EXPECT_GT(peak, 0.2f) << "the loop carried no noise";
  EXPECT_LT(std::fabs(sum / double(heard)), 0.01) << "DC on the output";

  std::vector<float> noise(size_t(rate) * 30);
  PinkNoiseGenerator offline(static_cast<float>(rate));
  offline.generate(noise.data(), static_cast<uint32_t>(noise.size()), replay);
  const size_t k = frames.size() / 4 - 8192;  // a frame well after the fade-in
  size_t match = noise.size();
  for (size_t m = size_t(rate) / 4; m + 8192 < noise.size(); ++m) {
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
    ASSERT_EQ(frames[2 * (k + i) + 1], 0.0f);  // in_2 hears the silent system
}

INSTANTIATE_TEST_SUITE_P(OutputRates, JackGeneratorRateTest,
                         ::testing::Values(44100, 48000, 88200, 96000, 176400, 192000),
                         [](const auto& info) { return std::to_string(info.param); });

TEST_F(JackLoopTest, RecorderDeliversResampledBlocksInMapOrder) {
  startRecorder({1, 0});  // output 0 <- device channel 1 (silent), output 1 <- channel 0 (noise)
  startGenerator();
  ASSERT_TRUE(JackServer::loop(kClient, "generator", "reference"));
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

// The ports carry the names the preferences use: the roles of the inputs the map picks,
// "generator" for the noise; they follow a change of the map, keeping their connections.
// The device is shown at the server's rate, not the analysis rate it is resampled to.
TEST_F(JackLoopTest, PortsAreNamedAfterTheirRolesAndFollowTheMap) {
  startRecorder({1, 0});  // at 44100 Hz, resampled from the server's 48000
  startGenerator();
  EXPECT_EQ(JackServer::ports(kClient),
            (std::vector<std::string>{"reference", "measurement", "generator"}));
  EXPECT_EQ(QXBassHelper(*library).inputDeviceTitleForUUID(kJackUID), "JACK (48000 Hz)");
  ASSERT_TRUE(JackServer::loop(kClient, "generator", "measurement"));
  recorder->resumeRec();
  auto heard = [&](int output) {
    consumer->clear();
    EXPECT_TRUE(waitFor([&] { return consumer->blocks() >= 3; }));
    const auto samples = consumer->channel(output);
    double power = 0;
    for (size_t i = samples.size() / 2; i < samples.size(); ++i) power += samples[i] * samples[i];
    return power > 0;
  };
  EXPECT_TRUE(heard(0));  // the measurement
  EXPECT_FALSE(heard(1));

  // Measurement and reference trade inputs: the port that hears the generator (device
  // input 2) is now the reference.
  recorder->setChannelMap({0, 1});
  EXPECT_EQ(JackServer::ports(kClient),
            (std::vector<std::string>{"measurement", "reference", "generator"}));
  EXPECT_FALSE(heard(0));
  EXPECT_TRUE(heard(1));
  recorder->pauseRec();
}

// Blocks a delivery inside getData until released, so that a pause can land while the
// delivery is under way.
class GateConsumer final : public test::StubConsumer {
 public:
  void getData(const void*, uint32_t) override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!armed_) return;
    armed_ = false;
    held_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !held_; });
  }

  void arm() {
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = true;
  }
  bool waitUntilHeld() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(5), [this] { return held_; });
  }
  void release() {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = false;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool armed_ = false;
  bool held_ = false;
};

TEST_F(JackLoopTest, PauseRecReturnsOnlyAfterTheBlockInFlightReachedEveryConsumer) {
  auto gate = std::make_shared<GateConsumer>();
  recorder = QVRecorder::initWithDeviceUUID(kJackUID, 2, 48000, false, delegate, *library);
  ASSERT_NE(recorder, nullptr);
  recorder->addConsumer(gate);
  recorder->addConsumer(consumer);  // after the gate: it hears of a block only past it
  recorder->resumeRec();
  ASSERT_TRUE(waitFor([&] { return consumer->blocks() >= 1; }));
  gate->arm();
  ASSERT_TRUE(gate->waitUntilHeld());

  std::atomic<bool> paused{false};
  std::atomic<size_t> blocksAtPause{0};
  std::thread control([&] {
    recorder->pauseRec();
    blocksAtPause = consumer->blocks();
    paused = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(paused.load()) << "pauseRec returned while a block was still being delivered";
  gate->release();
  control.join();
  dispatch::mainQueue().runFor(0.4);
  EXPECT_EQ(consumer->blocks(), blocksAtPause.load());
}

TEST_F(JackLoopTest, AfterAQuickPauseOnlyFramesCapturedAfterTheResumeArrive) {
  // A ramp (frame n plays n / 2^24, exact in a float) tells when each captured frame was
  // played; the loop adds one period of 1024 frames.
  startRecorder({0, 1}, 48000);
  startStream([](uint64_t n) { return static_cast<float>(n) / 16777216.0f; });
  ASSERT_TRUE(JackServer::loop(kClient, "out_1", "measurement"));
  recorder->resumeRec();
  ASSERT_TRUE(waitFor([&] { return consumer->blocks() >= 2; }));
  // A pause that falls just after a delivery leaves nothing buffered, so try a few times.
  for (int attempt = 0; attempt < 8; ++attempt) {
    recorder->pauseRec();
    const uint64_t playedBeforeResume = streamFrames[0]->load();
    // More than two periods: frames captured after the resume were played after this point.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    consumer->clear();
    recorder->resumeRec();
    ASSERT_TRUE(waitFor([&] { return consumer->blocks() >= 1; }));
    const auto ramp = consumer->channel(0);
    ASSERT_FALSE(ramp.empty());
    EXPECT_GE(static_cast<double>(ramp[0]) * 16777216.0, static_cast<double>(playedBeforeResume))
        << "attempt " << attempt << ": a frame captured before the pause was delivered";
    // Older frames mixed in after newer ones would break the rise.
    for (size_t i = 1; i < ramp.size(); ++i) {
      ASSERT_GT(ramp[i], ramp[i - 1]) << "attempt " << attempt << ", frame " << i;
    }
  }
}

// Runs last in this file: after a server died under an open stream, PortAudio in this
// process cannot be re-initialised.
TEST_F(JackLoopTest, ZKilledServerEndsTheCaptureWithoutAHang) {
  LogCapture log;
  startRecorder({0, 1});
  startGenerator();
  ASSERT_TRUE(JackServer::loop(kClient, "generator", "measurement"));
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

// A device with eight channels: a frame is eight floats, and the map picks two of them.
class JackEightChannelTest : public JackLoopTest {
 protected:
  JackEightChannelTest() { ports = 8; }
};

TEST_F(JackEightChannelTest, MapFiveTwoTakesDeviceChannelsFiveAndTwoOfEveryFrame) {
  startRecorder({5, 2}, 48000);
  EXPECT_EQ(recorder->inputChannelCount(), 8u);
  startStream([](uint64_t) { return 0.25f; });  // out_1
  startStream([](uint64_t) { return -0.5f; });  // out_2
  // Inputs without a role keep their numbers, as the preferences show them ("in 1").
  EXPECT_EQ(JackServer::ports(kClient),
            (std::vector<std::string>{"in_1", "in_2", "reference", "in_4", "in_5", "measurement",
                                      "in_7", "in_8", "out_1", "out_2"}));
  // Only our two streams feed inputs 5 and 2; every other input hears the silent system.
  for (const auto& [from, to] :
       {std::pair{"system:capture_6", "measurement"}, {"system:capture_3", "reference"}})
    JackServer::tool({"jack_disconnect", from, std::string(kClient) + ":" + to}, true);
  ASSERT_TRUE(
      JackServer::connect(std::string(kClient) + ":out_1", std::string(kClient) + ":measurement"));
  ASSERT_TRUE(
      JackServer::connect(std::string(kClient) + ":out_2", std::string(kClient) + ":reference"));
  recorder->resumeRec();
  ASSERT_TRUE(waitFor([&] { return consumer->blocks() >= 6; }));
  recorder->pauseRec();
  const auto five = consumer->channel(0);
  const auto two = consumer->channel(1);
  ASSERT_GT(five.size(), 20000u);
  // The connections were made after the capture began: judge the second half.
  for (size_t i = five.size() / 2; i < five.size(); ++i) {
    ASSERT_EQ(five[i], 0.25f) << i;
    ASSERT_EQ(two[i], -0.5f) << i;
  }
}

}  // namespace
}  // namespace qv
