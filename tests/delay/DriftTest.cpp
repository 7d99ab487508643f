// Two devices, two clocks: a measurement whose delay grows by ppm·1e−6 of a sample a sample.
// The drift is read from the slope of the found delay, and taken out by reading the
// measurement between its samples at the drifted rate; afterwards the pair measures as if
// one clock ran both.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "audiolib/DriftResampler.h"
#include "delay/DriftEstimator.h"
#include "delay/KnownRecordings.h"
#include "engine/TransferFunctionModel.h"
#include "platform/Clock.h"

namespace qv {
namespace {

namespace known = test::known;

constexpr uint32_t kRate = 44100;

// The whole recording through the resampler, in blocks of 0.1 s.
std::vector<float> resample(DriftResampler& resampler, const std::vector<float>& frames) {
  std::vector<float> out;
  std::vector<float> block(2 * 8192);
  const size_t total = frames.size() / 2;
  for (size_t at = 0; at < total; at += 4410) {
    const auto count = static_cast<uint32_t>(std::min<size_t>(4410, total - at));
    const uint32_t made = resampler.process(frames.data() + 2 * at, count, block.data(), 8192);
    out.insert(out.end(), block.begin(), block.begin() + 2 * made);
  }
  return out;
}

class DriftRemoval : public ::testing::TestWithParam<double> {};

// 30 s of a pair drifting 20 or 100 ppm (0.6 or 3 ms, 26 or 132 samples), 100 samples apart
// at the start. Read at the drifted rate, the measurement is 100 samples behind throughout,
// so the display compensated by 100 samples shows the system (here unity) at the end: at
// least 99 % of the bands coherent, 5 to 15 kHz within 0.5 dB, 99 % of the phases within 5°.
// Uncorrected, 100 ppm left 114 of 793 bands coherent.
TEST_P(DriftRemoval, LeavesThePairAsOneClockWouldRecordIt) {
  const double ppm = GetParam();
  const double start = 100.0;
  const auto reference = known::referenceNoise(kRate * 30, 93);
  DriftResampler resampler;
  resampler.setDriftPpm(ppm);
  const auto corrected =
      resample(resampler, known::interleave(known::drifted(reference, ppm, start), reference));

  auto clock = std::make_shared<ManualClock>();
  TransferFunctionModel model(32768, kRate, 96, 24, clock);
  model.tfDataSource()->setChannelsSwapped(true);
  model.setAveragingIndex(100);
  model.tfDataSource()->setDelay(start * 1000.0 / kRate);
  // 125 ms blocks, a display tick after each quarter of one.
  const size_t block = kRate / 8;
  for (size_t at = 0; at + block <= corrected.size() / 2; at += block) {
    model.tfDataSource()->getData(corrected.data() + 2 * at, static_cast<uint32_t>(block * 8));
    for (int tick = 0; tick < 4; ++tick) {
      clock->advance(1.0 / 32);
      model.transform(0.0);
    }
  }
  int bands = 0, coherent = 0;
  std::vector<double> phases;
  double worstMagnitude = 0.0;
  for (int32_t b = 0; b < model.bandCount(); ++b) {
    const double hz = model.frequencyForBandIndex(static_cast<float>(b));
    if (hz < 20.0 || hz > 20000.0) continue;
    ++bands;
    const float coherence = model.cpolyline()->values()[b] / 180.0f;
    if (coherence >= 0.9f) ++coherent;
    const float phase = model.ppolyline()->values()[b];
    phases.push_back(std::isnan(phase) ? 180.0 : std::fabs(phase));
    const float magnitude = model.mpolyline()->values()[b];
    if (hz >= 5000.0 && hz <= 15000.0)
      worstMagnitude =
          std::max(worstMagnitude, std::isnan(magnitude) ? 99.0 : std::fabs(magnitude));
  }
  std::sort(phases.begin(), phases.end());
  const double p99 = phases[phases.size() * 99 / 100];
  EXPECT_GE(coherent, bands * 99 / 100);
  EXPECT_LE(worstMagnitude, 0.5);
  EXPECT_LE(p99, 5.0);
  RecordProperty("coherent_bands", std::to_string(coherent) + "/" + std::to_string(bands));
  RecordProperty("worst_magnitude_5k_15k_db", std::to_string(worstMagnitude));
  RecordProperty("phase_p99_deg", std::to_string(p99));
}

INSTANTIATE_TEST_SUITE_P(Drifts, DriftRemoval, ::testing::Values(20.0, 100.0));

// The slope of the found delay over ten seconds gives the drift within a tenth of a ppm.
TEST(DriftEstimator, ReadsTheDriftFromTheFoundDelays) {
  for (const double ppm : {-50.0, 20.0, 100.0}) {
    const auto reference = known::referenceNoise(kRate * 11, 94);
    test::LocatorRun run(kRate);
    DriftEstimator drift;
    run.run(known::interleave(known::drifted(reference, ppm, 300.0), reference),
            [&](const DelayEstimate& e, double) { drift.add(e); });
    const auto estimate = drift.estimate();
    ASSERT_TRUE(estimate.valid) << ppm;
    EXPECT_NEAR(estimate.ppm, ppm, 0.1);
    EXPECT_LT(estimate.errorPpm, 0.1);
  }
}

// A queue that would overflow (a drift of 5 % for 12 s, a small queue) drops frames of the
// waiting channel rather than overwriting what is still to be read, and says how many.
TEST(DriftResampler, AFullQueueSlipsAndSaysSo) {
  DriftResampler resampler(4096);
  resampler.setDriftPpm(50000.0);
  std::vector<float> in(2 * 4410, 0.25f), out(2 * 8192);
  int64_t written = 0;
  for (int block = 0; block < 120; ++block)
    written += resampler.process(in.data(), 4410, out.data(), 8192);
  EXPECT_GT(resampler.slips(), 0);
  EXPECT_LE(resampler.waiting(), 4096);
  EXPECT_EQ(resampler.framesOut(), written);
  EXPECT_GT(written, 4410 * 100);
}

}  // namespace
}  // namespace qv
