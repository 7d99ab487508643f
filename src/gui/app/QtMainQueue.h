#pragma once
// Runs main-queue blocks on the Qt event loop: each block becomes one posted event to an
// object of the GUI thread, so blocks keep their order and interleave with input and
// painting. Install after the QApplication exists; uninstall before it goes (blocks still
// waiting then run at once, none is lost). Main thread only.
#include <QObject>

class QTimer;

namespace qv::gui {

class QtMainQueue final : public QObject {
  Q_OBJECT

 public:
  // Idempotent; the receiver lives on the calling (GUI) thread.
  static void install();
  // Runs every block that is still waiting and restores the hand-run main queue.
  static void uninstall();
  static bool isInstalled();

 protected:
  bool event(QEvent* event) override;

 private:
  QtMainQueue() = default;
  // Runs the main queue's fallen timers and sets the loop's timer for the next.
  void lookAtDeadlines();

  QTimer* deadlineTimer_ = nullptr;
};

}  // namespace qv::gui
