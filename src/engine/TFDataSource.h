#pragma once
// Turns recorded two-channel audio into exponentially averaged power and cross spectra.
// Thread contract: getData (producer) runs on the record queue, update (consumer) on the
// update queue; they share only the ring. Weights, delay and swap may be set from the
// controlling thread: the weights are atomic values read once per update; the swap takes a
// lock that only a change of the sampling rate (update context) also takes; a delay is
// handed over under a lock of its own that update only tries, so it never waits.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "audio/QVRecorderConsumer.h"
#include "audiolib/SpectrumStream.h"
#include "engine/DelayCompensation.h"
#include "engine/PackedSpectra.h"
#include "platform/ByteRing.h"
#include "platform/Clock.h"

namespace qv {

class TFDataSource : public QVRecorderConsumer {
 public:
  // The longest delay a user can set on either channel.
  static constexpr float kMaxDelayMs = 3000.0f;
  // A restart position meaning "at the next update".
  static constexpr int64_t kRestartNow = INT64_MIN;

  // `fftSize` arrives as a float and is truncated; startFreq and endFreq are only kept.
  TFDataSource(uint32_t sampleRate, float fftSize, float startFreq, float endFreq, float avgCoef,
               std::shared_ptr<Clock> clock = Clock::system());
  ~TFDataSource() override;
  TFDataSource(const TFDataSource&) = delete;
  TFDataSource& operator=(const TFDataSource&) = delete;

  // Reallocates every spectral buffer (not the ring); never while update runs.
  void setFftInputSize(int32_t fftSize);
  int32_t fftInputSize() const { return _fftInputSize; }
  // A new rate for the rate control and the stream (whose delay line counts in samples);
  // the effects carry over and the averages restart. Never while update runs.
  void setSamplingRate(uint32_t samplingRate);

  // One processing step: ring → stream → FFT → averages.
  void update(double time);

  void setAveragingCoeficient(float avgCoef);
  float averagingCoeficient() const { return _averagingCoeficient.load(std::memory_order_relaxed); }
  void resetAverages();
  void updateAVGfactors();

  // The delay between the channels in milliseconds: positive holds back the reference
  // (recorded channel 2), negative the measurement (recorded channel 1). It is applied
  // exactly, whole samples by the delay line and the rest as a phase term, from the next
  // update on; `change` says what becomes of the frames averaged so far. A restart takes
  // the first frame whose measurement samples all lie at or after frame `restartFrom` of
  // those received (framesReceived counts them), or the next frame with kRestartNow.
  // False, changing nothing, for a delay beyond ±kMaxDelayMs or not a number.
  bool setDelay(double milliseconds, DelayChange change = DelayChange::Keep,
                int64_t restartFrom = kRestartNow);
  // Delays of recorded channels 1 (left) and 2 (right) in milliseconds, both >= 0, each
  // rounded to whole samples (as a delay line alone holds them), with DelayChange::Keep.
  void setDelayLeftAndRight(float left, float right);
  // The delay in effect for the newest analysed frame (sign as for setDelay), in
  // milliseconds and in samples: what setDelay asked for, to well below a nanosecond.
  double appliedDelayMs() const { return _appliedDelayMs.load(std::memory_order_acquire); }
  double appliedDelaySamples() const;
  // Frames received by getData so far (those the ring had room for).
  int64_t framesReceived() const { return _framesReceived.load(std::memory_order_acquire); }
  // Frames that found no room in the ring (the display fell behind) and were dropped.
  int64_t framesDropped() const { return _framesDropped.load(std::memory_order_relaxed); }
  // Update thread: where the frame of the latest update starts, in frames received
  // (negative while it still reads the silence the ring started with).
  int64_t analysedFrameStart() const { return _analysedStart; }
  void setChannelsSwapped(bool swapped);
  bool channelsSwapped() const { return _channelsSwapped.load(std::memory_order_relaxed); }

  // The averages over bins 0 … N/2, one array per quantity: what the rest of the
  // spectrum mirrors. A (stream channel 1) and B (stream channel 2); cross = conj(A)·B.
  struct AveragedSpectra {
    const float* powerA;
    const float* powerB;
    const float* crossRe;
    const float* crossIm;
    int32_t bins;  // N/2 + 1
  };
  AveragedSpectra averagedSpectra() const;

  // The newest frame itself, before averaging: bins 0 … N/2 of each recorded channel
  // (interleaved re, im; the unscaled FFT under the periodic Hann window), by role, as the
  // last update analysed them. For the spectrum views; read on the update thread, valid
  // until the next update. Null before the first update that analysed a frame.
  struct FrameSpectra {
    const float* measurement;
    const float* reference;
    int32_t fftSize;
  };
  FrameSpectra frameSpectra() const;

  // Four floats per bin over all N bins (layout in the .cpp). The averages are kept in
  // this form too from the first call of any of these on, on the update thread; that first
  // call makes the buffers.
  const float* inputPowerSpectraBuffer() const;
  const float* outputPowerSpectraBuffer() const;
  const float* ioCrossDensityBuffer() const;
  const float* oiCrossDensityBuffer() const;

  // Weight of a new frame in the next update.
  float avgNew() const { return weightOf(_avgState.load(std::memory_order_relaxed)); }
  const ByteRing& circularBuffer() const { return _circularBuffer; }
  // Consumer side only (the update thread), for example to drop stale audio.
  ByteRing& circularBuffer() { return _circularBuffer; }
  // The stream (null when it could not be created), for inspection.
  const SpectrumStream* fftChannel() const { return _fftChannel.get(); }

  float startFreq() const { return _startFreq; }
  void setStartFreq(float f) { _startFreq = f; }
  float endFreq() const { return _endFreq; }
  void setEndFreq(float f) { _endFreq = f; }
  int32_t verticesCount() const { return _verticesCount; }
  void setVerticesCount(int32_t n) { _verticesCount = n; }
  uint32_t outputChannel() const { return _outputChannel; }
  void setOutputChannel(uint32_t c) { _outputChannel = c; }
  std::shared_ptr<TFDataSource> nextDataSource() const { return _nextDataSource; }
  void setNextDataSource(std::shared_ptr<TFDataSource> s) { _nextDataSource = std::move(s); }

  // QVRecorderConsumer
  void setInputChannelCountSamplingRateAudioDataTransport(
      uint32_t channelCount, uint32_t samplingRate,
      std::weak_ptr<QVAudioDataTransport> transport) override;
  void getData(const void* data, uint32_t byteSize) override;
  std::weak_ptr<QVAudioDataTransport> audioDataTransport() const override;
  void setAudioDataTransport(std::weak_ptr<QVAudioDataTransport> transport) override;
  uint32_t inputChannelCount() const override { return _inputChannelCount; }
  uint64_t outputChannelCount() const override { return _outputChannelCount; }
  uint64_t samplingRate() const override { return _samplingRate.load(std::memory_order_relaxed); }
  uint32_t requiredMinimumDataSize() const override { return _requiredMinimumDataSize; }

 private:
  // The weight of a new frame and the number of resets so far, in one word: a slide that
  // began before a reset cannot overwrite it, wherever in the update the reset lands.
  static uint64_t packWeight(uint32_t resets, float weight);
  static float weightOf(uint64_t state);
  void accumulate(float newWeight);
  void keepFullSpectra() const;
  void allocateFullSpectra() const;
  void writeFullSpectra() const;
  // Moves the weight one step towards the target unless a reset came in after `seen`.
  void slideFrom(uint64_t seen);
  // Update thread: takes over a delay handed over since the last update, if any.
  void applyDelayChange();
  void restartIfDue();
  void postDelay(double leftMs, double rightMs, DelayChange change, int64_t restartFrom,
                 bool wholeSamples);
  void createStream(uint32_t samplingRate);
  void applySwap(bool swapped);  // with _fxLock held

  std::unique_ptr<SpectrumStream> _fftChannel;
  uint32_t _delayLineFx = 0;
  std::atomic<uint32_t> _swapFX{0};
  // Held by the effect settings and by a stream replacement; never by update.
  std::mutex _fxLock;
  std::atomic<float> _avgNewTarget{1.0f};
  std::atomic<float> _avgOldMax{0.0f};
  std::atomic<uint64_t> _avgState{packWeight(0, 1.0f)};
  std::atomic<float> _avgSlideStep{0.0f};
  uint32_t _dataFlag = 0;
  int32_t _recordBufferSize = 0;
  uint32_t _recordBufferSizeBytes = 0;
  mutable fft::AlignedFloats _recordBuffer;
  ByteRing _circularBuffer;
  double _lastConsumeTime = 0.0;
  std::atomic<bool> _channelsSwapped{false};
  uint32_t _requiredMinimumDataSize = 0;
  uint32_t _outputChannel = 0;
  uint32_t _inputChannelCount = 0;
  int32_t _fftInputSize = 0;
  float _startFreq;
  float _endFreq;
  std::atomic<float> _averagingCoeficient{1.0f};
  int32_t _verticesCount = 0;
  std::weak_ptr<QVAudioDataTransport> _audioDataTransport;
  uint64_t _outputChannelCount = 0;
  std::atomic<uint64_t> _samplingRate;
  // Filled from the half averages only once someone reads them (see the accessors).
  mutable fft::AlignedFloats _inputPowerSpectraBuffer;
  mutable fft::AlignedFloats _outputPowerSpectraBuffer;
  mutable fft::AlignedFloats _ioCrossDensityBuffer;
  mutable fft::AlignedFloats _oiCrossDensityBuffer;
  mutable bool _fullSpectraKept = false;
  // Whether the last analysed frame had the channels swapped (stream channel 1 then held
  // the reference), and whether there is a frame at all.
  bool _frameSwapped = false;
  bool _frameAnalysed = false;
  // The averages proper, bins 0 … N/2. _recordBuffer holds the frame's packed complex
  // transform, taken before the window (2·N floats from packedOffset()), and below it, worked out
  // when asked for, the half spectra of channel 1 (from 0) and channel 2 (from N +
  // kPackedOffsetExtra / 2).
  static constexpr size_t kPackedOffsetExtra = 32;  // keeps both at 64-byte boundaries
  size_t packedOffset() const {
    return 2 * static_cast<size_t>(_fftInputSize) + kPackedOffsetExtra;
  }
  float* packedSpectrum() const { return _recordBuffer.get() + packedOffset(); }
  mutable bool _frameSeparated = false;
  // Bit c − 1 set: stream channel c of the frame was silent, and is taken as zero. Else
  // the half of the packed sum that belongs to it (1/2).
  uint32_t _packedSilence = 0;
  float keepOf(int channel) const { return (_packedSilence >> (channel - 1)) & 1u ? 0.0f : 0.5f; }
  // Whether the frame's transform carries stream channel 1 in its imaginary parts.
  bool _packedExchanged = false;
  packed::Frame packedFrame() const;
  fft::AlignedFloats _powerA;
  fft::AlignedFloats _powerB;
  fft::AlignedFloats _crossRe;
  fft::AlignedFloats _crossIm;
  std::shared_ptr<TFDataSource> _nextDataSource;
  std::shared_ptr<Clock> _clock;

  // The delay asked for, handed from the controlling thread to update.
  struct DelayRequest {
    double leftMs = 0.0;
    double rightMs = 0.0;
    DelayChange change = DelayChange::Keep;
    int64_t restartFrom = kRestartNow;
    bool wholeSamples = false;
    uint64_t generation = 0;
  };
  std::mutex _delayLock;
  DelayRequest _delayRequest;  // under _delayLock
  // Update thread: the request in effect, its generation (0: none yet) and the swap state
  // its fraction was worked out for; a new rate or FFT size asks for it to be applied again.
  DelayRequest _delayApplied;
  bool _delaySwapped = false;
  bool _delayStale = false;
  DelayCompensation _compensation;
  static constexpr int64_t kNoRestart = INT64_MAX;
  int64_t _restartFrom = kNoRestart;
  int64_t _tailPosition = 0;
  int64_t _analysedStart = 0;
  std::atomic<int64_t> _framesReceived{0};
  std::atomic<int64_t> _framesDropped{0};
  std::atomic<double> _appliedDelayMs{0.0};
};

}  // namespace qv
