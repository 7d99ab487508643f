#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "SimulatedCapture.h"
#include "ViewSignals.h"
#include "engine/SoundLevelMeter.h"
#include "engine/SplCalibrator.h"

namespace qv {
namespace {

constexpr double kRate = 48000.0;

// Interleaved frames: `measurement` in input 0, `reference` in input 1.
std::vector<float> tone(double seconds, double frequency, double dbfs) {
  return test::sine(static_cast<size_t>(seconds * kRate), frequency, std::pow(10.0, dbfs / 20.0),
                    kRate);
}

std::vector<float> silence(double seconds) {
  return std::vector<float>(static_cast<size_t>(seconds * kRate), 0.0f);
}

void feed(SoundLevelMeter& meter, const std::vector<float>& measurement,
          const std::vector<float>& reference) {
  const auto block = test::interleave(measurement, reference);
  meter.process(block.data(), measurement.size());
}

// A sine's level is its amplitude in dB (full scale 0 dBFS), whatever the weighting at
// 1 kHz; A weighting takes 19.1 dB off a 100 Hz tone.
TEST(SoundLevelMeterTest, TonesReadTheirLevelsThroughTheWeighting) {
  SoundLevelMeter meter(kRate, Weighting::Z, TimeWeighting::Fast);
  feed(meter, tone(1.0, 1000.0, -20.0), tone(1.0, 1000.0, -40.0));
  EXPECT_NEAR(meter.reading(0).level, -20.0, 0.02);
  EXPECT_NEAR(meter.reading(1).level, -40.0, 0.02);
  EXPECT_NEAR(meter.reading(0).leq, -20.0, 0.02);
  EXPECT_FALSE(meter.reading(0).splUnits);

  meter.setWeighting(Weighting::A);
  feed(meter, tone(1.0, 100.0, -20.0), tone(1.0, 1000.0, -20.0));
  EXPECT_NEAR(meter.reading(0).level, -39.14, 0.05);
  EXPECT_NEAR(meter.reading(1).level, -20.0, 0.05);
  // A new weighting started a new interval: the Leq covers only the A-weighted second.
  EXPECT_NEAR(meter.reading(0).leqSeconds, 1.0, 1e-9);
}

struct DecayCase {
  TimeWeighting weighting;
  double dbPerSecond;
};

class SoundLevelMeterDecay : public ::testing::TestWithParam<DecayCase> {};

// After a tone stops, an exponential time weighting falls at 10·log10(e)/τ dB a second:
// 34.7 dB/s for Fast (125 ms) and 4.3 dB/s for Slow (1 s).
TEST_P(SoundLevelMeterDecay, LevelFallsAtTheWeightingsRate) {
  const DecayCase c = GetParam();
  SoundLevelMeter meter(kRate, Weighting::Z, c.weighting);
  feed(meter, tone(5.0, 1000.0, -20.0), tone(5.0, 1000.0, -20.0));
  feed(meter, silence(0.5), silence(0.5));
  EXPECT_NEAR(meter.reading(0).level, -20.0 - 0.5 * c.dbPerSecond, 0.05);
  EXPECT_NEAR(meter.reading(0).maximum, -20.0, 0.05);
}

INSTANTIATE_TEST_SUITE_P(Weightings, SoundLevelMeterDecay,
                         ::testing::Values(DecayCase{TimeWeighting::Fast, 34.74},
                                           DecayCase{TimeWeighting::Slow, 4.343}),
                         [](const auto& info) {
                           return info.param.weighting == TimeWeighting::Fast ? "Fast" : "Slow";
                         });

// Leq is the energy mean over the interval: a second at -20 dBFS and a second of silence
// hold half the power, -23.01 dB; a reset starts the interval (and the maximum) again.
TEST(SoundLevelMeterTest, LeqIsTheEnergyMeanOverTheInterval) {
  SoundLevelMeter meter(kRate, Weighting::Z, TimeWeighting::Fast);
  feed(meter, tone(1.0, 1000.0, -20.0), silence(1.0));
  feed(meter, silence(1.0), silence(1.0));
  EXPECT_NEAR(meter.reading(0).leq, -23.01, 0.02);
  EXPECT_NEAR(meter.reading(0).leqSeconds, 2.0, 1e-9);
  EXPECT_NEAR(meter.reading(0).maximum, -20.0, 0.05);
  EXPECT_TRUE(std::isinf(meter.reading(1).leq));

  meter.resetLeq();
  EXPECT_EQ(meter.reading(0).leqSeconds, 0.0);
  feed(meter, tone(0.5, 1000.0, -30.0), silence(0.5));
  EXPECT_NEAR(meter.reading(0).leq, -30.0, 0.1);
  EXPECT_LT(meter.reading(0).maximum, -29.9);
}

SplCalibrator::Settings calibratorSettings() { return {94.0, 1000.0, 2.0}; }

SplCalibrator::Status calibrate(SplCalibrator& calibrator, const std::vector<float>& input) {
  const auto block = test::interleave(input, std::vector<float>(input.size(), 0.0f));
  // In blocks, as the recorder delivers them.
  for (size_t at = 0; at < input.size(); at += 6000)
    calibrator.process(block.data() + 2 * at, std::min<size_t>(6000, input.size() - at));
  return calibrator.status();
}

// A calibrator reading 94 dB at 1 kHz that the input measures at -26 dBFS gives an offset
// of 120 dB, also off its nominal frequency by 1 % and over background noise 40 dB below;
// the meter then reads the calibrator at 94 dB SPL.
TEST(SplCalibratorTest, CalibratorToneGivesTheOffset) {
  for (const double frequency : {1000.0, 1010.0}) {
    auto input = tone(2.5, frequency, -26.0);
    const auto noise = test::noise(input.size(), 5, 0.0005f);  // about -68 dBFS
    for (size_t i = 0; i < input.size(); ++i) input[i] += noise[i];
    SplCalibrator calibrator(kRate, 0, calibratorSettings());
    ASSERT_EQ(calibrate(calibrator, input), SplCalibrator::Status::Done) << frequency;
    EXPECT_NEAR(calibrator.offsetDb(), 120.0, 0.05) << frequency;
    EXPECT_EQ(calibrator.progress(), 1.0);

    SoundLevelMeter meter(kRate, Weighting::A, TimeWeighting::Slow);
    meter.setCalibrationOffset(0, calibrator.offsetDb());
    feed(meter, input, input);
    EXPECT_NEAR(meter.reading(0).leq, 94.0, 0.1);
    EXPECT_TRUE(meter.reading(0).splUnits);
    EXPECT_FALSE(meter.reading(1).splUnits);
  }
}

struct RefusalCase {
  std::string name;
  std::vector<float> input;
  SplCalibrator::Status status;
};

class SplCalibratorRefusal : public ::testing::TestWithParam<RefusalCase> {};

// What is not a steady calibrator tone at full strength never becomes an offset.
TEST_P(SplCalibratorRefusal, RefusesWhatIsNotASteadyTone) {
  SplCalibrator calibrator(kRate, 0, calibratorSettings());
  EXPECT_EQ(calibrate(calibrator, GetParam().input), GetParam().status);
  EXPECT_EQ(calibrator.offsetDb(), 0.0);
  EXPECT_STRNE(SplCalibrator::describe(GetParam().status), "");
}

std::vector<float> clipped() {
  auto input = tone(2.5, 1000.0, 3.0);
  for (float& v : input) v = std::clamp(v, -1.0f, 1.0f);
  return input;
}

std::vector<float> startingHalfWay() {
  auto input = silence(1.1);
  const auto rest = tone(1.4, 1000.0, -26.0);
  input.insert(input.end(), rest.begin(), rest.end());
  return input;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, SplCalibratorRefusal,
    ::testing::Values(
        RefusalCase{"Silence", silence(2.5), SplCalibrator::Status::TooQuiet},
        RefusalCase{"Noise", test::noise(120000, 3, 0.3f), SplCalibrator::Status::NotATone},
        RefusalCase{"WrongFrequency", tone(2.5, 250.0, -26.0), SplCalibrator::Status::NotATone},
        RefusalCase{"Clipped", clipped(), SplCalibrator::Status::Clipped},
        RefusalCase{"StartingHalfWay", startingHalfWay(), SplCalibrator::Status::Unsteady}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace qv
