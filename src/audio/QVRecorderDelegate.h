#pragma once
// Told when the recorder's capture channel starts and stops; calls come on the main
// thread (control calls) or the main queue (a device that went away).
#include <cstdint>

#include "audiolib/AudioTypes.h"

namespace qv {

class QVRecorder;

class QVRecorderDelegate {
 public:
  virtual ~QVRecorderDelegate() = default;
  virtual void recorderStartedWithChannel(QVRecorder& recorder, uint32_t channel) = 0;
  virtual void recorderStoppedWithChannel(QVRecorder& recorder, uint32_t channel) = 0;
  // The capture ended by itself (its device went away), after the stopped call; on the
  // main queue.
  virtual void recorderLostDevice(QVRecorder& /*recorder*/, CaptureEnd /*why*/) {}
};

}  // namespace qv
