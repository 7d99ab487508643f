// quorvex-analyze's spectrum outputs on files the test makes: --rta reads each input's
// tones in their bands at the resolution and through the weighting asked for, and
// --group-delay gives a filter's group delay plus its delay, whatever delay is compensated,
// blanked where the filter's output drowns in noise.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <sstream>

#include "cli/RunProgram.h"
#include "cli/TestFiles.h"

namespace qv::cli {
namespace {

constexpr int kRate = 48000;

// Rows of a CSV with a header, empty fields as NaN.
std::vector<std::vector<double>> rowsOf(const std::string& csv, const std::string& header) {
  std::istringstream in(csv);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, header);
  std::vector<std::vector<double>> rows;
  while (std::getline(in, line)) {
    std::vector<double> row;
    std::stringstream fields(line + ",");
    std::string field;
    while (std::getline(fields, field, ','))
      row.push_back(field.empty() ? std::nan("") : std::stod(field));
    rows.push_back(row);
  }
  return rows;
}

// The row whose first column lies nearest to `hz` on a log scale.
const std::vector<double>& nearest(const std::vector<std::vector<double>>& rows, double hz) {
  size_t best = 0;
  for (size_t i = 1; i < rows.size(); ++i)
    if (std::fabs(std::log(rows[i][0] / hz)) < std::fabs(std::log(rows[best][0] / hz))) best = i;
  return rows[best];
}

TEST(AnalyzeSpectrum, SpectrumReadsEachInputInItsBandsAndThroughTheWeighting) {
  // 1 kHz at -20 dBFS on the measurement (channel 0), 100 Hz at -20 dBFS on the reference.
  TempDir dir;
  const size_t n = 4 * kRate;
  std::vector<float> frames(2 * n);
  for (size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / kRate;
    frames[2 * i] = static_cast<float>(0.1 * std::sin(2 * M_PI * 1000.0 * t));
    frames[2 * i + 1] = static_cast<float>(0.1 * std::sin(2 * M_PI * 100.0 * t + 1.0));
  }
  writeSoundFile(dir.path("tones.wav"), kRate, 2, frames);
  const std::string header = "frequency_hz,measurement_dbfs,reference_dbfs";

  // The resolution asked for (about 20 Hz to 20 kHz, six bands an octave) and each input
  // in its column; the analyser's figures at every resolution are checked where it is.
  auto run = runAnalyze(
      dir, {"file", "tones.wav", "--rta", "rta.csv", "--octave", "6", "--out", "/dev/null"});
  ASSERT_EQ(run.status, 0) << run.err;
  auto rows = rowsOf(readFile(dir.path("rta.csv")), header);
  EXPECT_NEAR(static_cast<double>(rows.size()), 60.0, 2.0);
  EXPECT_NEAR(nearest(rows, 1000.0)[1], -20.0, 0.1);
  EXPECT_LT(nearest(rows, 100.0)[1], -60.0);
  EXPECT_NEAR(nearest(rows, 100.0)[2], -20.0, 0.1);

  // The A weighting is 0 dB at 1 kHz and -19.1 dB at 100 Hz (the analogue network reads
  // -19.15 dB there).
  run = runAnalyze(dir,
                   {"file", "tones.wav", "--rta", "-", "--weighting", "a", "--out", "/dev/null"});
  ASSERT_EQ(run.status, 0) << run.err;
  rows = rowsOf(run.out, header);
  EXPECT_NEAR(nearest(rows, 1000.0)[1], -20.0, 0.1);
  EXPECT_NEAR(nearest(rows, 100.0)[2], -39.15, 0.1);
}

TEST(AnalyzeSpectrum, GroupDelayIsTheFiltersPlusItsDelayAndBlankedInTheNoise) {
  // The reference (white noise) through two band-pass biquads (1 kHz, Q 0.7) and a delay
  // of 100 samples is the measurement, with noise 40 dB below the reference added.
  constexpr int kDelay = 100;
  const double w0 = 2 * M_PI * 1000.0 / kRate, alpha = std::sin(w0) / (2 * 0.7);
  const double a0 = 1 + alpha;
  const double b[3] = {alpha / a0, 0.0, -alpha / a0};
  const double a[3] = {1.0, -2 * std::cos(w0) / a0, (1 - alpha) / a0};
  // The truth from the coefficients alone: -d(arg H)/dω by a central difference, plus
  // the delay, in milliseconds.
  const auto truthMs = [&](double f) {
    const auto h = [&](double hz) {
      const std::complex<double> z1 = std::polar(1.0, -2 * M_PI * hz / kRate);
      const auto section =
          (b[0] + b[1] * z1 + b[2] * z1 * z1) / (a[0] + a[1] * z1 + a[2] * z1 * z1);
      return section * section;
    };
    const double df = 0.01;
    const double dphi = std::arg(h(f + df) / h(f - df));
    return 1000.0 * (-dphi / (2 * M_PI * 2 * df) + static_cast<double>(kDelay) / kRate);
  };

  TempDir dir;
  const size_t n = 12 * kRate;
  std::mt19937 gen(11);
  std::normal_distribution<double> noise(0.0, 0.1);
  std::vector<double> ref(n);
  for (double& v : ref) v = noise(gen);
  const auto filter = [&](const std::vector<double>& in) {
    std::vector<double> out(in.size());
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (size_t i = 0; i < in.size(); ++i) {
      out[i] = b[0] * in[i] + b[1] * x1 + b[2] * x2 - a[1] * y1 - a[2] * y2;
      x2 = x1, x1 = in[i], y2 = y1, y1 = out[i];
    }
    return out;
  };
  const std::vector<double> out = filter(filter(ref));
  std::vector<float> frames(2 * n);
  for (size_t i = 0; i < n; ++i) {
    frames[2 * i] = static_cast<float>((i >= kDelay ? out[i - kDelay] : 0.0) + 0.01 * noise(gen));
    frames[2 * i + 1] = static_cast<float>(ref[i]);
  }
  writeSoundFile(dir.path("bandpass.wav"), kRate, 2, frames);

  // Compensating the delay leaves the column as it is: it shows the system's own delay.
  // Averaging over about 3 s (index 10) keeps the estimate's scatter well inside 0.1 ms.
  const auto run = runAnalyze(dir, {"file", "bandpass.wav", "--group-delay", "--delay",
                                    std::to_string(1000.0 * kDelay / kRate), "--averaging", "10",
                                    "--coherence-threshold", "0.5"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto rows = rowsOf(run.out, "frequency_hz,magnitude_db,phase_deg,coherence,group_delay_ms");
  int passband = 0, blanked = 0, high = 0;
  for (const auto& r : rows) {
    ASSERT_EQ(r.size(), 5u);
    if (r[0] > 600 && r[0] < 1600) {
      ASSERT_NEAR(r[4], truthMs(r[0]), 0.1) << r[0] << " Hz";
      ++passband;
    }
    if (r[0] > 19000) {
      ++high;
      blanked += std::isnan(r[4]) ? 1 : 0;
    }
  }
  EXPECT_GT(passband, 120);
  EXPECT_GT(high, 10);
  EXPECT_EQ(blanked, high) << "up there the filter's output lies under the noise";
}

}  // namespace
}  // namespace qv::cli
