#include "gui/app/MainInterface.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <algorithm>

#include "audiolib/AudioLibrary.h"
#include "gui/Theme.h"
#include "gui/app/AlertAsker.h"
#include "gui/app/AnalysisControl.h"
#include "gui/app/AppSettings.h"
#include "gui/app/DarkAppearance.h"
#include "gui/app/QVMainViewController.h"
#include "gui/app/TelemetryClient.h"
#include "gui/display/QVPlotController.h"
#include "gui/traces/TraceManagerViewController.h"
#include "platform/Log.h"
#include "traces/TraceManager.h"

namespace qv::gui {
namespace {

// The measurement view as the coordinator sees it.
class MainViewAnalysisControl final : public AnalysisControl {
 public:
  explicit MainViewAnalysisControl(QVMainViewController* view) : view_(view) {}
  void startAnalysis() override {
    if (view_) view_->startAnalysis();
  }
  void stop() override {
    if (view_) view_->stop();
  }
  bool started() const override { return view_ && view_->started(); }
  void clearAllTraces() override {
    if (view_) view_->clearAllTraces();
  }
  void setDeviceManager(std::shared_ptr<QXDeviceManager> manager) override {
    if (view_) view_->setDeviceManager(std::move(manager));
  }

 private:
  QPointer<QVMainViewController> view_;
};

}  // namespace

MainInterface::MainInterface() : MainInterface(Options()) {}

MainInterface::MainInterface(Options options)
    : settings_(AppSettings::set()),
      telemetry_(options.telemetry ? *options.telemetry : TelemetryClient::shared()) {
  // One look under any desktop theme; the About and preferences windows share it.
  applyDarkAppearance(*qApp);
  coordinator_ = std::make_unique<AppCoordinator>(&settings_, &AudioLibrary::shared());
  delegate_ = std::make_unique<QVAppDelegate>();
  delegate_->setAppCoordinator(coordinator_.get());
  delegate_->setTelemetry(&telemetry_);
  if (options.sleepBus) coordinator_->setSleepBus(*options.sleepBus);

  window_ = std::make_unique<MYWindow>();
  window_->setObjectName(QStringLiteral("QVMainWindow"));
  window_->setWindowTitle(QStringLiteral("Quorvex"));
  layout_ = new HorizontalLayoutViewController(window_.get());
  window_->setCentralWidget(layout_);
  buildMeasurementView(std::move(options.alertAsker));
  buildMenus();

  coordinator_->setWindow(window_.get());
  coordinator_->setLayoutViewController(layout_);
  coordinator_->setMainViewController(analysisControl_.get());
  coordinator_->setTelemetry(&telemetry_);
  coordinator_->setTraceDatabasePath(TraceManager::shared().databasePath());
  QPointer<QVMainViewController> view = mainViewController_;
  coordinator_->setTraceManagerPanelFactory([view]() -> std::unique_ptr<QWidget> {
    auto panel = std::make_unique<TraceManagerViewController>(TraceManager::shared());
    if (view) panel->setDisplayInterval(view->session().displayInterval());
    // The panel's capture button is the capture key.
    panel->setCaptureCallback([view] {
      if (view) view->captureAction()->trigger();
    });
    // Comparing with a trace is the plot's.
    TraceManagerViewController::CompareHooks hooks;
    hooks.referenceId = [view]() -> std::int64_t {
      if (!view || !view->plotController()) return 0;
      const TraceShotRef& reference = view->plotController()->compareReference();
      return reference ? reference->id : 0;
    };
    hooks.setReference = [view](const TraceShotRef& shot) {
      if (view && view->plotController()) view->plotController()->setCompareReference(shot);
    };
    panel->setCompareHooks(std::move(hooks));
    return panel;
  });

  QApplication::setQuitOnLastWindowClosed(
      QVAppDelegate::applicationShouldTerminateAfterLastWindowClosed());
  connect(window_.get(), &MYWindow::windowWillClose, this, [this] { saveWindowFrame(); });
}

MainInterface::~MainInterface() {
  terminate();
  occlusionMonitor_.reset();
  // The measurement view holds the device manager, whose delegate is the coordinator:
  // the view goes first.
  analysisControl_.reset();
  window_.reset();
}

QVMainViewController* MainInterface::mainViewController() const { return mainViewController_; }

TraceManagerViewController* MainInterface::traceManagerViewController() const {
  TraceManagerCoordinator* panel = coordinator_->traceManagerCoordinator();
  return panel ? qobject_cast<TraceManagerViewController*>(panel->panel()) : nullptr;
}

void MainInterface::buildMeasurementView(std::unique_ptr<AlertAsker> asker) {
  auto* view = new QVMainViewController(nullptr, std::move(asker));
  mainViewController_ = view;
  layout_->setCenterView(view);
  analysisControl_ = std::make_unique<MainViewAnalysisControl>(view);
  QVAppDelegate* delegate = delegate_.get();
  view->setOpenPreferencesCallback([delegate] { delegate->onPrefsMenu(); });
  view->setToggleTraceManagerCallback([delegate] { delegate->onShowHideTraceManager(); });
  // Clearing all traces is the application's command; it reaches the view through the
  // coordinator.
  QAction* clearAll = view->clearAllAction();
  disconnect(clearAll, &QAction::triggered, view, nullptr);
  connect(clearAll, &QAction::triggered, delegate, &QVAppDelegate::onClearAllTraces);
}

void MainInterface::buildMenus() {
  QMenuBar* bar = window_->menuBar();
  // The bar continues the measurement view's dark grey top, not the window's black.
  QPalette barPalette = bar->palette();
  barPalette.setColor(QPalette::Window, theme::kPanelBackground);
  bar->setPalette(barPalette);
  bar->setAutoFillBackground(true);
  appMenu_ = bar->addMenu(tr("&Quorvex"));
  QAction* about = appMenu_->addAction(tr("About Quorvex"));
  preferencesAction_ = appMenu_->addAction(tr("Preferences…"));
  preferencesAction_->setShortcut(QKeySequence(QStringLiteral("Ctrl+,")));
  preferencesAction_->setShortcutContext(Qt::ApplicationShortcut);
  appMenu_->addSeparator();
  quitAction_ = appMenu_->addAction(tr("Quit Quorvex"));
  quitAction_->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
  quitAction_->setShortcutContext(Qt::ApplicationShortcut);
  quitAction_->setMenuRole(QAction::QuitRole);
  connect(about, &QAction::triggered, delegate_.get(), &QVAppDelegate::onAboutMenu);
  connect(preferencesAction_, &QAction::triggered, delegate_.get(), &QVAppDelegate::onPrefsMenu);
  // Queued: the quit runs after the menu has closed.
  connect(quitAction_, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
  delegate_->validateItemsOf(appMenu_);

  for (QMenu* menu : mainViewController_->menus()) bar->addMenu(menu);
  // The shortcuts work while the menu bar is hidden and from every window.
  window_->addActions({preferencesAction_, quitAction_});
}

bool MainInterface::fitsAScreen(const QRect& frame) {
  // Every screen gets a say: the window may have been left on a second monitor.
  for (QScreen* screen : QGuiApplication::screens()) {
    const QRect area = screen->availableGeometry();
    const QRect shown = frame.intersected(area);
    if (shown.width() >= std::min(theme::kSmallestWindowWidth, area.width()) &&
        shown.height() >= std::min(theme::kSmallestWindowHeight, area.height()))
      return true;
  }
  return false;
}

void MainInterface::restoreWindowFrame() {
  const QByteArray frame = settings_.defaults().value(kGeometryKey).toByteArray();
  if (!frame.isEmpty()) {
    // The platform already pulls a frame that lies off every screen back onto one; what
    // it keeps may still be too small to use (a hand-edited or damaged file).
    if (window_->restoreGeometry(frame) && fitsAScreen(window_->geometry())) return;
    const QRect g = window_->geometry();
    qv::log(
        "Settings: ignoring stored window frame %dx%d%+d%+d (fits no screen); using the "
        "default",
        g.width(), g.height(), g.x(), g.y());
  }
  QSize size(theme::kDefaultWindowWidth, theme::kDefaultWindowHeight);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    size = size.boundedTo(area.size());
    window_->resize(size);
    window_->move(area.center() - QPoint(size.width() / 2, size.height() / 2));
  } else {
    window_->resize(size);
  }
}

void MainInterface::saveWindowFrame() {
  if (!launched_) return;
  settings_.defaults().setValue(kGeometryKey, window_->saveGeometry());
}

void MainInterface::launch() {
  if (launched_) return;
  launched_ = true;
  restoreWindowFrame();
  delegate_->applicationWillFinishLaunching();
  QPointer<QVAppDelegate> delegate(delegate_.get());
  occlusionMonitor_ = std::make_unique<OcclusionMonitor>(window_.get(), [delegate](bool visible) {
    if (delegate) delegate->applicationDidChangeOcclusionState(visible);
  });
  window_->show();
  QTimer::singleShot(0, this, [this] {
    if (!terminated_) delegate_->applicationDidFinishLaunching();
  });
}

void MainInterface::terminate() {
  if (!launched_ || terminated_) return;
  terminated_ = true;
  saveWindowFrame();
  occlusionMonitor_.reset();  // the window going away is not the user hiding it
  delegate_->applicationWillTerminate();
  settings_.sync();
}

}  // namespace qv::gui
