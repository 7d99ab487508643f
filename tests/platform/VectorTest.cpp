#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "platform/Vector.h"

namespace qv::vec {
namespace {

// Every kernel against a plain reference loop, on lengths that exercise the vector body
// and its remainder.
class VectorKernels : public ::testing::TestWithParam<size_t> {
 protected:
  void SetUp() override {
    std::mt19937 gen(42);
    std::uniform_real_distribution<float> d(-2.0f, 2.0f);
    std::uniform_real_distribution<float> p(0.1f, 3.0f);
    const size_t n = GetParam() + 16;
    for (auto* v : {&a, &b, &c, &e}) {
      v->resize(n);
      for (auto& x : *v) x = d(gen);
    }
    pos1.resize(n);
    pos2.resize(n);
    for (auto& x : pos1) x = p(gen);
    for (auto& x : pos2) x = p(gen);
    out.assign(n, 0.0f);
    out2.assign(n, 0.0f);
  }
  std::vector<float> a, b, c, e, pos1, pos2, out, out2;
};

TEST_P(VectorKernels, ElementWiseKernelsMatchReferenceLoops) {
  const size_t n = GetParam();
  ztrans(pos1.data(), a.data(), b.data(), out.data(), out2.data(), n);
  for (size_t i = 0; i < n; ++i) {
    EXPECT_FLOAT_EQ(out[i], a[i] / pos1[i]);
    EXPECT_FLOAT_EQ(out2[i], b[i] / pos1[i]);
  }
  zcoher(pos1.data(), pos2.data(), a.data(), b.data(), out.data(), n);
  for (size_t i = 0; i < n; ++i)
    EXPECT_FLOAT_EQ(out[i], (a[i] * a[i] + b[i] * b[i]) / (pos1[i] * pos2[i]));
  zvmags(a.data(), b.data(), out.data(), n);
  for (size_t i = 0; i < n; ++i) EXPECT_FLOAT_EQ(out[i], a[i] * a[i] + b[i] * b[i]);
  vdbcon(pos1.data(), out.data(), n, 1.0f, true);
  vdbcon(pos1.data(), out2.data(), n, 2.0f, false);
  for (size_t i = 0; i < n; ++i) {
    EXPECT_NEAR(out[i], 20.0 * std::log10(pos1[i]), 1e-4);
    EXPECT_NEAR(out2[i], 10.0 * std::log10(pos1[i] / 2.0), 1e-4);
  }
  zvphas(a.data(), b.data(), out.data(), n);
  for (size_t i = 0; i < n; ++i) EXPECT_FLOAT_EQ(out[i], std::atan2(b[i], a[i]));
  out[n] = 777.0f;
  vsmul(a.data(), 0.5f, out.data(), n);
  vsdiv(a.data(), 0.017453292f, out2.data(), n);
  for (size_t i = 0; i < n; ++i) {
    EXPECT_FLOAT_EQ(out[i], a[i] * 0.5f);
    EXPECT_FLOAT_EQ(out2[i], a[i] / 0.017453292f);
  }
  EXPECT_EQ(out[n], 777.0f);  // nothing past n is touched
}

TEST_P(VectorKernels, ReductionsMatchDoubleReferences) {
  const size_t n = GetParam();
  double sum = 0, sq = 0;
  for (size_t i = 0; i < n; ++i) {
    sum += a[i];
    sq += double(a[i]) * a[i];
  }
  EXPECT_NEAR(sve(a.data(), n), sum, 1e-3 * (1 + n / 100.0));
  EXPECT_NEAR(svesq(a.data(), n), sq, 1e-3 * (1 + sq / 1000.0));
  float m = -1;
  size_t at = 99999;
  maxmgvi(a.data(), n, &m, &at);
  float refMax = 0;
  size_t refAt = 0;
  for (size_t i = 0; i < n; ++i)
    if (std::fabs(a[i]) > refMax) refMax = std::fabs(a[i]), refAt = i;
  EXPECT_EQ(m, refMax);
  EXPECT_EQ(at, refAt);
}

TEST_P(VectorKernels, ConvolutionIsCorrelationStyle) {
  const size_t n = GetParam();
  const size_t k = 17;
  std::vector<float> in(n + k), kernel(k);
  for (size_t i = 0; i < in.size(); ++i) in[i] = a[i % a.size()];
  for (size_t p = 0; p < k; ++p) kernel[p] = static_cast<float>(p + 1);  // not symmetric
  std::vector<float> result(n + 1, 123.0f);
  conv(in.data(), kernel.data(), k, result.data(), n);
  for (size_t i = 0; i < n; ++i) {
    double ref = 0;
    for (size_t p = 0; p < k; ++p) ref += double(in[i + p]) * kernel[p];
    EXPECT_NEAR(result[i], ref, 1e-3);
  }
  EXPECT_EQ(result[n], 123.0f);
}

INSTANTIATE_TEST_SUITE_P(Lengths, VectorKernels, ::testing::Values(1, 7, 64, 1100));

// Decibels and phase are computed by our own vectorised polynomials: within a few ulp of
// the library over the whole float range, and exactly its values at zeros, infinities,
// NaN, negative and subnormal inputs, and on the axes.
TEST(VectorKernelsEdge, DecibelsAndPhaseFollowTheLibraryOverTheWholeRange) {
  const auto ulps = [](float a, float b) -> int64_t {
    if (std::isnan(a) && std::isnan(b)) return 0;
    if (a == b) return 0;
    const auto key = [](float v) {
      const auto i = static_cast<int64_t>(std::bit_cast<int32_t>(v));
      return i < 0 ? int64_t{INT32_MIN} - i : i;
    };
    return std::llabs(key(a) - key(b));
  };
  std::mt19937 gen(9);
  std::uniform_real_distribution<float> exponent(-37.0f, 38.0f);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float least = std::numeric_limits<float>::min(), most = std::numeric_limits<float>::max();
  std::vector<float> x = {0.0f,   -0.0f, inf,   -inf,        nan,   -1.0f,
                          1e-40f, 1.0f,  10.0f, 0.70710677f, least, most};
  std::vector<float> y = {0.0f, 0.0f, 1.0f, -1.0f,  1.0f,  -0.0f,
                          inf,  -inf, nan,  1e-30f, -2.0f, 0.0f};
  while (x.size() < 100000) {
    x.push_back(unit(gen) * std::pow(10.0f, exponent(gen)));
    y.push_back(unit(gen) * std::pow(10.0f, exponent(gen) / 4.0f));
  }
  std::vector<float> db(x.size()), phase(x.size());
  vdbcon(x.data(), db.data(), x.size(), 1.0f, false);
  zvphas(x.data(), y.data(), phase.data(), x.size());
  for (size_t i = 0; i < x.size(); ++i) {
    const float ref = 10.0f * std::log10(x[i]);
    if (std::isfinite(ref) && std::fabs(ref) > 1e-3f) {
      ASSERT_LE(ulps(db[i], ref), 3) << x[i];
    } else {
      ASSERT_EQ(ulps(db[i], ref), 0) << x[i];
    }
    ASSERT_LE(ulps(phase[i], std::atan2(y[i], x[i])), 3) << y[i] << ", " << x[i];
    ASSERT_EQ(std::signbit(phase[i]), std::signbit(std::atan2(y[i], x[i]))) << y[i] << ", " << x[i];
  }
}

TEST(VectorKernelsEdge, CoherenceMayOverwriteItsCrossInput) {
  std::vector<float> pa{1, 4}, pb{4, 1}, re{2, 1}, im{0, 1};
  zcoher(pa.data(), pb.data(), re.data(), im.data(), re.data(), 2);
  EXPECT_FLOAT_EQ(re[0], 1.0f);  // |2|² / (1·4)
  EXPECT_FLOAT_EQ(re[1], 0.5f);  // (1 + 1) / (4·1)
}

TEST(VectorKernelsEdge, EmptyMaximumIsZeroAtZero) {
  float m = 5;
  size_t at = 5;
  maxmgvi(nullptr, 0, &m, &at);
  EXPECT_EQ(m, 0.0f);
  EXPECT_EQ(at, 0u);
}

}  // namespace
}  // namespace qv::vec
