#pragma once
// The program's one uniform random source: a subtractive lagged-Fibonacci generator over
// 55 words. Thread contract: not synchronised; shared() is used only by the generator's
// stream callback (one playing stream at a time). Copyable, so tests can replay it.
#include <array>
#include <cstdint>

namespace qv {

class SubtractiveRandom {
 public:
  static constexpr uint32_t kSeed = 161803398;

  SubtractiveRandom();
  // A value in [0, n).
  uint32_t next(uint32_t n);
  static SubtractiveRandom& shared();

 private:
  std::array<uint32_t, 55> t_{};
  uint32_t i_ = 0;
  uint32_t j_ = 31;
};

}  // namespace qv
