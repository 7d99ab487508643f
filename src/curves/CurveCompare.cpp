#include "curves/CurveCompare.h"

#include <algorithm>

#include "curves/BandAxis.h"

namespace qv::curves {

void CurveCompare::difference(const BandCurves& a, const BandCurves& b, BandCurves& out) {
  const std::size_t n = a.size();
  if (out.size() != n) out.reset(n);
  const std::size_t shared = std::min(n, b.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (i >= shared) {
      out.magnitude[i] = out.phase[i] = out.coherence[i] = BandCurves::kBlank;
      continue;
    }
    out.magnitude[i] = a.magnitude[i] - b.magnitude[i];  // NaN when either is blank
    const double phase = static_cast<double>(a.phase[i]) - static_cast<double>(b.phase[i]);
    out.phase[i] = static_cast<float>(wrapDegrees(phase));
    const bool blank = std::isnan(out.magnitude[i]) && std::isnan(out.phase[i]);
    out.coherence[i] = blank ? BandCurves::kBlank : a.coherence[i];
  }
}

void CurveCompare::applyOffsets(BandCurves& curves, double offsetDb, double delayMs) {
  const std::size_t n = curves.size();
  for (std::size_t i = 0; i < n; ++i) {
    curves.magnitude[i] = static_cast<float>(curves.magnitude[i] + offsetDb);
    if (delayMs == 0.0) continue;
    const double f = BandAxis::frequencyForBand(static_cast<float>(i));
    // Whole turns first, so that the float phase keeps its precision.
    const double turn = std::remainder(f * delayMs / 1000.0, 1.0);
    curves.phase[i] = static_cast<float>(wrapDegrees(curves.phase[i] - 360.0 * turn));
  }
}

}  // namespace qv::curves
