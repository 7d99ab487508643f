#include "gui/traces/TraceNameField.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>

#include "gui/Theme.h"

namespace qv::gui {

TraceNameField::TraceNameField(QWidget* parent) : QLineEdit(parent) {
  setFrame(false);
  setReadOnly(true);
  setFocusPolicy(Qt::NoFocus);
  setCursor(Qt::ArrowCursor);
  setAttribute(Qt::WA_MacShowFocusRect, false);
  setTextMargins(0, 0, 0, 0);
  QFont font = this->font();
  font.setPixelSize(theme::kTraceNamePixelSize);
  setFont(font);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Base, Qt::transparent);
  palette.setColor(QPalette::Text, Qt::white);
  palette.setColor(QPalette::Highlight, theme::kAccent.darker(130));
  palette.setColor(QPalette::HighlightedText, Qt::white);
  palette.setColor(QPalette::PlaceholderText, theme::kTextDim);
  setPalette(palette);
  connect(this, &QLineEdit::editingFinished, this, [this] { finishEditing(true); });
}

void TraceNameField::setTitle(const QString& title, bool placeholder) {
  placeholder_ = placeholder;
  title_ = placeholder ? QString() : title;
  // QLineEdit draws its placeholder in the palette's dim placeholder colour.
  setPlaceholderText(placeholder ? title : QString());
  if (!editing_) showElided();
}

void TraceNameField::beginEditing() {
  if (editing_) return;
  editing_ = true;
  textAtStart_ = title_;
  setReadOnly(false);
  setFocusPolicy(Qt::StrongFocus);
  setCursor(Qt::IBeamCursor);
  setText(title_);
  setCursorPosition(0);
  setFocus(Qt::MouseFocusReason);
  selectAll();
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Base, theme::kControlBackground);
  setPalette(palette);
}

void TraceNameField::finishEditing(bool commit) {
  if (!editing_) return;
  editing_ = false;  // first: clearing the focus below ends editing again
  const QString edited = text();
  setReadOnly(true);
  setFocusPolicy(Qt::NoFocus);
  setCursor(Qt::ArrowCursor);
  setAutoFillBackground(false);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Base, Qt::transparent);
  setPalette(palette);
  if (hasFocus()) clearFocus();
  // Until the store reports the new name the field keeps showing what was typed.
  if (commit && edited != textAtStart_) {
    title_ = edited;
    placeholder_ = placeholder_ && edited.isEmpty();
    showElided();
    if (onCommit_) onCommit_(edited);
  } else {
    showElided();
  }
}

void TraceNameField::showElided() {
  const int width = contentsRect().width() - 4;
  setText(width > 0 ? fontMetrics().elidedText(title_, Qt::ElideRight, width) : title_);
  setCursorPosition(0);
}

// While not editing, clicks belong to the list (selection, context menu).
void TraceNameField::mousePressEvent(QMouseEvent* event) {
  if (editing_) {
    QLineEdit::mousePressEvent(event);
  } else {
    event->ignore();
  }
}

void TraceNameField::mouseMoveEvent(QMouseEvent* event) {
  if (editing_) {
    QLineEdit::mouseMoveEvent(event);
  } else {
    event->ignore();
  }
}

void TraceNameField::mouseReleaseEvent(QMouseEvent* event) {
  if (editing_) {
    QLineEdit::mouseReleaseEvent(event);
  } else {
    event->ignore();
  }
}

void TraceNameField::mouseDoubleClickEvent(QMouseEvent* event) {
  if (editing_) {
    QLineEdit::mouseDoubleClickEvent(event);
  } else if (event->button() == Qt::LeftButton) {
    beginEditing();
  } else {
    event->ignore();
  }
}

void TraceNameField::keyPressEvent(QKeyEvent* event) {
  if (editing_ && event->key() == Qt::Key_Escape) {
    finishEditing(false);
    return;
  }
  QLineEdit::keyPressEvent(event);
}

void TraceNameField::contextMenuEvent(QContextMenuEvent* event) {
  if (editing_) {
    QLineEdit::contextMenuEvent(event);
  } else {
    event->ignore();
  }
}

void TraceNameField::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  if (!editing_) showElided();
}

}  // namespace qv::gui
