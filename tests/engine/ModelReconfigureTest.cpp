// A model whose rate, FFT size or resolution changes after creation: its band tables, its
// data source's stream and its smoothing kernel must keep agreeing.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <type_traits>
#include <vector>

#include "SimulatedCapture.h"
#include "engine/OctaveDataTransformer.h"
#include "engine/TransferFunctionModel.h"

namespace qv {
namespace {

// Both read-outs return the one BandPoint (two definitions in one program would be an
// ODR violation, and this file, which sees both headers, would not compile).
static_assert(
    std::is_same_v<
        decltype(std::declval<TransferFunctionModel&>().closestMagnitudeDataForFrequencyHz(1.0f)),
        decltype(std::declval<OctaveDataTransformer&>().closestBandDataForFrequencyHz(1.0f))>);

constexpr uint64_t kN = 32768;

std::vector<float> tone(double frequency, uint32_t rate, size_t frames, size_t lag = 0) {
  std::vector<float> out(frames);
  for (size_t i = 0; i < frames; ++i) {
    out[i] = i < lag ? 0.0f
                     : static_cast<float>(0.5 * std::sin(2.0 * M_PI * frequency *
                                                         static_cast<double>(i - lag) / rate));
  }
  return out;
}

// Made at 44.1 kHz, moved to 48 kHz, then fed a 48 kHz capture: the reference a 1 kHz
// tone, the measurement the same tone at half the level 1 ms later. With the reference
// held back by 1 ms through the delay line, the band at 1 kHz reads H = 0.5 exactly:
// −6.02 dB and 0°. The delay line counts 1 ms as 48 samples only if the stream runs at
// the new rate too (at 44.1 kHz it would be 44, leaving 4 samples: −30° at 1 kHz).
TEST(ModelReconfigure, MovedTo48kHzReadsAToneAtItsFrequencyAndDelaysInMilliseconds) {
  constexpr uint32_t kRate = 48000;
  auto clock = std::make_shared<ManualClock>();
  TransferFunctionModel model(kN, 44100, 96, 96, clock);
  model.tfDataSource()->setChannelsSwapped(true);
  model.setFftSizeWithSamplingRateOctResolution(static_cast<int32_t>(kN), kRate, 96);
  EXPECT_EQ(model.bandCount(), 1112);
  model.setSmoothing(96);
  model.setDelayLeftAndRight(0.0f, 1.0f);

  test::SimulatedCapture capture(*clock, *model.tfDataSource(), kRate);
  const size_t frames = kRate * 4;
  const auto reference = tone(1000.0, kRate, frames);
  auto measurement = tone(1000.0, kRate, frames, 48);
  for (float& v : measurement) v *= 0.5f;
  capture.setSignal(test::interleave(measurement, reference));
  capture.run(3.0, 30.0, [&] { model.transform(0.0); });

  const BandPoint magnitude = model.closestMagnitudeDataForFrequencyHz(1000.0f);
  EXPECT_NEAR(magnitude.x, 1000.0, 4.0);
  EXPECT_NEAR(magnitude.y, -6.0206, 0.01);
  EXPECT_NEAR(model.closestPhaseDataForFrequencyHz(1000.0f).y, 0.0, 0.5);
  EXPECT_NEAR(model.closestCoherenceDataForFrequencyHz(1000.0f).y, 180.0, 0.1);
}

struct ResolutionCase {
  int64_t smoothing;
  int32_t to;
  int64_t smoothingAfter;  // what the model smooths with at the new resolution
  bool rebuilt;
};

class ResolutionChange : public ::testing::TestWithParam<ResolutionCase> {};

// A kernel wider than one octave of the new axis is rebuilt for the same smoothing held
// within that octave; one that fits is kept until the caller's next setSmoothing. In
// every case a transform afterwards stays inside the arrays and the axis (at R = 6 the
// axis has 69 bands, fewer than half of the 193 taps of a one-octave kernel at R = 96).
TEST_P(ResolutionChange, KernelThatNoLongerFitsIsRebuiltAndTransformStaysInside) {
  const ResolutionCase c = GetParam();
  auto clock = std::make_shared<ManualClock>();
  TransferFunctionModel model(8192, 44100, 96, c.smoothing, clock);
  const float* before = model.smoothKernel();
  model.setOctResolution(c.to);
  EXPECT_LE(model.smoothKernelLength(), model.maxSmoothingKernelLength());
  EXPECT_LT(model.smoothKernelLength() / 2 + 1, model.bandCount());
  EXPECT_EQ(model.smoothing(), c.smoothingAfter);
  EXPECT_EQ(model.smoothKernel() != before, c.rebuilt);

  // Identical channels: 0 dB wherever the kernel lies on the axis.
  test::SimulatedCapture capture(*clock, *model.tfDataSource(), 44100);
  const auto noise = test::noise(44100 * 2, 5);
  capture.setSignal(test::interleave(noise, noise));
  capture.run(1.0, 30.0, [&] { model.transform(0.0); });
  const int32_t half = model.smoothKernelLength() / 2;
  const float* magnitude = model.mpolyline()->values();
  for (int32_t b = half + 1; b < model.bandCount() - half - 1; ++b) {
    ASSERT_NEAR(magnitude[b], 0.0f, 1e-3f) << b;
  }
}

INSTANTIATE_TEST_SUITE_P(From96, ResolutionChange,
                         ::testing::Values(ResolutionCase{1, 6, 1, true},     // 193 taps > 13
                                           ResolutionCase{12, 6, 6, true},    // 17 > 13; S > 6
                                           ResolutionCase{24, 6, 24, false},  // 9 taps fit
                                           ResolutionCase{1, 48, 1, true}),   // 193 > 97
                         // Named by their numbers: gtest would print the struct's raw bytes,
                         // padding included, and a test's name must not change between runs.
                         [](const ::testing::TestParamInfo<ResolutionCase>& info) {
                           const ResolutionCase& c = info.param;
                           return "Smoothing" + std::to_string(c.smoothing) + "To" +
                                  std::to_string(c.to);
                         });

}  // namespace
}  // namespace qv
