#pragma once
// The measurement view tests' set-up: empty settings and trace store, the virtual sound
// system as both devices, an alert asker that answers for the user, captured log lines,
// and key presses that go through Qt's shortcut machinery as typed keys do.
// The audio headers come first: they declare a method named `emit`, a macro in Qt.
// clang-format off
#include "audio/QXDeviceManager.h"
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
#include "gui/support/GuiTestSupport.h"
#include "support/LogCapture.h"
#include "traces/TraceManager.h"
// clang-format on

namespace qv::gui::test {

using guitest::typeKey;

inline const std::string kVirtualDevice = "Virtual:Virtual Sound System";

struct AnsweringAsker final : AlertAsker {
  bool confirm(const QString& title, const QString& text) override {
    questions.push_back(title + " | " + text);
    return answer;
  }
  void inform(const QString& title, const QString& text) override {
    messages.push_back(title + " | " + text);
  }
  bool answer = false;
  QStringList questions;
  QStringList messages;
};

class MainViewFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    settings().defaults().clear();
    settings().setRecordingDeviceUUID(std::nullopt);
    settings().setPlaybackDeviceUUID(std::nullopt);
    traces().clearAll();
  }
  void TearDown() override {
    view_.reset();
    guitest::processEventsFor(20);
  }

  static AppSettings& settings() { return AppSettings::set(); }
  static TraceManager& traces() { return TraceManager::shared(); }

  // What the coordinator chooses on a machine with only the virtual sound system: input 0
  // is the microphone, input 1 the reference.
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

  QVMainViewController& startedView() {
    useVirtualDevices();
    auto& view = makeView();
    bool scanned = false;
    view.setDeviceManager(
        QXDeviceManager::initWithDelegateInitialScanCompletion(nullptr, [&] { scanned = true; }));
    EXPECT_TRUE(guitest::processEventsUntil([&] { return scanned; }, 10000));
    view.startAnalysis();
    return view;
  }

  static void storeTrace() {
    std::vector<float> curves(3 * 16, 0.5f);
    ASSERT_NE(traces().newTraceWithNameFloatBufferLengthCountCommentUserInfo("t", curves.data(), 16,
                                                                             3, ""),
              nullptr);
  }
  static bool tracesBecome(size_t count) {
    return guitest::processEventsUntil([&] { return traces().allTraceShots().count() == count; },
                                       5000);
  }

  bool logged(const std::string& text) const { return log_.contains(text); }

  // As typed: shortcuts first, then the focused widget.

  std::unique_ptr<QVMainViewController> view_;
  AnsweringAsker* asker_ = nullptr;
  qv::test::LogCapture log_;  // the recorder and the finder log from their own threads
};

}  // namespace qv::gui::test
