#include "audiolib/SpectrumStream.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "audiolib/FramePacking.h"
#include "platform/Vector.h"

namespace qv {
namespace {

thread_local int32_t tlsError = kStreamOk;

bool fail(int32_t code) {
  tlsError = code;
  return false;
}

bool succeed() {
  tlsError = kStreamOk;
  return true;
}

uint64_t pack(uint32_t a, uint32_t b) { return static_cast<uint64_t>(a) | (uint64_t{b} << 32); }
uint32_t first(uint64_t v) { return static_cast<uint32_t>(v); }
uint32_t second(uint64_t v) { return static_cast<uint32_t>(v >> 32); }

uint64_t packDelays(float left, float right) {
  return pack(std::bit_cast<uint32_t>(left), std::bit_cast<uint32_t>(right));
}
uint64_t packChannels(int32_t a, int32_t b) {
  return pack(static_cast<uint32_t>(a), static_cast<uint32_t>(b));
}

}  // namespace

uint32_t SpectrumStream::complexFftFlags(int n) {
  if (n < kMinFftSize || n > kMaxFftSize || !std::has_single_bit(static_cast<unsigned>(n)))
    return 0;
  const auto sizeIndex = static_cast<uint32_t>(std::countr_zero(static_cast<unsigned>(n)) - 8);
  return kDataFloat | (kDataFft256 + sizeIndex) | kDataFftComplex | kDataFftIndividual;
}

std::unique_ptr<SpectrumStream> SpectrumStream::create(uint32_t rate, uint32_t channels,
                                                       float maxDelayMs) {
  if (channels != 2 || rate == 0) {
    fail(kStreamErrorFormat);
    return nullptr;
  }
  if (!(maxDelayMs >= 0.0f && maxDelayMs <= 60000.0f)) {
    fail(kStreamErrorIllParam);
    return nullptr;
  }
  // One frame more than the longest delay, so that rounding up never runs past the end.
  const auto history =
      static_cast<uint32_t>(std::ceil(static_cast<double>(maxDelayMs) * rate / 1000.0)) + 1;
  succeed();
  return std::unique_ptr<SpectrumStream>(new SpectrumStream(rate, history));
}

SpectrumStream::SpectrumStream(uint32_t rate, uint32_t historyLength)
    : rate_(rate), historyLength_(historyLength) {
  queue_ = fft::allocateFloats(2 * static_cast<size_t>(kMaxFftSize));
  history_ = fft::allocateFloats(2 * static_cast<size_t>(historyLength_));
  packedFrame_ = fft::allocateFloats(2 * static_cast<size_t>(kMaxFftSize));
}

SpectrumStream::~SpectrumStream() = default;

int32_t SpectrumStream::errorGetCode() { return tlsError; }

uint32_t SpectrumStream::setFx(FxType type, int32_t priority) {
  FxSlot* slot = nullptr;
  uint64_t defaults = 0;
  switch (type) {
    case FxType::DelayLine:
      slot = &delaySlot_;
      defaults = packDelays(0.0f, 0.0f);
      break;
    case FxType::ChannelMix:
      slot = &mixSlot_;
      defaults = packChannels(1, 2);
      break;
  }
  if (!slot) {
    fail(kStreamErrorIllType);
    return 0;
  }
  if (slot->handle.load(std::memory_order_acquire) != 0) {
    fail(kStreamErrorAlready);
    return 0;
  }
  slot->priority.store(priority, std::memory_order_relaxed);
  slot->parameters.store(defaults, std::memory_order_relaxed);
  const uint32_t handle = nextHandle_.fetch_add(1, std::memory_order_relaxed);
  slot->handle.store(handle, std::memory_order_release);
  succeed();
  return handle;
}

SpectrumStream::FxSlot* SpectrumStream::slotForHandle(uint32_t fx) {
  if (fx == 0) return nullptr;
  if (delaySlot_.handle.load(std::memory_order_acquire) == fx) return &delaySlot_;
  if (mixSlot_.handle.load(std::memory_order_acquire) == fx) return &mixSlot_;
  return nullptr;
}

const SpectrumStream::FxSlot* SpectrumStream::slotForHandle(uint32_t fx) const {
  return const_cast<SpectrumStream*>(this)->slotForHandle(fx);
}

bool SpectrumStream::removeFx(uint32_t fx) {
  FxSlot* slot = slotForHandle(fx);
  if (!slot) return fail(kStreamErrorHandle);
  slot->handle.store(0, std::memory_order_release);
  return succeed();
}

bool SpectrumStream::fxGetParameters(uint32_t fx, DelayLineParameters* parameters) const {
  const FxSlot* slot = slotForHandle(fx);
  if (slot != &delaySlot_) return fail(kStreamErrorHandle);
  const uint64_t v = slot->parameters.load(std::memory_order_acquire);
  parameters->leftDelay = std::bit_cast<float>(first(v));
  parameters->rightDelay = std::bit_cast<float>(second(v));
  return succeed();
}

bool SpectrumStream::fxSetParameters(uint32_t fx, const DelayLineParameters& parameters) {
  FxSlot* slot = slotForHandle(fx);
  if (slot != &delaySlot_) return fail(kStreamErrorHandle);
  const double maxMs = (historyLength_ - 1) * 1000.0 / rate_;
  for (const float ms : {parameters.leftDelay, parameters.rightDelay}) {
    if (!(ms >= 0.0f && ms <= maxMs + 1e-3)) return fail(kStreamErrorIllParam);
  }
  slot->parameters.store(packDelays(parameters.leftDelay, parameters.rightDelay),
                         std::memory_order_release);
  return succeed();
}

bool SpectrumStream::fxGetParameters(uint32_t fx, ChannelMixParameters* parameters) const {
  const FxSlot* slot = slotForHandle(fx);
  if (slot != &mixSlot_) return fail(kStreamErrorHandle);
  const uint64_t v = slot->parameters.load(std::memory_order_acquire);
  parameters->channel[0] = static_cast<int32_t>(first(v));
  parameters->channel[1] = static_cast<int32_t>(second(v));
  return succeed();
}

bool SpectrumStream::fxSetParameters(uint32_t fx, const ChannelMixParameters& parameters) {
  FxSlot* slot = slotForHandle(fx);
  if (slot != &mixSlot_) return fail(kStreamErrorHandle);
  for (const int32_t c : parameters.channel) {
    if (c != 1 && c != 2) return fail(kStreamErrorIllParam);
  }
  slot->parameters.store(packChannels(parameters.channel[0], parameters.channel[1]),
                         std::memory_order_release);
  return succeed();
}

SpectrumStream::Route SpectrumStream::currentRoute() const {
  struct Step {
    bool isDelay;
    int32_t priority;
    uint32_t handle;
    uint64_t parameters;
  };
  Step steps[2];
  int count = 0;
  for (const FxSlot* slot : {&delaySlot_, &mixSlot_}) {
    const uint32_t handle = slot->handle.load(std::memory_order_acquire);
    if (handle == 0) continue;
    steps[count++] = {slot == &delaySlot_, slot->priority.load(std::memory_order_relaxed), handle,
                      slot->parameters.load(std::memory_order_acquire)};
  }
  // Higher priority runs first; equal priorities run in the order they were added.
  if (count == 2 && (steps[1].priority > steps[0].priority ||
                     (steps[1].priority == steps[0].priority && steps[1].handle < steps[0].handle)))
    std::swap(steps[0], steps[1]);

  Route route{};
  for (int c = 0; c < 2; ++c) {
    int channel = c;
    uint32_t delay = 0;
    // Walk back from the last effect applied to the input channel that feeds channel c.
    for (int s = count - 1; s >= 0; --s) {
      const uint64_t v = steps[s].parameters;
      const uint32_t word = channel == 0 ? first(v) : second(v);
      if (steps[s].isDelay) {
        const double ms = std::bit_cast<float>(word);
        delay += static_cast<uint32_t>(std::lround(ms * rate_ / 1000.0));
      } else {
        channel = static_cast<int>(word) - 1;
      }
    }
    route.channel[c] = channel;
    route.delayFrames[c] = std::min(delay, historyLength_);
  }
  return route;
}

bool SpectrumStream::useFftSize(int n) {
  if (complexFftFlags(n) == 0) return fail(kStreamErrorNotAvail);
  if (windowSize_ == n) return true;
  plan_ = &fft::RealPlan::get(n);
  windowSize_ = n;
  return true;
}

void SpectrumStream::preparePlainRequests(int n) {
  // Only the plain requests (one real transform per channel) window the frame here; the
  // packed ones, which a running analysis makes, leave it to their caller. So the window
  // and the work buffer are made by the first plain request.
  if (!work_) {
    work_ = fft::allocateFloats(kMaxFftSize);
    window_ = fft::allocateFloats(kMaxFftSize);
  }
  if (windowFilled_ == n) return;
  // A periodic Hann window: its N-point transform has exactly three non-zero taps.
  for (int j = 0; j < n; ++j)
    window_[j] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * M_PI * j / n));
  windowFilled_ = n;
}

bool SpectrumStream::prepareFft(int n) {
  if (!useFftSize(n)) return false;
  // The plan now rather than on the first analysis, unless that would wait for FFTW.
  plan_->prepare(fft::RealPlan::Transform::Forward);
  fft::ComplexPlan::get(n).prepare(/*inPlace=*/false);
  return succeed();
}

bool SpectrumStream::putData(const void* data, uint32_t byteCount) {
  if (byteCount % 8 != 0) return fail(kStreamErrorIllParam);
  const uint32_t frames = byteCount / 8;
  if (frames > kMaxFftSize - queued_) return fail(kStreamErrorMem);
  if (frames > 0) std::memcpy(queue_.get() + 2 * static_cast<size_t>(queued_), data, byteCount);
  queued_ += frames;
  return succeed();
}

void SpectrumStream::passData(const void* data, uint32_t byteCount) {
  const uint32_t frames = byteCount / 8;
  // Only the newest historyLength_ frames can ever be reached by the delay line.
  const uint32_t keep = std::min(frames, historyLength_);
  const auto* in = static_cast<const float*>(data) + 2 * static_cast<size_t>(frames - keep);
  const uint32_t firstRun = std::min(keep, historyLength_ - historyEnd_);
  std::memcpy(history_.get() + 2 * static_cast<size_t>(historyEnd_), in,
              8 * static_cast<size_t>(firstRun));
  std::memcpy(history_.get(), in + 2 * static_cast<size_t>(firstRun),
              8 * static_cast<size_t>(keep - firstRun));
  historyEnd_ = (historyEnd_ + keep) % historyLength_;
}

const float* SpectrumStream::frameAt(uint32_t j, uint32_t delay, uint32_t* run) const {
  if (j < delay) {
    const uint32_t at = (historyEnd_ + historyLength_ - delay + j) % historyLength_;
    *run = std::min(delay - j, historyLength_ - at);
    return history_.get() + 2 * static_cast<size_t>(at);
  }
  uint32_t q = j - delay;
  if (q < queued_) {
    *run = queued_ - q;
    return queue_.get() + 2 * static_cast<size_t>(q);
  }
  q -= queued_;
  if (q < incomingFrames_) {
    *run = incomingFrames_ - q;
    return incoming_ + 2 * static_cast<size_t>(q);
  }
  *run = UINT32_MAX;
  return nullptr;
}

uint32_t SpectrumStream::packFrame(const Route& route, int n, uint32_t from, float* packed) {
  const auto size = static_cast<uint32_t>(n);
  // The two channels may come from different places (a delay holds one back): the frame
  // is laid in runs over which both stay contiguous. Frames before `from` are laid one by
  // one, their samples not counted as sound.
  uint64_t bits = 0;
  for (uint32_t j = 0; j < size;) {
    uint32_t runA = 0, runB = 0;
    const float* a = frameAt(j, route.delayFrames[0], &runA);
    const float* b = frameAt(j, route.delayFrames[1], &runB);
    const uint32_t run = j < from ? 1 : std::min({runA, runB, size - j});
    float* out = packed + 2 * static_cast<size_t>(j);
    uint64_t runBits = 0;
    if (a && b) {
      runBits = framepacking::packChannels(a, route.channel[0], b, route.channel[1], out, run);
    } else {
      // Past the data of one channel or both: silence there.
      for (uint32_t i = 0; i < run; ++i) {
        out[2 * i] = a ? a[2 * i + route.channel[0]] : 0.0f;
        out[2 * i + 1] = b ? b[2 * i + route.channel[1]] : 0.0f;
        runBits |= std::bit_cast<uint32_t>(out[2 * i]) & 0x7FFFFFFFu;
        runBits |= static_cast<uint64_t>(std::bit_cast<uint32_t>(out[2 * i + 1]) & 0x7FFFFFFFu)
                   << 32;
      }
    }
    if (j >= from) bits |= runBits;
    j += run;
  }
  return (static_cast<uint32_t>(bits) == 0 ? 1u : 0u) | ((bits >> 32) == 0 ? 2u : 0u);
}

void SpectrumStream::windowChannel(int channel, uint32_t delayFrames, int n, bool windowed) {
  const auto size = static_cast<uint32_t>(n);
  float* out = work_.get();
  const float* window = window_.get();
  const float* history = history_.get() + channel;
  const float* queue = queue_.get() + channel;

  // Sample j of the frame is input sample j - delay: the first `delay` come from history.
  const uint32_t fromHistory = std::min(delayFrames, size);
  const uint32_t start = (historyEnd_ + historyLength_ - delayFrames) % historyLength_;
  const uint32_t firstRun = std::min(fromHistory, historyLength_ - start);
  framepacking::copyChannel(history + 2 * static_cast<size_t>(start), window, windowed, out,
                            firstRun);
  framepacking::copyChannel(history, window + firstRun, windowed, out + firstRun,
                            fromHistory - firstRun);

  // Then the queued frames, then those being put in the same call.
  uint32_t j = fromHistory;
  const uint32_t fromQueue = std::min(size - j, queued_);
  framepacking::copyChannel(queue, window + j, windowed, out + j, fromQueue);
  j += fromQueue;
  const uint32_t fromIncoming = std::min(size - j, incomingFrames_);
  if (fromIncoming > 0)
    framepacking::copyChannel(incoming_ + channel, window + j, windowed, out + j, fromIncoming);
  j += fromIncoming;
  std::memset(out + j, 0, (size - j) * sizeof(float));
}

int SpectrumStream::sizeForRequest(uint32_t flags) {
  const uint32_t required = kDataFloat | kDataFftComplex | kDataFftIndividual;
  const uint32_t known = required | kDataFftNoWindow | kDataFft256 | 0x7u;
  if ((flags & required) != required || !(flags & kDataFft256) || (flags & ~known)) {
    fail(kStreamErrorNotAvail);
    return 0;
  }
  const int n = kMinFftSize << (flags & 0x7u);
  return useFftSize(n) ? n : 0;
}

void SpectrumStream::transformChannels(int n, bool windowed, float* channel1, float* channel2) {
  preparePlainRequests(n);
  const Route route = currentRoute();
  float* outputs[2] = {channel1, channel2};
  for (int c = 0; c < 2; ++c) {
    windowChannel(route.channel[c], route.delayFrames[c], n, windowed);
    plan_->forward(work_.get(), outputs[c]);
  }
}

void SpectrumStream::dropAnalysedFrames(int n) {
  const auto used = std::min(queued_, static_cast<uint32_t>(n));
  queued_ -= used;
  float* queue = queue_.get();
  std::memmove(queue, queue + 2 * static_cast<size_t>(used), 8 * static_cast<size_t>(queued_));
  // Incoming frames the analysis did not reach stay queued behind the rest.
  const uint32_t usedIncoming = std::min(incomingFrames_, static_cast<uint32_t>(n) - used);
  const uint32_t left = incomingFrames_ - usedIncoming;
  if (left > 0) {
    std::memcpy(queue + 2 * static_cast<size_t>(queued_),
                incoming_ + 2 * static_cast<size_t>(usedIncoming), 8 * static_cast<size_t>(left));
    queued_ += left;
  }
  incoming_ = nullptr;
  incomingFrames_ = 0;
  succeed();
}

uint32_t SpectrumStream::getData(float* out, uint32_t flags) {
  const int n = sizeForRequest(flags);
  if (n == 0) return kFailed;
  if (!spectrum_[0]) {
    for (auto& spectrum : spectrum_) spectrum = fft::allocateFloats(kMaxFftSize + 2);
  }
  transformChannels(n, !(flags & kDataFftNoWindow), spectrum_[0].get(), spectrum_[1].get());
  const size_t half = static_cast<size_t>(n) / 2;
  for (int c = 0; c < 2; ++c) {
    const float* s = spectrum_[c].get();
    float* o = out + 2 * static_cast<size_t>(c);
    for (size_t k = 0; k <= half; ++k) {
      o[4 * k] = s[2 * k];
      o[4 * k + 1] = s[2 * k + 1];
    }
    // The transform of a real signal is conjugate-symmetric: the upper half mirrors.
    for (size_t k = half + 1; k < static_cast<size_t>(n); ++k) {
      o[4 * k] = s[2 * (n - k)];
      o[4 * k + 1] = -s[2 * (n - k) + 1];
    }
  }
  dropAnalysedFrames(n);
  return static_cast<uint32_t>(16 * n);
}

uint32_t SpectrumStream::getHalfSpectra(float* channel1, float* channel2, uint32_t flags) {
  const int n = sizeForRequest(flags);
  if (n == 0) return kFailed;
  transformChannels(n, !(flags & kDataFftNoWindow), channel1, channel2);
  dropAnalysedFrames(n);
  return static_cast<uint32_t>(8 * (n + 2));
}

int SpectrumStream::beginPut(const void* data, uint32_t byteCount, uint32_t flags) {
  if (byteCount % 8 != 0 || byteCount / 8 > kMaxFftSize - queued_) {
    fail(byteCount % 8 != 0 ? kStreamErrorIllParam : kStreamErrorMem);
    return 0;
  }
  const int n = sizeForRequest(flags);
  if (n == 0) {
    // As a put that succeeded and a request that did not: the frames stay queued.
    const int32_t error = errorGetCode();
    putData(data, byteCount);
    fail(error);
    return 0;
  }
  incoming_ = static_cast<const float*>(data);
  incomingFrames_ = byteCount / 8;
  return n;
}

uint32_t SpectrumStream::putDataAndGetHalfSpectra(const void* data, uint32_t byteCount,
                                                  float* channel1, float* channel2,
                                                  uint32_t flags) {
  const int n = beginPut(data, byteCount, flags);
  if (n == 0) return kFailed;
  transformChannels(n, !(flags & kDataFftNoWindow), channel1, channel2);
  dropAnalysedFrames(n);
  return static_cast<uint32_t>(8 * (n + 2));
}

uint32_t SpectrumStream::putDataAndGetRawPackedSpectrum(const void* data, uint32_t byteCount,
                                                        float* packed, uint32_t flags) {
  const int n = beginPut(data, byteCount, flags);
  if (n == 0) return kFailed;
  const auto size = static_cast<uint32_t>(n);
  Route route = currentRoute();
  // Input channel 1 in the real parts, 2 in the imaginary parts: then either order of the
  // outputs is the same plain copy, or none.
  packedExchanged_ = route.channel[0] == 1 && route.channel[1] == 0;
  if (packedExchanged_) {
    std::swap(route.channel[0], route.channel[1]);
    std::swap(route.delayFrames[0], route.delayFrames[1]);
  }
  // The window's first tap is zero: what the first sample holds carries no weight.
  const uint32_t from = flags & kDataFftNoWindow ? 0 : 1;
  uint32_t runA = 0, runB = 0;
  const float* a = frameAt(0, route.delayFrames[0], &runA);
  const float* b = frameAt(0, route.delayFrames[1], &runB);
  const float* frame = packedFrame_.get();
  uint32_t silence = 0;
  if (a && a == b && route.channel[0] == 0 && route.channel[1] == 1 && runA >= size &&
      fft::isAligned(a)) {
    // The frame as it lies; an out-of-place complex transform leaves its input alone.
    frame = a;
    silence = (framepacking::hasSound(a, 0, from, size) ? 0u : 1u) |
              (framepacking::hasSound(a, 1, from, size) ? 0u : 2u);
  } else {
    silence = packFrame(route, n, from, packedFrame_.get());
  }
  packedSilence_ = packedExchanged_ ? ((silence & 1u) << 1) | (silence >> 1) : silence;
  fft::ComplexPlan::get(n).execute(frame, packed);
  dropAnalysedFrames(n);
  return static_cast<uint32_t>(8 * n);
}

}  // namespace qv
