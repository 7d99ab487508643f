#include "gui/app/OcclusionMonitor.h"

#include <QEvent>
#include <QGuiApplication>

namespace qv::gui {

OcclusionMonitor::OcclusionMonitor(QWidget* window, std::function<void(bool)> changed)
    : window_(window), changed_(std::move(changed)) {
  if (window_) window_->installEventFilter(this);
  connect(qApp, &QGuiApplication::applicationStateChanged, this,
          [this](Qt::ApplicationState) { reevaluate(); });
}

OcclusionMonitor::~OcclusionMonitor() {
  if (window_) window_->removeEventFilter(this);
}

bool OcclusionMonitor::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window_) {
    switch (event->type()) {
      case QEvent::Show:
      case QEvent::Hide:
      case QEvent::WindowStateChange:
        reevaluate();
        break;
      default:
        break;
    }
  }
  return QObject::eventFilter(watched, event);
}

void OcclusionMonitor::reevaluate() {
  const bool now = window_ && window_->isVisible() && !window_->isMinimized() &&
                   QGuiApplication::applicationState() != Qt::ApplicationHidden;
  if (now == visible_) return;
  visible_ = now;
  if (changed_) changed_(now);
}

}  // namespace qv::gui
