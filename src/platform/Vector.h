#pragma once
// Vector kernels for whole-curve arithmetic, written as plain loops over contiguous
// arrays so that the compiler vectorises them. Thread-safe (no state); allocate nothing.
// Names follow the vector-library calls the engine was designed around.
#include <cstddef>

// Hot loops that gain from wider vectors get an AVX2 version next to the baseline one; the
// loader picks one by the CPU (an ifunc). AVX2 without FMA: both versions round alike, lane
// for lane, and only the partial sums of a reduction may be added in another order.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_ADDRESS__) && \
    !defined(__SANITIZE_THREAD__)
#define QV_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define QV_VECTOR_CLONES
#endif

namespace qv::vec {

// Complex divided by real: (outRe, outIm)[i] = (re, im)[i] / divisor[i].
void ztrans(const float* divisor, const float* re, const float* im, float* outRe, float* outIm,
            size_t n);
// Coherence: out[i] = (re² + im²) / (powerA · powerB).
void zcoher(const float* powerA, const float* powerB, const float* crossRe, const float* crossIm,
            float* out, size_t n);
// Squared magnitudes: out[i] = re² + im².
void zvmags(const float* re, const float* im, float* out, size_t n);
// Correlation-style convolution: out[i] = Σ_{p<kernelLength} in[i + p] · kernel[p],
// for i < outCount; `in` must hold outCount + kernelLength − 1 values.
void conv(const float* in, const float* kernel, size_t kernelLength, float* out, size_t outCount);
// Decibels: 20·log10(in/reference) with the amplitude flag set, else 10·log10(in/reference);
// within 2 ulp of the library's log10 before the factor.
void vdbcon(const float* in, float* out, size_t n, float reference, bool amplitude);
// Phase: out[i] = atan2(im, re) in radians, within 3 ulp of the library's atan2.
void zvphas(const float* re, const float* im, float* out, size_t n);
// Scalar multiply and divide.
void vsmul(const float* in, float scalar, float* out, size_t n);
void vsdiv(const float* in, float scalar, float* out, size_t n);
// Element-wise add and multiply.
void vadd(const float* a, const float* b, float* out, size_t n);
void vmul(const float* a, const float* b, float* out, size_t n);
// Sum, sum of squares, mean.
float sve(const float* in, size_t n);
float svesq(const float* in, size_t n);
float meanv(const float* in, size_t n);
// Largest magnitude and its first index (index 0 and value 0 for n = 0).
void maxmgvi(const float* in, size_t n, float* maxMagnitude, size_t* index);
// Fills with a value.
void vfill(float value, float* out, size_t n);
// Copies samples, taking as silence any that is no audio (not a number, infinite, or beyond
// ±limit); returns how many it replaced.
size_t vkeepaudio(const float* in, float* out, size_t n, float limit);

// The modified Bessel function of the first kind, order 0, by its series: a Kaiser window's
// shape, I0(β·√(1 − r²)) / I0(β).
double besselI0(double x);

}  // namespace qv::vec
