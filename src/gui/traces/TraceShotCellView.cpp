#include "gui/traces/TraceShotCellView.h"

#include <QLabel>

#include "export/TraceExporter.h"
#include "gui/Theme.h"
#include "gui/traces/TraceColorBadge.h"
#include "gui/traces/TraceNameField.h"
#include "gui/traces/TraceShotCellViewDelegate.h"
#include "gui/traces/TraceVisibilitySwitch.h"

namespace qv::gui {

TraceShotCellView::TraceShotCellView(QWidget* parent)
    : QWidget(parent),
      primaryLabel_(new TraceNameField(this)),
      visibleSwitch_(new TraceVisibilitySwitch(this)),
      colorBadgeView_(new TraceColorBadge(this)),
      secondaryLabel_(new QLabel(this)) {
  QFont dateFont = secondaryLabel_->font();
  dateFont.setPixelSize(theme::kTraceDatePixelSize);
  secondaryLabel_->setFont(dateFont);
  QPalette datePalette = secondaryLabel_->palette();
  datePalette.setColor(QPalette::WindowText, theme::kTraceDate);
  secondaryLabel_->setPalette(datePalette);
  // Inside a list the inherited foreground role would be the list's text colour.
  secondaryLabel_->setForegroundRole(QPalette::WindowText);
  secondaryLabel_->setAttribute(Qt::WA_TransparentForMouseEvents);

  visibleSwitch_->setTint(color_);
  visibleSwitch_->setToggleCallback([this](bool newState, Qt::KeyboardModifiers modifiers) {
    onVisibilitySwitch(newState, modifiers);
  });
  primaryLabel_->setCommitCallback([this](const QString& text) { onCellPrimaryLabelEdit(text); });
  layoutParts();
}

QString TraceShotCellView::readableDescription(const std::optional<TraceDate>& date) {
  return date ? QString::fromStdString(TraceExporter::utcDescription(*date)) : QString();
}

void TraceShotCellView::setColor(const QColor& color) {
  if (color == color_) return;
  color_ = color;
  colorBadgeView_->setColor(color);
  visibleSwitch_->setTint(color);
}

bool TraceShotCellView::visibility() const { return visibleSwitch_->isChecked(); }

void TraceShotCellView::setVisibility(bool visible) {
  visibleSwitch_->setChecked(visible);
  updateNameColor();
}

QString TraceShotCellView::primaryTitle() const { return primaryLabel_->shownTitle(); }

void TraceShotCellView::setPrimaryTitle(const QString& title, bool placeholder) {
  primaryLabel_->setTitle(title, placeholder);
}

QString TraceShotCellView::secondaryText() const { return secondaryLabel_->text(); }

void TraceShotCellView::setSecondaryText(const QString& text) { secondaryLabel_->setText(text); }

void TraceShotCellView::onVisibilitySwitch(bool newState, Qt::KeyboardModifiers modifiers) {
  if (delegate_) delegate_->cellVisibilitySwitchChangedVisible(objectValue_, newState, modifiers);
}

void TraceShotCellView::onCellPrimaryLabelEdit(const QString& text) {
  if (delegate_) delegate_->cellTitleChangedTitle(objectValue_, text);
}

QSize TraceShotCellView::sizeHint() const {
  return {theme::kTracePanelWidth, theme::kTraceRowHeight};
}

void TraceShotCellView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  layoutParts();
}

// Name, badge and switch share the upper line; the date runs below them across the
// row's full width, so it is never clipped.
void TraceShotCellView::layoutParts() {
  const int m = theme::kTraceRowMargin;
  const int w = width() > 0 ? width() : theme::kTracePanelWidth;
  const int nameTop = 5;
  const int nameHeight = 22;
  const int badge = theme::kTraceBadgeSize;
  colorBadgeView_->move(m, nameTop + (nameHeight - badge) / 2);
  const QSize sw = visibleSwitch_->size();
  visibleSwitch_->move(w - m - sw.width(), nameTop + (nameHeight - sw.height()) / 2);
  const int textLeft = m + badge + 6;
  const int nameWidth = std::max(0, visibleSwitch_->x() - 6 - textLeft);
  primaryLabel_->setGeometry(textLeft, nameTop, nameWidth, nameHeight);
  // The line edit draws its text 2 px in; the date lines up with it.
  secondaryLabel_->setGeometry(textLeft + 2, nameTop + nameHeight,
                               std::max(0, w - m - textLeft - 2), 14);
}

void TraceShotCellView::updateNameColor() {
  QPalette palette = primaryLabel_->palette();
  palette.setColor(QPalette::Text, visibility() ? QColor(Qt::white) : theme::kTextDim);
  primaryLabel_->setPalette(palette);
}

}  // namespace qv::gui
