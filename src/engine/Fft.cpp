#include "engine/Fft.h"

#include <cmath>
#include <cstddef>
#include <numbers>

#include "platform/Assert.h"

namespace qv {
namespace {

// Window value at n of N; types outside the table give the rectangular window, since a
// window that leaves the input untouched is the least surprising choice.
double windowValue(uint32_t type, int32_t n, int32_t points) {
  const double N = points;
  const double phase = 2.0 * std::numbers::pi * n / N;
  auto c = [phase](int k) { return std::cos(k * phase); };
  const double x = 2.0 * (n - N / 2.0) / N;
  const double y = (n - N / 2.0) / N;
  switch (type) {
    case 1:
      return 0.5 - 0.5 * c(1);
    case 2:
      return 0.54 - 0.46 * c(1);
    case 3:
      return 0.42659 - 0.49656 * c(1) + 0.07685 * c(2);
    case 4:
      return 0.35875 - 0.48829 * c(1) + 0.14128 * c(2) - 0.01168 * c(3);
    case 5:
      return 1.0 - x * x;
    case 6:
      return n < points / 2 ? 1.0 + x : 1.0 - x;
    case 7:
      return (-0.5000000000000004 - std::cos(4.0 * std::acos(y))) / -1.5000000000000004;
    case 8:
      return 0.5 * (1.0 - std::cos(6.0 * std::acos(y)));
    case 9:
      return (1.0 - 1.93 * c(1) + 1.29 * c(2) - 0.388 * c(3) + 0.0322 * c(4)) / 4.64;
    case 10:
      return (1.0 - 1.24 * c(1) + 0.244 * c(2) - 0.00305 * c(3)) / 2.48;
    default:
      return 1.0;
  }
}

}  // namespace

Fft::Fft(int32_t points, int32_t sampleRate, uint32_t windowType)
    : Points(points), SampleRate(sampleRate), Log2Points(0), WindowType(windowType) {
  QV_ASSERT(points > 0);
  for (uint32_t rest = static_cast<uint32_t>(points) - 1; rest != 0; rest >>= 1) ++Log2Points;

  BitReverse.assign(static_cast<size_t>(points), 0);
  Work.assign(2 * static_cast<size_t>(points), 0.0f);
  Twiddles.resize(static_cast<size_t>(Log2Points) + 1);

  for (int32_t s = 1; s <= Log2Points; ++s) {
    const double L = static_cast<double>(int64_t{1} << s);
    auto& table = Twiddles[static_cast<size_t>(s)];
    table.resize(2 * static_cast<size_t>(points));
    for (int32_t k = 0; k < points; ++k) {
      const double angle = 2.0 * std::numbers::pi * k / L;
      table[2 * static_cast<size_t>(k)] = static_cast<float>(std::cos(angle));
      table[2 * static_cast<size_t>(k) + 1] = static_cast<float>(-std::sin(angle));
    }
  }

  int32_t j = 0;
  for (int32_t i = 0; i < points - 1; ++i) {
    BitReverse[static_cast<size_t>(i)] = j;
    int32_t m = points / 2;
    while (m > 0 && j >= m) {
      j -= m;
      m /= 2;
    }
    j += m;
  }
  BitReverse[static_cast<size_t>(points) - 1] = points - 1;

  Window.resize(static_cast<size_t>(points));
  for (int32_t n = 0; n < points; ++n) {
    Window[static_cast<size_t>(n)] = static_cast<float>(windowValue(windowType, n, points));
  }
}

void Fft::CopyIn(const int16_t* samples, int32_t count) {
  QV_ASSERT_TEXT(count == Points, "count == _Points");
  for (int32_t i = 0; i < count; ++i) {
    const size_t at = 2 * static_cast<size_t>(BitReverse[static_cast<size_t>(i)]);
    Work[at] = static_cast<float>(samples[i]) * Window[static_cast<size_t>(i)];
    Work[at + 1] = 0.0f;
  }
}

void Fft::CopyIn(const float* samples, int32_t count) {
  QV_ASSERT_TEXT(count == Points, "count == _Points");
  for (int32_t i = 0; i < count; ++i) {
    const size_t at = 2 * static_cast<size_t>(BitReverse[static_cast<size_t>(i)]);
    Work[at] = samples[i] * Window[static_cast<size_t>(i)];
    Work[at + 1] = 0.0f;
  }
}

void Fft::Transform() {
  float* work = Work.data();
  const int32_t n = Points;
  int32_t half = 1;
  for (int32_t s = 1; s <= Log2Points; ++s) {
    const int32_t step = 2 * half;
    const float* w = Twiddles[static_cast<size_t>(s)].data();
    for (int32_t j = 0; j < half; ++j) {
      const float wr = w[2 * static_cast<std::ptrdiff_t>(j)];
      const float wi = w[2 * static_cast<std::ptrdiff_t>(j) + 1];
      for (int32_t i = j; i < n; i += step) {
        float* a = work + 2 * static_cast<std::ptrdiff_t>(i);
        float* b = work + 2 * static_cast<std::ptrdiff_t>(i + half);
        const float tr = b[0] * wr - b[1] * wi;
        const float ti = b[0] * wi + b[1] * wr;
        b[0] = a[0] - tr;
        b[1] = a[1] - ti;
        a[0] += tr;
        a[1] += ti;
      }
    }
    half = step;
  }
}

float Fft::GetReal(int32_t i) const {
  QV_ASSERT(i >= 0);
  QV_ASSERT_TEXT(i < Points, "i < _Points");
  return Work[2 * static_cast<size_t>(i)];
}

}  // namespace qv
