#pragma once
// Two panes side by side: the measurement view in the centre and, when there is one, a
// fixed-width panel on the right; without a panel the centre fills the view. The centre
// view is not owned; the right view is shown here but owned by whoever set it. Main
// thread.
#include <QPointer>
#include <QWidget>

namespace qv::gui {

class HorizontalLayoutViewController : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kRightViewWidth = 200;

  explicit HorizontalLayoutViewController(QWidget* parent = nullptr);
  ~HorizontalLayoutViewController() override;

  void setCenterView(QWidget* view);
  // nullptr removes the current right view (it is hidden and leaves this view).
  void setRightView(QWidget* view);
  QWidget* centerView() const { return centerView_; }
  QWidget* rightView() const { return rightView_; }

  void viewDidLayout();

  // The centre's smallest size, and the panel's width beside it while there is one: the
  // window cannot be made so small that the centre's controls overlap.
  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  // The centre asked for another size (its control bar took a row more or less): the
  // window hears of it, so its smallest size follows.
  bool event(QEvent* event) override;

 private:
  QPointer<QWidget> centerView_;
  QPointer<QWidget> rightView_;
  QSize lastMinimum_;  // the smallest size the window last heard of
};

}  // namespace qv::gui
