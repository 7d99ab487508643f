#pragma once
// Told when the recorder's capture channel starts and stops; calls come on the main
// thread (control calls) or the main queue (a device that went away).
#include <cstdint>

namespace qv {

class QVRecorder;

class QVRecorderDelegate {
 public:
  virtual ~QVRecorderDelegate() = default;
  virtual void recorderStartedWithChannel(QVRecorder& recorder, uint32_t channel) = 0;
  virtual void recorderStoppedWithChannel(QVRecorder& recorder, uint32_t channel) = 0;
};

}  // namespace qv
