#pragma once
// A colour as four 0..1 components; a plain value, usable from any thread.
namespace qv {

struct RGBAColor {
  float red = 0.0f;
  float green = 0.0f;
  float blue = 0.0f;
  float alpha = 1.0f;

  bool operator==(const RGBAColor&) const = default;
};

}  // namespace qv
