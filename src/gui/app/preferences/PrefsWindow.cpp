#include "gui/app/preferences/PrefsWindow.h"

#include <QApplication>
#include <QScreen>

#include "gui/Theme.h"

namespace qv::gui {

PrefsWindow::PrefsWindow(QWidget* parent) : MYWindow(parent) {
  setObjectName(QStringLiteral("PrefsWindow"));
  setWindowTitle(tr("Quorvex Preferences"));
  setBackground(theme::kPrefsBackground);
  setMinimumSize(theme::kPrefsWidth, theme::kPrefsHeight);
  resize(theme::kPrefsWidth, theme::kPrefsHeight);
}

PrefsWindow::~PrefsWindow() = default;

void PrefsWindow::center() {
  QRect area;
  QWidget* active = QApplication::activeWindow();
  if (active && active != this) {
    area = active->frameGeometry();
  } else if (QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen()) {
    area = s->availableGeometry();
  }
  if (area.isEmpty()) return;
  QRect frame = frameGeometry();
  frame.moveCenter(area.center());
  move(frame.topLeft());
}

}  // namespace qv::gui
