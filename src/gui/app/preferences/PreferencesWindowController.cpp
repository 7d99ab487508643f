#include "gui/app/preferences/PreferencesWindowController.h"

namespace qv::gui {

PreferencesWindowController::PreferencesWindowController()
    : window_(std::make_unique<PrefsWindow>()) {
  connect(window_.get(), &MYWindow::windowWillClose, this,
          &PreferencesWindowController::windowWillClose);
}

PreferencesWindowController::~PreferencesWindowController() = default;

void PreferencesWindowController::showWindow() {
  if (!placed_) {
    // Once: a window the user moved stays where it is.
    window_->center();
    placed_ = true;
  }
  window_->show();
  window_->raise();
  window_->activateWindow();
}

}  // namespace qv::gui
