#pragma once
// Watches whether the application can be seen: its window shown and not minimised, and
// the application not reported hidden (platforms that know when it is fully covered
// report that as the hidden state). Tells the callback each time that bit flips; the
// first report comes when the window is first shown. Main thread.
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>

namespace qv::gui {

class OcclusionMonitor final : public QObject {
  Q_OBJECT

 public:
  OcclusionMonitor(QWidget* window, std::function<void(bool visible)> changed);
  ~OcclusionMonitor() override;

  bool visible() const { return visible_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void reevaluate();

  QPointer<QWidget> window_;
  std::function<void(bool)> changed_;
  bool visible_ = false;
};

}  // namespace qv::gui
