#pragma once
// A two-channel float decoding stream fed by pushing, with a delay-line and a channel-mix
// effect, whose data is read as the Hann-windowed complex FFT of each channel.
// Thread contract: putData, passData, getData and prepareFft belong to one consumer thread;
// the effect calls may come from any thread and are lock-free. The error code is per thread.
// The first plain request (getData, getHalfSpectra, putDataAndGetHalfSpectra) makes the
// buffers those requests need, once; the packed requests never need them.
#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/FftBackend.h"

namespace qv {

enum SpectrumStreamError : int32_t {
  kStreamOk = 0,
  kStreamErrorMem = 1,        // the data does not fit the stream's queue
  kStreamErrorHandle = 5,     // no such effect on this stream
  kStreamErrorFormat = 6,     // unsupported channel count or rate
  kStreamErrorAlready = 14,   // an effect of that type is already on the stream
  kStreamErrorIllType = 19,   // unknown effect type
  kStreamErrorIllParam = 20,  // parameter out of range
  kStreamErrorNotAvail = 37,  // unsupported data request
};

class SpectrumStream {
 public:
  // Data request flags: float FFT data, one transform per channel, complex over all N bins.
  static constexpr uint32_t kDataFloat = 0x40000000;
  static constexpr uint32_t kDataFft256 = 0x80000000;  // + log2(N) - 8
  static constexpr uint32_t kDataFftIndividual = 0x10;
  static constexpr uint32_t kDataFftNoWindow = 0x20;
  static constexpr uint32_t kDataFftComplex = 0x80;
  static constexpr int kMinFftSize = 256;
  static constexpr int kMaxFftSize = 32768;
  static constexpr uint32_t kFailed = 0xFFFFFFFFu;
  // The request for the windowed complex FFT of N points; 0 for an unsupported N.
  static uint32_t complexFftFlags(int n);

  enum class FxType : uint32_t { DelayLine = 3, ChannelMix = 0x10007 };
  // Delay of each input channel in milliseconds, rounded to whole samples.
  struct DelayLineParameters {
    float leftDelay = 0.0f;
    float rightDelay = 0.0f;
  };
  // Per output channel, the 1-based input channel it takes.
  struct ChannelMixParameters {
    int32_t channel[2] = {1, 2};
  };

  // A stream of `channels` (2) float channels at `rate` Hz whose delay line can hold
  // back a channel by up to `maxDelayMs`. Null on failure, with errorGetCode() set.
  static std::unique_ptr<SpectrumStream> create(uint32_t rate, uint32_t channels, float maxDelayMs);
  ~SpectrumStream();
  SpectrumStream(const SpectrumStream&) = delete;
  SpectrumStream& operator=(const SpectrumStream&) = delete;

  // The error of the last failed call on this thread.
  static int32_t errorGetCode();

  // Effects run in order of priority, highest first; one effect of each type at most.
  // Returns the effect's handle, 0 on failure.
  uint32_t setFx(FxType type, int32_t priority);
  bool removeFx(uint32_t fx);
  bool fxGetParameters(uint32_t fx, DelayLineParameters* parameters) const;
  bool fxSetParameters(uint32_t fx, const DelayLineParameters& parameters);
  bool fxGetParameters(uint32_t fx, ChannelMixParameters* parameters) const;
  bool fxSetParameters(uint32_t fx, const ChannelMixParameters& parameters);

  // Makes the FFT plan and window of size n now, so that getData never plans.
  bool prepareFft(int n);
  // Queues interleaved frames for the next analysis.
  bool putData(const void* data, uint32_t byteCount);
  // Frames that the stream has moved past without queueing them again: the next queued
  // frame follows them, and the delay line takes the delayed samples from them.
  void passData(const void* data, uint32_t byteCount);
  // The FFT of the first N queued frames (silence where fewer are queued), laid out as
  // [Re1, Im1, Re2, Im2] per bin over all N bins; those frames leave the queue.
  // Returns the bytes written (16·N) or kFailed.
  uint32_t getData(float* out, uint32_t flags);
  // The same request, answered with the half that carries information: bins 0 … N/2 of
  // channel 1 in `channel1` and of channel 2 in `channel2`, N/2 + 1 interleaved (re, im)
  // pairs each, the values getData gives for those bins (the upper half mirrors them).
  // Both arrays should be aligned as fft::allocateFloats aligns. Returns the bytes written
  // (8·(N + 2)) or kFailed.
  uint32_t getHalfSpectra(float* channel1, float* channel2, uint32_t flags);
  // putData followed by getHalfSpectra in one call, with the same outcome (also on
  // failure), reading the frames where they are: only those the analysis leaves queued
  // are copied.
  uint32_t putDataAndGetHalfSpectra(const void* data, uint32_t byteCount, float* channel1,
                                    float* channel2, uint32_t flags);
  // Which channels of the last packed transform were silent (every sample zero): bit 0
  // channel 1, bit 1 channel 2. Their share of the packed transform is rounding alone, which
  // the other channel's level sets; separated, a silent channel must be taken as zero.
  uint32_t packedSilence() const { return packedSilence_; }
  // As putDataAndGetHalfSpectra, with both channels in one complex transform of N points
  // (`packed` holds 2·N floats, aligned as fft::allocateFloats aligns), and the window left
  // to the caller: the transform of the frame as it is. Bin k of the real parts' channel is
  // (P[k] + conj P[N−k]) / 2, of the imaginary parts' (P[k] − conj P[N−k]) / 2i: one
  // transform costs less than two real ones. A periodic Hann window is three taps in the frequency
  // domain, W[k] = P[k]/2 − (P[k−1] + P[k+1])/4, which a caller can apply while it reads the bins
  // anyway; the frame is then transformed where it lies when both channels come from one
  // place and its start suits the FFT, and is otherwise copied once, with no arithmetic.
  // The real parts carry input channel 1 and the imaginary parts input channel 2 when both
  // are taken: packedExchanged() says that output channel 1 is in the imaginary parts.
  // packedSilence() is by output channel and, for a windowed request, over the samples
  // the window keeps (all but the first, where it is zero). Returns the bytes written
  // (8·N) or kFailed.
  uint32_t putDataAndGetRawPackedSpectrum(const void* data, uint32_t byteCount, float* packed,
                                          uint32_t flags);
  bool packedExchanged() const { return packedExchanged_; }

  uint32_t rate() const { return rate_; }
  uint32_t queuedFrames() const { return queued_; }
  uint32_t maxDelayFrames() const { return historyLength_; }

 private:
  struct FxSlot {
    std::atomic<uint32_t> handle{0};  // 0 while the effect is not on the stream
    std::atomic<int32_t> priority{0};
    std::atomic<uint64_t> parameters{0};  // two packed 32-bit values
  };
  // Where output channel c comes from after the effects: an input channel and a delay.
  struct Route {
    int channel[2];
    uint32_t delayFrames[2];
  };

  SpectrumStream(uint32_t rate, uint32_t historyLength);
  FxSlot* slotForHandle(uint32_t fx);
  const FxSlot* slotForHandle(uint32_t fx) const;
  Route currentRoute() const;
  bool useFftSize(int n);
  // Checks the request; the FFT size or 0 on failure.
  int sizeForRequest(uint32_t flags);
  // The window and the buffers of the plain requests, made by the first of them.
  void preparePlainRequests(int n);
  // Transforms the first n queued frames of both output channels, bins 0 … n/2 each.
  void transformChannels(int n, bool windowed, float* channel1, float* channel2);
  void windowChannel(int channel, uint32_t delayFrames, int n, bool windowed);
  // Frame j of the analysis for a channel held back by `delay` frames: its interleaved
  // frame and how many frames follow it contiguously there; null past the data.
  const float* frameAt(uint32_t j, uint32_t delay, uint32_t* run) const;
  // Both channels of `route`, as they are, into `packed` as interleaved complex values;
  // returns which were silent (bit 0 the real parts, bit 1 the imaginary parts), counting
  // from frame `from` on.
  uint32_t packFrame(const Route& route, int n, uint32_t from, float* packed);
  // Checks a put with a transform request and takes its frames as the incoming data; the
  // FFT size, or 0 when it failed (the frames are queued all the same when only the
  // request was wrong).
  int beginPut(const void* data, uint32_t byteCount, uint32_t flags);
  void dropAnalysedFrames(int n);

  uint32_t rate_;
  uint32_t historyLength_;
  std::atomic<uint32_t> nextHandle_{1};
  FxSlot delaySlot_;
  FxSlot mixSlot_;

  // Frames stay interleaved as they arrive: queueing and passing are plain copies.
  fft::AlignedFloats queue_;  // queued frames
  uint32_t queued_ = 0;
  fft::AlignedFloats history_;  // the frames passed, as a ring of historyLength_ frames
  uint32_t historyEnd_ = 0;     // where the next passed frame goes
  // Frames put by the call being answered, read in place after the queued ones.
  const float* incoming_ = nullptr;
  uint32_t incomingFrames_ = 0;
  fft::AlignedFloats window_;       // plain requests only
  fft::AlignedFloats work_;         // plain requests only
  fft::AlignedFloats packedFrame_;  // both channels' frame, as complex values
  fft::AlignedFloats spectrum_[2];  // getData only
  int windowSize_ = 0;              // the size of the requests
  int windowFilled_ = 0;            // the size window_ holds
  uint32_t packedSilence_ = 0;
  bool packedExchanged_ = false;
  const fft::RealPlan* plan_ = nullptr;
};

}  // namespace qv
