#include "gui/app/QtMainQueue.h"

#include <QCoreApplication>
#include <QEvent>

#include "platform/MainQueue.h"

namespace qv::gui {
namespace {

const QEvent::Type kBlockEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

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
  // Blocks queued before the loop existed (the hand-run fifo) go first, in order.
  dispatch::mainQueue().drain();
  dispatch::mainQueue().setExecutor([receiver](dispatch::Block block) {
    QCoreApplication::postEvent(receiver, new BlockEvent(std::move(block)));
  });
}

void QtMainQueue::uninstall() {
  if (!gReceiver) return;
  dispatch::mainQueue().setExecutor(nullptr);
  // Whatever was posted before the executor went still runs, in order.
  QCoreApplication::sendPostedEvents(gReceiver, kBlockEvent);
  delete gReceiver;
  gReceiver = nullptr;
  dispatch::mainQueue().drain();
}

bool QtMainQueue::isInstalled() { return gReceiver != nullptr; }

bool QtMainQueue::event(QEvent* event) {
  if (event->type() == kBlockEvent) {
    dispatch::mainQueue().execute(static_cast<BlockEvent*>(event)->block);
    return true;
  }
  return QObject::event(event);
}

}  // namespace qv::gui
