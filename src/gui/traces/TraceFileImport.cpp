#include "gui/traces/TraceFileImport.h"

#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <memory>

#include "curves/BandAxis.h"
#include "engine/AnalysisConstants.h"
#include "platform/Log.h"
#include "traces/TraceWorkbench.h"

namespace qv::gui {

bool TraceFileImport::importFile(TraceManager& traces, const QString& path, const Tell& tell) {
  curves::CurveFileError error;
  const auto axis = curves::BandAxis::forSampleRate(static_cast<std::int64_t>(kAnalysisSampleRate));
  const auto trace = TraceWorkbench::importFile(path.toStdString(), "", axis, &error);
  if (!trace) {
    qv::log("Import of %s refused: %s", path.toUtf8().constData(), error.text().c_str());
    if (tell) {
      tell(QStringLiteral("%1 could not be imported").arg(QFileInfo(path).fileName()),
           QString::fromStdString(error.text()));
    }
    return false;
  }
  // The completion may run later (a pending trace), so what it tells outlives this call.
  auto failed = std::make_shared<bool>(false);
  traces.addTrace(*trace, [failed, tell](const CaptureOutcome& o) {
    if (o.shot) return;
    *failed = true;
    qv::log("Error in Realm transaction: %s", o.error.c_str());
    if (tell) {
      tell(QStringLiteral("The imported trace was not saved"),
           QString::fromStdString(o.failure.sentence()));
    }
  });
  return !*failed;
}

QStringList TraceFileImport::localFiles(const QMimeData* data) {
  QStringList files;
  if (!data || !data->hasUrls()) return files;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile()) files << url.toLocalFile();
  return files;
}

}  // namespace qv::gui
