#include "gui/app/QVAppDelegate.h"

#include <QAction>
#include <QMenu>

#include "gui/app/AppCoordinator.h"
#include "gui/app/TelemetryClient.h"

namespace qv::gui {

QVAppDelegate::QVAppDelegate(QObject* parent) : QObject(parent) {}
QVAppDelegate::~QVAppDelegate() = default;

void QVAppDelegate::applicationWillFinishLaunching() {
  if (appCoordinator_) appCoordinator_->appWillFinishLaunching();
}

void QVAppDelegate::applicationDidFinishLaunching() {
  if (telemetry_) telemetry_->start();
  if (appCoordinator_) appCoordinator_->appDidFinishLaunching();
}

void QVAppDelegate::applicationWillTerminate() {
  if (appCoordinator_) appCoordinator_->appWillTerminate();
}

void QVAppDelegate::applicationDidChangeOcclusionState(bool visible) {
  if (appCoordinator_) appCoordinator_->appOcclusionStateChanged(visible);
}

void QVAppDelegate::onAboutMenu() {
  if (appCoordinator_) appCoordinator_->openAbout();
}

void QVAppDelegate::onPrefsMenu() {
  if (appCoordinator_) appCoordinator_->openPreferences();
}

void QVAppDelegate::onShowHideTraceManager() {
  if (appCoordinator_) appCoordinator_->toggleTraceManager();
}

void QVAppDelegate::onClearAllTraces() {
  if (appCoordinator_) appCoordinator_->clearAllTraces();
}

int QVAppDelegate::tagOf(const QAction* item) { return item ? item->data().toInt() : 0; }

bool QVAppDelegate::validateMenuItem(QAction* item) const {
  if (!item) return false;
  if (tagOf(item) == kShowHideTraceManagerTag) {
    item->setCheckable(true);
    item->setChecked(appCoordinator_ && appCoordinator_->traceManagerVisible());
  } else if (item->isCheckable()) {
    item->setChecked(false);
  }
  item->setEnabled(true);
  return true;
}

void QVAppDelegate::validateItemsOf(QMenu* menu) {
  connect(menu, &QMenu::aboutToShow, this, [this, menu] {
    for (QAction* item : menu->actions()) {
      if (!item->isSeparator() && !item->menu()) validateMenuItem(item);
    }
  });
}

}  // namespace qv::gui
