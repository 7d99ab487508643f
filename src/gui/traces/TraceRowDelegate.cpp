#include "gui/traces/TraceRowDelegate.h"

#include <QPainter>

#include "gui/Theme.h"

namespace qv::gui {

void TraceRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex&) const {
  painter->save();
  if (option.state & QStyle::State_Selected) painter->fillRect(option.rect, theme::kTraceSelection);
  painter->setPen(theme::kTraceGrid);
  painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
  painter->restore();
}

QSize TraceRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
  return {option.rect.width(), theme::kTraceRowHeight};
}

void TraceRowDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                            const QModelIndex&) const {
  editor->setGeometry(option.rect);
}

}  // namespace qv::gui
