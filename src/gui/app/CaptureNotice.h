#pragma once
// The words the window shows for a moment after a capture: the new trace's name as the
// trace panel shows it, and, while the panel is hidden, how to show it.
// Pure functions; main thread (local time zone).
#include <QString>

#include "traces/TraceManager.h"

namespace qv::gui {

class CaptureNotice {
 public:
  // How long the message stays, in milliseconds.
  static constexpr int kShowMs = 4000;

  // "Captured “TF 3 — 14:02”", numbered among `all`.
  static QString message(const TraceShot& shot, const TraceShotResults& all, bool panelShown);
};

}  // namespace qv::gui
