#include "traces/TraceShot.h"

#include <bit>
#include <cstring>

namespace qv {
namespace {

void putFloat(std::uint8_t* out, float value) {
  std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) {
    out[i] = static_cast<std::uint8_t>(bits & 0xffu);
    bits >>= 8;
  }
}

float getFloat(const std::uint8_t* in) {
  std::uint32_t bits = 0;
  for (int i = 3; i >= 0; --i) bits = (bits << 8) | in[i];
  return std::bit_cast<float>(bits);
}

}  // namespace

std::optional<RGBAColor> TraceShot::color() const {
  // Four floats, red to alpha; anything else is not a colour we wrote.
  if (!colorData || colorData->size() != 16) return std::nullopt;
  const std::uint8_t* p = colorData->data();
  return RGBAColor{getFloat(p), getFloat(p + 4), getFloat(p + 8), getFloat(p + 12)};
}

void TraceShot::setColor(const std::optional<RGBAColor>& color) {
  if (!color) {
    colorData.reset();
    return;
  }
  const float parts[4] = {color->red, color->green, color->blue, color->alpha};
  colorData = blobFromFloats(parts, 4);
}

std::string TraceShot::filename() const {
  if (!filepath) return {};
  std::string path = *filepath;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const auto slash = path.rfind('/');
  return slash == std::string::npos || path.size() == 1 ? path : path.substr(slash + 1);
}

// The file format is little-endian; on such machines the bytes are the floats already.
Bytes TraceShot::blobFromFloats(const float* values, std::size_t count) {
  Bytes blob(count * 4);
  if (std::endian::native == std::endian::little) {
    if (count > 0) std::memcpy(blob.data(), values, count * 4);
  } else {
    for (std::size_t i = 0; i < count; ++i) putFloat(blob.data() + 4 * i, values[i]);
  }
  return blob;
}

std::vector<float> TraceShot::floatsFromBlob(const Bytes& blob) {
  std::vector<float> values(blob.size() / 4);
  if (std::endian::native == std::endian::little) {
    if (!values.empty()) std::memcpy(values.data(), blob.data(), values.size() * 4);
  } else {
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = getFloat(blob.data() + 4 * i);
  }
  return values;
}

}  // namespace qv
