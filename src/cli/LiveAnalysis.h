#pragma once
// The live commands: the device list, a live measurement from a capture device in real
// time (optionally playing the pink-noise generator), and the demo on the virtual sound
// system.
#include <string>

#include "cli/Options.h"
#include "export/AnalysisResult.h"

namespace qv::cli {

// The exit status of a live run whose capture device went away before the time was up
// (its outputs hold what was measured until then).
constexpr int kExitDeviceLost = 3;

// Prints capture and playback devices; returns the exit status.
int listDevices();

struct LiveOutcome {
  AnalysisResult result;
  // Set when the capture ended early (the device went away): what was measured until then
  // is still in `result`.
  bool interrupted = false;
  double secondsMeasured = 0;
  // The device that went away and why ("its server stopped or it was unplugged").
  std::string lostDevice;
  std::string lostReason;
};

// Throws CliError for an unknown device or a channel it does not have, and
// std::runtime_error when the capture or the generator does not start or no audio arrives
// at all: there is then nothing to write.
LiveOutcome analyseLive(const Options& options);

// The options the demo runs with: the virtual sound system, its pink noise played through
// the generator, automatic delay, and the three outputs in the current folder.
Options demoOptions(const Options& given);

}  // namespace qv::cli
