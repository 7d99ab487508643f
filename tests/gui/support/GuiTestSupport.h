#pragma once
// Helpers of the GUI tests: run the Qt event loop for a while or until something holds,
// and keep screenshots under the build folder for a person to look at.
#include <QApplication>
#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QKeyEvent>
#include <QString>
#include <QThread>
#include <QWidget>
#include <algorithm>
#include <functional>

// Exported by Qt Gui; Qt's own test library delivers key presses through it.
bool qt_sendShortcutOverrideEvent(QObject* o, ulong timestamp, int k, Qt::KeyboardModifiers mods,
                                  const QString& text, bool autorep, ushort count);

namespace qv::guitest {

// A key typed into the focused widget (else `window`) as a user types it: offered as a
// shortcut first, else pressed and released. True when a shortcut took it.
inline bool typeKey(QWidget* window, int key, const QString& text = {},
                    Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : window;
  if (qt_sendShortcutOverrideEvent(target, 0, key, modifiers, text, false, 1)) return true;
  QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
  QApplication::sendEvent(target, &release);
  return false;
}

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

// Counts the white (live curves) and orange (coherence) pixels of the plots in a screenshot
// of the main window; labels and grid are greyer than either.
struct CurvePixels {
  explicit CurvePixels(const QImage& shot) {
    for (int y = shot.height() / 6; y < shot.height() * 9 / 10; ++y) {
      for (int x = 40; x < shot.width() - 40; ++x) {
        const QColor c = shot.pixelColor(x, y);
        white += std::min({c.red(), c.green(), c.blue()}) >= 240;
        orange += c.red() >= 200 && c.green() >= 60 && c.green() <= 170 && c.blue() <= 80;
        ++all;
      }
    }
  }
  int white = 0, orange = 0, all = 0;
};

}  // namespace qv::guitest
