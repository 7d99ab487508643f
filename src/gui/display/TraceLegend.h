#pragma once
// The legend on a plot: a small translucent box in the top-left corner of the chart area
// naming what is drawn besides the live curves (the traces shown, each in its colour,
// what the curves are relative to, the target). It keeps to its corner as the plot
// resizes, lets the mouse through to the plot, and hides when it has nothing to say.
// Main thread only.
#include <QColor>
#include <QString>
#include <QWidget>
#include <vector>

namespace qv::gui {

class PlotView;

class TraceLegend final : public QWidget {
  Q_OBJECT

 public:
  struct Entry {
    QColor color;
    QString text;
    bool band = false;  // a swatch for an area, not a line
    bool operator==(const Entry&) const = default;
  };
  // At most this many entries are listed; the rest are counted in a last line.
  static constexpr int kMaxEntries = 12;

  explicit TraceLegend(PlotView* plot);

  // `title` (may be empty) above the entries; shown when there is either.
  void setContents(const QString& title, std::vector<Entry> entries);
  const QString& title() const { return title_; }
  const std::vector<Entry>& entries() const { return entries_; }

  QSize sizeHint() const override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  // The font may change once the legend is polished in its window: sized again for it.
  void changeEvent(QEvent* event) override;

 private:
  void place();
  int rowHeight() const;

  PlotView* plot_;
  QString title_;
  std::vector<Entry> entries_;
};

}  // namespace qv::gui
