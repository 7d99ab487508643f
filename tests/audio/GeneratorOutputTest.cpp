#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "audio/PinkNoiseGenerator.h"
#include "audio/SubtractiveRandom.h"
#include "platform/FftBackend.h"

namespace qv {
namespace {

// Ten minutes of the generator's output at each rate an output device may run at: what
// reaches the amplifier must stay bounded, carry no DC that grows with time, and keep its
// pink slope. (At 88.2 kHz and above a single-precision 4 Hz high-pass once ran away to
// full-scale DC within a second.)
class GeneratorOutputTest : public ::testing::TestWithParam<int> {};

struct OctaveBands {
  // Hann-windowed power spectrum summed over n-point segments.
  static constexpr int kN = 1 << 16;
  std::vector<double> power = std::vector<double>(kN / 2 + 1, 0.0);
  std::vector<float> window = std::vector<float>(kN), in = std::vector<float>(kN),
                     out = std::vector<float>(kN + 2);
  OctaveBands() {
    for (int i = 0; i < kN; ++i)
      window[i] = static_cast<float>(0.5 - 0.5 * std::cos(2 * M_PI * i / kN));
  }
  void add(const float* x) {
    for (int i = 0; i < kN; ++i) in[i] = x[i] * window[i];
    fft::RealPlan::get(kN).forward(in.data(), out.data());
    for (int k = 0; k <= kN / 2; ++k)
      power[k] += double(out[2 * k]) * out[2 * k] + double(out[2 * k + 1]) * out[2 * k + 1];
  }
  // Power in the octave around `centre`, in dB (any reference: only differences count).
  double levelDb(double centre, double rate) const {
    const double binHz = rate / kN;
    double sum = 0;
    for (int k = 1; k <= kN / 2; ++k) {
      const double f = k * binHz;
      if (f >= centre / std::sqrt(2.0) && f < centre * std::sqrt(2.0)) sum += power[k];
    }
    return 10 * std::log10(std::max(sum, 1e-30));
  }
};

TEST_P(GeneratorOutputTest, TenMinutesStayBoundedFreeOfDcAndPink) {
  const int rate = GetParam();
  SubtractiveRandom random;
  PinkNoiseGenerator generator(static_cast<float>(rate));
  const int64_t total = int64_t(rate) * 600;
  // One-second sums, so that every 10 s window (sliding by a second) can be checked.
  std::vector<double> secondSums;
  std::vector<float> block(rate);
  OctaveBands bands;
  std::vector<float> segment;
  float peak = 0;
  double sumSquares = 0;
  for (int64_t done = 0; done < total; done += rate) {
    generator.generate(block.data(), static_cast<uint32_t>(rate), random);
    double s = 0;
    for (float v : block) {
      s += v;
      sumSquares += double(v) * v;
      peak = std::max(peak, std::fabs(v));
    }
    secondSums.push_back(s);
    // The spectrum of the last minute: the slope must hold at the end, not only at the start.
    if (done >= total - int64_t(rate) * 60) {
      segment.insert(segment.end(), block.begin(), block.end());
      size_t used = 0;
      for (; used + OctaveBands::kN <= segment.size(); used += OctaveBands::kN)
        bands.add(segment.data() + used);
      segment.erase(segment.begin(), segment.begin() + static_cast<ptrdiff_t>(used));
    }
  }
  ASSERT_LE(peak, PinkNoiseGenerator::kCeiling);
  const double rms = std::sqrt(sumSquares / double(total));
  EXPECT_GT(rms, 0.03) << "the generator must be playing noise, not silence";

  double worstMean = 0, firstMinute = 0, lastMinute = 0;
  for (size_t s = 0; s + 10 <= secondSums.size(); ++s) {
    double sum = 0;
    for (size_t k = s; k < s + 10; ++k) sum += secondSums[k];
    worstMean = std::max(worstMean, std::fabs(sum / (10.0 * rate)));
  }
  for (size_t k = 0; k < 60; ++k) {
    firstMinute += secondSums[k] / (60.0 * rate);
    lastMinute += secondSums[secondSums.size() - 60 + k] / (60.0 * rate);
  }
  EXPECT_LE(worstMean, 0.002) << "mean of the worst 10 s at " << rate << " Hz";
  EXPECT_LE(std::fabs(lastMinute - firstMinute), 0.001) << "the mean drifts";

  // Pink noise has equal power per octave: every octave band from 31.5 Hz to 16 kHz
  // within 1 dB of their mean level.
  std::vector<double> levels;
  for (double centre = 31.25; centre <= 16000; centre *= 2)
    levels.push_back(bands.levelDb(centre, rate));
  double mean = 0;
  for (double l : levels) mean += l / double(levels.size());
  double worstOctave = 0;
  for (double l : levels) worstOctave = std::max(worstOctave, std::fabs(l - mean));
  std::printf(
      "%d Hz: worst 10 s mean %.5f, drift %.5f, peak %.3f, rms %.3f, octaves within %.2f dB\n",
      rate, worstMean, lastMinute - firstMinute, peak, rms, worstOctave);
  for (size_t i = 0; i < levels.size(); ++i)
    EXPECT_NEAR(levels[i], mean, 1.0)
        << "octave " << 31.25 * std::pow(2.0, double(i)) << " Hz at " << rate;
}

INSTANTIATE_TEST_SUITE_P(OutputRates, GeneratorOutputTest,
                         ::testing::Values(44100, 48000, 88200, 96000, 176400, 192000),
                         [](const auto& info) { return std::to_string(info.param); });

TEST(GeneratorLimiterTest, BendsOnlyAboveTheKneeAndNeverReachesTheCeiling) {
  EXPECT_EQ(PinkNoiseGenerator::limit(0.5f), 0.5f);
  EXPECT_EQ(PinkNoiseGenerator::limit(-0.8f), -0.8f);
  float last = 0;
  for (float x = 0.8f; x < 50; x *= 1.01f) {
    const float y = PinkNoiseGenerator::limit(x);
    ASSERT_GE(y, last);  // monotonic: the limiter never folds a waveform back
    ASSERT_LE(y, PinkNoiseGenerator::kCeiling);
    ASSERT_EQ(PinkNoiseGenerator::limit(-x), -y);
    last = y;
  }
}

TEST(GeneratorLimiterTest, AFilterGoneBadPlaysSilenceAndRecovers) {
  SubtractiveRandom random;
  PinkNoiseGenerator generator(96000);
  generator.highPass.y1 = std::nan("");
  std::vector<float> out(4096);
  generator.generate(out.data(), 4096, random);
  for (float v : out) ASSERT_EQ(v, 0.0f);
  generator.generate(out.data(), 4096, random);
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return std::isfinite(v); }));
  EXPECT_GT(*std::max_element(out.begin(), out.end()), 0.01f);
}

}  // namespace
}  // namespace qv
