#include "gui/display/TraceLegend.h"

#include <QEvent>
#include <QPainter>
#include <algorithm>

#include "gui/Theme.h"
#include "gui/plot/PlotView.h"

namespace qv::gui {
namespace {

// From the chart area's corner, clear of the scale labels the measurement views draw
// inside it (a row of frequencies along the top, dB figures down the left).
constexpr int kMarginX = 44;
constexpr int kMarginY = 24;
constexpr int kPadding = 6;  // inside the box
constexpr int kSwatch = 18;  // the line or area beside each name
constexpr int kMaxTextWidth = 260;

QFont legendFont(const QWidget* w) {
  QFont font = w->font();
  font.setPixelSize(theme::kLegendPixelSize);
  return font;
}

}  // namespace

TraceLegend::TraceLegend(PlotView* plot) : QWidget(plot), plot_(plot) {
  setObjectName(QStringLiteral("traceLegend"));
  // The cursor, panning and zooming belong to the plot below.
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::NoFocus);
  plot_->installEventFilter(this);
  hide();
}

void TraceLegend::setContents(const QString& title, std::vector<Entry> entries) {
  if (title == title_ && entries == entries_) return;
  title_ = title;
  entries_ = std::move(entries);
  const bool shown = !title_.isEmpty() || !entries_.empty();
  if (shown) {
    place();
    raise();
    update();
  }
  setVisible(shown);
}

int TraceLegend::rowHeight() const { return QFontMetrics(legendFont(this)).height() + 2; }

QSize TraceLegend::sizeHint() const {
  const QFontMetrics fm(legendFont(this));
  // Whole pixels here, fractions where the names are elided: one pixel more keeps a name
  // that fits from being cut.
  int width = title_.isEmpty() ? 0 : std::min(fm.horizontalAdvance(title_) + 1, kMaxTextWidth);
  const int listed = std::min(static_cast<int>(entries_.size()), kMaxEntries);
  for (int i = 0; i < listed; ++i) {
    width =
        std::max(width, kSwatch + kPadding +
                            std::min(fm.horizontalAdvance(entries_[i].text) + 1, kMaxTextWidth));
  }
  int rows = listed + (title_.isEmpty() ? 0 : 1);
  if (static_cast<int>(entries_.size()) > kMaxEntries) ++rows;
  return {width + 2 * kPadding, rows * rowHeight() + 2 * kPadding - 2};
}

void TraceLegend::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if ((event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) && isVisible())
    place();
}

bool TraceLegend::eventFilter(QObject* watched, QEvent* event) {
  if (watched == plot_ && event->type() == QEvent::Resize && isVisible()) place();
  return QWidget::eventFilter(watched, event);
}

void TraceLegend::place() {
  const QRect chart = plot_->chartRect().toAlignedRect();
  const QSize size = sizeHint().boundedTo(chart.size() - QSize(2 * kMarginX, 2 * kMarginY));
  setGeometry(QRect(chart.topLeft() + QPoint(kMarginX, kMarginY), size.expandedTo({0, 0})));
}

void TraceLegend::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(theme::kLegendBorder, 1.0));
  p.setBrush(theme::kLegendBackground);
  p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
  p.setFont(legendFont(this));
  const QFontMetrics fm(p.font());
  const int h = rowHeight();
  const int textWidth = width() - 2 * kPadding;
  int y = kPadding;
  if (!title_.isEmpty()) {
    p.setPen(theme::kText);
    p.drawText(QRect(kPadding, y, textWidth, h), Qt::AlignVCenter | Qt::AlignLeft,
               fm.elidedText(title_, Qt::ElideRight, textWidth));
    y += h;
  }
  const int listed = std::min(static_cast<int>(entries_.size()), kMaxEntries);
  for (int i = 0; i < listed; ++i) {
    const Entry& e = entries_[static_cast<size_t>(i)];
    const QRectF swatch(kPadding, y + h / 2.0 - (e.band ? 4.0 : 1.0), kSwatch, e.band ? 8.0 : 2.0);
    p.fillRect(swatch, e.color);
    p.setPen(theme::kText);
    const int x = kPadding + kSwatch + kPadding;
    p.drawText(QRect(x, y, width() - x - kPadding, h), Qt::AlignVCenter | Qt::AlignLeft,
               fm.elidedText(e.text, Qt::ElideRight, width() - x - kPadding));
    y += h;
  }
  if (static_cast<int>(entries_.size()) > kMaxEntries) {
    p.setPen(theme::kTextDim);
    p.drawText(QRect(kPadding, y, textWidth, h), Qt::AlignVCenter | Qt::AlignLeft,
               tr("… and %1 more").arg(static_cast<int>(entries_.size()) - kMaxEntries));
  }
}

}  // namespace qv::gui
