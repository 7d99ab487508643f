#pragma once
// Lowers the rate of one channel by a whole factor D behind a linear-phase low-pass
// (Kaiser-windowed sinc of 24·D + 1 taps, cut off at 0.4 of the new rate): output k is the
// filtered input at index k·D, delayed by 12 output samples, the same for every channel.
// Thread contract: none inside; one thread uses it; push allocates nothing.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qv {

class Decimator {
 public:
  static constexpr int kTapsPerFactor = 24;

  void setUp(int factor);
  int factor() const { return factor_; }
  // The output samples' delay, in output samples.
  static constexpr int delay() { return kTapsPerFactor / 2; }

  // Filters `count` samples (every `stride` floats from `input`) and writes the outputs
  // they complete to `output`; returns how many. At most count / D + 1 are written.
  size_t push(const float* input, size_t count, size_t stride, float* output);

 private:
  int factor_ = 1;
  std::vector<float> taps_;
  // The newest taps − 1 inputs, then room for a chunk of new ones.
  std::vector<float> line_;
  size_t held_ = 0;  // inputs in line_
  int phase_ = 0;    // inputs to skip before the next output
};

}  // namespace qv
