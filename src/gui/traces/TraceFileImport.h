#pragma once
// Stores a curve file as a trace for the desktop (the panel's button, files dropped on the
// panel or the plot): a file that cannot be read or has a malformed line is refused with
// an alert naming the line and nothing is stored; a store that fails says why later.
// Main thread only.
#include <QString>
#include <functional>

#include "traces/TraceManager.h"

class QMimeData;

namespace qv::gui {

class TraceFileImport {
 public:
  // Tells the user something (a title and a text); may be called after importFile
  // returned, when a pending store fails, so it must guard what it uses.
  using Tell = std::function<void(const QString& title, const QString& text)>;
  // True when the trace was stored or is pending.
  static bool importFile(TraceManager& traces, const QString& path, const Tell& tell);
  // The local files among dropped data.
  static QStringList localFiles(const QMimeData* data);
};

}  // namespace qv::gui
