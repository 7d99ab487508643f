#include "platform/Vector.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace qv::vec {
namespace {

constexpr float kMinNormal = std::numeric_limits<float>::min();
constexpr float kMaxFloat = std::numeric_limits<float>::max();
constexpr float kHalfPi = 1.57079632679489661923f;
constexpr float kPi = 3.14159265358979323846f;

// log10 of a positive normal float within 2 ulp, in straight-line code that vectorises:
// x = m·2^e with m in [√½, √2), log(m) from Cephes' single-precision polynomial, and the
// factors log10(e) and log10(2) split so that the small terms are added exactly first.
inline float log10Normal(float x) {
  const auto bits = std::bit_cast<int32_t>(x);
  int32_t e = ((bits >> 23) & 0xff) - 126;
  float m = std::bit_cast<float>((bits & 0x007fffff) | 0x3f000000);  // [0.5, 1)
  const bool low = m < 0.70710678118654752440f;
  const float doubled = m + m - 1.0f;
  const float plain = m - 1.0f;
  e = low ? e - 1 : e;
  m = low ? doubled : plain;
  const float z = m * m;
  float y = 7.0376836292e-2f;
  y = y * m - 1.1514610310e-1f;
  y = y * m + 1.1676998740e-1f;
  y = y * m - 1.2420140846e-1f;
  y = y * m + 1.4249322787e-1f;
  y = y * m - 1.6668057665e-1f;
  y = y * m + 2.0000714765e-1f;
  y = y * m - 2.4999993993e-1f;
  y = y * m + 3.3333331174e-1f;
  y = y * m * z;
  y = y - 0.5f * z;
  const auto fe = static_cast<float>(e);
  float r = y * 7.00731903251827651129e-4f;
  r += m * 7.00731903251827651129e-4f;
  r += fe * 2.48745663981195213739e-4f;
  r += y * 4.3359375e-1f;
  r += m * 4.3359375e-1f;
  r += fe * 3.0078125e-1f;
  return r;
}

// atan(a) for a in [0, 1] within 3 ulp: above tan(π/8) through atan(a) = π/4 +
// atan((a − 1)/(a + 1)), then Cephes' single-precision polynomial.
inline float atanUnit(float a) {
  const bool high = a > 0.41421356237309504880f;
  const float folded = (a - 1.0f) / (a + 1.0f);
  const float t = high ? folded : a;
  const float z = t * t;
  float p = 8.05374449538e-2f;
  p = p * z - 1.38776856032e-1f;
  p = p * z + 1.99777106478e-1f;
  p = p * z - 3.33329491539e-1f;
  const float r = p * z * t + t;
  const float shifted = 0.78539816339744830962f + r;
  return high ? shifted : r;
}

}  // namespace

void ztrans(const float* __restrict divisor, const float* __restrict re, const float* __restrict im,
            float* __restrict outRe, float* __restrict outIm, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    outRe[i] = re[i] / divisor[i];
    outIm[i] = im[i] / divisor[i];
  }
}

void zcoher(const float* __restrict powerA, const float* __restrict powerB, const float* crossRe,
            const float* __restrict crossIm, float* out, size_t n) {
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

QV_VECTOR_CLONES void conv(const float* __restrict in, const float* __restrict kernel,
                           size_t kernelLength, float* __restrict out, size_t outCount) {
  for (size_t i = 0; i < outCount; ++i) out[i] = 0.0f;
  // Tap-outer order keeps the inner loop a straight multiply-add over the output.
  for (size_t p = 0; p < kernelLength; ++p) {
    const float k = kernel[p];
    const float* src = in + p;
    for (size_t i = 0; i < outCount; ++i) out[i] += src[i] * k;
  }
}

QV_VECTOR_CLONES void vdbcon(const float* __restrict in, float* __restrict out, size_t n,
                             float reference, bool amplitude) {
  const float factor = amplitude ? 20.0f : 10.0f;
  for (size_t i = 0; i < n; ++i) out[i] = factor * log10Normal(in[i] / reference);
  // Zero, subnormal, negative and non-finite ratios are rare: the library has them right.
  for (size_t i = 0; i < n; ++i) {
    const float x = in[i] / reference;
    if (!(x >= kMinNormal && x <= kMaxFloat)) out[i] = factor * std::log10(x);
  }
}

QV_VECTOR_CLONES void zvphas(const float* __restrict re, const float* __restrict im,
                             float* __restrict out, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const float x = re[i];
    const float y = im[i];
    const float ax = std::fabs(x);
    const float ay = std::fabs(y);
    // Fold into the first octant, then unfold: the angle from the nearer axis first.
    const bool steep = ay > ax;
    const float a = (steep ? ax : ay) / (steep ? ay : ax);
    float r = atanUnit(a);
    const float complement = kHalfPi - r;
    r = steep ? complement : r;
    const float supplement = kPi - r;
    r = x < 0.0f ? supplement : r;
    // r >= 0 here: the sign of y, also of a signed zero, becomes the sign of the angle.
    const uint32_t sign = std::bit_cast<uint32_t>(y) & 0x80000000u;
    out[i] = std::bit_cast<float>(std::bit_cast<uint32_t>(r) | sign);
  }
  // Zeros and non-finite values follow the library's conventions.
  for (size_t i = 0; i < n; ++i) {
    const float ax = std::fabs(re[i]);
    const float ay = std::fabs(im[i]);
    if (!(ax <= kMaxFloat && ay <= kMaxFloat) || (ax == 0.0f && ay == 0.0f))
      out[i] = std::atan2(im[i], re[i]);
  }
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

float meanv(const float* in, size_t n) {
  return n == 0 ? 0.0f : sve(in, n) / static_cast<float>(n);
}

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

QV_VECTOR_CLONES size_t vkeepaudio(const float* __restrict in, float* __restrict out, size_t n,
                                   float limit) {
  size_t replaced = 0;
  for (size_t i = 0; i < n; ++i) {
    // A NaN fails the comparison too.
    const bool audio = std::fabs(in[i]) <= limit;
    out[i] = audio ? in[i] : 0.0f;
    replaced += audio ? 0 : 1;
  }
  return replaced;
}

double besselI0(double x) {
  double sum = 1.0, term = 1.0;
  const double q = x * x / 4.0;
  for (int k = 1; k < 60 && term > 1e-17 * sum; ++k) {
    term *= q / (static_cast<double>(k) * k);
    sum += term;
  }
  return sum;
}

}  // namespace qv::vec
