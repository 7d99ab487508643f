#pragma once
// What the spectrum, spectrogram and group delay views share: an opaque widget that covers
// the plot area it is given while shown and follows its size, a bar of controls at its top
// in the main view's look, and a plot on the log-frequency axis of the other views below.
// A view lays out its own controls on bar() and sets its own level range on plot().
// Thread contract: main thread only.
#include <QFont>
#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;

namespace qv::gui {

class SpectrumPlotView;

class AnalysisOverlay : public QWidget {
  Q_OBJECT

 public:
  SpectrumPlotView* plotView() const { return plot_; }

  // "rgb(r,g,b)" for style sheets.
  static QString rgb(const QColor& c);

 protected:
  // `name` gives the object names: "<name>View" for the view, "<name>Bar" for its bar.
  AnalysisOverlay(QWidget* plotArea, const QString& name);
  ~AnalysisOverlay() override;

  QWidget* bar() const { return bar_; }
  SpectrumPlotView* plot() const { return plot_; }
  const QFont& controlFont() const { return controlFont_; }
  // Controls on the bar in the main view's look.
  QLabel* caption(const QString& text);
  QComboBox* combo(const QString& tip);
  QPushButton* button(const QString& text, const QString& tip);
  // The plot's level axis: what it can be panned over, and what it shows.
  void setLevelRange(double min, double max, double shownMin, double shownMax);
  // Rules of the view's own, after the shared ones.
  void addStyle(const QString& rules);
  // Over the plot area and on top, or hidden.
  void cover(bool shown);

  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* plotArea_;
  QWidget* bar_ = nullptr;
  SpectrumPlotView* plot_ = nullptr;
  QFont controlFont_;
};

}  // namespace qv::gui
