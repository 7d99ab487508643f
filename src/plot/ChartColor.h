#pragma once
// Colours as callers give them (components 0..1) and as charts keep them (bytes).
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace qv::plot {

struct Color {
  float red = 0.0f;
  float green = 0.0f;
  float blue = 0.0f;
  float alpha = 1.0f;
};

struct ColorBytes {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  uint8_t alpha = 255;
  bool operator==(const ColorBytes&) const = default;
};

// component · 255, truncated (0.5 -> 127). Components outside 0..1, or NaN, are held at
// the nearest end instead of wrapping around in the byte.
inline uint8_t colorComponentByte(float component) {
  if (!(component > 0.0f)) return 0;
  return static_cast<uint8_t>(std::min(component, 1.0f) * 255.0f);
}

inline ColorBytes toColorBytes(const Color& c) {
  return {colorComponentByte(c.red), colorComponentByte(c.green), colorComponentByte(c.blue),
          colorComponentByte(c.alpha)};
}

}  // namespace qv::plot
