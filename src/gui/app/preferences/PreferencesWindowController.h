#pragma once
// Owns the preferences window and reports that it is closing. Main thread.
#include <QObject>
#include <memory>

#include "gui/app/preferences/PrefsWindow.h"

namespace qv::gui {

class PreferencesWindowController final : public QObject {
  Q_OBJECT

 public:
  PreferencesWindowController();
  ~PreferencesWindowController() override;

  PrefsWindow* window() const { return window_.get(); }
  void showWindow();

 signals:
  void windowWillClose();

 private:
  std::unique_ptr<PrefsWindow> window_;
  bool placed_ = false;
};

}  // namespace qv::gui
