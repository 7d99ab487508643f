#include "gui/app/preferences/PrefsWindow.h"

#include <QApplication>
#include <QScreen>
#include <QShortcut>

#include "gui/Theme.h"

namespace qv::gui {

PrefsWindow::PrefsWindow(QWidget* parent) : MYWindow(parent) {
  setObjectName(QStringLiteral("PrefsWindow"));
  setWindowTitle(tr("Quorvex Preferences"));
  setBackground(theme::kPrefsBackground);
  setMinimumSize(theme::kPrefsWidth, theme::kPrefsHeight);
  resize(theme::kPrefsWidth, theme::kPrefsHeight);
  // A settings window closes as dialogs do, from the keyboard too.
  for (const QKeySequence& keys :
       {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)})
    connect(new QShortcut(keys, this), &QShortcut::activated, this, &QWidget::close);
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
