#include "gui/app/AlertAsker.h"

#include <QMessageBox>

namespace qv::gui {

AlertAsker::~AlertAsker() = default;

bool MessageBoxAlertAsker::confirm(const QString& title, const QString& text) {
  QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok | QMessageBox::Cancel,
                  parent_);
  // Cancel is the default so a stray Return never deletes anything.
  box.setDefaultButton(QMessageBox::Cancel);
  box.setEscapeButton(QMessageBox::Cancel);
  return box.exec() == QMessageBox::Ok;
}

void MessageBoxAlertAsker::inform(const QString& title, const QString& text) {
  QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, parent_);
  box.exec();
}

}  // namespace qv::gui
