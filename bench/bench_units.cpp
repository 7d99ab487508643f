// Per-tick cost of the octave band chain and of handing a curve to a chart.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/OctaveDataTransformer.h"
#include "engine/PullUnit.h"
#include "plot/ChartList.h"
#include "plot/ChartProxy.h"

namespace {

class NoiseSource : public qv::FFTDataSourceProtocol {
 public:
  // A fixed frame, so that the benchmark measures the chain rather than the source.
  uint32_t getDataInto(float* data, uint32_t length) override {
    if (frame_.size() != length) {
      frame_.resize(length);
      for (uint32_t i = 0; i < length; ++i) frame_[i] = 1.0f + 0.5f * std::sin(0.37f * float(i));
    }
    std::copy(frame_.begin(), frame_.end(), data);
    return length;
  }
  uint64_t samplingRate() const override { return 48000; }
  uint64_t requestDataSize() const override { return request_; }
  void setRequestDataSize(uint64_t size) override { request_ = size; }

 private:
  uint64_t request_ = 0;
  std::vector<float> frame_;
};

class SourcePull : public qv::PullUnit {
 public:
  explicit SourcePull(std::shared_ptr<qv::FFTDataSourceProtocol> s) : source_(std::move(s)) {}
  int32_t pullUnitCopyDataTo(float* buffer) override {
    return int32_t(source_->getDataInto(buffer, uint32_t(_outputSize.size)));
  }

 private:
  std::shared_ptr<qv::FFTDataSourceProtocol> source_;
};

// Arguments: FFT size, bands per 0.3 decade.
void BM_OctaveChainUpdate(benchmark::State& state) {
  auto source = std::make_shared<NoiseSource>();
  qv::plot::ChartList charts;
  auto proxy = qv::plot::ChartProxy::proxyWithChart(
      charts.addLineChartWithName("octaves", {}, 1.0f, qv::plot::Color{}));
  qv::OctaveDataTransformer chain(int32_t(state.range(0)), std::make_shared<SourcePull>(source),
                                  proxy, source, int32_t(state.range(1)), 100.0f);
  for (auto _ : state) chain.update();
  state.counters["bands"] = chain.bandCount();
}
BENCHMARK(BM_OctaveChainUpdate)->Args({32768, 12})->Args({32768, 96})->Args({65536, 96});

// One live curve per tick: the update queue copies it in, the main thread copies it out.
void BM_ChartSetDataAndSnapshot(benchmark::State& state) {
  qv::plot::ChartList charts;
  auto chart = charts.addLineChartWithName("live", {0.9f, 4.3f, 1100}, 1.0f, qv::plot::Color{});
  std::vector<float> curve(1100, -20.0f);
  qv::plot::ChartSnapshot snap;
  for (auto _ : state) {
    chart->setData(curve.data(), int32_t(curve.size()));
    chart->snapshot(snap);
    benchmark::DoNotOptimize(snap.values.data());
  }
}
BENCHMARK(BM_ChartSetDataAndSnapshot);

}  // namespace

BENCHMARK_MAIN();
