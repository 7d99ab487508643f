#include "engine/BandLevelSink.h"

#include <algorithm>
#include <cmath>

namespace qv {

void BandLevelSink::setOffsetDb(float offsetDb) {
  if (offsetDb == offset_) return;
  offset_ = offsetDb;
  resetPeaks();
}

void BandLevelSink::resetPeaks() { std::fill(peaks_.begin(), peaks_.end(), kNoPeak); }

void BandLevelSink::pushUnitSetInputSize(UnitBufferSize size) {
  size_ = size;
  const auto n = static_cast<size_t>(std::max(size.size, 0));
  levels_.assign(n, kNoPeak);
  peaks_.assign(n, kNoPeak);
}

void BandLevelSink::pushUnitSetInputValues(const float* values) {
  const size_t n = levels_.size();
  for (size_t i = 0; i < n; ++i) {
    const float level = values[i] + offset_;
    levels_[i] = level;
    // NaN (a band with no bins) never becomes a peak.
    if (level > peaks_[i]) peaks_[i] = level;
  }
}

}  // namespace qv
