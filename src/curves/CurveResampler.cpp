#include "curves/CurveResampler.h"

#include <cmath>

namespace qv::curves {
namespace {

bool same(double a, double b) { return std::fabs(a / b - 1.0) < CurveResampler::kSameFrequency; }

// The band a frequency lies on, or -1 when it lies between bands.
long bandAt(double hz) {
  const double index = std::round(BandAxis::bandForFrequency(hz));
  if (index < 0.0) return -1;
  return same(hz, BandAxis::frequencyForBand(static_cast<float>(index))) ? static_cast<long>(index)
                                                                         : -1;
}

double valueAt(const std::vector<double>& values, std::size_t i) {
  return values.empty() ? std::nan("") : values[i];
}

// Writes point i's values into band b.
void take(const CurvePoints& p, std::size_t i, std::size_t b, BandCurves& out) {
  out.magnitude[b] = static_cast<float>(p.magnitude[i]);
  out.phase[b] = static_cast<float>(wrapDegrees(valueAt(p.phase, i)));
  const double coherence = p.coherence.empty() ? 1.0 : p.coherence[i];
  out.coherence[b] = std::isnan(out.magnitude[b])
                         ? BandCurves::kBlank
                         : static_cast<float>(coherence * BandCurves::kCoherenceScale);
}

}  // namespace

BandCurves CurveResampler::toAxis(const CurvePoints& p, const BandAxis& axis) {
  const std::size_t bands = axis.bandCount();
  BandCurves out(bands);
  const std::size_t n = p.frequency.size();
  if (n == 0) return out;

  bool onGrid = true;
  for (std::size_t i = 0; i < n && onGrid; ++i) onGrid = bandAt(p.frequency[i]) >= 0;
  if (onGrid) {
    for (std::size_t i = 0; i < n; ++i) {
      const auto b = static_cast<std::size_t>(bandAt(p.frequency[i]));
      if (b < bands) take(p, i, b, out);
    }
    return out;
  }

  std::vector<double> logs(n);
  for (std::size_t i = 0; i < n; ++i) logs[i] = std::log10(p.frequency[i]);
  std::size_t i = 0;  // the segment [i, i + 1] holding the band, both rising
  for (std::size_t b = 0; b < bands; ++b) {
    const double f = axis.frequency(b);
    while (i + 1 < n && p.frequency[i + 1] <= f) ++i;
    if (same(f, p.frequency[i])) {
      take(p, i, b, out);
      continue;
    }
    if (i + 1 < n && same(f, p.frequency[i + 1])) {
      take(p, i + 1, b, out);
      continue;
    }
    if (f < p.frequency[i] || i + 1 >= n) continue;  // outside the file's range
    const double t = (std::log10(f) - logs[i]) / (logs[i + 1] - logs[i]);
    const double m = p.magnitude[i] + t * (p.magnitude[i + 1] - p.magnitude[i]);
    if (std::isnan(m)) continue;
    out.magnitude[b] = static_cast<float>(m);
    const double p0 = valueAt(p.phase, i);
    // The shorter way round: the phase is unwrapped between the two points.
    const double step = std::remainder(valueAt(p.phase, i + 1) - p0, 360.0);
    out.phase[b] = static_cast<float>(wrapDegrees(p0 + t * step));
    const double c =
        p.coherence.empty() ? 1.0 : p.coherence[i] + t * (p.coherence[i + 1] - p.coherence[i]);
    out.coherence[b] = static_cast<float>(c * BandCurves::kCoherenceScale);
  }
  return out;
}

}  // namespace qv::curves
