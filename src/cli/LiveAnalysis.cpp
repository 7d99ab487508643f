#include "cli/LiveAnalysis.h"

#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "audiolib/AudioLibrary.h"
#include "audiolib/backends/virtual/VirtualSoundSystem.h"
#include "cli/AnalysisSession.h"
#include "cli/CliError.h"
#include "cli/CurveOptions.h"
#include "engine/AnalysisConstants.h"
#include "platform/MainQueue.h"

namespace qv::cli {
namespace {

// The live program's tick rates, kept whatever the machine.
constexpr double kDisplayInterval = 1.0 / 30.0;
constexpr double kFinderInterval = 0.1;

const AudioDeviceInfo* findDevice(const std::vector<AudioDeviceInfo>& devices,
                                  const std::string& uid) {
  for (const auto& d : devices)
    if (d.driver == uid) return &d;
  return nullptr;
}

}  // namespace

int listDevices() {
  AudioLibrary& library = AudioLibrary::shared();
  auto print = [](const char* kind, const std::vector<AudioDeviceInfo>& devices) {
    for (const auto& d : devices) {
      if (d.driver.empty()) continue;  // the "No sound" entry of the playback list
      std::printf("%-8s %-40s in %2d  out %2d  %6.0f Hz%s%s  %s\n", kind, d.driver.c_str(),
                  d.inputChannels, d.outputChannels, d.defaultRate,
                  d.isDefaultInput ? "  default-input" : "",
                  d.isDefaultOutput ? "  default-output" : "", d.name.c_str());
    }
  };
  std::printf("%-8s %-40s %s\n", "kind", "UID", "channels, rate, defaults, name");
  print("capture", library.recordingDevices());
  print("playback", library.playbackDevices());
  return 0;
}

Options demoOptions(const Options& given) {
  Options o = given;
  o.command = Command::Live;
  o.inputDevice = std::string(VirtualSoundSystem::kHostApi) + ":" + VirtualSoundSystem::kDeviceName;
  o.generatorDevice = o.inputDevice;
  o.meas = 0;
  o.ref = 1;
  o.seconds = 8;
  o.autoDelay = true;
  if (!o.out) o.out = "demo.csv";
  if (!o.json) o.json = "demo.json";
  if (!o.svg) o.svg = "demo.svg";
  return o;
}

LiveOutcome analyseLive(const Options& options) {
  AudioLibrary& library = AudioLibrary::shared();
  const auto inputs = library.recordingDevices();
  const AudioDeviceInfo* input = findDevice(inputs, options.inputDevice);
  if (!input)
    throw CliError("no capture device with UID '" + options.inputDevice + "' (see 'devices')");
  if (options.meas >= input->inputChannels || options.ref >= input->inputChannels)
    throw CliError("'" + options.inputDevice + "' has " + std::to_string(input->inputChannels) +
                   " input channel(s); --meas " + std::to_string(options.meas) + " --ref " +
                   std::to_string(options.ref) + " is out of range (channels are counted from 0)");
  if (options.generatorDevice && !findDevice(library.playbackDevices(), *options.generatorDevice))
    throw CliError("no playback device with UID '" + *options.generatorDevice +
                   "' (see 'devices')");

  session::MeasurementSession::Config config = sessionConfig(options, kAnalysisSampleRate);
  config.displayInterval = kDisplayInterval;
  config.finderInterval = kFinderInterval;
  config.library = &library;
  session::MeasurementSession session(config);
  applyDelayOptions(session, options);
  applyViewOptions(session, options);
  applyCurveOptions(session, options);
  session.setChannelMap(options.meas, options.ref);
  RunLog log(session, options);
  // The display stops by itself only when the device goes away; a run ends there.
  bool stopped = false;
  session.setRunningListener([&](bool running) { stopped = stopped || !running; });
  session.setResumeWhenDeviceReturns(false);
  LiveOutcome outcome;
  session.setDeviceListener([&](const session::DeviceNotice& notice) {
    if (notice.kind != session::DeviceNotice::Kind::InputLost) return;
    outcome.lostDevice = notice.device;
    outcome.lostReason = notice.reason;
  });
  if (!session.openInput(options.inputDevice))
    throw std::runtime_error("the recorder could not be created");

  if (options.generatorDevice && !session.setGeneratorOn(true, *options.generatorDevice)) {
    // Measuring without the stimulus asked for would describe nothing.
    throw std::runtime_error("the generator could not start on '" + *options.generatorDevice +
                             "'; nothing written");
  }
  session.startCapture(options.inputDevice);
  const uint32_t channel = session.inputChannel();
  if (channel == 0 || !library.channelIsActive(channel))
    throw std::runtime_error("the capture on '" + options.inputDevice +
                             "' could not start; nothing written");
  session.startDelayFinder();

  // Ticks run on the session's own queues; this thread applies the finder's readings as
  // they come through the main queue, until the time is up or the device goes away.
  using clock = std::chrono::steady_clock;
  const auto start = clock::now();
  if (options.snapshotEvery) {
    session.setDisplayListener(
        [&] { log.afterDisplayTick(std::chrono::duration<double>(clock::now() - start).count()); });
  }
  dispatch::mainQueue().runUntil([&] { return stopped; }, options.seconds);
  outcome.interrupted = stopped;
  outcome.secondsMeasured = std::chrono::duration<double>(clock::now() - start).count();

  session.setRunningListener(nullptr);
  session.setDisplayListener(nullptr);
  session.setDeviceListener(nullptr);
  session.stopCapture();
  session.setGeneratorOn(false, std::string());
  session.releaseDelayFinder();
  dispatch::mainQueue().drain();
  if (session.framesDelivered() == 0) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", outcome.secondsMeasured);
    throw std::runtime_error("no audio arrived from '" + options.inputDevice + "' in " + seconds +
                             " s; nothing written");
  }

  outcome.result = resultOf(session, options);
  log.fill(outcome.result);
  outcome.result.source = options.inputDevice;
  return outcome;
}

}  // namespace qv::cli
