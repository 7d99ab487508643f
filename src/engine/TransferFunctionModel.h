#pragma once
// The live curves of the analyser, one value per band: magnitude of H = G_AB / G_AA in dB,
// its phase in degrees and the coherence × 180, smoothed and blanked where coherence is low.
// Thread contract: transform, setSmoothing and setOctResolution run one after another on the
// update queue; averaging and delay are forwarded to the data source from any one thread.
#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>

#include "engine/BandPoint.h"
#include "engine/LinToLogTransformer.h"
#include "engine/TFDataSource.h"
#include "engine/TFPolyline.h"
#include "platform/Clock.h"
#include "platform/FftBackend.h"

namespace qv {

class TransferFunctionModel : public LinToLogTransformer {
 public:
  TransferFunctionModel(uint64_t fftSize, uint64_t rate, int32_t octResolution, int64_t smoothing,
                        std::shared_ptr<Clock> clock = Clock::system());
  ~TransferFunctionModel() override;

  // One full computation; afterwards the polylines hold the new curves.
  void transform(double time) override;
  // The averages only (the data source's update): the polylines keep what the last
  // transform left. For ticks whose curves nobody reads; curves() brings them up to date.
  void advance(double time) { _tfDataSource->update(time); }
  // The curves from the averages as they stand.
  void curves();

  // New bands, new polylines (fetch them again) and new work arrays. The kernel stays,
  // unless it is wider than one octave of the new axis: then it is rebuilt for the same
  // smoothing, held within that octave (smoothing() tells which).
  void setOctResolution(int32_t octResolution) override;
  // Also moves the data source to the new FFT size and rate.
  void setFftSizeWithSamplingRateOctResolution(int32_t fftSize, int64_t samplingRate,
                                               int32_t octResolution) override;

  // 1/S-octave smoothing; 1 <= S <= the bands of one octave (96 at R = 96).
  void setSmoothing(int64_t smoothing);
  int64_t smoothing() const { return _smoothing; }
  int32_t maxSmoothingKernelLength() const;
  const float* smoothKernel() const { return _smoothKernel.get(); }
  int32_t smoothKernelLength() const { return _smoothKernelLength; }

  // Index 1 … 1000; the data source averages with coefficient index / 1000.
  void setAveragingIndex(float averagingIndex);
  float averagingIndex() const { return _averagingIndex.load(std::memory_order_relaxed); }
  void resetAverages();

  void setDelayLeftAndRight(float left, float right);

  // May be set from the controlling thread while a transform runs.
  void setCoherenceThreshold(float threshold) {
    _coherenceThreshold.store(threshold, std::memory_order_relaxed);
  }
  float coherenceThreshold() const { return _coherenceThreshold.load(std::memory_order_relaxed); }

  // Bands above this frequency are blanked like bands of low coherence: the audio carries
  // nothing there (a device at 8 kHz resampled to the analysis rate has nothing above
  // 4 kHz). Infinity (the default) blanks none. May be set from the controlling thread.
  void setBandLimitHz(float hz) { _bandLimitHz.store(hz, std::memory_order_relaxed); }
  float bandLimitHz() const { return _bandLimitHz.load(std::memory_order_relaxed); }

  std::shared_ptr<TFDataSource> tfDataSource() const { return _tfDataSource; }
  void setTfDataSource(std::shared_ptr<TFDataSource> dataSource);

  std::shared_ptr<TFPolyline> mpolyline() const { return _mpolyline; }
  std::shared_ptr<TFPolyline> ppolyline() const { return _ppolyline; }
  std::shared_ptr<TFPolyline> cpolyline() const { return _cpolyline; }

  // The band nearest to the frequency (held within the axis) and its curve value.
  BandPoint closestMagnitudeDataForFrequencyHz(float frequency) const;
  BandPoint closestPhaseDataForFrequencyHz(float frequency) const;
  BandPoint closestCoherenceDataForFrequencyHz(float frequency) const;

 private:
  void rebuildCurves();
  void gatherBands();
  // The bands within the kernel's reach of either end of the axis, smoothed by the
  // kernel's middle cut short alike on both sides, so that it stays centred on the band.
  void smoothEnds(float* magnitude, float* phase) const;
  void blank(float* magnitude, float* phase, float* coherence) const;

  fft::AlignedFloats _input;
  fft::AlignedFloats _output;
  fft::AlignedFloats _crossReal;
  fft::AlignedFloats _crossImag;
  fft::AlignedFloats _bufferReal;
  fft::AlignedFloats _bufferImag;
  fft::AlignedFloats _bufferMagnitude;
  fft::AlignedFloats _bufferPhase;
  // Per summed band, the bins it adds up, [first, end): fixed by the band tables.
  std::unique_ptr<int32_t[]> _bandFirstBin;
  std::unique_ptr<int32_t[]> _bandEndBin;
  std::unique_ptr<float[]> _smoothKernel;
  int32_t _smoothKernelLength = 0;
  std::atomic<float> _averagingIndex{1000.0f};
  std::atomic<float> _coherenceThreshold{0.05f};
  std::atomic<float> _bandLimitHz{INFINITY};
  std::shared_ptr<TFDataSource> _tfDataSource;
  int64_t _smoothing = 0;
  std::shared_ptr<TFPolyline> _mpolyline;
  std::shared_ptr<TFPolyline> _ppolyline;
  std::shared_ptr<TFPolyline> _cpolyline;
};

}  // namespace qv
