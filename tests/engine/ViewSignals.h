#pragma once
// Signals and frames for the spectrum views' tests: the frames come from the spectrum
// stream itself (the periodic Hann window and unscaled FFT the live data source uses), so
// the tests hold the views to the frames the program hands them.
#include <cmath>
#include <complex>
#include <cstdint>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

#include "audiolib/SpectrumStream.h"
#include "platform/FftBackend.h"
#include "support/TestSignals.h"

namespace qv::test {

// The half spectra of both inputs of N interleaved frames (measurement, reference).
class StreamFrames {
 public:
  StreamFrames(uint32_t rate, int n)
      : stream_(SpectrumStream::create(rate, 2, 10.0f)),
        n_(n),
        measurement_(fft::allocateFloats(static_cast<size_t>(n) + 2)),
        reference_(fft::allocateFloats(static_cast<size_t>(n) + 2)) {
    stream_->prepareFft(n);
  }
  void analyse(const float* interleaved) {
    stream_->putDataAndGetHalfSpectra(interleaved, 8u * static_cast<uint32_t>(n_),
                                      measurement_.get(), reference_.get(),
                                      SpectrumStream::complexFftFlags(n_));
  }
  // Both inputs the same channel.
  void analyseMono(const float* samples) {
    interleaved_.resize(2 * static_cast<size_t>(n_));
    for (int i = 0; i < n_; ++i) interleaved_[2 * i] = interleaved_[2 * i + 1] = samples[i];
    analyse(interleaved_.data());
  }
  const float* measurement() const { return measurement_.get(); }
  const float* reference() const { return reference_.get(); }

 private:
  std::unique_ptr<SpectrumStream> stream_;
  int n_;
  fft::AlignedFloats measurement_;
  fft::AlignedFloats reference_;
  std::vector<float> interleaved_;
};

// In-place radix-2 FFT of any power-of-two length (the backend stops at 2^16).
inline void fftInPlace(std::vector<std::complex<double>>& x, bool inverse) {
  const size_t n = x.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(x[i], x[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const double angle = (inverse ? 2.0 : -2.0) * std::numbers::pi / static_cast<double>(len);
    const std::complex<double> step = std::polar(1.0, angle);
    for (size_t start = 0; start < n; start += len) {
      std::complex<double> w = 1.0;
      for (size_t k = 0; k < len / 2; ++k) {
        const auto a = x[start + k];
        const auto b = x[start + k + len / 2] * w;
        x[start + k] = a + b;
        x[start + k + len / 2] = a - b;
        w *= step;
      }
    }
  }
}

// One period (`length` samples, a power of two) of pink noise whose every line has the
// power 1/f exactly and a random phase. Analysed in frames that start every `length` / 32
// samples or closer, all round the period, the lines' cross terms cancel and every band
// holds exactly its share of 1/f: a pink signal without the scatter of random noise.
inline std::vector<float> periodicPink(size_t length, uint32_t seed, double rms) {
  std::mt19937 generator(seed);
  std::uniform_real_distribution<double> turn(0.0, 2.0 * std::numbers::pi);
  std::vector<std::complex<double>> x(length);
  for (size_t k = 1; k < length / 2; ++k) {
    x[k] = std::polar(1.0 / std::sqrt(static_cast<double>(k)), turn(generator));
    x[length - k] = std::conj(x[k]);
  }
  fftInPlace(x, true);
  double sum = 0.0;
  for (const auto& v : x) sum += v.real() * v.real();
  const double scale = rms / std::sqrt(sum / static_cast<double>(length));
  std::vector<float> out(length);
  for (size_t i = 0; i < length; ++i) out[i] = static_cast<float>(x[i].real() * scale);
  return out;
}

}  // namespace qv::test
