#pragma once
// One curve: one float per band of the logarithmic axis, NaN where a value is blanked.
// Thread contract: written by its owner on one thread; readers copy it between writes.
#include <cstdint>
#include <memory>

namespace qv {

class TFPolyline {
 public:
  // `count` floats, all 0. The length never changes: a new band count means new polylines.
  explicit TFPolyline(uint64_t count);
  TFPolyline(const TFPolyline&) = delete;
  TFPolyline& operator=(const TFPolyline&) = delete;

  float* values() { return _values.get(); }
  const float* values() const { return _values.get(); }
  uint64_t count() const { return _count; }

 private:
  std::unique_ptr<float[]> _values;
  uint64_t _count;
};

}  // namespace qv
