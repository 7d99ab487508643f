#include "gui/app/MYWindow.h"

#include <QCloseEvent>

#include "gui/Theme.h"

namespace qv::gui {

MYWindow::MYWindow(QWidget* parent) : QMainWindow(parent) {
  setBackground(theme::kWindowBackground);
  setUnifiedTitleAndToolBarOnMac(true);
  setDocumentMode(true);
}

MYWindow::~MYWindow() = default;

void MYWindow::setBackground(const QColor& color) {
  QPalette p = palette();
  p.setColor(QPalette::Window, color);
  setPalette(p);
  setAutoFillBackground(true);
}

void MYWindow::closeEvent(QCloseEvent* event) {
  emit windowWillClose();
  QMainWindow::closeEvent(event);
}

}  // namespace qv::gui
