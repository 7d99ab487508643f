#pragma once
// One row of the trace list: colour badge, editable name, on/off switch tinted with the
// trace's colour, and the capture time below the name. It shows what it is given and
// reports user actions to its delegate; it never changes a trace itself. Clicks outside
// the switch (and outside a name being edited) fall through to the list, which selects.
// Main thread only.
#include <QColor>
#include <QWidget>
#include <optional>

#include "traces/TraceShot.h"

class QLabel;

namespace qv::gui {

class TraceColorBadge;
class TraceNameField;
class TraceShotCellViewDelegate;
class TraceVisibilitySwitch;

class TraceShotCellView final : public QWidget {
  Q_OBJECT

 public:
  explicit TraceShotCellView(QWidget* parent = nullptr);

  // The capture time in UTC without the zone ("2026-12-05 15:29:42"); "" without a date.
  static QString readableDescription(const std::optional<TraceDate>& date);

  // A raw observer: the delegate outlives its rows.
  void setDelegate(TraceShotCellViewDelegate* delegate) { delegate_ = delegate; }
  TraceShotCellViewDelegate* delegate() const { return delegate_; }
  const TraceShotRef& objectValue() const { return objectValue_; }
  void setObjectValue(TraceShotRef shot) { objectValue_ = std::move(shot); }

  QColor color() const { return color_; }
  void setColor(const QColor& color);
  bool visibility() const;
  void setVisibility(bool visible);
  // What the name line shows ("Unnamed" for a trace without a name).
  QString primaryTitle() const;
  // `placeholder`: the trace has no name and `title` stands in for it, dim.
  void setPrimaryTitle(const QString& title, bool placeholder = false);
  QString secondaryText() const;
  void setSecondaryText(const QString& text);
  bool selected() const { return selected_; }
  void setSelected(bool selected) { selected_ = selected; }

  TraceNameField* primaryLabel() const { return primaryLabel_; }
  TraceVisibilitySwitch* visibleSwitch() const { return visibleSwitch_; }
  TraceColorBadge* colorBadgeView() const { return colorBadgeView_; }
  QLabel* secondaryLabel() const { return secondaryLabel_; }

  void onVisibilitySwitch(bool newState, Qt::KeyboardModifiers modifiers);
  void onCellPrimaryLabelEdit(const QString& text);

  QSize sizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void layoutParts();
  void updateNameColor();

  bool selected_ = false;
  TraceShotCellViewDelegate* delegate_ = nullptr;
  TraceShotRef objectValue_;
  QColor color_{Qt::white};
  TraceNameField* primaryLabel_;
  TraceVisibilitySwitch* visibleSwitch_;
  TraceColorBadge* colorBadgeView_;
  QLabel* secondaryLabel_;
};

}  // namespace qv::gui
