#pragma once
// The editable name of a trace row. It reads as a label (elided, clicks go through to the
// list so they select the row) until a double-click starts editing; Return or leaving the
// field ends editing and reports the text if it was changed, Escape drops the change.
// Main thread only.
#include <QLineEdit>
#include <functional>

namespace qv::gui {

class TraceNameField final : public QLineEdit {
  Q_OBJECT

 public:
  using CommitCallback = std::function<void(const QString& text)>;

  explicit TraceNameField(QWidget* parent = nullptr);

  // The full title; shown elided while not editing, left alone while editing. A
  // placeholder title (a trace without a name) is drawn dim and editing starts empty.
  void setTitle(const QString& title, bool placeholder = false);
  const QString& title() const { return title_; }
  // What the field shows while not editing: the title, or the placeholder.
  QString shownTitle() const { return placeholder_ ? placeholderText() : title_; }
  bool showsPlaceholder() const { return placeholder_; }
  bool isEditing() const { return editing_; }
  void beginEditing();
  // Ends editing; with commit, a changed text goes to the callback.
  void finishEditing(bool commit);
  void setCommitCallback(CommitCallback callback) { onCommit_ = std::move(callback); }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void showElided();

  QString title_;
  QString textAtStart_;
  bool editing_ = false;
  bool placeholder_ = false;
  CommitCallback onCommit_;
};

}  // namespace qv::gui
