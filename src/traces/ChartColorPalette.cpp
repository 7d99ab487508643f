#include "traces/ChartColorPalette.h"

#include <algorithm>

#include "platform/Assert.h"

namespace qv {

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
