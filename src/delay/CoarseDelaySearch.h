#pragma once
// Where the arrival lies within a long range (up to ±3 s) at any rate up to 192 kHz, to
// a few samples: both channels lowered to about 6 kHz, the reference's middle (Hann) held
// against the whole measurement window, which reaches the range further on either side, so
// that every lag within the range is a linear correlation and none wraps round. The cross
// spectrum is whitened (each bin counts by its phase alone, so that no band dominates) and
// read as an analytic impulse, whose envelope marks the arrival whatever the band.
// Thread contract: none inside; one thread (the finder's ticks). push and search allocate
// nothing.
#include <cstddef>
#include <cstdint>

#include "delay/Decimator.h"
#include "delay/ImpulsePeak.h"
#include "delay/SampleHistory.h"
#include "delay/SearchScratch.h"
#include "platform/FftBackend.h"

namespace qv {

class CoarseDelaySearch {
 public:
  static constexpr double kMaxRangeSeconds = 3.0;

  struct Result {
    ImpulsePeak peak;
    double lag = 0.0;  // full-rate samples, measurement behind the reference
    bool inRange = false;
  };

  // Makes the decimators, the histories and the plans for a range of ±rangeSeconds; the
  // spectra and the impulse of a search go to `shared` (which must outlive the search).
  void setUp(uint32_t rate, double rangeSeconds, SearchScratch& shared);
  int factor() const { return measurement_.factor(); }
  int32_t size() const { return n_; }
  // The range in full-rate samples.
  double rangeSamples() const { return range_ * static_cast<double>(factor()); }
  // Hz; lo >= hi means the whole band that the lower rate carries.
  void setBand(double loHz, double hiHz);
  void reset() { frames_ = 0; }

  // Interleaved (measurement, reference) frames, as the recorder delivers them.
  void push(const float* frames, size_t count);
  Result search();

 private:
  uint32_t rate_ = 0;
  double lowRate_ = 0.0;
  int32_t n_ = 0;
  int32_t range_ = 0;  // in low-rate samples
  int64_t frames_ = 0;
  Decimator measurement_, reference_;
  SampleHistory measurementLow_, referenceLow_;
  fft::AlignedFloats decimated_;  // one push's worth
  fft::AlignedFloats hann_, work_, crossRe_, crossIm_, mask_, spectrum_;
  SearchScratch* shared_ = nullptr;
};

}  // namespace qv
