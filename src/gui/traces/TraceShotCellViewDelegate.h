#pragma once
// What a trace row tells its owner: the user flipped the switch or renamed the trace.
// Main thread only.
#include <QString>
#include <Qt>

#include "traces/TraceShot.h"

namespace qv::gui {

class TraceShotCellViewDelegate {
 public:
  virtual ~TraceShotCellViewDelegate() = default;
  // visible: the switch's new state; modifiers: those held during the click (the command
  // modifier means "all traces").
  virtual void cellVisibilitySwitchChangedVisible(const TraceShotRef& object, bool visible,
                                                  Qt::KeyboardModifiers modifiers) = 0;
  virtual void cellTitleChangedTitle(const TraceShotRef& object, const QString& title) = 0;
};

}  // namespace qv::gui
