#pragma once
// Shared by the trace panel tests: a trace store and settings of their own in a temporary
// folder, scripted answers for alerts and save dialogs, and synthetic mouse and key input.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <QWidget>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "gui/app/AlertAsker.h"
#include "gui/app/AppSettings.h"
#include "gui/traces/ExportFileChooser.h"
#include "gui/traces/TraceManagerViewController.h"
#include "platform/MainQueue.h"
#include "support/GuiTestSupport.h"
#include "traces/TraceManager.h"
#include "traces/TraceTestSupport.h"

namespace qv::guitest {

// Answers confirmations from a script (OK when the script runs out) and keeps every
// question and message.
class ScriptedAlertAsker final : public gui::AlertAsker {
 public:
  bool confirm(const QString& title, const QString& text) override {
    confirmations.emplace_back(title, text);
    if (answers.empty()) return true;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void inform(const QString& title, const QString& text) override {
    messages.emplace_back(title, text);
  }
  std::deque<bool> answers;
  std::vector<std::pair<QString, QString>> confirmations;
  std::vector<std::pair<QString, QString>> messages;
};

class ScriptedExportFileChooser final : public gui::ExportFileChooser {
 public:
  std::optional<QString> chooseExportPath(QWidget*, const QString& suggestedPath,
                                          TraceExportFormat) override {
    suggested.push_back(suggestedPath);
    return answer;
  }
  std::optional<QString> chooseOpenPath(QWidget*, const QString&) override { return openAnswer; }
  std::optional<QString> answer;
  std::vector<QString> suggested;
  std::optional<QString> openAnswer;
};

// Runs the main queue up to now: every notification already posted has been delivered.
inline void settle() {
  bool done = false;
  dispatch::mainQueue().async([&done] { done = true; });
  processEventsUntil([&done] { return done; }, 5000);
  QCoreApplication::processEvents();
}

inline void sendMouse(QWidget* widget, QEvent::Type type, QPoint at,
                      Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                      Qt::MouseButton button = Qt::LeftButton) {
  const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
  QMouseEvent event(type, QPointF(at), QPointF(widget->mapToGlobal(at)), button, held, modifiers);
  QApplication::sendEvent(widget, &event);
}

inline void click(QWidget* widget, QPoint at, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  sendMouse(widget, QEvent::MouseButtonPress, at, modifiers);
  sendMouse(widget, QEvent::MouseButtonRelease, at, modifiers);
}

inline void click(QWidget* widget, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  click(widget, widget->rect().center(), modifiers);
}

inline void doubleClick(QWidget* widget, QPoint at) {
  sendMouse(widget, QEvent::MouseButtonPress, at);
  sendMouse(widget, QEvent::MouseButtonRelease, at);
  sendMouse(widget, QEvent::MouseButtonDblClick, at);
  sendMouse(widget, QEvent::MouseButtonRelease, at);
}

inline void sendKey(QWidget* widget, int key, const QString& text = {}) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(widget, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(widget, &release);
}

inline void type(QWidget* widget, const QString& text) {
  for (QChar c : text) sendKey(widget, c.toUpper().unicode(), QString(c));
}

// A trace store and settings that belong to one test.
class TraceStoreFixture : public ::testing::Test {
 protected:
  TraceStoreFixture()
      : store(std::make_unique<TraceManager>(folder.path())),
        settings(std::make_unique<gui::AppSettings>(std::make_unique<QSettings>(
            settingsDir.filePath("Quorvex.conf"), QSettings::IniFormat))) {}

  std::vector<std::int64_t> storeIds() const {
    std::vector<std::int64_t> ids;
    for (const auto& shot : store->allTraceShots()) ids.push_back(shot->id);
    return ids;
  }

  test::TempFolder folder;
  QTemporaryDir settingsDir;
  std::unique_ptr<TraceManager> store;
  std::unique_ptr<gui::AppSettings> settings;
};

// The trace panel over that store, shown at its width in the window, with scripted alerts
// and file dialogs.
class TracePanelFixture : public TraceStoreFixture {
 protected:
  void makePanel() {
    panel = std::make_unique<gui::TraceManagerViewController>(*store, *settings);
    panel->setAlertAsker(alerts);
    panel->setExportFileChooser(chooser);
    panel->resize(200, 420);
    panel->show();
    settle();
  }

  std::shared_ptr<ScriptedAlertAsker> alerts = std::make_shared<ScriptedAlertAsker>();
  std::shared_ptr<ScriptedExportFileChooser> chooser =
      std::make_shared<ScriptedExportFileChooser>();
  std::unique_ptr<gui::TraceManagerViewController> panel;
};

// Writes `text` to the file `name` in `dir`; its path.
inline QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& text) {
  const QString path = dir.filePath(name);
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(text);
  return path;
}

}  // namespace qv::guitest
