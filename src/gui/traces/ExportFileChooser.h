#pragma once
// Asks where to save an exported trace, or which curve file to open (an import, a
// microphone calibration, a target). Views hold one of these instead of opening file
// dialogs themselves, so a test can answer for the user. Main thread only.
#include <QString>
#include <optional>

#include "export/TraceExporter.h"

class QWidget;

namespace qv::gui {

class ExportFileChooser {
 public:
  virtual ~ExportFileChooser();
  // The chosen path, or no value when the user cancels. `suggestedPath` is a full path.
  virtual std::optional<QString> chooseExportPath(QWidget* parent, const QString& suggestedPath,
                                                  TraceExportFormat format) = 0;
  // The chosen file to read, or no value when the user cancels.
  virtual std::optional<QString> chooseOpenPath(QWidget* parent, const QString& title) {
    (void)parent;
    (void)title;
    return std::nullopt;
  }
};

// The real thing: a save dialog that remembers the last folder for this run.
class FileDialogExportFileChooser final : public ExportFileChooser {
 public:
  std::optional<QString> chooseExportPath(QWidget* parent, const QString& suggestedPath,
                                          TraceExportFormat format) override;
  std::optional<QString> chooseOpenPath(QWidget* parent, const QString& title) override;

 private:
  QString lastFolder_;
};

}  // namespace qv::gui
