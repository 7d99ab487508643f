#pragma once
// Fixed-length radix-2 complex FFT with a built-in analysis window; every table is built
// in the constructor so that a transform is only the butterfly passes.
// Thread contract: none inside; one owner thread at a time (Transform writes Work).
#include <cstdint>
#include <vector>

namespace qv {

class Fft {
 public:
  // `points` must be a power of two. Window types 0 … 10; any other type is rectangular.
  Fft(int32_t points, int32_t sampleRate, uint32_t windowType);

  // `count` must equal Points. Writes sample·window into Work at bit-reversed positions,
  // so that Transform can run straight away.
  void CopyIn(const int16_t* samples, int32_t count);
  void CopyIn(const float* samples, int32_t count);

  // In-place forward transform of Work (input in bit-reversed order); the result is in
  // natural bin order and unscaled.
  void Transform();

  float GetReal(int32_t i) const;

  // Owners read Window, BitReverse and Points, and may fill Work themselves at
  // bit-reversed positions.
  int32_t Points;
  int32_t SampleRate;
  int32_t Log2Points;
  std::vector<int32_t> BitReverse;
  std::vector<float> Work;  // interleaved (re, im), 2·Points floats
  // Entry s (1 … Log2Points) holds Points complex factors for stage s; entry 0 is empty.
  std::vector<std::vector<float>> Twiddles;
  uint32_t WindowType;
  std::vector<float> Window;
};

}  // namespace qv
