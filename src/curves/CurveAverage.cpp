#include "curves/CurveAverage.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qv::curves {
namespace {

constexpr double kRadians = std::numbers::pi / 180.0;

}  // namespace

CurveAverageResult CurveAverage::average(const std::vector<const BandCurves*>& curves) {
  std::size_t n = 0;
  for (const BandCurves* c : curves) n = std::max(n, c->size());
  CurveAverageResult result;
  result.curves.reset(n);
  std::vector<float> agreement;
  agreement.reserve(n);
  for (std::size_t b = 0; b < n; ++b) {
    double power = 0.0;
    int powered = 0;
    double re = 0.0;
    double im = 0.0;
    double weights = 0.0;
    double coherence = 0.0;
    int cohered = 0;
    for (const BandCurves* c : curves) {
      if (b >= c->size()) continue;
      const double m = c->magnitude[b];
      const double p = c->phase[b];
      const double k = c->coherence[b];
      if (!std::isnan(m)) {
        power += std::pow(10.0, m / 10.0);
        ++powered;
      }
      if (!std::isnan(k)) {
        coherence += k;
        ++cohered;
      }
      if (!std::isnan(p)) {
        const double w =
            std::isnan(k) ? 1.0 : std::clamp(k / BandCurves::kCoherenceScale, 0.0, 1.0);
        re += w * std::cos(p * kRadians);
        im += w * std::sin(p * kRadians);
        weights += w;
      }
    }
    if (powered > 0)
      result.curves.magnitude[b] = static_cast<float>(10.0 * std::log10(power / powered));
    if (weights > 0.0) {
      result.curves.phase[b] = static_cast<float>(wrapDegrees(std::atan2(im, re) / kRadians));
      agreement.push_back(static_cast<float>(std::hypot(re, im) / weights));
    }
    if (cohered > 0) result.curves.coherence[b] = static_cast<float>(coherence / cohered);
  }
  if (!agreement.empty()) {
    auto middle = agreement.begin() + static_cast<std::ptrdiff_t>(agreement.size() / 2);
    std::nth_element(agreement.begin(), middle, agreement.end());
    result.phaseAgreement = *middle;
  }
  return result;
}

}  // namespace qv::curves
