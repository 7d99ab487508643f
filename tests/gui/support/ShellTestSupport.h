#pragma once
// Helpers of the application shell's tests: a settings store of the test's own, an
// audio library that lists only the virtual sound system, a measurement view stand-in
// that counts what the coordinator asks of it, and the log lines written meanwhile.
// The audio library's header comes before Qt's, whose `emit` macro would eat a method
// name: include this file first.
#include "audiolib/AudioLibrary.h"
// (keep the order)
#include <QSettings>
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include "gui/app/AnalysisControl.h"
#include "gui/app/AppSettings.h"
#include "support/LogCapture.h"
#include "support/VirtualDevices.h"

namespace qv::guitest {

using test::kVirtualUID;
inline AudioLibrary::Options virtualOnlyLibrary() { return test::virtualOnly(false); }

// A settings store in a folder of its own.
class TestSettings {
 public:
  TestSettings() { open(); }
  gui::AppSettings& operator*() { return *settings_; }
  gui::AppSettings* operator->() { return settings_.get(); }
  gui::AppSettings* get() { return settings_.get(); }
  // A new settings object over the same file, as at the next start.
  void reopen() {
    settings_->sync();
    settings_.reset();
    open();
  }

 private:
  void open() {
    settings_ = std::make_unique<gui::AppSettings>(
        std::make_unique<QSettings>(dir_.filePath("Quorvex.conf"), QSettings::IniFormat));
  }
  QTemporaryDir dir_;
  std::unique_ptr<gui::AppSettings> settings_;
};

class FakeAnalysis final : public gui::AnalysisControl {
 public:
  void startAnalysis() override {
    ++starts;
    running = true;
  }
  void stop() override {
    ++stops;
    running = false;
  }
  bool started() const override { return running; }
  void clearAllTraces() override {}
  void setDeviceManager(std::shared_ptr<QXDeviceManager> m) override { manager = std::move(m); }

  int starts = 0;
  int stops = 0;
  bool running = false;
  std::shared_ptr<QXDeviceManager> manager;
};

using test::LogCapture;

}  // namespace qv::guitest
