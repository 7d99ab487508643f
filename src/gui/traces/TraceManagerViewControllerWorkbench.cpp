// The trace panel's workbench: importing curve files (button and drops), comparing with
// a trace, averaging the visible traces, moving and recolouring a trace.
#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <memory>

#include "curves/CurveAverage.h"
#include "gui/app/AlertAsker.h"
#include "gui/traces/ExportFileChooser.h"
#include "gui/traces/TraceFileImport.h"
#include "gui/traces/TraceListModel.h"
#include "gui/traces/TraceManagerViewController.h"
#include "platform/Log.h"
#include "traces/TraceWorkbench.h"

namespace qv::gui {
namespace {

std::size_t visibleCount(const TraceManager& traces) { return traces.allVisibleTraces().size(); }

}  // namespace

void TraceManagerViewController::addWorkbenchItems() {
  for (const auto& [tag, title] :
       {std::pair{kCompareItemTag, QStringLiteral("Compare With This")},
        std::pair{kAverageItemTag, QStringLiteral("Average Visible Traces")},
        std::pair{kMoveUpItemTag, QStringLiteral("Move Up")},
        std::pair{kMoveDownItemTag, QStringLiteral("Move Down")},
        std::pair{kOffsetsItemTag, QStringLiteral("Offsets…")}}) {
    QAction* item = popupMenu_->addAction(title);
    item->setData(tag);
    connect(item, &QAction::triggered, this, [this, item] { onPopupMenu(item); });
  }
  colorMenu_ = popupMenu_->addMenu(QStringLiteral("Colour"));
  const auto recolor = [this](const std::optional<RGBAColor>& color) {
    const int row = clickedTraceId_ != 0 ? model_->rowForId(clickedTraceId_) : -1;
    recolorRow(row, color);
  };
  QAction* automatic = colorMenu_->addAction(QStringLiteral("Automatic"));
  automatic->setData(kAutomaticColorItemTag);
  connect(automatic, &QAction::triggered, this, [recolor] { recolor(std::nullopt); });
  colorMenu_->addSeparator();
  const auto& colors = ChartColorPalette::darkBackgroundColors();
  for (std::size_t i = 0; i < colors.size(); ++i) {
    const RGBAColor c = colors[i];
    QPixmap swatch(14, 14);
    swatch.fill(QColor::fromRgbF(c.red, c.green, c.blue));
    QAction* item = colorMenu_->addAction(QIcon(swatch), QStringLiteral("Colour %1").arg(i + 1));
    item->setData(kColorItemTagBase + static_cast<int>(i));
    connect(item, &QAction::triggered, this, [recolor, c] { recolor(c); });
  }
}

void TraceManagerViewController::validateWorkbenchItem(QAction* item, const TraceShotRef& shot) {
  const int tag = item->data().toInt();
  if (tag == kCompareItemTag) {
    const bool isReference =
        shot && compareHooks_.referenceId && compareHooks_.referenceId() == shot->id;
    item->setText(isReference ? QStringLiteral("Stop Comparing")
                              : QStringLiteral("Compare With This"));
    item->setEnabled(shot && compareHooks_.setReference);
  } else if (tag == kAverageItemTag) {
    item->setEnabled(shot && visibleCount(traceManager_) >= 2);
  } else if (tag == kMoveUpItemTag || tag == kMoveDownItemTag) {
    const std::size_t index =
        shot ? storeIndexForRow(model_->rowForId(shot->id)) : TraceManager::kNotFound;
    const std::size_t count = traceManager_.allTraceShots().count();
    item->setEnabled(index != TraceManager::kNotFound &&
                     (tag == kMoveUpItemTag ? index > 0 : index + 1 < count));
  }
  if (tag == kOffsetsItemTag) item->setEnabled(shot != nullptr);
  if (colorMenu_) colorMenu_->setEnabled(shot != nullptr);
}

void TraceManagerViewController::moveRow(int row, int by) {
  const std::size_t index = storeIndexForRow(row);
  if (index == TraceManager::kNotFound) return;
  if (by < 0 && index == 0) return;
  traceManager_.moveShot(index, by < 0 ? index - 1 : index + 1);
}

void TraceManagerViewController::editOffsetsForRow(int row) {
  const TraceShotRef shot = model_->shotAt(row);
  if (!shot) return;
  const auto offsets = offsetsAsker_
                           ? offsetsAsker_(this, *shot)
                           : TraceOffsetsDialog::ask(this, model_->titleForRow(row),
                                                     {shot->offsetDb, shot->offsetDelayMs});
  if (!offsets) return;
  // The list may have changed while the dialog was open: the trace is found again.
  const std::size_t index = storeIndexForRow(model_->rowForId(shot->id));
  if (index != TraceManager::kNotFound)
    traceManager_.setOffsetsForShot(offsets->db, offsets->delayMs,
                                    *traceManager_.traceShotForIndex(index));
}

void TraceManagerViewController::recolorRow(int row, const std::optional<RGBAColor>& color) {
  const TraceShotRef shot = model_->shotAt(row);
  if (shot) traceManager_.setColorForShot(color, *shot);
}

void TraceManagerViewController::onImportButton() {
  if (!exportFileChooser_) return;
  const auto path = exportFileChooser_->chooseOpenPath(this, QStringLiteral("Import Curve File"));
  if (path) importFile(*path);
}

bool TraceManagerViewController::importFile(const QString& path) {
  return TraceFileImport::importFile(
      traceManager_, path, [guard = QPointer(this)](const QString& title, const QString& text) {
        if (guard && guard->alertAsker_) guard->alertAsker_->inform(title, text);
      });
}

void TraceManagerViewController::reportStoreFailure(const CaptureOutcome& outcome,
                                                    const QString& title) {
  qv::log("Error in Realm transaction: %s", outcome.error.c_str());
  if (alertAsker_) alertAsker_->inform(title, QString::fromStdString(outcome.failure.sentence()));
}

void TraceManagerViewController::compareRow(int row) {
  const TraceShotRef shot = model_->shotAt(row);
  if (!shot || !compareHooks_.setReference) return;
  const bool isReference = compareHooks_.referenceId && compareHooks_.referenceId() == shot->id;
  compareHooks_.setReference(isReference ? nullptr : shot);
}

void TraceManagerViewController::averageVisibleTraces() {
  const std::vector<TraceShotRef> shots = traceManager_.allVisibleTraces();
  std::string error;
  float agreement = 1.0f;
  const auto average = TraceWorkbench::average(shots, "Average of " + std::to_string(shots.size()),
                                               &error, &agreement);
  if (!average) {
    if (alertAsker_)
      alertAsker_->inform(QStringLiteral("The traces could not be averaged"),
                          QString::fromStdString(error));
    return;
  }
  traceManager_.addTrace(*average, [guard = QPointer(this)](const CaptureOutcome& o) {
    if (!o.shot && guard)
      guard->reportStoreFailure(o, QStringLiteral("The averaged trace was not saved"));
  });
  if (agreement < curves::CurveAverage::kLowPhaseAgreement && alertAsker_) {
    alertAsker_->inform(
        QStringLiteral("The averaged phase means little"),
        QStringLiteral("The magnitude is averaged in power and is sound. The phases of these "
                       "traces agree poorly (%1 of 1): they were probably measured with "
                       "different delays, so the averaged phase does not describe any of "
                       "them. Align their delays (trace offsets) before averaging phase.")
            .arg(static_cast<double>(agreement), 0, 'f', 2));
  }
}

void TraceManagerViewController::dragEnterEvent(QDragEnterEvent* event) {
  if (!TraceFileImport::localFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TraceManagerViewController::dropEvent(QDropEvent* event) {
  const QStringList files = TraceFileImport::localFiles(event->mimeData());
  for (const QString& path : files) importFile(path);
  if (!files.isEmpty()) event->acceptProposedAction();
}

}  // namespace qv::gui
