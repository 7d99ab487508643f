// Trace store timings: one capture (three curves of 1100 points, as the main window takes
// them) and opening a store that holds 1000 such traces.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "BenchTraceSupport.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"
#include "traces/TraceManager.h"

namespace {

using qv::bench::kPoints;
using qv::bench::liveCurves;

class Folder : public qv::bench::Folder {
 public:
  Folder() : qv::bench::Folder("bench-traces") {}
};

bool capture(qv::TraceManager& store, const std::vector<float>& buffer) {
  return store.newTraceWithNameFloatBufferLengthCountCommentUserInfo(
             "TF", buffer.data(), kPoints, 3,
             "Smoothing: 1/6 oct, averaging: 4.000000, delay: 0.00 ms") != nullptr;
}

// With a panel observing the list, as in the program; the notification is delivered too.
void BM_Capture(benchmark::State& state) {
  Folder folder;
  qv::TraceManager store(folder.path());
  const auto buffer = liveCurves();
  for (int i = 0; i < 100; ++i) capture(store, buffer);
  auto token = store.addNotificationBlock([](const auto&, const auto&, const auto&) {});
  qv::dispatch::mainQueue().drain();
  for (auto _ : state) {
    if (!capture(store, buffer)) state.SkipWithError("capture failed");
    qv::dispatch::mainQueue().drain();
  }
  state.counters["traces"] = static_cast<double>(store.allTraceShots().count());
}
BENCHMARK(BM_Capture)->Unit(benchmark::kMillisecond)->Iterations(200);

void BM_Open1000(benchmark::State& state) {
  Folder folder;
  {
    qv::TraceManager store(folder.path());
    const auto buffer = liveCurves();
    for (int i = 0; i < 1000; ++i) capture(store, buffer);
  }
  for (auto _ : state) {
    qv::TraceManager store(folder.path());
    if (store.allTraceShots().count() != 1000) state.SkipWithError("traces missing");
    benchmark::DoNotOptimize(store.allTraceShots().firstObject());
  }
}
BENCHMARK(BM_Open1000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
