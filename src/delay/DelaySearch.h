#pragma once
// The delay finder's search, tick by tick: the audio taken in since the last tick joins the
// histories of both channels; a coarse search over the whole range (at about 6 kHz) lays the
// fine search's windows on the arrival, and the fine search (at full rate) reads the delay
// to a fraction of a sample. The result is Found only when the arrival stands out of the
// noise (peak over noise floor) and over any other arrival (peak over next), and lies within
// the range; otherwise Unsure, or OutOfRange for a clear arrival beyond it. A delay that
// jumps from one result to the next is a move: the search finds where in the audio the new
// delay begins to fit.
// Thread contract: none inside; one thread (the finder's ticks). push and search allocate
// nothing; setUp does.
#include <cstddef>
#include <cstdint>

#include "delay/CoarseDelaySearch.h"
#include "delay/DelayEstimate.h"
#include "delay/FineDelaySearch.h"
#include "delay/SampleHistory.h"
#include "delay/SearchScratch.h"
#include "platform/FftBackend.h"

namespace qv {

class DelaySearch {
 public:
  struct Settings {
    double rangeSeconds = 3.0;  // ± this much (at most 3 s)
    double bandLoHz = 0.0;      // a band to search in; lo >= hi: the whole band
    double bandHiHz = 0.0;
    bool coherenceWeighting = true;
    bool operator==(const Settings&) const = default;
  };
  // An arrival counts only this far over the noise floor (noise alone reaches about 4.7)
  // and over the next arrival.
  static constexpr double kFoundPeakToNoise = 10.0;
  static constexpr double kFoundPeakToNext = 1.25;
  // A change between two results larger than this (or than three times what the signal
  // resolves) is a move.
  static constexpr double kStepSeconds = 1e-4;

  DelaySearch() = default;
  // The searches point at this object's scratch.
  DelaySearch(const DelaySearch&) = delete;
  DelaySearch& operator=(const DelaySearch&) = delete;

  // Forgets all; the stream goes on counting from `position` (frames taken in so far).
  void setUp(uint32_t rate, const Settings& settings, int64_t position = 0);
  uint32_t rate() const { return rate_; }
  const Settings& settings() const { return settings_; }
  int32_t fineSize() const { return fine_.size(); }

  // Interleaved (measurement, reference) frames.
  void push(const float* frames, size_t count);
  int64_t position() const { return measurement_.end(); }

  DelayEstimate search();

 private:
  double rangeSamples() const { return settings_.rangeSeconds * rate_; }
  void searchCoarse();
  void noteStep(DelayEstimate& estimate);
  // The first frame from which the measurement fits a lag of `to` better than `from`.
  int64_t locateChange(double from, double to);

  uint32_t rate_ = 0;
  Settings settings_;
  SampleHistory measurement_, reference_;
  SearchScratch scratch_;  // shared by the coarse and the fine search
  CoarseDelaySearch coarse_;
  bool useCoarse_ = false;
  FineDelaySearch fine_;
  int64_t offset_ = 0;
  int64_t ticks_ = 0;
  DelayState coarseState_ = DelayState::Unsure;
  double coarseLag_ = 0.0;
  ImpulsePeak coarsePeak_;
  bool haveFound_ = false;
  bool fineHeld_ = false;  // the last tick's fine search found the arrival in its windows
  double lastFound_ = 0.0;
  fft::AlignedFloats segment_;  // one segment of the measurement, for locateChange
};

}  // namespace qv
