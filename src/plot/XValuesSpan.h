#pragma once
// The x values of an evenly spaced chart: first x, last x and the number of points.
#include <cstdint>

namespace qv::plot {

struct XValuesSpan {
  float firstX = 0.0f;
  float lastX = 0.0f;
  int32_t count = 0;

  // x of point i; a single point sits at firstX.
  double xAt(int32_t i) const {
    if (count < 2) return firstX;
    return firstX + (static_cast<double>(lastX) - firstX) * i / (count - 1);
  }
  bool operator==(const XValuesSpan&) const = default;
};

}  // namespace qv::plot
