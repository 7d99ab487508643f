#include "audio/SubtractiveRandom.h"

namespace qv {

SubtractiveRandom::SubtractiveRandom() {
  // Knuth's subtractive seeding, 0-based and in 32-bit wrap-around arithmetic: the seed
  // fills the table in the order 21·k mod 55, then four passes mix it.
  uint32_t mj = kSeed;
  t_[0] = mj;
  uint32_t mk = 1;
  for (uint32_t k = 1; k < 55; ++k) {
    const uint32_t ii = (21 * k) % 55;
    t_[ii] = mk;
    mk = mj - mk;
    mj = t_[ii];
  }
  for (int pass = 0; pass < 4; ++pass) {
    for (uint32_t k = 0; k < 55; ++k) t_[k] -= t_[(k + 31) % 55];
  }
}

uint32_t SubtractiveRandom::next(uint32_t n) {
  i_ = (i_ + 1) % 55;
  j_ = (j_ + 1) % 55;
  t_[i_] -= t_[j_];
  return t_[i_] % n;
}

SubtractiveRandom& SubtractiveRandom::shared() {
  static SubtractiveRandom random;
  return random;
}

}  // namespace qv
