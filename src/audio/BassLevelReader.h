#pragma once
// Reads the two input levels of a capture channel: a peak per side that rises at once
// and falls back smoothly. Thread contract: main queue only.
#include <cstdint>

#include "audiolib/AudioLibrary.h"

namespace qv {

class BassLevelReader {
 public:
  explicit BassLevelReader(AudioLibrary& library = AudioLibrary::shared());

  void setChannel(uint32_t channel);
  uint32_t channel() const { return _channel; }
  void updateLevels();
  void resetLevels();
  const float* levels() const { return _levels; }
  int32_t count() const { return _count; }
  double updateInterval() const { return _updateInterval; }
  void setUpdateInterval(double seconds) { _updateInterval = seconds; }

 private:
  AudioLibrary& library_;
  uint32_t _flag = kLevelStereo;
  float _tempLevels[2] = {0, 0};
  uint32_t _channel = 0;
  int32_t _count = 2;
  float _levels[2] = {0, 0};
  double _updateInterval = 0.0334;
};

}  // namespace qv
