#include "traces/ChartColorPalette.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "platform/Assert.h"

namespace qv {
namespace {

// CIE L*a*b* (D65) of an sRGB colour: distances there follow what the eye tells apart.
std::array<double, 3> labOf(const RGBAColor& c) {
  const auto linear = [](double u) {
    return u <= 0.04045 ? u / 12.92 : std::pow((u + 0.055) / 1.055, 2.4);
  };
  const double r = linear(c.red), g = linear(c.green), b = linear(c.blue);
  const double x = (0.4124 * r + 0.3576 * g + 0.1805 * b) / 0.95047;
  const double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
  const double z = (0.0193 * r + 0.1192 * g + 0.9505 * b) / 1.08883;
  const auto f = [](double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0; };
  return {116.0 * f(y) - 16.0, 500.0 * (f(x) - f(y)), 200.0 * (f(y) - f(z))};
}

}  // namespace

ChartColorPalette::ChartColorPalette()
    : colors_{
          {0.0f, 1.0f, 0.0f, 1.0f},  // green
          {1.0f, 0.5f, 0.0f, 1.0f},  // orange
          {1.0f, 1.0f, 0.0f, 1.0f},  // yellow
          {1.0f, 0.0f, 0.0f, 1.0f},  // red
          {1.0f, 0.0f, 1.0f, 1.0f},  // magenta
          {0.0f, 1.0f, 1.0f, 1.0f},  // cyan
          {0.0f, 0.5f, 1.0f, 1.0f},  // azure
      } {
  _unusedColors = colors_;
}

const std::vector<RGBAColor>& ChartColorPalette::colors() const { return colors_; }

const std::vector<RGBAColor>& ChartColorPalette::darkBackgroundColors() {
  static const std::vector<RGBAColor> colors = [] {
    std::vector<RGBAColor> all = ChartColorPalette().colors();
    // Light and saturated enough for a dark plot, apart from one another and the live curves.
    all.insert(all.end(), {
                              {1.0f, 0.55f, 0.8f, 1.0f},   // pink
                              {0.65f, 0.45f, 1.0f, 1.0f},  // violet
                              {0.55f, 0.8f, 1.0f, 1.0f},   // sky blue
                              {0.5f, 1.0f, 0.75f, 1.0f},   // mint
                              {0.95f, 0.8f, 0.4f, 1.0f},   // gold
                              {0.0f, 0.7f, 0.6f, 1.0f},    // teal
                              {0.8f, 0.75f, 0.95f, 1.0f},  // lavender
                          });
    return all;
  }();
  return colors;
}

bool ChartColorPalette::nearLiveCurve(const RGBAColor& color) {
  // The live curves of the magnitude and phase plots (the impulse has a plot of its own).
  static const RGBAColor live[] = {{1.0f, 1.0f, 1.0f, 1.0f}, {1.0f, 0.3f, 0.0f, 1.0f}};
  // ΔE below 30 is one colour family on a 1 px line: orange (≈ 24) and red (≈ 16) against
  // the orange-red coherence; every other colour here is 34 or more from both.
  constexpr double kMinDistance = 30.0;
  const auto lab = labOf(color);
  for (const RGBAColor& curve : live) {
    const auto other = labOf(curve);
    const double d = std::hypot(lab[0] - other[0], lab[1] - other[1], lab[2] - other[2]);
    if (d < kMinDistance) return true;
  }
  return false;
}

void ChartColorPalette::reset() { colorIndex_ = 0; }

RGBAColor ChartColorPalette::nextColor() {
  const RGBAColor color = colors_[static_cast<size_t>(colorIndex_)];
  incrementColorIndex();
  return color;
}

long ChartColorPalette::nextColorIndex() {
  const long index = colorIndex_;
  incrementColorIndex();
  return index;
}

void ChartColorPalette::incrementColorIndex() {
  colorIndex_ = colorIndex_ + 1 >= static_cast<long>(colors_.size()) ? 0 : colorIndex_ + 1;
}

const RGBAColor* ChartColorPalette::nextUnusedColor() const {
  return _unusedColors.empty() ? nullptr : &_unusedColors.front();
}

void ChartColorPalette::setColorAsUsed(const RGBAColor& color, bool used) {
  const size_t count = _unusedColors.size();
  const auto found = std::find(_unusedColors.begin(), _unusedColors.end(), color);
  if (used) {
    if (found != _unusedColors.end()) _unusedColors.erase(found);
  } else if (found == _unusedColors.end()) {
    _unusedColors.push_back(color);
  }
  QV_ASSERT_TEXT(count != _unusedColors.size(), "count != _unusedColors.count");
}

}  // namespace qv
