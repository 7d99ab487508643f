#pragma once
// Asks the user a yes/no question or tells them something, modally. Views hold an
// AlertAsker instead of building message boxes themselves, so a test can answer for the
// user. Main thread only.
#include <QString>

class QWidget;

namespace qv::gui {

class AlertAsker {
 public:
  virtual ~AlertAsker();
  // True when the user accepts (OK), false on Cancel or when the box is closed.
  virtual bool confirm(const QString& title, const QString& text) = 0;
  virtual void inform(const QString& title, const QString& text) = 0;
};

// The real thing: application-modal QMessageBoxes over `parent` (may be null).
class MessageBoxAlertAsker final : public AlertAsker {
 public:
  explicit MessageBoxAlertAsker(QWidget* parent = nullptr) : parent_(parent) {}
  bool confirm(const QString& title, const QString& text) override;
  void inform(const QString& title, const QString& text) override;

 private:
  QWidget* parent_;
};

}  // namespace qv::gui
