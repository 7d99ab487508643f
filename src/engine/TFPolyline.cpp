#include "engine/TFPolyline.h"

namespace qv {

TFPolyline::TFPolyline(uint64_t count)
    : _values(std::make_unique<float[]>(static_cast<size_t>(count))), _count(count) {}

}  // namespace qv
