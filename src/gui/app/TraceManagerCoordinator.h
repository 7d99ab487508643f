#pragma once
// Shows the trace panel as the right-hand view of the main window's layout and takes it
// away again. The panel is made by a factory (the program's makes the trace manager
// panel over the shared trace store). Main thread.
#include <QPointer>
#include <functional>
#include <memory>

#include "gui/app/ChildCoordinator.h"
#include "gui/app/HorizontalLayoutViewController.h"

class QWidget;

namespace qv::gui {

class TraceManagerCoordinator final : public ChildCoordinator {
  Q_OBJECT

 public:
  using PanelFactory = std::function<std::unique_ptr<QWidget>()>;

  TraceManagerCoordinator(ChildCoordinatorDelegate* delegate, bool start,
                          HorizontalLayoutViewController* layoutViewController,
                          PanelFactory panelFactory);
  ~TraceManagerCoordinator() override;

  void start() override;
  void finish() override;

  QWidget* panel() const { return panel_.get(); }

 private:
  QPointer<HorizontalLayoutViewController> layoutViewController_;
  PanelFactory panelFactory_;
  std::unique_ptr<QWidget> panel_;
};

}  // namespace qv::gui
