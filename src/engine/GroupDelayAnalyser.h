#pragma once
// Group delay of the averaged transfer function, in milliseconds, on the transfer
// function's own log-frequency axis, blanked (NaN) where the coherence is low.
// The group delay is the slope of the unwrapped phase, -dφ/dω, taken from the averaged
// cross spectrum G at the FFT's own resolution. Each band fits the slope over its smoothing
// span: the least-squares slope of the phase is a sum of the bin-to-bin steps with a
// parabolic taper, so the band adds up the products G(k+L)·conj(G(k)) with that taper and
// takes the angle of the sum; no phase is ever unwrapped, and a bin of low cross power
// weighs little instead of turning the result by a whole turn.
// Steps of L = 3 bins carry the estimate: the window's squared shape has no component
// beyond two bins, so the noise of G at bins three apart is uncorrelated, while the noise
// of neighbouring bins is correlated and pulls their product towards zero phase: steps of
// one bin read a 160-sample delay as 157 samples after ten seconds of averaging at 30
// ticks a second, and as 110 from a single frame. One-bin steps still decide which turn a
// three-bin step is on, so delays up to 1/(2Δf) (341 ms at 48 kHz and 32768 points) read
// unambiguously. The span is never narrower than kMinSpanBins bins: at low frequencies
// the noise of a single step is as large as the step, and the slope's error falls with
// the span to the power 1.5.
// Differencing the displayed phase instead would alias as soon as the phase turns by half
// a turn between two bands (at 96 bands per 0.3 decade and 48 kHz, any delay above 2.9 ms
// at 20 kHz), and the smoothing of a steep phase bends it.
// Coherence for blanking is the cross-power-weighted mean of each bin's own coherence
// over the same span: unlike the band coherence of summed spectra it does not fall when
// an uncompensated delay turns the phase within the band.
// Thread contract: constructed, configured and processed on one thread (the session's
// tick); a tick allocates nothing; values() is read on that thread until the next process.
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/LinToLogTransformer.h"
#include "engine/TFDataSource.h"

namespace qv {

class GroupDelayAnalyser {
 public:
  static constexpr float kDefaultCoherenceThreshold = 0.5f;
  static constexpr int64_t kDefaultSmoothing = 24;
  static constexpr int32_t kMinSpanBins = 16;

  // The axis of a transfer-function model of the same FFT size, rate and resolution.
  GroupDelayAnalyser(int32_t fftSize, int64_t samplingRate, int32_t octResolution);

  // 1/S-octave span over which each band's delay is averaged; never narrower than the
  // band itself. S from 1 to 96.
  void setSmoothing(int64_t smoothing);
  int64_t smoothing() const { return smoothing_; }
  // Bands whose coherence (0 … 1) lies below this are blanked.
  void setCoherenceThreshold(float threshold) { threshold_ = threshold; }
  float coherenceThreshold() const { return threshold_; }
  // Milliseconds added to every value: the delay the data source compensates, so that the
  // curve shows the system's own delay; 0 shows the delay left after compensation.
  void setAddedDelayMs(float ms) { addedMs_ = ms; }
  float addedDelayMs() const { return addedMs_; }

  // One tick from the averaged spectra, whose cross spectrum is conj(reference)·measurement
  // (the data source's channels swapped, as the live model runs it). False, and nothing
  // changes, when the bins do not match the FFT size.
  bool process(const TFDataSource::AveragedSpectra& spectra);

  const float* values() const { return values_.data(); }
  const float* coherence() const { return coherence_.data(); }
  int32_t bandCount() const { return axis_.bandCount(); }
  float frequencyForBandIndex(float index) const { return axis_.frequencyForBandIndex(index); }
  const LinToLogTransformer& axis() const { return axis_; }

 private:
  void buildSpans();

  LinToLogTransformer axis_;
  int64_t smoothing_ = kDefaultSmoothing;
  float threshold_ = kDefaultCoherenceThreshold;
  float addedMs_ = 0.0f;
  // Per band: the bins lo … hi of its span (the products of pairs lo … hi - 1).
  std::vector<int32_t> lo_, hi_;
  // Running sums over the bins, so that any span costs a few reads: for the steps of one
  // and of three bins, the products P(k) = G(k+L)·conj(G(k)) times 1, k and k² (real and
  // imaginary parts, six arrays each), and the cross and auto powers.
  struct StepSums {
    std::vector<double> sums[6];
  };
  StepSums one_, three_;
  std::vector<double> crossPower_, autoPower_;
  std::vector<float> values_;
  std::vector<float> coherence_;
};

}  // namespace qv
