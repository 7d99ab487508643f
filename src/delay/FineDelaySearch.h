#pragma once
// The delay at full rate, to a fraction of a sample, around a lag found beforehand: the
// reference and measurement windows are laid so that the lag sought is near zero, both
// Hann-windowed over the middle half of the transform (a linear correlation, so a lag never
// wraps round to another), their spectra averaged from tick to tick, and the transfer
// function, weighted by its coherence (and by a band, if one is set), turned into an
// analytic impulse whose highest arrival is read between samples.
// Thread contract: none inside; one thread (the finder's ticks). search allocates nothing.
#include <cstdint>

#include "delay/ImpulsePeak.h"
#include "delay/SampleHistory.h"
#include "delay/SearchScratch.h"
#include "platform/FftBackend.h"

namespace qv {

class FineDelaySearch {
 public:
  struct Result {
    ImpulsePeak peak;
    // The arrival relative to the offset searched around, in samples (between samples);
    // lies within ±size()/2.
    double lag = 0.0;
    bool inverted = false;
    double meanCoherence = 0.0;
    double topFrequencyHz = 0.0;
    // The middle of the measurement windows averaged, weighted as the average weighs them.
    double midpoint = 0.0;
  };

  // Transform length 32768 up to 48 kHz, 65536 above; makes the plans. Forgets all. The
  // spectra of a search and its analytic impulse go to `shared` (which must outlive it).
  void setUp(uint32_t rate, SearchScratch& shared);
  int32_t size() const { return n_; }
  // The transform (and impulse) length setUp chooses for a rate.
  static int32_t sizeFor(uint32_t rate) { return rate <= 48000 ? 32768 : 65536; }
  uint32_t rate() const { return rate_; }
  // Forgets the averages (the windows move to another lag).
  void reset() { frames_ = 0; }
  int64_t averaged() const { return frames_; }

  // Hz; lo >= hi means the whole band. With a band, the arrival is the envelope's peak (a
  // band-limited impulse swings, and its largest swing is not a steady mark). Forgets the
  // averages.
  void setBand(double loHz, double hiHz);
  bool hasBand() const { return bandLo_ < bandHi_; }
  void setCoherenceWeighting(bool on) { coherenceWeighting_ = on; }

  // Searches the newest audio of both histories (which end at the same index), the
  // reference read `offset` samples earlier than the measurement.
  Result search(const SampleHistory& measurement, const SampleHistory& reference, int64_t offset);

  // The impulse of the latest search, size() points from a lag of −size()/2 (relative to
  // the offset), scaled so that a pure delay of gain g peaks at g.
  const float* impulse() const { return impulse_.get(); }

 private:
  void window(const SampleHistory& history, int64_t start, float* spectrum);
  // Where the measurement window that begins at `start` has its weight's middle.
  double windowMiddle(int64_t start, int64_t begin) const;
  // z(t) and its first two derivatives (when dz and ddz are given), from the weighted
  // spectrum.
  void evaluate(double t, double z[2], double dz[2], double ddz[2]) const;
  // The spectrum is zero from this bin on (above the band): a multiple of four, or n/2 + 1.
  int32_t nonZeroEnd() const { return lastBin_ < n_ / 2 ? (lastBin_ + 4) / 4 * 4 : n_ / 2 + 1; }
  // The peak (of the envelope, or of the real part) near sample `index`, by Newton's steps;
  // `real` gets the impulse's real part there.
  double refine(int32_t index, bool envelope, bool negative, double* real) const;

  uint32_t rate_ = 0;
  int32_t n_ = 0;
  int64_t frames_ = 0;
  double midpoint_ = 0.0;
  double bandLo_ = 0.0, bandHi_ = 0.0;
  bool coherenceWeighting_ = true;
  int32_t firstBin_ = 0, lastBin_ = 0;            // bins that take part
  int32_t weighFrom_ = 0, weighTo_ = 0;           // bins averaged and weighed
  fft::AlignedFloats hann_;                       // n/2
  fft::AlignedFloats work_;                       // n
  fft::AlignedFloats sxx_, syy_, sxyRe_, sxyIm_;  // n/2 + 1
  fft::AlignedFloats mask_;                       // n/2 + 1: the band
  fft::AlignedFloats spectrum_;  // 2n: one-sided weighted transfer function, then zeros
  fft::AlignedFloats impulse_;   // n
  // Reference and measurement spectra (x, y), analytic impulse, envelope, scratch.
  SearchScratch* shared_ = nullptr;
};

}  // namespace qv
