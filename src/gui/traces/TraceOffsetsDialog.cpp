#include "gui/traces/TraceOffsetsDialog.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>

namespace qv::gui {

TraceOffsetsDialog::TraceOffsetsDialog(const QString& traceName, TraceOffsets offsets,
                                       QWidget* parent)
    : QDialog(parent), db_(new QDoubleSpinBox(this)), delay_(new QDoubleSpinBox(this)) {
  setWindowTitle(tr("Offsets of %1").arg(traceName));
  // Out-of-range figures cannot be typed: the fields clamp to their ranges.
  db_->setRange(-kMaxDb, kMaxDb);
  db_->setDecimals(1);
  db_->setSingleStep(0.5);
  db_->setSuffix(QStringLiteral(" dB"));
  db_->setValue(offsets.db);
  delay_->setRange(-kMaxDelayMs, kMaxDelayMs);
  delay_->setDecimals(2);
  delay_->setSingleStep(0.05);
  delay_->setSuffix(QStringLiteral(" ms"));
  delay_->setValue(offsets.delayMs);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* form = new QFormLayout(this);
  form->addRow(tr("Level"), db_);
  form->addRow(tr("Delay"), delay_);
  form->addRow(buttons);
}

TraceOffsets TraceOffsetsDialog::offsets() const { return {db_->value(), delay_->value()}; }

std::optional<TraceOffsets> TraceOffsetsDialog::ask(QWidget* parent, const QString& traceName,
                                                    TraceOffsets offsets) {
  TraceOffsetsDialog dialog(traceName, offsets, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.offsets();
}

}  // namespace qv::gui
