#include "audiolib/FramePacking.h"

#include <bit>
#include <cstring>

#include "platform/Vector.h"

namespace qv::framepacking {
namespace {

// out[2i] = a[2i + A], out[2i + 1] = b[2i + B]: the channel A of one run of interleaved frames and
// channel B of another, which may be the same run. Returns the bits of every value written ORed
// together, sign bits cleared: the real parts' in the low word, the imaginary parts' in the high
// word (zero: that part was silent).
template <int A, int B>
[[gnu::always_inline]] inline uint64_t packRun(const float* __restrict a, const float* __restrict b,
                                               float* __restrict out, size_t count) {
  uint32_t bitsA = 0, bitsB = 0;
  for (size_t i = 0; i < count; ++i) {
    const float x = a[2 * i + A], y = b[2 * i + B];
    out[2 * i] = x;
    out[2 * i + 1] = y;
    bitsA |= std::bit_cast<uint32_t>(x);
    bitsB |= std::bit_cast<uint32_t>(y);
  }
  return (static_cast<uint64_t>(bitsB & 0x7FFFFFFFu) << 32) | (bitsA & 0x7FFFFFFFu);
}

// out[2i] = a[2i], out[2i + 1] = b[2i + 1]: channel 1 of one run and channel 2 of another
// (or the same) run, as packRun<0, 1> gives them, eight floats at a time.
uint64_t blendRun(const float* __restrict a, const float* __restrict b, float* __restrict out,
                  size_t count) {
  uint32_t bitsA = 0, bitsB = 0;
  size_t i = 0;
#if defined(__GNUC__) && (defined(__clang__) || __GNUC__ >= 12)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
  using U = uint32_t __attribute__((vector_size(32)));
  U bits = {};
  for (; i + 4 <= count; i += 4) {
    U x, y;
    std::memcpy(&x, a + 2 * i, sizeof x);
    std::memcpy(&y, b + 2 * i, sizeof y);
    const U v = __builtin_shufflevector(x, y, 0, 9, 2, 11, 4, 13, 6, 15);
    std::memcpy(out + 2 * i, &v, sizeof v);
    bits |= v;
  }
  bitsA = bits[0] | bits[2] | bits[4] | bits[6];
  bitsB = bits[1] | bits[3] | bits[5] | bits[7];
#pragma GCC diagnostic pop
#endif
  for (; i < count; ++i) {
    out[2 * i] = a[2 * i];
    out[2 * i + 1] = b[2 * i + 1];
    bitsA |= std::bit_cast<uint32_t>(out[2 * i]);
    bitsB |= std::bit_cast<uint32_t>(out[2 * i + 1]);
  }
  return (static_cast<uint64_t>(bitsB & 0x7FFFFFFFu) << 32) | (bitsA & 0x7FFFFFFFu);
}

}  // namespace

QV_VECTOR_CLONES void copyChannel(const float* __restrict frames, const float* __restrict window,
                                  bool windowed, float* __restrict out, uint32_t count) {
  if (windowed) {
    for (size_t j = 0; j < count; ++j) out[j] = frames[2 * j] * window[j];
  } else {
    for (size_t j = 0; j < count; ++j) out[j] = frames[2 * j];
  }
}

QV_VECTOR_CLONES uint64_t packChannels(const float* a, int channelA, const float* b, int channelB,
                                       float* out, size_t count) {
  switch (2 * channelA + channelB) {
    case 1:
      return blendRun(a, b, out, count);
    case 2:
      return packRun<1, 0>(a, b, out, count);
    case 0:
      return packRun<0, 0>(a, b, out, count);
    default:
      return packRun<1, 1>(a, b, out, count);
  }
}

bool hasSound(const float* frames, int channel, uint32_t from, uint32_t count) {
  for (size_t j = from; j < count; ++j)
    if (std::bit_cast<uint32_t>(frames[2 * j + static_cast<size_t>(channel)]) & 0x7FFFFFFFu)
      return true;
  return false;
}

}  // namespace qv::framepacking
