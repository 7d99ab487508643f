#pragma once
// A − and a + button around a value: each click (or auto-repeat while held) moves the
// value by one step inside its limits and reports it. The value can be set without a
// report. Main thread only.
#include <QWidget>

class QToolButton;

namespace qv::gui {

class QVDelayStepper : public QWidget {
  Q_OBJECT

 public:
  explicit QVDelayStepper(QWidget* parent = nullptr);

  double value() const { return value_; }
  // No signal.
  void setValue(double value);
  void setStep(double step) { step_ = step; }
  void setLimits(double minimum, double maximum);
  // Stand-alone halves, so the delay field can sit between them.
  QToolButton* downButton() const { return down_; }
  QToolButton* upButton() const { return up_; }

  // One step down or up, as a click does.
  void stepBy(int steps);

 signals:
  void valueStepped(double value);

 private:
  double value_ = 0.0;
  double step_ = 0.1;
  double minimum_ = -1000.0;
  double maximum_ = 1000.0;
  QToolButton* down_;
  QToolButton* up_;
};

}  // namespace qv::gui
