#include "gui/app/AboutCoordinator.h"

#include <QCoreApplication>
#include <QEvent>

namespace qv::gui {

AboutCoordinator::AboutCoordinator(ChildCoordinatorDelegate* delegate, bool start)
    : ChildCoordinator(delegate, start) {
  // The English text is its own translation key.
  const QString text = QCoreApplication::translate("AboutCoordinator", kAboutText);
  windowController_ = std::make_unique<AboutWindowController>(text);
  windowController_->installEventFilter(this);
  if (start) this->start();
}

AboutCoordinator::~AboutCoordinator() {
  if (windowController_) windowController_->removeEventFilter(this);
}

void AboutCoordinator::start() {
  windowController_->show();
  windowController_->raise();
  windowController_->activateWindow();
}

bool AboutCoordinator::eventFilter(QObject* watched, QEvent* event) {
  if (watched == windowController_.get()) {
    if (event->type() == QEvent::WindowDeactivate && windowController_->isVisible()) {
      windowController_->closeAnimated();
    } else if (event->type() == QEvent::Close && !finished_) {
      finished_ = true;
      tellDelegateDidFinish();
    }
  }
  return ChildCoordinator::eventFilter(watched, event);
}

}  // namespace qv::gui
