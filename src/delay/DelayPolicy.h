#pragma once
// Which of the finder's results become the compensation, and how. A result is inserted only
// when it was found (never when unsure or out of range), confirmed by consecutive results
// that agree with it, and different from the compensation in effect by more than the
// measurement resolves (four times the jitter of recent results, and no less than 2° at the
// top of the coherent band). How the averaged frames take the change follows from what the
// finder saw: a jump it located in the audio restarts the average from there (the path
// moved); a delay that keeps moving (clock drift, a walking source) keeps the frames as they
// were compensated; a steady delay whose estimate improved turns them (the path is as it was).
// Auto holds a steady delay; Track follows one that moves, with fewer confirmations.
// Thread contract: none inside; one thread (the one that receives the finder's results).
#include <array>
#include <cstdint>

#include "delay/DelayEstimate.h"
#include "engine/DelayCompensation.h"

namespace qv {

struct DelayDecision {
  bool insert = false;
  // The compensation to set, in milliseconds: positive holds back the reference (the
  // measurement lags), as the data source counts it.
  double delayMs = 0.0;
  double delaySamples = 0.0;
  DelayChange change = DelayChange::Keep;
  // For a restart: the first frame (counted as the finder's positions count them) from which
  // the measurement carries the new path, or kRestartNow.
  int64_t restartFrom = 0;
  static constexpr int64_t kRestartNow = INT64_MIN;
};

class DelayPolicy {
 public:
  enum class Mode { Manual, Auto, Track };
  struct Settings {
    Mode mode = Mode::Auto;
    // The display's frame, in samples: a change that is a large part of it leaves the frames
    // averaged before of little use, so they go.
    int32_t displayFrame = 32768;
  };
  static constexpr int kAutoConfirmations = 3;
  static constexpr int kTrackConfirmations = 2;
  // A change larger than this part of the display's frame restarts the average.
  static constexpr double kLargeChange = 0.02;

  DelayPolicy();
  explicit DelayPolicy(Settings settings);

  void setMode(Mode mode);
  Mode mode() const { return settings_.mode; }
  // The compensation in effect, when it was set by other means (by hand); in ms.
  void setApplied(double delayMs, uint32_t rate);
  double appliedMs() const { return appliedMs_; }
  bool hasApplied() const { return hasApplied_; }

  DelayDecision consider(const DelayEstimate& estimate);

  int changes() const { return changes_; }
  DelayState state() const { return state_; }
  // The tolerance last worked out, in samples: changes smaller than it are not made.
  double toleranceSamples() const { return tolerance_; }

 private:
  static constexpr size_t kHistory = 16;
  struct Found {
    double position;  // the estimate's midpoint
    double delay;
  };
  double jitter() const;
  bool moving() const;
  // How the average takes a change to `target`, and from where a restart begins.
  DelayChange changeFor(double target, int64_t* restartFrom) const;

  Settings settings_;
  DelayState state_ = DelayState::Unsure;
  bool hasApplied_ = false;
  double appliedMs_ = 0.0;
  double appliedSamples_ = 0.0;
  int changes_ = 0;
  double tolerance_ = 0.0;

  // Recent found results and the differences between neighbours (steps left out).
  std::array<Found, kHistory> found_{};
  size_t foundCount_ = 0;
  std::array<double, kHistory> differences_{};
  size_t differenceCount_ = 0;
  bool havePrevious_ = false;
  double previous_ = 0.0;

  // The run of agreeing results being confirmed.
  int runLength_ = 0;
  double runSum_ = 0.0;
  double runLatest_ = 0.0;
  bool runStep_ = false;
  double runStepFrom_ = 0.0;
  int64_t runStepPosition_ = 0;
};

}  // namespace qv
