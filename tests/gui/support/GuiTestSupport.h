#pragma once
// Helpers of the GUI tests: run the Qt event loop for a while or until something holds,
// and keep screenshots under the build folder for a person to look at.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QString>
#include <QThread>
#include <QWidget>
#include <functional>

namespace qv::guitest {

inline void processEventsFor(int milliseconds) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < milliseconds) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
}

// True when `done` held before the timeout.
inline bool processEventsUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < timeoutMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (done()) return true;
    QThread::msleep(1);
  }
  return done();
}

inline QString screenshotPath(const QString& name) {
#ifdef QV_SCREENSHOT_DIR
  const QString dir = QStringLiteral(QV_SCREENSHOT_DIR);
#else
  const QString dir = QDir::tempPath() + "/quorvex-screenshots";
#endif
  QDir().mkpath(dir);
  return dir + "/" + name + ".png";
}

inline QString saveScreenshot(const QImage& image, const QString& name) {
  const QString path = screenshotPath(name);
  image.save(path);
  return path;
}

inline QString saveScreenshot(QWidget& widget, const QString& name) {
  return saveScreenshot(widget.grab().toImage(), name);
}

}  // namespace qv::guitest
