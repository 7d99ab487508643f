#include "engine/TFDataSource.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "engine/PackedSpectra.h"
#include "platform/Assert.h"
#include "platform/Log.h"
#include "platform/Vector.h"

// Spectral buffer layout, four floats per bin k over all N bins (A: stream channel 1,
// B: stream channel 2; the last two floats of each group stay 0):
//   inputPowerSpectraBuffer  [4k] |A|²                    [4k+1] |B|²
//   ioCrossDensityBuffer     [4k] Re(conj(A)·B)           [4k+1] Im(conj(A)·B)
//   oiCrossDensityBuffer     [4k] Re(A·conj(B))           [4k+1] Im(A·conj(B))
// The frames are real, so bin N − k holds conj of bin k: the averages are computed for
// bins 0 … N/2 only, one compact array per quantity, which is all the display reads. The
// layout above is derived from them (mirrored and conjugated, the very values averaging
// every bin would give) for whoever asks for it.

namespace qv {
namespace {

int32_t ringLengthFor(float fftSize) {
  return static_cast<int32_t>(std::trunc(fftSize)) * 16 + 1024;
}

uint32_t dataFlagFor(int32_t n) {
  switch (n) {
    case 256:
      return 0xC0000090;
    case 512:
      return 0xC0000091;
    case 1024:
      return 0xC0000092;
    case 2048:
      return 0xC0000093;
    case 4096:
      return 0xC0000094;
    case 8192:
      return 0xC0000095;
    case 16384:
      return 0xC0000096;
    case 32768:
      return 0xC0000097;
    default:
      QV_ASSERT_TEXT(false, "0");
  }
}

}  // namespace

TFDataSource::TFDataSource(uint32_t sampleRate, float fftSize, float startFreq, float endFreq,
                           float avgCoef, std::shared_ptr<Clock> clock)
    : _circularBuffer(ringLengthFor(fftSize)),
      _startFreq(startFreq),
      _endFreq(endFreq),
      _samplingRate(sampleRate),
      _clock(std::move(clock)) {
  QV_ASSERT(_clock != nullptr);
  QV_ASSERT(_circularBuffer.valid());
  setFftInputSize(static_cast<int32_t>(std::trunc(fftSize)));
  createStream(sampleRate);
  setAveragingCoeficient(avgCoef);

  // The ring starts half full of silence (its storage starts zeroed), so that the first
  // analysis has a whole frame to read and the rate control starts near its set point.
  const auto prefill = static_cast<int32_t>(std::trunc(_circularBuffer.length * 0.5));
  _circularBuffer.produce(prefill);
  _tailPosition = -static_cast<int64_t>(prefill / 8);
}

TFDataSource::~TFDataSource() { log("TFDataSource Dealloc"); }

uint64_t TFDataSource::packWeight(uint32_t resets, float weight) {
  return (static_cast<uint64_t>(resets) << 32) | std::bit_cast<uint32_t>(weight);
}

float TFDataSource::weightOf(uint64_t state) {
  return std::bit_cast<float>(static_cast<uint32_t>(state & 0xFFFFFFFFu));
}

void TFDataSource::createStream(uint32_t samplingRate) {
  _fftChannel = SpectrumStream::create(samplingRate, 2, kMaxDelayMs);
  _delayLineFx = 0;
  _swapFX.store(0);
  if (!_fftChannel) {
    log("Error creating fft channel: %d", SpectrumStream::errorGetCode());
  } else {
    _fftChannel->prepareFft(_fftInputSize);
    _delayLineFx = _fftChannel->setFx(SpectrumStream::FxType::DelayLine, 2);
  }
  if (_delayLineFx == 0)
    log("Error creating delay line effect: %d", SpectrumStream::errorGetCode());
}

void TFDataSource::setSamplingRate(uint32_t samplingRate) {
  _samplingRate.store(samplingRate, std::memory_order_relaxed);
  {
    std::lock_guard<std::mutex> lock(_fxLock);
    if (_fftChannel && _fftChannel->rate() == samplingRate) return;
    SpectrumStream::DelayLineParameters delay{0.0f, 0.0f};
    if (_fftChannel) _fftChannel->fxGetParameters(_delayLineFx, &delay);
    createStream(samplingRate);
    if (_fftChannel && _delayLineFx != 0 && !_fftChannel->fxSetParameters(_delayLineFx, delay))
      std::printf("FX Set Params ERROR: %d\n", SpectrumStream::errorGetCode());
    if (channelsSwapped()) applySwap(true);
  }
  // The same milliseconds are other samples now.
  _delayStale = true;
  // Frames of the old rate put their bins at other frequencies.
  resetAverages();
}

void TFDataSource::setFftInputSize(int32_t fftSize) {
  _fftInputSize = fftSize;
  _frameAnalysed = false;
  const size_t floats = 4 * static_cast<size_t>(fftSize);
  _dataFlag = dataFlagFor(fftSize);
  _frameSeparated = false;
  // The full layout costs four times the averages; it is made only for a reader of it.
  if (_fullSpectraKept) {
    allocateFullSpectra();
  } else {
    _inputPowerSpectraBuffer.reset();
    _outputPowerSpectraBuffer.reset();
    _ioCrossDensityBuffer.reset();
    _oiCrossDensityBuffer.reset();
  }
  _recordBufferSize = static_cast<int32_t>(floats);
  _recordBufferSizeBytes = static_cast<uint32_t>(floats * sizeof(float));
  _recordBuffer = fft::allocateFloats(floats + kPackedOffsetExtra);
  const size_t bins = static_cast<size_t>(fftSize) / 2 + 1;
  _powerA = fft::allocateFloats(bins);
  _powerB = fft::allocateFloats(bins);
  _crossRe = fft::allocateFloats(bins);
  _crossIm = fft::allocateFloats(bins);
  _compensation.resize(fftSize);
  _delayStale = true;
  if (_fftChannel) _fftChannel->prepareFft(fftSize);
}

void TFDataSource::update(double /*time*/) {
  applyDelayChange();
  restartIfDue();
  _analysedStart = _tailPosition;
  const uint64_t weightState = _avgState.load(std::memory_order_acquire);
  const float a = weightOf(weightState);

  const double now = _clock->now();
  const double dt = now - _lastConsumeTime;
  _lastConsumeTime = now;

  int32_t fill = 0;
  const void* tail = _circularBuffer.tail(&fill);
  const int32_t length = _circularBuffer.length;

  const uint32_t frameBytes = 8 * static_cast<uint32_t>(_fftInputSize);
  const uint32_t putBytes = std::min(static_cast<uint32_t>(fill), frameBytes);
  // Float samples of both channels the device produced since the last update. Held in
  // range: the first interval is measured from time 0 and a clock may step back.
  const double produced = std::trunc(2.0 * static_cast<double>(samplingRate()) * std::max(dt, 0.0));
  const uint64_t elapsedBytes =
      4 * static_cast<uint64_t>(std::min(produced, double{std::numeric_limits<uint32_t>::max()}));
  const auto n = static_cast<uint32_t>(std::min<uint64_t>(elapsedBytes, putBytes));
  // Slower than real time below two thirds full, faster above: the fill settles there.
  const float g = static_cast<float>(fill) * 1.5f / static_cast<float>(length);
  uint32_t consume = static_cast<uint32_t>(std::trunc(static_cast<float>(n) * g)) & ~7u;
  // Only a ring smaller than two frames (a later, larger FFT size) could ask for more.
  consume = std::min(consume, static_cast<uint32_t>(fill) & ~7u);

  uint32_t result = SpectrumStream::kFailed;
  int32_t error = kStreamErrorHandle;
  const bool swapped = channelsSwapped();
  if (_fftChannel) {
    // Windowed while the bins are read (three taps there), so the frame goes to the
    // transform as it lies in the ring.
    result = _fftChannel->putDataAndGetRawPackedSpectrum(putBytes > 0 ? tail : nullptr, putBytes,
                                                         packedSpectrum(), _dataFlag);
    error = SpectrumStream::errorGetCode();
    // The consumed frames become the delay line's past before the producer may reuse them.
    if (consume > 0) _fftChannel->passData(tail, consume);
  }
  if (consume > 0) _circularBuffer.consume(static_cast<int32_t>(consume));
  _tailPosition += consume / 8;

  if (result == SpectrumStream::kFailed) {
    log("Error in fft channel: %d", error);
    return;
  }
  _frameSwapped = swapped;
  _frameAnalysed = true;
  _packedSilence = _fftChannel->packedSilence();
  _packedExchanged = _fftChannel->packedExchanged();
  _frameSeparated = false;
  accumulate(a);
  slideFrom(weightState);
}

void TFDataSource::accumulate(float newWeight) {
  packed::average(packedFrame(), newWeight, _compensation.phaseRe(), _compensation.phaseIm(),
                  _powerA.get(), _powerB.get(), _crossRe.get(), _crossIm.get());
  if (_fullSpectraKept) writeFullSpectra();
}

packed::Frame TFDataSource::packedFrame() const {
  // Stream channel 1 is in the imaginary parts when the transform has them exchanged.
  return {packedSpectrum(), static_cast<size_t>(_fftInputSize), keepOf(_packedExchanged ? 2 : 1),
          keepOf(_packedExchanged ? 1 : 2), _packedExchanged};
}

TFDataSource::AveragedSpectra TFDataSource::averagedSpectra() const {
  return {_powerA.get(), _powerB.get(), _crossRe.get(), _crossIm.get(), _fftInputSize / 2 + 1};
}

TFDataSource::FrameSpectra TFDataSource::frameSpectra() const {
  if (!_frameAnalysed) return {nullptr, nullptr, _fftInputSize};
  // The recorder's blocks carry the measurement first; the swap puts the reference into
  // stream channel 1.
  float* channel1 = _recordBuffer.get();
  float* channel2 = channel1 + static_cast<size_t>(_fftInputSize) + kPackedOffsetExtra / 2;
  // Worked out from the packed transform only for a reader, once per frame.
  if (!_frameSeparated) {
    packed::separate(packedFrame(), channel1, channel2);
    _frameSeparated = true;
  }
  return _frameSwapped ? FrameSpectra{channel2, channel1, _fftInputSize}
                       : FrameSpectra{channel1, channel2, _fftInputSize};
}

const float* TFDataSource::inputPowerSpectraBuffer() const {
  keepFullSpectra();
  return _inputPowerSpectraBuffer.get();
}

const float* TFDataSource::outputPowerSpectraBuffer() const {
  keepFullSpectra();
  return _outputPowerSpectraBuffer.get();
}

const float* TFDataSource::ioCrossDensityBuffer() const {
  keepFullSpectra();
  return _ioCrossDensityBuffer.get();
}

const float* TFDataSource::oiCrossDensityBuffer() const {
  keepFullSpectra();
  return _oiCrossDensityBuffer.get();
}

void TFDataSource::keepFullSpectra() const {
  // A reader may keep the address between updates, so from now on every update keeps
  // the full layout current.
  if (_fullSpectraKept) return;
  _fullSpectraKept = true;
  allocateFullSpectra();
  writeFullSpectra();
}

void TFDataSource::allocateFullSpectra() const {
  const size_t floats = 4 * static_cast<size_t>(_fftInputSize);
  _inputPowerSpectraBuffer = fft::allocateFloats(floats);
  _outputPowerSpectraBuffer = fft::allocateFloats(floats);
  _ioCrossDensityBuffer = fft::allocateFloats(floats);
  _oiCrossDensityBuffer = fft::allocateFloats(floats);
}

void TFDataSource::writeFullSpectra() const {
  const float* __restrict powerA = _powerA.get();
  const float* __restrict powerB = _powerB.get();
  const float* __restrict crossRe = _crossRe.get();
  const float* __restrict crossIm = _crossIm.get();
  float* __restrict power = _inputPowerSpectraBuffer.get();
  float* __restrict io = _ioCrossDensityBuffer.get();
  float* __restrict oi = _oiCrossDensityBuffer.get();
  const auto n = static_cast<size_t>(_fftInputSize);
  for (size_t k = 0; k <= n / 2; ++k) {
    power[4 * k] = powerA[k];
    power[4 * k + 1] = powerB[k];
    io[4 * k] = crossRe[k];
    io[4 * k + 1] = crossIm[k];
    oi[4 * k] = crossRe[k];
    oi[4 * k + 1] = -crossIm[k];
  }
  // Bin k above N/2 is the conjugate of bin N − k: powers equal, cross parts conjugate.
  for (size_t k = n / 2 + 1; k < n; ++k) {
    power[4 * k] = powerA[n - k];
    power[4 * k + 1] = powerB[n - k];
    io[4 * k] = crossRe[n - k];
    io[4 * k + 1] = -crossIm[n - k];
    oi[4 * k] = crossRe[n - k];
    oi[4 * k + 1] = crossIm[n - k];
  }
}

void TFDataSource::setAveragingCoeficient(float avgCoef) {
  QV_ASSERT_TEXT(avgCoef <= 1.0f && avgCoef > 0.0f, "avgCoef <= 1.0f && avgCoef > 0.0f");
  _averagingCoeficient.store(avgCoef, std::memory_order_relaxed);
  resetAverages();
  _avgNewTarget.store(avgCoef, std::memory_order_relaxed);
  _avgOldMax.store(1.0f - avgCoef, std::memory_order_relaxed);
  // From the weight just reset, not re-read: an update running meanwhile may already have
  // slid it towards the old target, which could make the step negative.
  const float step = (1.0f - avgCoef) / 10.0f;
  _avgSlideStep.store(step, std::memory_order_relaxed);
  QV_ASSERT_TEXT(step >= 0.0f, "_avgSlideStep >= 0.0f");
}

void TFDataSource::resetAverages() {
  // The buffers stay: the next update, with weight 1, replaces them by its frame.
  uint64_t state = _avgState.load(std::memory_order_relaxed);
  while (!_avgState.compare_exchange_weak(state,
                                          packWeight(static_cast<uint32_t>(state >> 32) + 1, 1.0f),
                                          std::memory_order_release, std::memory_order_relaxed)) {
  }
}

void TFDataSource::updateAVGfactors() { slideFrom(_avgState.load(std::memory_order_acquire)); }

void TFDataSource::slideFrom(uint64_t seen) {
  const float weight = weightOf(seen);
  const float target = _avgNewTarget.load(std::memory_order_relaxed);
  if (!(weight > target)) return;
  const float next =
      weight - std::min(weight - target, _avgSlideStep.load(std::memory_order_relaxed));
  // Fails when a reset came in since `seen` was read, also during the accumulation: the
  // reset wins and the next update starts the averages from its frame alone.
  uint64_t expected = seen;
  _avgState.compare_exchange_strong(expected, packWeight(static_cast<uint32_t>(seen >> 32), next),
                                    std::memory_order_relaxed);
}

void TFDataSource::setChannelsSwapped(bool swapped) {
  std::lock_guard<std::mutex> lock(_fxLock);
  applySwap(swapped);
}

void TFDataSource::applySwap(bool swapped) {
  if (_fftChannel) {
    if (swapped) {
      if (_swapFX.load() == 0)
        _swapFX.store(_fftChannel->setFx(SpectrumStream::FxType::ChannelMix, 1));
      // Output channel 1 takes input channel 2 and the other way round.
      const SpectrumStream::ChannelMixParameters exchange{{2, 1}};
      if (!_fftChannel->fxSetParameters(_swapFX.load(), exchange))
        log("Cound not set SWAP effect! %d", SpectrumStream::errorGetCode());
    } else {
      _fftChannel->removeFx(_swapFX.load());
      _swapFX.store(0);
    }
  }
  _channelsSwapped.store(swapped);
}

void TFDataSource::setInputChannelCountSamplingRateAudioDataTransport(
    uint32_t inputChannelCount, uint32_t samplingRate,
    std::weak_ptr<QVAudioDataTransport> transport) {
  _inputChannelCount = inputChannelCount;
  QV_ASSERT(inputChannelCount == 2);
  // The rate control follows the announced rate; the stream keeps its own.
  _samplingRate.store(samplingRate, std::memory_order_relaxed);
  _audioDataTransport = std::move(transport);
}

void TFDataSource::getData(const void* data, uint32_t byteSize) {
  int32_t space = 0;
  void* head = _circularBuffer.head(&space);
  uint32_t copied = byteSize;
  if (byteSize > static_cast<uint32_t>(space)) {
    log("AAAAA");
    copied = static_cast<uint32_t>(space);
  }
  copied &= ~7u;  // whole frames only, so that the channels never change places
  if (copied < byteSize)
    _framesDropped.fetch_add((byteSize - copied) / 8, std::memory_order_relaxed);
  if (copied == 0) return;
  std::memcpy(head, data, copied);
  _circularBuffer.produce(static_cast<int32_t>(copied));
  _framesReceived.fetch_add(copied / 8, std::memory_order_release);
}

std::weak_ptr<QVAudioDataTransport> TFDataSource::audioDataTransport() const {
  return _audioDataTransport;
}

void TFDataSource::setAudioDataTransport(std::weak_ptr<QVAudioDataTransport> transport) {
  _audioDataTransport = std::move(transport);
}

}  // namespace qv
