// quorvex, the desktop program: the application object, the main queue on its event
// loop, the main interface, and the command-line options.
#include <QApplication>
#include <QIcon>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "gui/app/CommandLine.h"
#include "gui/app/MainInterface.h"
#include "gui/app/QtMainQueue.h"
#include "gui/app/TerminationSignals.h"
#include "platform/FftBackend.h"
#include "platform/HeapTrim.h"

int main(int argc, char** argv) {
  using namespace qv::gui;
  const CommandLine options = CommandLine::parse(std::vector<std::string>(argv, argv + argc));
  if (!options.error.empty()) {
    std::fprintf(stderr, "quorvex: %s\n", options.error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(CommandLine::helpText().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::fputs(CommandLine::versionText().c_str(), stdout);
    return 0;
  }

  // The window answers at once: FFTW's measurements (seconds on a busy machine with no
  // wisdom yet) run on a worker thread while estimated plans do the work.
  qv::fft::setPlanning(qv::fft::Planning::EstimateThenMeasure);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quorvex"));
  QApplication::setOrganizationName(QStringLiteral("Quorvex"));
  QApplication::setApplicationVersion(QStringLiteral(QV_VERSION));
  // Wayland compositors find the program's name and icon through its desktop entry, named
  // by this id; on X11 the window's class does the same.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.quorvex.Quorvex"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.quorvex.Quorvex")));
  QtMainQueue::install();

  int status = 0;
  {
    TerminationSignals quitOnSignals;
    MainInterface ui;
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &ui, [&ui] { ui.terminate(); });
    ui.launch();
    // Start-up frees a few MB below blocks still in use, which the heap keeps: they go back
    // once the window is up and measuring, and whatever later work leaves behind once a
    // minute (a trim takes well under a millisecond).
    QTimer heapTrim;
    QObject::connect(&heapTrim, &QTimer::timeout, [] { qv::returnFreedHeap(); });
    QTimer::singleShot(2000, &heapTrim, [&heapTrim] {
      qv::returnFreedHeap();
      heapTrim.start(60 * 1000);
    });

    if (options.screenshot) {
      const QString file = QString::fromStdString(*options.screenshot);
      QTimer::singleShot(static_cast<int>(options.afterSeconds * 1000), &ui, [&ui, file] {
        const bool saved = ui.window()->grab().save(file, "PNG");
        if (!saved) {
          std::fprintf(stderr, "quorvex: could not write the screenshot %s\n",
                       file.toUtf8().constData());
        }
        QCoreApplication::exit(saved ? 0 : 1);
      });
    }
    status = QApplication::exec();
  }
  QtMainQueue::uninstall();
  return status;
}
