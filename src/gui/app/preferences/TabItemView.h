#pragma once
// One toolbar button of the preferences tabs: title, image, the identifier of the tab it
// selects, and an on/off state that shows which tab is selected. Main thread.
#include <QString>
#include <QToolButton>

namespace qv::gui {

class TabItemView final : public QToolButton {
  Q_OBJECT

 public:
  static constexpr int kWidth = 60;
  static constexpr int kHeight = 30;

  explicit TabItemView(QWidget* parent = nullptr);
  ~TabItemView() override;

  QString title() const { return text(); }
  void setTitle(const QString& title);
  QString controllerIdentifier() const { return controllerIdentifier_; }
  void setControllerIdentifier(const QString& identifier) { controllerIdentifier_ = identifier; }
  // The image drawn for an identifier in lower case ("input / output", "general").
  void setImageNamed(const QString& name);
  bool state() const { return isChecked(); }
  void setState(bool on) { setChecked(on); }

  static QIcon imageNamed(const QString& name);

 private:
  QString controllerIdentifier_;
};

}  // namespace qv::gui
