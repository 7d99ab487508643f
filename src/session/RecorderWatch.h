#pragma once
// The recorder's delegate on behalf of an owner that may go first: the recorder holds its
// delegate weakly and may outlive the owner, so the owner detaches the watch as it goes
// and a late call finds nobody.
// Thread contract: the recorder calls it on the control thread (from its resume, pause and
// stop, and when the device goes away), where the owner also detaches it.
#include <functional>
#include <utility>

#include "audio/QVRecorderDelegate.h"

namespace qv::session {

class RecorderWatch final : public QVRecorderDelegate {
 public:
  // `changed(true)` when the capture channel really started, `changed(false)` when it
  // stopped; `lost` when it ended by itself (after `changed(false)`).
  explicit RecorderWatch(std::function<void(bool started)> changed,
                         std::function<void(CaptureEnd why)> lost = nullptr)
      : changed_(std::move(changed)), lost_(std::move(lost)) {}
  void detach() {
    changed_ = nullptr;
    lost_ = nullptr;
  }

  void recorderStartedWithChannel(QVRecorder&, uint32_t) override {
    if (changed_) changed_(true);
  }
  void recorderStoppedWithChannel(QVRecorder&, uint32_t) override {
    if (changed_) changed_(false);
  }
  void recorderLostDevice(QVRecorder&, CaptureEnd why) override {
    if (lost_) lost_(why);
  }

 private:
  std::function<void(bool)> changed_;
  std::function<void(CaptureEnd)> lost_;
};

}  // namespace qv::session
