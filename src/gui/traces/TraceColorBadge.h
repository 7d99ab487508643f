#pragma once
// The colour badge of a trace row: a small rounded square in the trace's colour.
// Main thread only.
#include <QColor>
#include <QWidget>

namespace qv::gui {

class TraceColorBadge final : public QWidget {
  Q_OBJECT

 public:
  explicit TraceColorBadge(QWidget* parent = nullptr);
  QColor color() const { return color_; }
  void setColor(const QColor& color);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor color_{Qt::white};
};

}  // namespace qv::gui
