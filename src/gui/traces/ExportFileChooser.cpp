#include "gui/traces/ExportFileChooser.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace qv::gui {

ExportFileChooser::~ExportFileChooser() = default;

std::optional<QString> FileDialogExportFileChooser::chooseExportPath(QWidget* parent,
                                                                     const QString& suggestedPath,
                                                                     TraceExportFormat format) {
  const QString filter = format == TraceExportFormat::Csv
                             ? QStringLiteral("CSV files (*.csv);;All files (*)")
                             : QStringLiteral("FRD files (*.frd);;All files (*)");
  const QString title = format == TraceExportFormat::Csv ? QStringLiteral("Export Trace as CSV")
                                                         : QStringLiteral("Export Trace as FRD");
  QString start = suggestedPath;
  if (!lastFolder_.isEmpty())
    start = QDir(lastFolder_).filePath(QFileInfo(suggestedPath).fileName());
  QString path = QFileDialog::getSaveFileName(parent, title, start, filter);
  if (path.isEmpty()) return std::nullopt;
  // Qt's own dialog leaves the extension to the user.
  if (QFileInfo(path).suffix().isEmpty()) {
    path += QStringLiteral(".") + QString::fromLatin1(TraceExporter::extension(format));
  }
  lastFolder_ = QFileInfo(path).absolutePath();
  return path;
}

std::optional<QString> FileDialogExportFileChooser::chooseOpenPath(QWidget* parent,
                                                                   const QString& title) {
  const QString path = QFileDialog::getOpenFileName(
      parent, title, lastFolder_,
      QStringLiteral("Curve files (*.txt *.csv *.frd *.cal);;All files (*)"));
  if (path.isEmpty()) return std::nullopt;
  lastFolder_ = QFileInfo(path).absolutePath();
  return path;
}

}  // namespace qv::gui
