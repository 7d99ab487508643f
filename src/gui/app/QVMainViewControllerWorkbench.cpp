// The measurement view's workbench: curve files imported as traces (the menu, files
// dropped on the plots), the microphone calibration and the target curve, chosen from
// files, refused with the line at fault.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QPointer>
#include <memory>

#include "curves/MicCalibration.h"
#include "curves/TargetCurve.h"
#include "gui/app/QVMainViewController.h"
#include "gui/display/QVPlotController.h"
#include "gui/traces/TraceFileImport.h"
#include "platform/Log.h"
#include "traces/TraceManager.h"

namespace qv::gui {

void QVMainViewController::setFileChooser(std::shared_ptr<ExportFileChooser> chooser) {
  fileChooser_ = std::move(chooser);
}

void QVMainViewController::onImportTrace() {
  if (!fileChooser_) fileChooser_ = std::make_shared<FileDialogExportFileChooser>();
  if (const auto path = fileChooser_->chooseOpenPath(this, tr("Import Curve File")))
    importTrace(*path);
}

bool QVMainViewController::importTrace(const QString& path) {
  return TraceFileImport::importFile(
      TraceManager::shared(), path,
      [guard = QPointer(this)](const QString& title, const QString& text) {
        if (guard && guard->asker_) guard->asker_->inform(title, text);
      });
}

void QVMainViewController::dragEnterEvent(QDragEnterEvent* event) {
  if (!TraceFileImport::localFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void QVMainViewController::dropEvent(QDropEvent* event) {
  const QStringList files = TraceFileImport::localFiles(event->mimeData());
  for (const QString& path : files) importTrace(path);
  if (!files.isEmpty()) event->acceptProposedAction();
}

void QVMainViewController::onMicCalibration() {
  if (!fileChooser_) fileChooser_ = std::make_shared<FileDialogExportFileChooser>();
  if (const auto path = fileChooser_->chooseOpenPath(this, tr("Microphone Calibration")))
    loadMicCalibration(*path);
}

void QVMainViewController::onTargetCurve() {
  if (!fileChooser_) fileChooser_ = std::make_shared<FileDialogExportFileChooser>();
  if (const auto path = fileChooser_->chooseOpenPath(this, tr("Target Curve")))
    loadTargetCurve(*path);
}

bool QVMainViewController::loadMicCalibration(const QString& path) {
  auto calibration = std::make_shared<curves::MicCalibration>();
  curves::CurveFileError error;
  if (!curves::MicCalibration::load(path.toStdString(), calibration.get(), &error)) {
    qv::log("Calibration %s refused: %s", path.toUtf8().constData(), error.text().c_str());
    asker_->inform(tr("%1 could not be used as a calibration").arg(QFileInfo(path).fileName()),
                   QString::fromStdString(error.text()));
    return false;
  }
  if (QVPlotController* plots = plotController()) plots->setMicCalibration(std::move(calibration));
  return true;
}

void QVMainViewController::clearMicCalibration() {
  if (QVPlotController* plots = plotController()) plots->setMicCalibration(nullptr);
}

bool QVMainViewController::loadTargetCurve(const QString& path) {
  curves::TargetCurve target;
  curves::CurveFileError error;
  if (!curves::TargetCurve::load(path.toStdString(), kDefaultTargetTolerance, &target, &error)) {
    qv::log("Target %s refused: %s", path.toUtf8().constData(), error.text().c_str());
    asker_->inform(tr("%1 could not be used as a target").arg(QFileInfo(path).fileName()),
                   QString::fromStdString(error.text()));
    return false;
  }
  if (QVPlotController* plots = plotController()) plots->setTarget(std::move(target));
  return true;
}

void QVMainViewController::clearTargetCurve() {
  if (QVPlotController* plots = plotController()) plots->setTarget(std::nullopt);
}

}  // namespace qv::gui
