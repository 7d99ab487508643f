// The live display's cost per frame: one display tick of the measurement session (model
// transform with fresh audio, the snapshot, the curves into the charts and the redraw
// request) and one paint of each frequency view and of the level meter at window sizes. At 30 ticks
// a second, the display's share of a core is 30 × (tick + both paints + meter paint).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QWidget>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "engine/TransferFunctionModel.h"
#include "gui/display/QVLevelMeterView.h"
#include "gui/display/QVPlotController.h"
#include "gui/display/QVPlotViewController.h"
#include "platform/Clock.h"
#include "platform/MainQueue.h"
#include "session/MeasurementSession.h"
#include "traces/TraceManager.h"

#pragma push_macro("emit")
#undef emit
#include "audio/QVRecorder.h"
#include "audio/QVRecorderDelegate.h"
#include "audiolib/AudioLibrary.h"
#include "audiolib/backends/virtual/VirtualSoundSystem.h"
#pragma pop_macro("emit")

namespace {

using qv::gui::QVPlotController;
using qv::session::MeasurementSession;

class QuietDelegate final : public qv::QVRecorderDelegate {
 public:
  void recorderStartedWithChannel(qv::QVRecorder&, uint32_t) override {}
  void recorderStoppedWithChannel(qv::QVRecorder&, uint32_t) override {}
};

// The plot area of a 1400 × 900 window fed by the virtual sound system in simulated time.
struct Display {
  static std::unique_ptr<qv::AudioLibrary> virtualOnlyLibrary() {
    qv::AudioLibrary::Options options;
    options.portAudio = false;
    options.simulatedTime = true;
    options.rescanSeconds = 0;
    return std::make_unique<qv::AudioLibrary>(options);
  }

  Display() : library(virtualOnlyLibrary()) {
    char folder[] = "/tmp/quorvex-bench-XXXXXX";
    store = std::make_unique<qv::TraceManager>(std::string(mkdtemp(folder)));
    base.resize(1400, 800);
    MeasurementSession::Config config;
    config.clock = clock;
    config.library = library.get();
    session = std::make_shared<MeasurementSession>(config);
    QVPlotController::Options o;
    o.traceManager = store.get();
    controller = std::make_unique<qv::gui::QVPlotViewController>(session, o);
    controller->setBaseView(&base);
    controller->setShowImpulsePlot(true);
    recorder = qv::QVRecorder::initWithDeviceUUID("Virtual:Virtual Sound System", 2, 44100, false,
                                                  delegate, *library);
    recorder->setChannelMap({0, 1});
    recorder->addConsumer(session->model().tfDataSource());
    recorder->resumeRec();
    for (int i = 0; i < 120; ++i) tick();  // averages and queues settle
  }
  ~Display() {
    recorder->stopRec();
    controller.reset();
    session.reset();
  }

  QVPlotController& plots() { return *controller->plotController(); }

  // One tick at 30 a second, with a 125 ms block of audio every 3.75 ticks.
  void tick() {
    if (ticks++ % 15 == 0) {
      for (int b = 0; b < 4; ++b) library->virtualSoundSystem().render(5513);
    }
    clock->advance(1.0 / 30.0);
    MeasurementSession::updateQueue()->sync([this] { session->displayTick(); });
    qv::dispatch::mainQueue().drain();
  }

  std::shared_ptr<QuietDelegate> delegate = std::make_shared<QuietDelegate>();
  std::shared_ptr<qv::ManualClock> clock = std::make_shared<qv::ManualClock>();
  std::unique_ptr<qv::AudioLibrary> library;
  std::unique_ptr<qv::TraceManager> store;
  QWidget base;
  std::shared_ptr<MeasurementSession> session;
  std::unique_ptr<qv::gui::QVPlotViewController> controller;
  std::shared_ptr<qv::QVRecorder> recorder;
  int ticks = 0;
};

// CPU time of the whole process (every thread), in seconds.
double processSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Reports the process's CPU time per iteration, as the tick runs on the update queue's
// thread where the benchmark's own CPU clock does not see it.
class ProcessCpu {
 public:
  explicit ProcessCpu(benchmark::State& state) : state_(state), start_(processSeconds()) {}
  ~ProcessCpu() {
    state_.counters["process_cpu_us"] = benchmark::Counter(
        (processSeconds() - start_) * 1e6 / static_cast<double>(state_.iterations()));
  }

 private:
  benchmark::State& state_;
  double start_;
};

Display& display() {
  static Display* instance = new Display();  // lives as long as the program
  return *instance;
}

void BM_DisplayTick(benchmark::State& state) {
  Display& d = display();
  ProcessCpu cpu(state);
  for (auto _ : state) d.tick();
}
BENCHMARK(BM_DisplayTick)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_PaintFrequencyViews(benchmark::State& state) {
  Display& d = display();
  const qreal ratio = static_cast<qreal>(state.range(0));
  ProcessCpu cpu(state);
  for (auto _ : state) {
    benchmark::DoNotOptimize(d.controller->magPlotView()->renderImage(ratio).constBits());
    benchmark::DoNotOptimize(d.controller->phasePlotView()->renderImage(ratio).constBits());
  }
  state.SetLabel(ratio > 1 ? "both views, device pixel ratio 2" : "both views");
}
BENCHMARK(BM_PaintFrequencyViews)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

void BM_PaintLevelMeter(benchmark::State& state) {
  QWidget window;
  auto* meter = new qv::gui::QVLevelMeterView(*display().library, &window);
  meter->resize(240, 36);
  QImage image(240, 36, QImage::Format_ARGB32_Premultiplied);
  ProcessCpu cpu(state);
  for (auto _ : state) {
    meter->update();  // a reading, then the repaint
    QPainter painter(&image);
    meter->render(&painter);
  }
}
BENCHMARK(BM_PaintLevelMeter)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
