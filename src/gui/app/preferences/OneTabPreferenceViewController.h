#pragma once
// Base of a preferences page: the settings it edits and a dark grey background. Main
// thread.
#include <QWidget>

class QLabel;

namespace qv::gui {

class AppSettings;

class OneTabPreferenceViewController : public QWidget {
  Q_OBJECT

 public:
  explicit OneTabPreferenceViewController(AppSettings& settings, QWidget* parent = nullptr);
  ~OneTabPreferenceViewController() override;

  AppSettings& settings() const { return settings_; }

 protected:
  // A bold section title of the page.
  static QLabel* heading(const QString& text, QWidget* parent);

  AppSettings& settings_;
};

}  // namespace qv::gui
