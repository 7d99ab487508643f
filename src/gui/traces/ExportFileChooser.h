#pragma once
// Asks where to save an exported trace. The panel holds one of these instead of opening
// file dialogs itself, so a test can answer for the user. Main thread only.
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
};

// The real thing: a save dialog that remembers the last folder for this run.
class FileDialogExportFileChooser final : public ExportFileChooser {
 public:
  std::optional<QString> chooseExportPath(QWidget* parent, const QString& suggestedPath,
                                          TraceExportFormat format) override;

 private:
  QString lastFolder_;
};

}  // namespace qv::gui
