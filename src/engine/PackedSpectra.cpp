#include "engine/PackedSpectra.h"

#include <cstring>

#include "platform/Vector.h"

// Every function taking or giving an eight-float vector here is inlined into the one that
// runs the loop, so no call passes one across the ABI that the warning is about.
#if defined(__GNUC__) && (defined(__clang__) || __GNUC__ >= 12)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace qv::packed {
namespace {

struct BinPair {
  float reA, imA, reB, imB;
};

// Bin k of P under the window, times two: V[k] = P[k] − (P[k−1] + P[k+1]) / 2 (the halves are
// folded into the weights, exactly, as they are powers of two). The neighbours of bins 0 and
// N − 1 wrap round the circle.
[[gnu::always_inline]] inline void windowed(const float* __restrict p, size_t k, size_t mask,
                                            float& re, float& im) {
  const size_t l = (k - 1) & mask, r = (k + 1) & mask;
  re = p[2 * k] - 0.5f * (p[2 * l] + p[2 * r]);
  im = p[2 * k + 1] - 0.5f * (p[2 * l + 1] + p[2 * r + 1]);
}

// Bin k of both channels, each still to be scaled by its keep / 2.
template <bool Exchanged>
[[gnu::always_inline]] inline BinPair unpack(const float* __restrict p, size_t k, size_t n) {
  const size_t mask = n - 1;
  float re, im, reM, imM;
  windowed(p, k, mask, re, im);
  windowed(p, (n - k) & mask, mask, reM, imM);
  if constexpr (Exchanged) return {im + imM, reM - re, re + reM, im - imM};
  return {re + reM, im - imM, im + imM, reM - re};
}

// The weights of the new frame's |A|², |B|² and conj(A)·B when A and B still lack their
// scale: each product carries the scales of both its factors.
struct Weights {
  float powerA, powerB, cross;
};
Weights weightsOf(const Frame& f, float a) {
  const float x = 0.5f * f.keepX, y = 0.5f * f.keepY;
  const float sa = f.exchanged ? y : x, sb = f.exchanged ? x : y;
  return {a * (sa * sa), a * (sb * sb), a * (sa * sb)};
}

// One bin's averages; written once for a float and once for a vector of eight bins.
template <bool Turned, typename V>
[[gnu::always_inline]] inline void averageBin(V reA, V imA, V reB, V imB, V wA, V wB, V wC, V b,
                                              V turnRe, V turnIm, V& powerA, V& powerB, V& crossRe,
                                              V& crossIm) {
  V re = reA * reB + imA * imB;
  V im = reA * imB - imA * reB;
  if constexpr (Turned) {
    const V turnedRe = re * turnRe - im * turnIm;
    im = re * turnIm + im * turnRe;
    re = turnedRe;
  }
  powerA = wA * (reA * reA + imA * imA) + b * powerA;
  powerB = wB * (reB * reB + imB * imB) + b * powerB;
  crossRe = wC * re + b * crossRe;
  crossIm = wC * im + b * crossIm;
}

template <bool Turned, bool Exchanged>
[[gnu::always_inline]] inline void averageScalar(const Frame& f, size_t k, const Weights& w,
                                                 float b, const float* turnRe, const float* turnIm,
                                                 float* powerA, float* powerB, float* crossRe,
                                                 float* crossIm) {
  const BinPair p = unpack<Exchanged>(f.spectrum, k, f.n);
  averageBin<Turned, float>(p.reA, p.imA, p.reB, p.imB, w.powerA, w.powerB, w.cross, b,
                            Turned ? turnRe[k] : 0.0f, Turned ? turnIm[k] : 0.0f, powerA[k],
                            powerB[k], crossRe[k], crossIm[k]);
}

template <bool Turned, bool Exchanged>
[[gnu::always_inline]] inline void averageBins(const Frame& f, float a,
                                               const float* __restrict turnRe,
                                               const float* __restrict turnIm,
                                               float* __restrict powerA, float* __restrict powerB,
                                               float* __restrict crossRe,
                                               float* __restrict crossIm) {
  const size_t n = f.n;
  const Weights w = weightsOf(f, a);
  const float b = 1.0f - a;
  // Bins 0 and 1 read neighbours across the wrap (bin N − 1 reads bin 0 as its right one).
  for (size_t k = 0; k < 2; ++k)
    averageScalar<Turned, Exchanged>(f, k, w, b, turnRe, turnIm, powerA, powerB, crossRe, crossIm);
  size_t k = 2;
#if defined(__GNUC__) && (defined(__clang__) || __GNUC__ >= 12)
  using V = float __attribute__((vector_size(32)));
  const auto load = [](const float* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
  };
  const auto store = [](float* p, V v) { std::memcpy(p, &v, sizeof v); };
  const V half = V{} + 0.5f;
  // Four bins (eight floats) from `p` on under the window: their neighbours are the same
  // floats one bin to either side.
  const auto hann = [&](const float* p) { return load(p) - half * (load(p - 2) + load(p + 2)); };
  const float* __restrict spectrum = f.spectrum;
  const V wA = V{} + w.powerA, wB = V{} + w.powerB, wC = V{} + w.cross, vb = V{} + b;
  for (; k + 7 <= n / 2; k += 8) {
    // Bins k … k + 7, and N − k … N − k − 7 in that order.
    const V z0 = hann(spectrum + 2 * k), z1 = hann(spectrum + 2 * k + 8);
    const V m0 = hann(spectrum + 2 * (n - k - 7)), m1 = hann(spectrum + 2 * (n - k - 3));
    const V re = __builtin_shufflevector(z0, z1, 0, 2, 4, 6, 8, 10, 12, 14);
    const V im = __builtin_shufflevector(z0, z1, 1, 3, 5, 7, 9, 11, 13, 15);
    const V reM = __builtin_shufflevector(m0, m1, 14, 12, 10, 8, 6, 4, 2, 0);
    const V imM = __builtin_shufflevector(m0, m1, 15, 13, 11, 9, 7, 5, 3, 1);
    const V reX = re + reM, imX = im - imM, reY = im + imM, imY = reM - re;
    V pa = load(powerA + k), pb = load(powerB + k), cr = load(crossRe + k), ci = load(crossIm + k);
    const V tr = Turned ? load(turnRe + k) : V{}, ti = Turned ? load(turnIm + k) : V{};
    if constexpr (Exchanged) {
      averageBin<Turned, V>(reY, imY, reX, imX, wA, wB, wC, vb, tr, ti, pa, pb, cr, ci);
    } else {
      averageBin<Turned, V>(reX, imX, reY, imY, wA, wB, wC, vb, tr, ti, pa, pb, cr, ci);
    }
    store(powerA + k, pa);
    store(powerB + k, pb);
    store(crossRe + k, cr);
    store(crossIm + k, ci);
  }
#endif
  for (; k <= n / 2; ++k)
    averageScalar<Turned, Exchanged>(f, k, w, b, turnRe, turnIm, powerA, powerB, crossRe, crossIm);
}

QV_VECTOR_CLONES void averagePlain(const Frame& f, float a, float* powerA, float* powerB,
                                   float* crossRe, float* crossIm) {
  if (f.exchanged) {
    averageBins<false, true>(f, a, nullptr, nullptr, powerA, powerB, crossRe, crossIm);
  } else {
    averageBins<false, false>(f, a, nullptr, nullptr, powerA, powerB, crossRe, crossIm);
  }
}

QV_VECTOR_CLONES void averageTurned(const Frame& f, float a, const float* turnRe,
                                    const float* turnIm, float* powerA, float* powerB,
                                    float* crossRe, float* crossIm) {
  if (f.exchanged) {
    averageBins<true, true>(f, a, turnRe, turnIm, powerA, powerB, crossRe, crossIm);
  } else {
    averageBins<true, false>(f, a, turnRe, turnIm, powerA, powerB, crossRe, crossIm);
  }
}

template <bool Exchanged>
void separateBins(const Frame& f, float* __restrict a, float* __restrict b) {
  const float x = 0.5f * f.keepX, y = 0.5f * f.keepY;
  const float sa = Exchanged ? y : x, sb = Exchanged ? x : y;
  for (size_t k = 0; k <= f.n / 2; ++k) {
    const BinPair p = unpack<Exchanged>(f.spectrum, k, f.n);
    a[2 * k] = sa * p.reA;
    a[2 * k + 1] = sa * p.imA;
    b[2 * k] = sb * p.reB;
    b[2 * k + 1] = sb * p.imB;
  }
}

}  // namespace

void average(const Frame& frame, float a, const float* turnRe, const float* turnIm, float* powerA,
             float* powerB, float* crossRe, float* crossIm) {
  if (turnRe) {
    averageTurned(frame, a, turnRe, turnIm, powerA, powerB, crossRe, crossIm);
  } else {
    averagePlain(frame, a, powerA, powerB, crossRe, crossIm);
  }
}

void separate(const Frame& frame, float* a, float* b) {
  if (frame.exchanged) {
    separateBins<true>(frame, a, b);
  } else {
    separateBins<false>(frame, a, b);
  }
}

}  // namespace qv::packed
