// Curve file import: a 5 MB text file of frequency, magnitude, phase and coherence (some
// 130 000 points on a grid of its own) read, parsed and put on the 1100 bands of the axis.
// It must take well under a second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

#include "BenchTraceSupport.h"
#include "curves/CurveImport.h"

namespace {

std::string fiveMegabytes() {
  std::string text = "frequency_hz,magnitude_db,phase_deg,coherence\n";
  char line[96];
  for (int i = 0; text.size() < 5'000'000; ++i) {
    const double f = 5.0 * std::pow(10.0, i * 3.7e-5);
    std::snprintf(line, sizeof line, "%.6f,%.4f,%.3f,%.5f\n", f, -20.0 + 6.0 * std::sin(i * 1e-3),
                  std::remainder(-360.0 * f * 0.003, 360.0), 0.5 + 0.4 * std::cos(i * 1e-4));
    text += line;
  }
  return text;
}

void BM_ImportFiveMegabyteFile(benchmark::State& state) {
  qv::bench::Folder folder("bench-curves");
  const std::string path = folder.path() + "/measured.csv";
  const std::string text = fiveMegabytes();
  std::ofstream(path) << text;
  const qv::curves::BandAxis axis(1100);
  for (auto _ : state) {
    qv::curves::BandCurves curves;
    qv::curves::CurveFileError error;
    if (!qv::curves::CurveImport::fromFile(path, axis, &curves, &error)) {
      state.SkipWithError(error.text().c_str());
    }
    benchmark::DoNotOptimize(curves.magnitude.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ImportFiveMegabyteFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
