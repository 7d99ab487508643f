// clang-format off
// The audio headers come before Qt's, whose `emit` macro would eat a method name.
#include "audiolib/AudioLibrary.h"
// clang-format on
#include "gui/app/MainInterface.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QTimer>

#include "gui/Theme.h"
#include "gui/app/AnalysisControl.h"
#include "gui/app/AppSettings.h"
#include "gui/app/TelemetryClient.h"
#include "traces/TraceDatabase.h"
#include "traces/TraceFolders.h"

namespace qv::gui {
namespace {

// Stands in for the measurement view until it is part of the program.
class PlaceholderMeasurementView final : public AnalysisControl {
 public:
  void startAnalysis() override { started_ = true; }
  void stop() override { started_ = false; }
  bool started() const override { return started_; }
  void clearAllTraces() override {}
  void setDeviceManager(std::shared_ptr<QXDeviceManager>) override {}

 private:
  bool started_ = false;
};

QAction* addTagged(QMenu* menu, const QString& title, int tag) {
  QAction* action = menu->addAction(title);
  action->setProperty(QVAppDelegate::kTagProperty, tag);
  return action;
}

}  // namespace

MainInterface::MainInterface() : MainInterface(Options()) {}

MainInterface::MainInterface(Options options)
    : settings_(options.settings ? *options.settings : AppSettings::set()),
      library_(options.library ? *options.library : AudioLibrary::shared()),
      telemetry_(options.telemetry ? *options.telemetry : TelemetryClient::shared()) {
  coordinator_ = std::make_unique<AppCoordinator>(&settings_, &library_);
  delegate_ = std::make_unique<QVAppDelegate>();
  delegate_->setAppCoordinator(coordinator_.get());
  delegate_->setTelemetry(&telemetry_);
  if (options.sleepBus) coordinator_->setSleepBus(*options.sleepBus);

  window_ = std::make_unique<MYWindow>();
  window_->setObjectName(QStringLiteral("QVMainWindow"));
  window_->setWindowTitle(QStringLiteral("Quorvex"));
  layout_ = new HorizontalLayoutViewController(window_.get());
  window_->setCentralWidget(layout_);
  buildMeasurementView();
  buildMenus();

  coordinator_->setWindow(window_.get());
  coordinator_->setLayoutViewController(layout_);
  coordinator_->setMainViewController(analysisControl_.get());
  coordinator_->setTelemetry(&telemetry_);
  coordinator_->setTraceDatabasePath(TraceFolders::dataFolder() + "/" + TraceDatabase::kFileName);
  coordinator_->setTraceManagerPanelFactory([] {
    auto panel = std::make_unique<QLabel>(QObject::tr("Traces"));
    panel->setAlignment(Qt::AlignCenter);
    panel->setAutoFillBackground(true);
    return panel;
  });

  QApplication::setQuitOnLastWindowClosed(
      QVAppDelegate::applicationShouldTerminateAfterLastWindowClosed());
  connect(window_.get(), &MYWindow::windowWillClose, this, [this] { saveWindowFrame(); });
}

MainInterface::~MainInterface() {
  terminate();
  occlusionMonitor_.reset();
}

void MainInterface::buildMeasurementView() {
  auto* view = new QLabel(tr("Measurement"));
  view->setAlignment(Qt::AlignCenter);
  centerView_ = view;
  layout_->setCenterView(view);
  analysisControl_ = std::make_unique<PlaceholderMeasurementView>();
}

void MainInterface::buildMenus() {
  QMenuBar* bar = window_->menuBar();
  appMenu_ = bar->addMenu(tr("&Quorvex"));
  QAction* about = appMenu_->addAction(tr("About Quorvex"));
  QAction* prefs = appMenu_->addAction(tr("Preferences…"));
  prefs->setShortcut(QKeySequence(QStringLiteral("Ctrl+,")));
  prefs->setShortcutContext(Qt::ApplicationShortcut);
  appMenu_->addSeparator();
  QAction* quit = appMenu_->addAction(tr("Quit Quorvex"));
  quit->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
  quit->setShortcutContext(Qt::ApplicationShortcut);
  quit->setMenuRole(QAction::QuitRole);
  connect(about, &QAction::triggered, delegate_.get(), &QVAppDelegate::onAboutMenu);
  connect(prefs, &QAction::triggered, delegate_.get(), &QVAppDelegate::onPrefsMenu);
  connect(quit, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);

  viewMenu_ = bar->addMenu(tr("&View"));
  traceManagerAction_ =
      addTagged(viewMenu_, tr("Trace Manager"), QVAppDelegate::kShowHideTraceManagerTag);
  traceManagerAction_->setCheckable(true);
  traceManagerAction_->setShortcut(QKeySequence(QStringLiteral("Ctrl+T")));
  connect(traceManagerAction_, &QAction::triggered, delegate_.get(), [this] {
    delegate_->onShowHideTraceManager();
    delegate_->validateMenuItem(traceManagerAction_);
  });

  tracesMenu_ = bar->addMenu(tr("&Traces"));
  QAction* clear = tracesMenu_->addAction(tr("Clear All Traces…"));
  connect(clear, &QAction::triggered, delegate_.get(), &QVAppDelegate::onClearAllTraces);

  for (QMenu* menu : {appMenu_, viewMenu_, tracesMenu_}) delegate_->validateItemsOf(menu);
  // Shortcuts work while the menu bar is hidden or the window is not focused.
  window_->addActions({prefs, quit, traceManagerAction_});
}

void MainInterface::restoreWindowFrame() {
  const QByteArray frame = settings_.defaults().value(kGeometryKey).toByteArray();
  if (!frame.isEmpty() && window_->restoreGeometry(frame)) return;
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
