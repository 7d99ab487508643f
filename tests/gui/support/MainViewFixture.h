#pragma once
// Shared set-up of the measurement view tests: empty settings and trace store, the
// virtual sound system as input and output, an alert asker that answers for the user,
// and key presses that go through Qt's shortcut machinery as typed keys do.
// The audio headers come first: they declare a method named `emit`, a macro in Qt.
#include "audio/QXDeviceManager.h"
// clang-format off
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QSettings>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gui/app/AlertAsker.h"
#include "gui/app/AppSettings.h"
#include "gui/app/QVMainViewController.h"
#include "platform/Log.h"
#include "gui/support/GuiTestSupport.h"
#include "traces/TraceManager.h"
// clang-format on

// Exported by Qt Gui; Qt's own test library delivers key presses through it.
bool qt_sendShortcutOverrideEvent(QObject* o, ulong timestamp, int k, Qt::KeyboardModifiers mods,
                                  const QString& text, bool autorep, ushort count);

namespace qv::gui::test {

inline const std::string kVirtualDevice = "Virtual:Virtual Sound System";

class AnsweringAsker final : public AlertAsker {
 public:
  bool confirm(const QString& title, const QString& text) override {
    questions.push_back(title + " | " + text);
    return answer;
  }
  void inform(const QString& title, const QString& text) override {
    notices.push_back(title + " | " + text);
  }
  bool answer = false;
  QStringList questions;
  QStringList notices;
};

class MainViewFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    AppSettings& s = settings();
    s.defaults().clear();
    s.setRecordingDeviceUUID(std::nullopt);
    s.setPlaybackDeviceUUID(std::nullopt);
    TraceManager::shared().clearAll();
    guitest::processEventsFor(20);
    log_ = std::make_shared<LogLines>();
    previousSink_ = setLogSink([log = log_](const std::string& line) {
      std::lock_guard<std::mutex> lock(log->mutex);
      log->lines.push_back(line);
    });
  }

  void TearDown() override {
    view_.reset();
    guitest::processEventsFor(20);
    setLogSink(previousSink_);
  }

  static AppSettings& settings() { return AppSettings::set(); }
  static TraceManager& traces() { return TraceManager::shared(); }

  // The choices the application coordinator makes on a machine with only the virtual
  // sound system: it is both devices, input 0 the microphone, input 1 the reference.
  static void useVirtualDevices() {
    settings().setMeasChannelIndex(0);
    settings().setRefChannelIndex(1);
    settings().setPreferredRecordingDeviceUUID(kVirtualDevice);
    settings().setPreferredPlaybackDeviceUUID(kVirtualDevice);
  }

  QVMainViewController& makeView() {
    auto asker = std::make_unique<AnsweringAsker>();
    asker_ = asker.get();
    view_ = std::make_unique<QVMainViewController>(nullptr, std::move(asker));
    view_->resize(1200, 820);
    return *view_;
  }

  std::shared_ptr<QXDeviceManager> scannedDeviceManager() {
    bool scanned = false;
    auto manager =
        QXDeviceManager::initWithDelegateInitialScanCompletion(nullptr, [&] { scanned = true; });
    EXPECT_TRUE(guitest::processEventsUntil([&] { return scanned; }, 10000));
    return manager;
  }

  // A trace in the store, as a capture makes it.
  static void storeTrace(const std::string& name) {
    std::vector<float> curves(3 * 16, 0.5f);
    ASSERT_NE(traces().newTraceWithNameFloatBufferLengthCountCommentUserInfo(name, curves.data(),
                                                                             16, 3, "test"),
              nullptr);
  }

  bool logged(const std::string& line) const {
    std::lock_guard<std::mutex> lock(log_->mutex);
    for (const auto& l : log_->lines)
      if (l.find(line) != std::string::npos) return true;
    return false;
  }

  // As a typed key: shortcuts first, then the focused widget.
  static void typeKey(QWidget* window, int key, const QString& text = QString()) {
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : window;
    if (qt_sendShortcutOverrideEvent(target, 0, key, Qt::NoModifier, text, false, 1)) return;
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &release);
  }

  std::unique_ptr<QVMainViewController> view_;
  AnsweringAsker* asker_ = nullptr;
  struct LogLines {
    std::mutex mutex;  // the recorder and the finder log from their own threads
    std::vector<std::string> lines;
  };
  std::shared_ptr<LogLines> log_;
  LogSink previousSink_;
};

}  // namespace qv::gui::test
