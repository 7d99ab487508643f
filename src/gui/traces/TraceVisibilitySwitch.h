#pragma once
// The on/off switch of a trace row, tinted with the trace's colour when on. A click does
// not flip the switch by itself: it asks (through the callback) for the new state, and the
// row shows the state the store reports back. Main thread only.
#include <QColor>
#include <QWidget>
#include <functional>

namespace qv::gui {

class TraceVisibilitySwitch final : public QWidget {
  Q_OBJECT

 public:
  // newState: the opposite of the shown state; modifiers: those of the click.
  using ToggleCallback = std::function<void(bool newState, Qt::KeyboardModifiers modifiers)>;

  explicit TraceVisibilitySwitch(QWidget* parent = nullptr);

  bool isChecked() const { return checked_; }
  void setChecked(bool checked);
  QColor tint() const { return tint_; }
  void setTint(const QColor& tint);
  void setToggleCallback(ToggleCallback callback) { onToggle_ = std::move(callback); }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool checked_ = false;
  bool pressed_ = false;
  QColor tint_{Qt::white};
  ToggleCallback onToggle_;
};

}  // namespace qv::gui
