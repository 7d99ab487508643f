#include "cli/LiveAnalysis.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "audio/GeneratorController.h"
#include "audio/QVRecorder.h"
#include "audio/QVRecorderDelegate.h"
#include "audio/QXBassHelper.h"
#include "audiolib/AudioLibrary.h"
#include "audiolib/backends/virtual/VirtualSoundSystem.h"
#include "cli/AnalysisSession.h"
#include "cli/CliError.h"
#include "platform/MainQueue.h"

namespace qv::cli {
namespace {

constexpr uint32_t kAnalysisRate = 44100;
constexpr double kDisplayInterval = 1.0 / 30.0;
constexpr double kFinderInterval = 0.1;

// Counts what the recorder delivers, so the summary can say how much was analysed.
class FrameCounter final : public QVRecorderConsumer {
 public:
  void setInputChannelCountSamplingRateAudioDataTransport(
      uint32_t channels, uint32_t rate, std::weak_ptr<QVAudioDataTransport> transport) override {
    channels_ = channels;
    rate_ = rate;
    transport_ = std::move(transport);
  }
  void getData(const void*, uint32_t byteSize) override {
    frames_.fetch_add(byteSize / kBytesPerFrame, std::memory_order_relaxed);
  }
  std::weak_ptr<QVAudioDataTransport> audioDataTransport() const override { return transport_; }
  void setAudioDataTransport(std::weak_ptr<QVAudioDataTransport> t) override {
    transport_ = std::move(t);
  }
  uint32_t inputChannelCount() const override { return channels_; }
  uint64_t outputChannelCount() const override { return 0; }
  uint64_t samplingRate() const override { return rate_; }
  uint32_t requiredMinimumDataSize() const override { return 0; }
  int64_t frames() const { return frames_.load(std::memory_order_relaxed); }

 private:
  uint32_t channels_ = 0, rate_ = 0;
  std::weak_ptr<QVAudioDataTransport> transport_;
  std::atomic<int64_t> frames_{0};
};

class StopWatcher final : public QVRecorderDelegate {
 public:
  void recorderStartedWithChannel(QVRecorder&, uint32_t) override {}
  void recorderStoppedWithChannel(QVRecorder&, uint32_t) override { stopped = true; }
  bool stopped = false;  // main queue only
};

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
                   std::to_string(options.ref) + " is out of range");
  if (options.generatorDevice && !findDevice(library.playbackDevices(), *options.generatorDevice))
    throw CliError("no playback device with UID '" + *options.generatorDevice +
                   "' (see 'devices')");

  auto watcher = std::make_shared<StopWatcher>();
  auto recorder = QVRecorder::initWithDeviceUUID(options.inputDevice, 0, kAnalysisRate, false,
                                                 watcher, library);
  if (!recorder) throw std::runtime_error("the recorder could not be created");
  const uint32_t rate = recorder->samplingRate() ? recorder->samplingRate() : kAnalysisRate;

  AnalysisSession session(rate, options, Clock::system());
  auto counter = std::make_shared<FrameCounter>();
  recorder->setChannelMap({options.meas, options.ref});
  for (const auto& consumer : session.consumers()) recorder->addConsumer(consumer);
  recorder->addConsumer(counter);
  session.announce(rate);

  std::unique_ptr<GeneratorController> generator;
  if (options.generatorDevice) {
    generator = std::make_unique<GeneratorController>(library);
    generator->setDeviceHandle(
        QXBassHelper(library).playbackDeviceHandleForUUID(*options.generatorDevice));
    generator->start();
    // Measuring without the stimulus asked for would describe nothing.
    if (!generator->isOn())
      throw std::runtime_error("the generator could not start on '" + *options.generatorDevice +
                               "'; nothing written");
  }
  recorder->resumeRec();
  if (recorder->inputChannel() == 0 || !library.channelIsActive(recorder->inputChannel()))
    throw std::runtime_error("the capture on '" + options.inputDevice +
                             "' could not start; nothing written");

  using clock = std::chrono::steady_clock;
  const auto start = clock::now();
  const auto end = start + std::chrono::duration_cast<clock::duration>(
                               std::chrono::duration<double>(options.seconds));
  auto nextDisplay = start, nextFinder = start;
  const auto displayStep =
      std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(kDisplayInterval));
  const auto finderStep =
      std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(kFinderInterval));
  LiveOutcome outcome;
  while (clock::now() < end) {
    dispatch::mainQueue().drain();
    if (watcher->stopped) {
      outcome.interrupted = true;
      break;
    }
    const auto now = clock::now();
    if (now >= nextDisplay) {
      session.displayTick();
      nextDisplay += displayStep;
      if (nextDisplay < now) nextDisplay = now + displayStep;  // never queue up missed ticks
    }
    if (now >= nextFinder) {
      session.finderTick();
      nextFinder += finderStep;
      if (nextFinder < now) nextFinder = now + finderStep;
    }
    dispatch::mainQueue().runUntil(
        [&] { return watcher->stopped; },
        std::chrono::duration<double>(std::min(nextDisplay, nextFinder) - clock::now()).count());
  }
  outcome.secondsMeasured = std::chrono::duration<double>(clock::now() - start).count();

  recorder->stopRec();
  if (generator) generator->stop();
  for (const auto& consumer : session.consumers()) recorder->removeConsumer(consumer);
  recorder->removeConsumer(counter);
  dispatch::mainQueue().drain();
  if (counter->frames() == 0) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", outcome.secondsMeasured);
    throw std::runtime_error("no audio arrived from '" + options.inputDevice + "' in " + seconds +
                             " s; nothing written");
  }

  outcome.result = session.result();
  outcome.result.framesAnalysed = counter->frames();
  outcome.result.source = options.inputDevice;
  return outcome;
}

}  // namespace qv::cli
