#pragma once
// Laying one or two channels of interleaved stereo frames out for a transform: one channel,
// windowed or not, as reals; or a channel of each of two runs as the real and imaginary
// parts of complex values. Thread contract: none (no state); nothing allocates.
#include <cstddef>
#include <cstdint>

namespace qv::framepacking {

// out[j] = window[j] · frames[2j] (one channel of interleaved frames) for j < count.
void copyChannel(const float* frames, const float* window, bool windowed, float* out,
                 uint32_t count);

// out[2i] = a[2i + channelA], out[2i + 1] = b[2i + channelB] for i < count (a and b may be the same
// run). Returns the bits of every value written ORed together, sign bits cleared: the real parts'
// in the low word, the imaginary parts' in the high word (zero: that part was silent).
uint64_t packChannels(const float* a, int channelA, const float* b, int channelB, float* out,
                      size_t count);

// Whether channel `channel` of frames [from, count) holds a sample that is not zero; stops
// at the first, which for a signal is at once.
bool hasSound(const float* frames, int channel, uint32_t from, uint32_t count);

}  // namespace qv::framepacking
