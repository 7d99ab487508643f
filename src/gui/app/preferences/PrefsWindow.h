#pragma once
// The preferences window's styling: a dark grey window titled "Quorvex Preferences",
// never smaller than its 650 × 420 content, centred where it opens, closed by Esc and
// Ctrl+W. Main thread.
#include "gui/app/MYWindow.h"

namespace qv::gui {

class PrefsWindow final : public MYWindow {
  Q_OBJECT

 public:
  explicit PrefsWindow(QWidget* parent = nullptr);
  ~PrefsWindow() override;

  // Over the active window when there is one, else in the middle of its screen.
  void center();
};

}  // namespace qv::gui
