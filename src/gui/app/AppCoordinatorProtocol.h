#pragma once
// The application events the delegate hands on. Occlusion carries the one bit that
// matters: whether any of the application can be seen. Main thread.
namespace qv::gui {

class AppCoordinatorProtocol {
 public:
  virtual ~AppCoordinatorProtocol() = default;
  virtual void appWillFinishLaunching() = 0;
  virtual void appDidFinishLaunching() = 0;
  virtual void appWillTerminate() = 0;
  virtual void appWillHide() = 0;
  virtual void appDidHide() = 0;
  virtual void appWillUnhide() = 0;
  virtual void appDidUnhide() = 0;
  virtual void appOcclusionStateChanged(bool visible) = 0;
};

}  // namespace qv::gui
