#include "platform/Vector.h"

#include <cmath>

namespace qv::vec {

void ztrans(const float* __restrict divisor, const float* __restrict re,
            const float* __restrict im, float* __restrict outRe, float* __restrict outIm,
            size_t n) {
  for (size_t i = 0; i < n; ++i) {
    outRe[i] = re[i] / divisor[i];
    outIm[i] = im[i] / divisor[i];
  }
}

void zcoher(const float* __restrict powerA, const float* __restrict powerB,
            const float* crossRe, const float* __restrict crossIm, float* out, size_t n) {
  // out may alias crossRe: each element is read before it is written.
  for (size_t i = 0; i < n; ++i) {
    const float re = crossRe[i];
    const float im = crossIm[i];
    out[i] = (re * re + im * im) / (powerA[i] * powerB[i]);
  }
}

void zvmags(const float* __restrict re, const float* __restrict im, float* __restrict out,
            size_t n) {
  for (size_t i = 0; i < n; ++i) out[i] = re[i] * re[i] + im[i] * im[i];
}

void conv(const float* __restrict in, const float* __restrict kernel, size_t kernelLength,
          float* __restrict out, size_t outCount) {
  for (size_t i = 0; i < outCount; ++i) out[i] = 0.0f;
  // Tap-outer order keeps the inner loop a straight multiply-add over the output.
  for (size_t p = 0; p < kernelLength; ++p) {
    const float k = kernel[p];
    const float* src = in + p;
    for (size_t i = 0; i < outCount; ++i) out[i] += src[i] * k;
  }
}

void vdbcon(const float* in, float* out, size_t n, float reference, bool amplitude) {
  const float factor = amplitude ? 20.0f : 10.0f;
  for (size_t i = 0; i < n; ++i) out[i] = factor * std::log10(in[i] / reference);
}

void zvphas(const float* __restrict re, const float* __restrict im, float* __restrict out,
            size_t n) {
  for (size_t i = 0; i < n; ++i) out[i] = std::atan2(im[i], re[i]);
}

void vsmul(const float* in, float scalar, float* out, size_t n) {
  for (size_t i = 0; i < n; ++i) out[i] = in[i] * scalar;
}

void vsdiv(const float* in, float scalar, float* out, size_t n) {
  for (size_t i = 0; i < n; ++i) out[i] = in[i] / scalar;
}

void vadd(const float* a, const float* b, float* out, size_t n) {
  for (size_t i = 0; i < n; ++i) out[i] = a[i] + b[i];
}

void vmul(const float* a, const float* b, float* out, size_t n) {
  for (size_t i = 0; i < n; ++i) out[i] = a[i] * b[i];
}

float sve(const float* in, size_t n) {
  float sum = 0.0f;
#pragma omp simd reduction(+ : sum)
  for (size_t i = 0; i < n; ++i) sum += in[i];
  return sum;
}

float svesq(const float* in, size_t n) {
  float sum = 0.0f;
#pragma omp simd reduction(+ : sum)
  for (size_t i = 0; i < n; ++i) sum += in[i] * in[i];
  return sum;
}

float meanv(const float* in, size_t n) { return n == 0 ? 0.0f : sve(in, n) / static_cast<float>(n); }

void maxmgvi(const float* in, size_t n, float* maxMagnitude, size_t* index) {
  float best = 0.0f;
  size_t at = 0;
  for (size_t i = 0; i < n; ++i) {
    const float m = std::fabs(in[i]);
    if (m > best) {
      best = m;
      at = i;
    }
  }
  *maxMagnitude = best;
  *index = at;
}

void vfill(float value, float* out, size_t n) {
  for (size_t i = 0; i < n; ++i) out[i] = value;
}

}  // namespace qv::vec
