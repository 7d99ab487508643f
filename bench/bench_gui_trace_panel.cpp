// Trace panel timings on the offscreen platform: one change set with a new trace on top
// applied to a list of N rows (model, row widget, layout, selection follow-up), and one
// CSV export text of a live-sized trace.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchTraceSupport.h"
#include "export/TraceExporter.h"
#include "gui/app/QtMainQueue.h"
#include "gui/traces/TraceListModel.h"
#include "gui/traces/TraceManagerViewController.h"
#include "platform/Log.h"
#include "traces/TraceManager.h"

namespace {

using qv::bench::kPoints;
using qv::bench::liveCurves;

class Folder : public qv::bench::Folder {
 public:
  Folder() : qv::bench::Folder("bench-panel") {}
};

void BM_NewTraceOnTopOfNRows(benchmark::State& state) {
  Folder folder;
  qv::TraceManager store(folder.path());
  const auto buffer = liveCurves();
  for (int i = 0; i < state.range(0); ++i) {
    store.newTraceWithNameFloatBufferLengthCountCommentUserInfo("t", buffer.data(), kPoints, 3, "");
  }
  QApplication::processEvents();
  qv::gui::TraceManagerViewController panel(store);
  panel.resize(200, 800);
  panel.show();
  QApplication::processEvents();

  const qv::TraceShotResults base = store.allTraceShots();
  auto fresh = std::make_shared<qv::TraceShot>(base[0]);
  fresh->id = 1'000'000;
  qv::TraceShotResults::List grown{fresh};
  grown.insert(grown.end(), base.begin(), base.end());
  const qv::TraceShotResults withNew(grown);
  for (auto _ : state) {
    panel.model()->applyNotification(withNew, qv::TraceChangeSet{{}, {0}, {}}, std::nullopt);
    QApplication::processEvents();  // the view lays the new row out
    state.PauseTiming();
    panel.model()->applyNotification(base, qv::TraceChangeSet{{0}, {}, {}}, std::nullopt);
    QApplication::processEvents();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_NewTraceOnTopOfNRows)->Arg(10)->Arg(200)->Unit(benchmark::kMicrosecond);

void BM_CsvTextOfALiveTrace(benchmark::State& state) {
  const auto buffer = liveCurves();
  qv::TraceShot shot;
  shot.name = "t";
  shot.magnitudeData = qv::TraceShot::blobFromFloats(buffer.data(), kPoints);
  shot.phaseData = qv::TraceShot::blobFromFloats(buffer.data() + kPoints, kPoints);
  shot.coherenceData = qv::TraceShot::blobFromFloats(buffer.data() + 2 * kPoints, kPoints);
  std::string text, error;
  for (auto _ : state) {
    qv::TraceExporter::formatShot(shot, qv::TraceExportFormat::Csv, &text, &error);
    benchmark::DoNotOptimize(text.data());
  }
}
BENCHMARK(BM_CsvTextOfALiveTrace)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // A private home, so the settings and trace folders are never the user's.
  std::string home = std::filesystem::temp_directory_path().string() + "/bench-panel-home-XXXXXX";
  if (!mkdtemp(home.data())) return 1;
  setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
  setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
  qv::setLogSink([](const std::string&) {});
  int status = 0;
  {
    QApplication app(argc, argv);
    qv::gui::QtMainQueue::install();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    qv::gui::QtMainQueue::uninstall();
  }
  std::error_code ec;
  std::filesystem::remove_all(home, ec);
  return status;
}
