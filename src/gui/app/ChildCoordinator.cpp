#include "gui/app/ChildCoordinator.h"

namespace qv::gui {

ChildCoordinator::ChildCoordinator(ChildCoordinatorDelegate* delegate, bool /*start*/)
    : delegate_(delegate) {}

ChildCoordinator::~ChildCoordinator() = default;

void ChildCoordinator::tellDelegateDidFinish() {
  if (delegate_) delegate_->coordinatorDidFinish(*this);
}

}  // namespace qv::gui
