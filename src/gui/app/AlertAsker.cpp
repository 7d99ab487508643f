#include "gui/app/AlertAsker.h"

#include <QMessageBox>
#include <QPushButton>

namespace qv::gui {

AlertAsker::~AlertAsker() = default;

bool MessageBoxAlertAsker::confirm(const QString& title, const QString& text) {
  return confirmWithAcceptTitle(title, text, QStringLiteral("OK"));
}

bool MessageBoxAlertAsker::confirmWithAcceptTitle(const QString& title, const QString& text,
                                                  const QString& acceptTitle) {
  // The question is the box's message and the explanation its informative text: window
  // titles are easily missed on Linux desktops.
  QMessageBox box(parent_);
  box.setIcon(QMessageBox::Warning);
  box.setWindowTitle(QStringLiteral("Quorvex"));
  box.setText(title);
  box.setInformativeText(text);
  QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
  QPushButton* accept = box.addButton(acceptTitle, QMessageBox::AcceptRole);
  // Cancel is the default so a stray Return never deletes anything.
  box.setDefaultButton(cancel);
  box.setEscapeButton(cancel);
  box.exec();
  return box.clickedButton() == accept;
}

void MessageBoxAlertAsker::inform(const QString& title, const QString& text) {
  QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, parent_);
  box.exec();
}

}  // namespace qv::gui
