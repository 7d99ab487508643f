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
  // stopped.
  explicit RecorderWatch(std::function<void(bool started)> changed)
      : changed_(std::move(changed)) {}
  void detach() { changed_ = nullptr; }

  void recorderStartedWithChannel(QVRecorder&, uint32_t) override {
    if (changed_) changed_(true);
  }
  void recorderStoppedWithChannel(QVRecorder&, uint32_t) override {
    if (changed_) changed_(false);
  }

 private:
  std::function<void(bool)> changed_;
};

}  // namespace qv::session
