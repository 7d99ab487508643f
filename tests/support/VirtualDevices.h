#pragma once
// The audio library as most tests want it: the virtual sound system alone (no ALSA or
// JACK), in real time or rendered on demand, and no rescan thread.
#include "audiolib/AudioLibrary.h"

namespace qv::test {

constexpr const char* kVirtualUID = "Virtual:Virtual Sound System";

inline AudioLibrary::Options virtualOnly(bool simulatedTime) {
  AudioLibrary::Options options;
  options.portAudio = false;
  options.simulatedTime = simulatedTime;
  options.rescanSeconds = 0;
  return options;
}

}  // namespace qv::test
