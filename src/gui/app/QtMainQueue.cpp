#include "gui/app/QtMainQueue.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <atomic>
#include <cmath>

#include "platform/MainQueue.h"

namespace qv::gui {
namespace {

const QEvent::Type kBlockEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
// The main queue's deadlines changed: look at them again (one such event waits at most).
const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
std::atomic<bool> gWakePosted{false};

class BlockEvent final : public QEvent {
 public:
  explicit BlockEvent(dispatch::Block block) : QEvent(kBlockEvent), block(std::move(block)) {}
  dispatch::Block block;
};

QtMainQueue* gReceiver = nullptr;

}  // namespace

void QtMainQueue::install() {
  if (gReceiver) return;
  gReceiver = new QtMainQueue();
  QtMainQueue* receiver = gReceiver;
  // The main queue's timers fall due on this loop's own timer, so no other thread wakes
  // to hand their fires over.
  receiver->deadlineTimer_ = new QTimer(receiver);
  receiver->deadlineTimer_->setSingleShot(true);
  receiver->deadlineTimer_->setTimerType(Qt::PreciseTimer);
  connect(receiver->deadlineTimer_, &QTimer::timeout, receiver,
          [receiver] { receiver->lookAtDeadlines(); });
  // Blocks queued before the loop existed (the hand-run fifo) go first, in order.
  dispatch::mainQueue().drain();
  dispatch::mainQueue().setExecutor([receiver](dispatch::Block block) {
    QCoreApplication::postEvent(receiver, new BlockEvent(std::move(block)));
  });
  const auto wake = [receiver] {
    if (!gWakePosted.exchange(true)) QCoreApplication::postEvent(receiver, new QEvent(kWakeEvent));
  };
  dispatch::mainQueue().setWaker(wake);
  wake();  // for timers that were started before
}

void QtMainQueue::lookAtDeadlines() {
  const double next = dispatch::mainQueue().runFallen();
  if (std::isinf(next)) {
    deadlineTimer_->stop();
    return;
  }
  const double now = dispatch::steadySeconds();
  // Whole milliseconds, rounded up: a timer never looks before its deadline.
  const double ms = std::ceil(std::max(0.0, next - now) * 1000.0);
  deadlineTimer_->start(static_cast<int>(std::min(ms, 3'600'000.0)));
}

void QtMainQueue::uninstall() {
  if (!gReceiver) return;
  // The hand-run loop watches the deadlines from here on.
  dispatch::mainQueue().setWaker(nullptr);
  dispatch::mainQueue().setExecutor(nullptr);
  // Whatever was posted before the executor went still runs, in order.
  QCoreApplication::sendPostedEvents(gReceiver, kBlockEvent);
  delete gReceiver;  // with it goes a wake event that may still wait
  gReceiver = nullptr;
  gWakePosted.store(false);
  dispatch::mainQueue().drain();
}

bool QtMainQueue::isInstalled() { return gReceiver != nullptr; }

bool QtMainQueue::event(QEvent* event) {
  if (event->type() == kBlockEvent) {
    dispatch::mainQueue().execute(static_cast<BlockEvent*>(event)->block);
    return true;
  }
  if (event->type() == kWakeEvent) {
    gWakePosted.store(false);
    lookAtDeadlines();
    return true;
  }
  return QObject::event(event);
}

}  // namespace qv::gui
