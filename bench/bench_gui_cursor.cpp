// How long the main thread stalls in one cursor move while the display ticks: the plot
// area of a 1400 × 900 window on the virtual sound system in real time, the display
// ticking 30 times a second on the update queue, and the cursor swept across the
// magnitude view every 2 ms with the event loop run in between (the redraws of a drag).
// Reported per move: the mean (the benchmark's time), the 99th percentile and the longest.
//
// BM_CursorMoveWhileTicking is the read-out as the program does it (the newest snapshot);
// BM_UpdateQueueReadWhileTicking is the same read taken on the update queue, the way that
// waits for a running tick, for comparison.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "engine/TransferFunctionModel.h"
#include "gui/display/QVPlotViewController.h"
#include "session/MeasurementSession.h"
#include "traces/TraceManager.h"

#pragma push_macro("emit")
#undef emit
#include "audiolib/AudioLibrary.h"
#pragma pop_macro("emit")

namespace {

using qv::session::MeasurementSession;
using Clock = std::chrono::steady_clock;

qv::AudioLibrary::Options virtualSoundSystem() {
  qv::AudioLibrary::Options options;
  options.portAudio = false;
  options.rescanSeconds = 0;
  return options;
}

struct LiveArea {
  LiveArea() : library(std::make_unique<qv::AudioLibrary>(virtualSoundSystem())) {
    char folder[] = "/tmp/quorvex-bench-XXXXXX";
    store = std::make_unique<qv::TraceManager>(std::string(mkdtemp(folder)));
    MeasurementSession::Config config;
    config.processorCount = 4;  // 30 ticks a second
    config.library = library.get();
    session = std::make_shared<MeasurementSession>(config);
    qv::gui::QVPlotController::Options o;
    o.traceManager = store.get();
    controller = std::make_unique<qv::gui::QVPlotViewController>(session, o);
    base.resize(1400, 800);
    controller->setBaseView(&base);
    base.show();
    session->startCapture("Virtual:Virtual Sound System");
    // Averages settle and the curves fill.
    const auto until = Clock::now() + std::chrono::seconds(2);
    while (Clock::now() < until) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  ~LiveArea() {
    session->stopCapture();
    controller.reset();
    session.reset();
  }

  // The n-th point of a sweep across 20 Hz … 20 kHz, at mid height.
  QPointF sweep(int64_t n) const {
    const double x = std::log10(20.0) + std::fmod(static_cast<double>(n) * 0.002, 3.0);
    return {x, 0.0};
  }

  std::unique_ptr<qv::AudioLibrary> library;
  std::unique_ptr<qv::TraceManager> store;
  std::shared_ptr<MeasurementSession> session;
  QWidget base;
  std::unique_ptr<qv::gui::QVPlotViewController> controller;
};

LiveArea& area() {
  static LiveArea* instance = new LiveArea();  // lives as long as the program
  return *instance;
}

// Runs `move` once per iteration, times it, and runs the event loop between moves.
template <typename Move>
void measureMoves(benchmark::State& state, Move move) {
  std::vector<double> micros;
  micros.reserve(static_cast<size_t>(state.max_iterations));
  const uint64_t ticksBefore = area().session->displayTicks();
  int64_t n = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    move(n++);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(seconds);
    micros.push_back(seconds * 1e6);
    // The rest of a 2 ms mouse interval goes to the event loop: redraws, new curves.
    const auto next = start + std::chrono::milliseconds(2);
    while (Clock::now() < next) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }
  std::sort(micros.begin(), micros.end());
  state.counters["p99_us"] = micros[micros.size() * 99 / 100];
  state.counters["max_us"] = micros.back();
  state.counters["ticks"] = static_cast<double>(area().session->displayTicks() - ticksBefore);
}

void BM_CursorMoveWhileTicking(benchmark::State& state) {
  LiveArea& a = area();
  qv::gui::SpectrumPlotView* mag = a.controller->magPlotView();
  measureMoves(state, [&](int64_t n) {
    benchmark::DoNotOptimize(a.controller->plotViewCursorMoved(mag, a.sweep(n)));
  });
}
BENCHMARK(BM_CursorMoveWhileTicking)
    ->UseManualTime()
    ->Iterations(4000)
    ->Unit(benchmark::kMicrosecond);

void BM_UpdateQueueReadWhileTicking(benchmark::State& state) {
  LiveArea& a = area();
  qv::TransferFunctionModel& model = a.session->model();
  measureMoves(state, [&](int64_t n) {
    const float hz = std::pow(10.0f, static_cast<float>(a.sweep(n).x()));
    MeasurementSession::updateQueue()->sync([&] {
      benchmark::DoNotOptimize(model.closestMagnitudeDataForFrequencyHz(hz));
      benchmark::DoNotOptimize(model.closestPhaseDataForFrequencyHz(hz));
      benchmark::DoNotOptimize(model.closestCoherenceDataForFrequencyHz(hz));
    });
  });
}
BENCHMARK(BM_UpdateQueueReadWhileTicking)
    ->UseManualTime()
    ->Iterations(4000)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
