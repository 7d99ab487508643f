#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

#include "audio/BassLevelReader.h"
#include "audio/GeneratorController.h"
#include "audio/PinkNoiseGenerator.h"
#include "audio/QVRecorder.h"
#include "audiolib/AudioLibrary.h"
#include "audiolib/backends/virtual/VirtualSoundSystem.h"
#include "support/TestConsumer.h"
#include "support/VirtualDevices.h"

namespace qv {
namespace {

using test::TestConsumer;
using test::TestRecorderDelegate;

constexpr const char* kVirtualUID = "Virtual:Virtual Sound System";

AudioLibrary::Options simulated() { return test::virtualOnly(true); }

// Deterministic runs of the simulated room: a recorder on the virtual input, rendered
// in simulated time, so every block arrives synchronously inside render().
class VirtualSoundSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recorder = QVRecorder::initWithDeviceUUID(kVirtualUID, 2, 44100, false, delegate, library);
    ASSERT_NE(recorder, nullptr);
    recorder->addConsumer(consumer);
  }
  void render(uint64_t frames) { library.virtualSoundSystem().render(frames); }

  AudioLibrary library{simulated()};
  std::shared_ptr<TestRecorderDelegate> delegate = std::make_shared<TestRecorderDelegate>();
  std::shared_ptr<TestConsumer> consumer = std::make_shared<TestConsumer>();
  std::shared_ptr<QVRecorder> recorder;
};

TEST_F(VirtualSoundSystemTest, ReferenceIsWhatThePlayedGeneratorProducedWithItsFadeIn) {
  recorder->resumeRec();
  GeneratorController generator(library);
  SubtractiveRandom replay = SubtractiveRandom::shared();
  generator.start();
  ASSERT_TRUE(generator.isOn());
  EXPECT_EQ(generator.sampleRate(), 44100);
  render(44100);

  const std::vector<float> reference = consumer->channel(1);
  ASSERT_GE(reference.size(), 5u * 5513u);
  PinkNoiseGenerator offline(44100);
  std::vector<float> noise(reference.size());
  offline.generate(noise.data(), static_cast<uint32_t>(noise.size()), replay);
  // The volume slides from 0 to 1 over 0.2 s = 8820 frames, then stays at exactly 1.
  for (size_t n = 0; n < reference.size(); ++n) {
    if (n < 8820) {
      const float ramp = static_cast<float>(n + 1) / 8820.0f;
      // The ramp accumulates in float, so allow for its rounding drift (< 0.1 % of full).
      ASSERT_NEAR(reference[n], noise[n] * ramp, std::fabs(noise[n]) * 1e-3f) << "frame " << n;
    } else {
      ASSERT_EQ(reference[n], noise[n]) << "frame " << n;
    }
  }
  EXPECT_LT(std::fabs(reference[0]), 1e-4f);
}

// Second-order Butterworth by the bilinear transform, in double.
struct Section {
  double b0, b1, b2, a1, a2, x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  Section(double fc, double rate, bool high) {
    const double k = std::tan(M_PI * fc / rate), d = 1 + std::sqrt(2.0) * k + k * k;
    b0 = high ? 1 / d : k * k / d;
    b1 = high ? -2 / d : 2 * k * k / d;
    b2 = b0;
    a1 = 2 * (k * k - 1) / d;
    a2 = (1 - std::sqrt(2.0) * k + k * k) / d;
  }
  double run(double x) {
    const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1, x1 = x, y2 = y1, y1 = y;
    return y;
  }
};

TEST_F(VirtualSoundSystemTest, MicrophoneHearsTheRoomDocumentedForIt) {
  // Nothing plays, so the reference is the built-in pink noise. The microphone must be
  // 0.5 x band-passed reference 132 samples late + 0.2 x the same 573 samples late,
  // plus noise of at most 0.001 (see docs/virtual-sound-system.md).
  recorder->resumeRec();
  render(3 * 5513);
  const auto mic = consumer->channel(0);
  const auto ref = consumer->channel(1);
  ASSERT_EQ(mic.size(), ref.size());
  Section hp(80, 44100, true), lp(12000, 44100, false);
  std::vector<double> bp(ref.size());
  double refPower = 0;
  for (size_t n = 0; n < ref.size(); ++n) {
    bp[n] = lp.run(hp.run(ref[n]));
    refPower += ref[n] * ref[n];
  }
  ASSERT_GT(refPower / ref.size(), 1e-4);  // the built-in noise is really there
  for (size_t n = 600; n < mic.size(); ++n) {
    const double expected = 0.5 * bp[n - 132] + 0.2 * bp[n - 573];
    ASSERT_NEAR(mic[n], expected, 0.00105) << "frame " << n;
  }
}

TEST_F(VirtualSoundSystemTest, ChannelMapChoosesWhichDeviceChannelFeedsEachOutput) {
  recorder->setChannelMap({1, 0});
  recorder->resumeRec();
  render(5513);
  const auto first = consumer->channel(0);   // device channel 1: the reference
  const auto second = consumer->channel(1);  // device channel 0: the microphone
  // The microphone lags by 132 samples, so its first samples are only the room noise.
  for (size_t n = 0; n < 132; ++n) ASSERT_LE(std::fabs(second[n]), 0.001f);
  EXPECT_GT(std::fabs(first[10]), 0.0f);
}

TEST_F(VirtualSoundSystemTest, MapEntryBeyondTheDeviceGivesSilenceNotGarbage) {
  recorder->setChannelMap({7});  // one entry: output 1 is fed from device channel 0
  recorder->resumeRec();
  render(5513);
  for (float v : consumer->channel(0)) ASSERT_EQ(v, 0.0f);
  recorder->setChannelMap({0, 9});
  consumer->clear();
  render(5513);
  for (float v : consumer->channel(1)) ASSERT_EQ(v, 0.0f);
}

TEST_F(VirtualSoundSystemTest, RunsAreDeterministic) {
  recorder->resumeRec();
  render(2 * 5513);
  AudioLibrary other(simulated());
  auto second = QVRecorder::initWithDeviceUUID(kVirtualUID, 2, 44100, false, delegate, other);
  auto otherConsumer = std::make_shared<TestConsumer>();
  second->addConsumer(otherConsumer);
  second->resumeRec();
  other.virtualSoundSystem().render(2 * 5513);
  EXPECT_EQ(consumer->channel(0), otherConsumer->channel(0));
  EXPECT_EQ(consumer->channel(1), otherConsumer->channel(1));
}

TEST_F(VirtualSoundSystemTest, LevelsFollowTheCapturedPeaksAndDecay) {
  std::atomic<float> amplitude{0.5f};
  ASSERT_TRUE(library.init(kDefaultDevice, 44100) ||
              AudioLibrary::errorCode() == kAudioErrorAlready);
  const uint32_t stream = library.streamCreate(44100, [&](uint32_t, void* buffer, uint32_t bytes) {
    auto* f = static_cast<float*>(buffer);
    for (uint32_t i = 0; i < bytes / 4; ++i) f[i] = amplitude.load();
    return bytes;
  });
  ASSERT_NE(stream, 0u);
  ASSERT_TRUE(library.channelPlay(stream, false));
  recorder->resumeRec();
  BassLevelReader reader(library);
  reader.setChannel(recorder->inputChannel());
  reader.setUpdateInterval(1.0 / 15);
  render(5513);
  reader.updateLevels();
  // Device channel 1 (the reference, a constant 0.5) folds into the right level.
  EXPECT_EQ(reader.levels()[1], 0.5f);
  amplitude = 0.0f;
  render(5513);
  reader.updateLevels();
  EXPECT_FLOAT_EQ(reader.levels()[1], 0.475f);  // 0.05 * 0 + 0.95 * 0.5
  reader.updateLevels();
  EXPECT_FLOAT_EQ(reader.levels()[1], 0.45125f);
  // Without a channel every reading fails and reads as silence.
  reader.setChannel(0);
  EXPECT_EQ(reader.levels()[1], 0.0f);
  reader.updateLevels();
  EXPECT_EQ(reader.levels()[1], 0.0f);
}

TEST_F(VirtualSoundSystemTest, RestartKeepsTheFilterStatesAndStopResetsThem) {
  recorder->resumeRec();
  GeneratorController generator(library);
  SubtractiveRandom replay = SubtractiveRandom::shared();
  generator.start();
  render(5513);
  generator.start();  // a new stream, fading in again, on the same generator
  render(3 * 5513);
  const auto reference = consumer->channel(1);
  PinkNoiseGenerator offline(44100);
  std::vector<float> noise(reference.size());
  offline.generate(noise.data(), static_cast<uint32_t>(noise.size()), replay);
  // After the second fade-in (5513 + 8820 frames) the noise is the uninterrupted sequence.
  for (size_t n = 5513 + 8820; n < reference.size(); ++n) ASSERT_EQ(reference[n], noise[n]) << n;

  generator.stop();
  EXPECT_FALSE(generator.isOn());
  consumer->clear();
  replay = SubtractiveRandom::shared();  // the random source goes on, it is not reseeded
  generator.start();
  render(3 * 5513);
  PinkNoiseGenerator fresh(44100);  // zeroed filter states
  const auto after = consumer->channel(1);
  std::vector<float> expected(after.size());
  fresh.generate(expected.data(), static_cast<uint32_t>(expected.size()), replay);
  for (size_t n = 8820; n < after.size(); ++n) ASSERT_EQ(after[n], expected[n]) << n;
}

TEST_F(VirtualSoundSystemTest, GeneratorOnAMissingOutputPlaysOnTheDefault) {
  test::LogCapture log;
  GeneratorController generator(library);
  generator.setDeviceHandle(42);
  generator.start();
  EXPECT_TRUE(generator.isOn());
  EXPECT_TRUE(log.contains("Generator: Error initing bass: 23"));
}

}  // namespace
}  // namespace qv
