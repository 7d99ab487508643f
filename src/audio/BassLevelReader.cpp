#include "audio/BassLevelReader.h"

namespace qv {

BassLevelReader::BassLevelReader(AudioLibrary& library) : library_(library) {}

void BassLevelReader::setChannel(uint32_t channel) {
  _channel = channel;
  resetLevels();
}

void BassLevelReader::resetLevels() {
  _levels[0] = _levels[1] = 0;
  _tempLevels[0] = _tempLevels[1] = 0;
}

void BassLevelReader::updateLevels() {
  if (!library_.channelGetLevel(_channel, _tempLevels, static_cast<float>(_updateInterval),
                                _flag)) {
    _tempLevels[0] = _tempLevels[1] = 0;
  }
  for (int i = 0; i < 2; ++i) {
    const float v = _tempLevels[i];
    // Peaks show at once; falling levels decay by 5 % of the gap per reading.
    _levels[i] = v > _levels[i] ? v : 0.05f * v + 0.95f * _levels[i];
  }
}

}  // namespace qv
