#pragma once
// Base of the coordinators of secondary windows and panels: a weak delegate, start and
// finish. Subclasses honour the start flag in their own constructors (a virtual call
// from this one would not reach them). Main thread.
#include <QObject>
#include <QPointer>

#include "gui/app/ChildCoordinatorDelegate.h"

namespace qv::gui {

class ChildCoordinator : public QObject {
  Q_OBJECT

 public:
  // `delegate` is unretained; the base ignores `start`.
  ChildCoordinator(ChildCoordinatorDelegate* delegate, bool start);
  ~ChildCoordinator() override;

  virtual void start() {}
  virtual void finish() {}

  ChildCoordinatorDelegate* delegate() const { return delegate_; }
  void setDelegate(ChildCoordinatorDelegate* delegate) { delegate_ = delegate; }

 protected:
  void tellDelegateDidFinish();

 private:
  ChildCoordinatorDelegate* delegate_;
};

}  // namespace qv::gui
