#pragma once
// Asks for a trace's display offsets: a level in dB (±60) and a delay in ms (±1000, drawn
// as exact linear phase). The stored curves never change. Main thread only.
#include <QDialog>
#include <optional>

class QDoubleSpinBox;

namespace qv::gui {

struct TraceOffsets {
  double db = 0.0;
  double delayMs = 0.0;
};

class TraceOffsetsDialog final : public QDialog {
  Q_OBJECT

 public:
  static constexpr double kMaxDb = 60.0;
  static constexpr double kMaxDelayMs = 1000.0;

  TraceOffsetsDialog(const QString& traceName, TraceOffsets offsets, QWidget* parent = nullptr);
  TraceOffsets offsets() const;
  QDoubleSpinBox* dbField() const { return db_; }
  QDoubleSpinBox* delayField() const { return delay_; }

  // Modal; no value when cancelled.
  static std::optional<TraceOffsets> ask(QWidget* parent, const QString& traceName,
                                         TraceOffsets offsets);

 private:
  QDoubleSpinBox* db_;
  QDoubleSpinBox* delay_;
};

}  // namespace qv::gui
