#include "gui/app/CaptureNotice.h"

#include "gui/traces/TraceDisplayName.h"

namespace qv::gui {

QString CaptureNotice::message(const TraceShot& shot, const TraceShotResults& all,
                               bool panelShown) {
  QString text =
      QStringLiteral("Captured \u201c%1\u201d").arg(TraceDisplayName::titleInList(shot, all));
  // The menu item that shows the panel, by the name it has in the View menu.
  if (!panelShown) text += QStringLiteral(" \u2014 see it with View \u25b8 Trace Manager");
  return text;
}

}  // namespace qv::gui
