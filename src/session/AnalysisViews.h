#pragma once
// The engines of the views beside the transfer function, run on the session's display
// tick: the spectrum analyser of both inputs (RTA), the spectrogram of the measurement
// input, the group delay of the averaged transfer function, and the sound level meter with
// its calibrator. Each engine exists only while its view is shown; with every view hidden
// a tick costs one test of a flag and publishes nothing.
//
// Thread contract:
// - Control thread: configure, the reset commands, calibrate and the listener. They are
//   handed to the tick through `post` (the update queue, or at once in a driven session),
//   so the engines are only ever touched by the tick's thread.
// - Tick thread: tick (after the transfer-function model's transform).
// - latest() on any thread, without locks (one writer's SnapshotPool); a Ref is held
//   briefly and goes before the views do.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "engine/GroupDelayAnalyser.h"
#include "engine/SoundLevelMeter.h"
#include "engine/Spectrogram.h"
#include "engine/SpectrumAnalyser.h"
#include "engine/SplCalibrator.h"
#include "platform/Clock.h"
#include "session/LevelTap.h"
#include "session/SnapshotPool.h"
#include "session/ViewsSnapshot.h"

namespace qv {
class TransferFunctionModel;
}

namespace qv::session {

class MainQueueSignal;

class AnalysisViews {
 public:
  using Pool = SnapshotPool<ViewsSnapshot, 4>;
  using Post = std::function<void(std::function<void()>)>;

  struct Config {
    struct Rta {
      bool shown = false;
      SpectrumAnalyser::Settings settings;
      bool operator==(const Rta&) const = default;
    } rta;
    struct Spectrogram {
      bool shown = false;
      qv::Spectrogram::Settings settings;
      bool operator==(const Spectrogram&) const = default;
    } spectrogram;
    struct GroupDelay {
      bool shown = false;
      int64_t smoothing = GroupDelayAnalyser::kDefaultSmoothing;  // 1/S octave
      float coherenceThreshold = GroupDelayAnalyser::kDefaultCoherenceThreshold;
      // Adds the delay in force back, so the curve is the system's own group delay
      // whatever delay is compensated.
      bool includesCompensation = true;
      bool operator==(const GroupDelay&) const = default;
    } groupDelay;
    struct Level {
      bool shown = false;
      Weighting weighting = Weighting::A;
      TimeWeighting timeWeighting = TimeWeighting::Fast;
      bool operator==(const Level&) const = default;
    } level;
    // Per input (measurement, reference): decibels from dBFS to dB SPL; none: uncalibrated.
    std::array<std::optional<double>, 2> calibration;
    bool operator==(const Config&) const = default;
  };

  struct Format {
    uint32_t sampleRate = 0;
    int32_t fftSize = 0;
    int32_t octResolution = 0;  // of the transfer function's axis (group delay)
    int32_t bands = 0;          // of that axis
    double tickInterval = 0.0;  // seconds between display ticks (spectrogram length)
  };

  // `post` runs a function on the tick's thread between ticks; `signal`: whether published
  // snapshots wake the control thread (not in a driven session).
  AnalysisViews(const Format& format, Post post, std::shared_ptr<Clock> clock, bool signal);
  ~AnalysisViews();
  AnalysisViews(const AnalysisViews&) = delete;
  AnalysisViews& operator=(const AnalysisViews&) = delete;

  // ---- control thread ----
  // Invalid engine settings are a programming error (callers check what they read).
  void configure(const Config& config);
  const Config& config() const { return config_; }
  void resetRtaPeaks();
  void resetRtaAverages();
  void resetLeq();
  // Measures a calibrator on `input` (0 measurement, 1 reference) from the next tick on;
  // the result shows in the snapshots' calibration part under the serial returned.
  uint64_t calibrate(int input, const SplCalibrator::Settings& settings);
  // A new snapshot (coalesced: take latest()). Set before the ticks that follow it.
  void setListener(std::function<void()> listener);
  static bool isValid(const Config& config);

  // ---- the tick ----
  // Runs the shown views' engines on what the model's last transform analysed.
  void tick(const TransferFunctionModel& model);

  // ---- any thread ----
  Pool::Ref latest() const { return pool_.acquire(); }
  const Pool& pool() const { return pool_; }
  // The consumer the recorder (or the caller) feeds for the sound level meter.
  const std::shared_ptr<LevelTap>& levelTap() const { return levelTap_; }

 private:
  // Tick thread.
  void apply(const Config& config);
  void applyCalibration();
  void startCalibration(uint64_t serial, int input, const SplCalibrator::Settings& settings);
  void measureLevels();
  void publish();
  bool anyEngine() const;

  Format format_;
  Post post_;
  std::shared_ptr<Clock> clock_;
  Config config_;  // control thread: the configuration asked for

  // Tick thread: the engines and the configuration they follow.
  Config applied_;
  std::unique_ptr<SpectrumAnalyser> rta_;
  std::unique_ptr<qv::Spectrogram> spectrogram_;
  std::unique_ptr<GroupDelayAnalyser> groupDelay_;
  std::unique_ptr<SoundLevelMeter> meter_;
  std::unique_ptr<SplCalibrator> calibrator_;
  uint64_t rtaFrames_ = 0;
  uint64_t calibrationSerial_ = 0;
  bool calibrationReported_ = true;  // the final state has been published at least once
  std::atomic<bool> active_{false};  // some engine exists (the tick's one test)
  uint64_t serial_ = 0;

  std::atomic<uint64_t> requestedCalibrations_{0};  // control thread hands out serials
  std::shared_ptr<LevelTap> levelTap_;
  std::function<void()> listener_;
  std::unique_ptr<MainQueueSignal> signal_;
  std::atomic<bool> signalling_{false};
  Pool pool_;
};

}  // namespace qv::session
