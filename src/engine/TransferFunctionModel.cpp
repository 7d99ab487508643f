#include "engine/TransferFunctionModel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/AnalysisConstants.h"
#include "platform/Assert.h"
#include "platform/Vector.h"

namespace qv {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Per band b in [from, to), the sums of the four averages over its bins [first, end).
// Most bands are a few bins wide: those add up plainly, for a vector's set-up and final
// reduction would cost more than the additions. Wide bands add in eight lanes per
// quantity, and the four quantities' lanes are then folded together, so that one short
// chain of shuffles ends all four sums.
#if defined(__GNUC__) && (defined(__clang__) || __GNUC__ >= 12)
// No function here takes or gives an eight-float vector, so none passes one across the ABI
// that the warning is about.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
QV_VECTOR_CLONES void sumBands(const int32_t* __restrict first, const int32_t* __restrict end,
                               int32_t from, int32_t to, const float* __restrict powerA,
                               const float* __restrict powerB, const float* __restrict crossReIn,
                               const float* __restrict crossImIn, float* __restrict input,
                               float* __restrict output, float* __restrict crossRe,
                               float* __restrict crossIm) {
  using Floats8 = float __attribute__((vector_size(32)));
  using Floats4 = float __attribute__((vector_size(16)));
  constexpr int32_t kNarrow = 16;
  for (int32_t b = from; b < to; ++b) {
    float sumRe = 0.0f, sumIm = 0.0f, sumA = 0.0f, sumB = 0.0f;
    int32_t j = first[b];
    const int32_t stop = end[b];
    if (stop - j >= kNarrow) {
      Floats8 re = {}, im = {}, pa = {}, pb = {};
      for (; j + 8 <= stop; j += 8) {
        Floats8 v;
        std::memcpy(&v, crossReIn + j, sizeof v);
        re += v;
        std::memcpy(&v, crossImIn + j, sizeof v);
        im += v;
        std::memcpy(&v, powerA + j, sizeof v);
        pa += v;
        std::memcpy(&v, powerB + j, sizeof v);
        pb += v;
      }
      const auto half = [](Floats8 v) {
        return __builtin_shufflevector(v, v, 0, 1, 2, 3) +
               __builtin_shufflevector(v, v, 4, 5, 6, 7);
      };
      const Floats4 r = half(re), i = half(im), a = half(pa), q = half(pb);
      // (r0 + r2, i0 + i2, r1 + r3, i1 + i3) and the same for the powers, then across.
      const Floats4 ri =
          __builtin_shufflevector(r, i, 0, 4, 1, 5) + __builtin_shufflevector(r, i, 2, 6, 3, 7);
      const Floats4 aq =
          __builtin_shufflevector(a, q, 0, 4, 1, 5) + __builtin_shufflevector(a, q, 2, 6, 3, 7);
      const Floats4 sums =
          __builtin_shufflevector(ri, aq, 0, 1, 4, 5) + __builtin_shufflevector(ri, aq, 2, 3, 6, 7);
      sumRe = sums[0], sumIm = sums[1], sumA = sums[2], sumB = sums[3];
    }
    for (; j < stop; ++j) {
      sumRe += crossReIn[j];
      sumA += powerA[j];
      sumIm += crossImIn[j];
      sumB += powerB[j];
    }
    crossRe[b] = sumRe;
    input[b] = sumA;
    crossIm[b] = sumIm;
    output[b] = sumB;
  }
}
#if defined(__GNUC__) && (defined(__clang__) || __GNUC__ >= 12)
#pragma GCC diagnostic pop
#endif

}  // namespace

TransferFunctionModel::TransferFunctionModel(uint64_t fftSize, uint64_t rate, int32_t octResolution,
                                             int64_t smoothing, std::shared_ptr<Clock> clock)
    : LinToLogTransformer(nullptr, static_cast<int32_t>(fftSize), static_cast<int64_t>(rate),
                          octResolution) {
  // The base built the band tables; the curves that depend on them are ours.
  rebuildCurves();
  _tfDataSource = std::make_shared<TFDataSource>(
      static_cast<uint32_t>(rate), static_cast<float>(fftSize), static_cast<float>(_startBand),
      static_cast<float>(_bandCount), 1.0f, std::move(clock));
  setSmoothing(smoothing);
  _coherenceThreshold.store(0.05f);
}

TransferFunctionModel::~TransferFunctionModel() = default;

void TransferFunctionModel::setOctResolution(int32_t octResolution) {
  LinToLogTransformer::setOctResolution(octResolution);
  rebuildCurves();
  // The kernel is kept for the caller's next setSmoothing, but one wider than an octave
  // of the new axis would reach past the work arrays (and past the axis, when its half
  // exceeds the band count): rebuild it for the same width, held within one octave.
  if (_smoothKernel && _smoothKernelLength > maxSmoothingKernelLength()) {
    const int64_t octave = (maxSmoothingKernelLength() - 1) / 2;
    setSmoothing(std::clamp<int64_t>(_smoothing, 1, octave));
  }
}

void TransferFunctionModel::setFftSizeWithSamplingRateOctResolution(int32_t fftSize,
                                                                    int64_t samplingRate,
                                                                    int32_t octResolution) {
  LinToLogTransformer::setFftSizeWithSamplingRateOctResolution(fftSize, samplingRate,
                                                               octResolution);
  // The band tables now index bins of the new size at the new rate; the spectra must
  // have them, and the stream's delay line must count samples at that rate.
  if (!_tfDataSource) return;
  if (_tfDataSource->fftInputSize() != fftSize) _tfDataSource->setFftInputSize(fftSize);
  _tfDataSource->setSamplingRate(static_cast<uint32_t>(samplingRate));
}

void TransferFunctionModel::rebuildCurves() {
  const auto bands = static_cast<uint64_t>(_bandCount);
  _mpolyline = std::make_shared<TFPolyline>(bands);
  _ppolyline = std::make_shared<TFPolyline>(bands);
  _cpolyline = std::make_shared<TFPolyline>(bands);

  // Room past the last band for the kernel to read the curve's zero continuation.
  const size_t size = 2 * (static_cast<size_t>(_bandCount) + maxSmoothingKernelLength() + 1);
  _input = fft::allocateFloats(size);
  _output = fft::allocateFloats(size);
  _crossReal = fft::allocateFloats(size);
  _crossImag = fft::allocateFloats(size);
  _bufferReal = fft::allocateFloats(size);
  _bufferImag = fft::allocateFloats(size);
  _bufferMagnitude = fft::allocateFloats(size);
  _bufferPhase = fft::allocateFloats(size);
  vec::vfill(kNaN, _bufferMagnitude.get(), size);
  vec::vfill(kNaN, _bufferPhase.get(), size);

  _bandFirstBin = std::make_unique<int32_t[]>(static_cast<size_t>(_bandCount));
  _bandEndBin = std::make_unique<int32_t[]>(static_cast<size_t>(_bandCount));
  const float* startEnd = _bandStartEndPt.get();
  for (int32_t b = 0; b < _bandCount; ++b) {
    const float s = startEnd[2 * b];
    const float e = startEnd[2 * b + 1];
    QV_ASSERT_TEXT(!(e < s), "!(n2<n1)");
    _bandFirstBin[b] = static_cast<int32_t>(std::ceil(s));
    _bandEndBin[b] = static_cast<int32_t>(std::ceil(e));
  }
}

int32_t TransferFunctionModel::maxSmoothingKernelLength() const {
  const auto octave =
      static_cast<int32_t>(std::trunc(bandIndexForFreq(1000.0f) - bandIndexForFreq(500.0f)));
  return 2 * octave + 1;
}

void TransferFunctionModel::setSmoothing(int64_t smoothing) {
  const int32_t octave = (maxSmoothingKernelLength() - 1) / 2;
  QV_ASSERT(smoothing >= 1 && smoothing <= octave);
  _smoothing = smoothing;
  vec::vfill(0.0f, _bufferMagnitude.get(), static_cast<size_t>(_bandCount));
  vec::vfill(0.0f, _bufferPhase.get(), static_cast<size_t>(_bandCount));

  const auto half = static_cast<int32_t>(octave / smoothing);
  const int32_t length = 2 * half + 1;
  auto kernel = std::make_unique<float[]>(static_cast<size_t>(length));
  if (length >= 2) {
    // A raised cosine over ±1/S octave whose end taps are zero.
    const float halfLength = static_cast<float>(length) * 0.5f;
    for (int32_t i = 0; i < half; ++i) {
      const float w = 1.0f + std::cos(static_cast<float>(M_PI * i / halfLength));
      kernel[half - i] = w;
      kernel[half + i] = w;
    }
  }
  const float sum = vec::sve(kernel.get(), static_cast<size_t>(length));
  vec::vsdiv(kernel.get(), sum, kernel.get(), static_cast<size_t>(length));
  _smoothKernel = std::move(kernel);
  _smoothKernelLength = length;
}

void TransferFunctionModel::setAveragingIndex(float averagingIndex) {
  _averagingIndex.store(averagingIndex, std::memory_order_relaxed);
  _tfDataSource->setAveragingCoeficient(averagingIndex / 1000.0f);
}

void TransferFunctionModel::resetAverages() { _tfDataSource->resetAverages(); }

void TransferFunctionModel::setDelayLeftAndRight(float left, float right) {
  _tfDataSource->setDelayLeftAndRight(left, right);
}

void TransferFunctionModel::setTfDataSource(std::shared_ptr<TFDataSource> dataSource) {
  QV_ASSERT(dataSource != nullptr);
  _tfDataSource = std::move(dataSource);
}

void TransferFunctionModel::gatherBands() {
  const TFDataSource::AveragedSpectra spectra = _tfDataSource->averagedSpectra();
  const float* __restrict powerA = spectra.powerA;
  const float* __restrict powerB = spectra.powerB;
  const float* __restrict crossReIn = spectra.crossRe;
  const float* __restrict crossImIn = spectra.crossIm;
  float* __restrict input = _input.get();
  float* __restrict output = _output.get();
  float* __restrict crossRe = _crossReal.get();
  float* __restrict crossIm = _crossImag.get();

  const int32_t interpolated = std::min(_interpolatedBandCount, _bandCount);
  for (int32_t b = 0; b < interpolated; ++b) {
    // Bands narrower than the bin spacing: interpolate at the band centre.
    const auto k = static_cast<size_t>(_closestLowerFftPts[b]);
    const double r = _interpCenterBandRatios[b];
    const auto lerp = [r, k](const float* v) {
      return static_cast<float>(v[k + 1] * r + (1.0 - r) * v[k]);
    };
    crossRe[b] = lerp(crossReIn);
    crossIm[b] = lerp(crossImIn);
    input[b] = lerp(powerA);
    output[b] = lerp(powerB);
  }
  sumBands(_bandFirstBin.get(), _bandEndBin.get(), interpolated, _bandCount, powerA, powerB,
           crossReIn, crossImIn, input, output, crossRe, crossIm);
}

void TransferFunctionModel::transform(double time) {
  advance(time);
  curves();
}

void TransferFunctionModel::curves() {
  gatherBands();

  const auto bands = static_cast<size_t>(_bandCount);
  float* input = _input.get();
  float* output = _output.get();
  float* crossRe = _crossReal.get();
  float* magnitude = _mpolyline->values();
  float* phase = _ppolyline->values();
  float* coherence = _cpolyline->values();

  vec::ztrans(input, crossRe, _crossImag.get(), _bufferReal.get(), _bufferImag.get(), bands);
  vec::zcoher(input, output, crossRe, _crossImag.get(), crossRe, bands);
  vec::zvmags(_bufferReal.get(), _bufferImag.get(), input, bands);

  // Entry h + i of a smoothed curve is the kernel applied from band i on: centred on h - 1 + i.
  const auto kernelLength = static_cast<size_t>(_smoothKernelLength);
  const size_t h = kernelLength / 2 + 1;
  QV_ASSERT(h < bands);
  const size_t outputs = bands - h;
  const float* kernel = _smoothKernel.get();
  vec::conv(input, kernel, kernelLength, _bufferMagnitude.get() + h, outputs);
  vec::vdbcon(_bufferMagnitude.get(), magnitude, bands, 1.0f, true);
  // Half of 20·log10 of a squared magnitude, one entry down so that band b is centred on b.
  vec::vsmul(magnitude + 1, 0.5f, magnitude, bands - 1);

  vec::conv(_bufferReal.get(), kernel, kernelLength, input + h, outputs);
  vec::conv(_bufferImag.get(), kernel, kernelLength, output + h, outputs);
  // One entry down, as the magnitude: phase b is the angle of the smoothed H centred on b,
  // not on the band below (1/96 octave off, several degrees on a steep phase).
  vec::zvphas(input + 1, output + 1, _bufferPhase.get(), bands - 1);
  vec::vsdiv(_bufferPhase.get(), kRadiansPerDegree, phase, bands - 1);

  smoothEnds(magnitude, phase);
  blank(magnitude, phase, crossRe);
  vec::vsmul(crossRe, kCoherenceScale, coherence, bands);
}

void TransferFunctionModel::smoothEnds(float* magnitude, float* phase) const {
  // Past the axis there is no curve: a kernel reaching there would read it as zero and bend
  // a flat response down (−0.9 dB at 21.6 kHz with 1/24 octave).
  const int32_t bands = _bandCount;
  const int32_t half = _smoothKernelLength / 2;
  const float* kernel = _smoothKernel.get();
  const float* re = _bufferReal.get();
  const float* im = _bufferImag.get();
  const auto smoothAt = [&](int32_t centre, double* sumRe, double* sumIm, double* sumPower) {
    const int32_t reach = std::min({half, centre, bands - 1 - centre});
    double weight = 0.0;
    *sumRe = *sumIm = *sumPower = 0.0;
    for (int32_t i = -reach; i <= reach; ++i) {
      const double w = kernel[half + i];
      const double r = re[centre + i], q = im[centre + i];
      *sumRe += w * r;
      *sumIm += w * q;
      *sumPower += w * (r * r + q * q);
      weight += w;
    }
    // The kernel's end taps are zero: a reach of one keeps only the centre, at weight 1.
    if (weight <= 0.0) {
      *sumRe = re[centre], *sumIm = im[centre];
      *sumPower = static_cast<double>(re[centre]) * re[centre] +
                  static_cast<double>(im[centre]) * im[centre];
    } else {
      *sumRe /= weight, *sumIm /= weight, *sumPower /= weight;
    }
  };
  const auto isEnd = [&](int32_t centre) { return centre < half || centre > bands - 1 - half; };
  for (int32_t c = 0; c < bands; ++c) {
    if (!isEnd(c)) {
      if (c == half) c = std::max(half, bands - half) - 1;  // jump to the top end
      continue;
    }
    double sumRe = 0.0, sumIm = 0.0, sumPower = 0.0;
    smoothAt(c, &sumRe, &sumIm, &sumPower);
    magnitude[c] = static_cast<float>(10.0 * std::log10(sumPower));
    phase[c] = static_cast<float>(std::atan2(sumIm, sumRe) * kDegreesPerRadian);
  }
}

void TransferFunctionModel::blank(float* magnitude, float* phase, float* coherence) const {
  const float threshold = _coherenceThreshold.load(std::memory_order_relaxed);
  const float limit = _bandLimitHz.load(std::memory_order_relaxed);
  const int32_t bands = _bandCount;
  // Bands from here up lie above the limit.
  int32_t above = bands;
  if (limit < _stopFreq)
    above = std::max(0, static_cast<int32_t>(std::ceil(bandIndexForFreq(limit))));
  while (above < bands && frequencyForBandIndex(static_cast<float>(above)) <= limit) ++above;
  while (above > 0 && frequencyForBandIndex(static_cast<float>(above - 1)) > limit) --above;
  const float nan = kNaN;
  for (int32_t b = 0; b < bands; ++b) {
    // A band without a magnitude or a phase (no reference power) has no coherence either.
    if (threshold > coherence[b] || b >= above || std::isnan(magnitude[b]) ||
        std::isnan(phase[b])) {
      magnitude[b] = nan;
      phase[b] = nan;
      coherence[b] = nan;
    }
  }
}

BandPoint TransferFunctionModel::closestMagnitudeDataForFrequencyHz(float frequency) const {
  return closestPoint(_mpolyline->values(), frequency);
}

BandPoint TransferFunctionModel::closestPhaseDataForFrequencyHz(float frequency) const {
  return closestPoint(_ppolyline->values(), frequency);
}

BandPoint TransferFunctionModel::closestCoherenceDataForFrequencyHz(float frequency) const {
  return closestPoint(_cpolyline->values(), frequency);
}

}  // namespace qv
