#pragma once
// Told when a child coordinator's window or panel has gone. Main thread.
namespace qv::gui {

class ChildCoordinator;

class ChildCoordinatorDelegate {
 public:
  virtual ~ChildCoordinatorDelegate() = default;
  // The child may still be inside one of its own window's events: do not delete it here,
  // drop it with deleteLater().
  virtual void coordinatorDidFinish(ChildCoordinator& child) = 0;
};

}  // namespace qv::gui
