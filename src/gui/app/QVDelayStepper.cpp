#include "gui/app/QVDelayStepper.h"

#include <QToolButton>
#include <algorithm>
#include <cmath>

namespace qv::gui {

QVDelayStepper::QVDelayStepper(QWidget* parent)
    : QWidget(parent), down_(new QToolButton(parent)), up_(new QToolButton(parent)) {
  // The stepper itself takes no room: its two buttons live in the parent's layout on
  // either side of the field they step.
  setVisible(false);
  down_->setText(QStringLiteral("\u2212"));
  up_->setText(QStringLiteral("+"));
  for (QToolButton* b : {down_, up_}) {
    b->setAutoRepeat(true);
    b->setAutoRepeatDelay(350);
    b->setAutoRepeatInterval(60);
    b->setFocusPolicy(Qt::NoFocus);
  }
  down_->setObjectName(QStringLiteral("delayStepDown"));
  up_->setObjectName(QStringLiteral("delayStepUp"));
  down_->setToolTip(tr("Decrease the delay"));
  up_->setToolTip(tr("Increase the delay"));
  connect(down_, &QToolButton::clicked, this, [this] { stepBy(-1); });
  connect(up_, &QToolButton::clicked, this, [this] { stepBy(1); });
}

void QVDelayStepper::setValue(double value) {
  value_ = std::isfinite(value) ? std::clamp(value, minimum_, maximum_) : 0.0;
}

void QVDelayStepper::setLimits(double minimum, double maximum) {
  minimum_ = minimum;
  maximum_ = maximum;
  setValue(value_);
}

void QVDelayStepper::stepBy(int steps) {
  // Lands on the step grid, so a value the finder set (3.02) steps to 3.1 or 2.9; every
  // click still moves by at least half a step in its direction.
  const double moved = value_ + steps * step_;
  setValue(std::round(moved / step_) * step_);
  emit valueStepped(value_);
}

}  // namespace qv::gui
