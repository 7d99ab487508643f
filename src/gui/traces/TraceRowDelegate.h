#pragma once
// Paints what lies under a trace row's widget: the selection and the separator line, and
// gives every row its fixed height. Main thread only.
#include <QStyledItemDelegate>

namespace qv::gui {

class TraceRowDelegate final : public QStyledItemDelegate {
  Q_OBJECT

 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  // A row widget covers its whole row (the style would leave room for an icon).
  void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const override;
};

}  // namespace qv::gui
