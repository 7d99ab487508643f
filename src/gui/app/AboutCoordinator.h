#pragma once
// Shows the About window; the window closes when it stops being the active window, and
// its closing finishes this coordinator. Main thread.
#include <QString>
#include <memory>

#include "gui/app/AboutWindowController.h"
#include "gui/app/ChildCoordinator.h"

namespace qv::gui {

class AboutCoordinator final : public ChildCoordinator {
  Q_OBJECT

 public:
  static constexpr const char* kAboutText =
      "Quorvex is a Transfer Function measurement software. It analyzes the acoustic output "
      "of a sound system and displays it as a Frequency Response, in real time. It requires "
      "measurement mic and external audio interface to operate properly.";

  AboutCoordinator(ChildCoordinatorDelegate* delegate, bool start);
  ~AboutCoordinator() override;

  void start() override;
  AboutWindowController* windowController() const { return windowController_.get(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::unique_ptr<AboutWindowController> windowController_;
  bool finished_ = false;
};

}  // namespace qv::gui
