#pragma once
// The program's one look: the Fusion style with a dark palette for every widget, so the
// program looks the same under any desktop theme. Main thread, once the application
// exists.
#include <QPalette>

class QApplication;

namespace qv::gui {

QPalette darkPalette();
void applyDarkAppearance(QApplication& app);

}  // namespace qv::gui
