#include "gui/app/TraceManagerCoordinator.h"

#include <QWidget>

namespace qv::gui {

TraceManagerCoordinator::TraceManagerCoordinator(
    ChildCoordinatorDelegate* delegate, bool start,
    HorizontalLayoutViewController* layoutViewController, PanelFactory panelFactory)
    : ChildCoordinator(delegate, start),
      layoutViewController_(layoutViewController),
      panelFactory_(std::move(panelFactory)) {
  if (start) this->start();
}

TraceManagerCoordinator::~TraceManagerCoordinator() {
  if (layoutViewController_ && panel_ && layoutViewController_->rightView() == panel_.get()) {
    layoutViewController_->setRightView(nullptr);
  }
}

void TraceManagerCoordinator::start() {
  if (!panel_ && panelFactory_) {
    panel_ = panelFactory_();
    if (panel_) {
      // Typing goes to the measurement view, not to the list.
      panel_->setFocusPolicy(Qt::NoFocus);
    }
  }
  if (layoutViewController_ && panel_) layoutViewController_->setRightView(panel_.get());
}

void TraceManagerCoordinator::finish() {
  if (layoutViewController_) layoutViewController_->setRightView(nullptr);
  panel_.reset();
  tellDelegateDidFinish();
}

}  // namespace qv::gui
