#include "delay/DriftEstimator.h"

#include <algorithm>
#include <cmath>

namespace qv {

void DriftEstimator::add(const DelayEstimate& e) {
  if (e.state != DelayState::Found || e.rate == 0) return;
  // A move, another rate or windows laid anew start the line again.
  if (e.step || e.rate != rate_ || e.averaged < averaged_) reset();
  rate_ = e.rate;
  averaged_ = e.averaged;
  if (e.averaged < kSettled) return;
  points_[next_] = {e.midpoint, e.delaySamples};
  next_ = (next_ + 1) % kPoints;
  count_ = std::min(count_ + 1, kPoints);
}

DriftEstimator::Estimate DriftEstimator::estimate() const {
  Estimate result;
  if (count_ < 3 || rate_ == 0) return result;
  // The newest point first, then back in time while within the window.
  const auto at = [&](size_t i) { return points_[(next_ + kPoints - 1 - i) % kPoints]; };
  const double newest = at(0).position;
  const double windowFrames = window_ * rate_;
  size_t n = 0;
  while (n < count_ && newest - at(n).position <= windowFrames) ++n;
  if (n < 3) return result;
  double mx = 0.0, my = 0.0;
  for (size_t i = 0; i < n; ++i) mx += at(i).position - newest, my += at(i).delay;
  mx /= n;
  my /= n;
  double sxx = 0.0, sxy = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const double dx = at(i).position - newest - mx;
    sxx += dx * dx;
    sxy += dx * (at(i).delay - my);
  }
  if (sxx <= 0.0) return result;
  const double slope = sxy / sxx;  // samples of delay per sample
  double residual = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const double e = at(i).delay - (my + slope * (at(i).position - newest - mx));
    residual += e * e;
  }
  const double sigma = std::sqrt(residual / static_cast<double>(n - 2));
  // delay(n) = d0 + n·ppm/(1e6 + ppm): the slope s gives ppm = 1e6·s/(1 − s).
  result.ppm = 1e6 * slope / (1.0 - slope);
  result.errorPpm = 1e6 * sigma / std::sqrt(sxx);
  result.spanSeconds = (newest - at(n - 1).position) / rate_;
  result.count = static_cast<int>(n);
  result.valid = result.count >= kMinCount && result.spanSeconds >= kMinSpanSeconds;
  return result;
}

bool DriftEstimator::takeCorrection(double* ppm) {
  const Estimate e = estimate();
  // Clear of its error by a factor of four, and no smaller than a hundredth of a ppm.
  if (!e.valid || std::fabs(e.ppm) < std::max(4.0 * e.errorPpm, 0.01)) return false;
  *ppm = e.ppm;
  reset();
  return true;
}

}  // namespace qv
