#include "engine/SpectrogramHistory.h"

#include <algorithm>

#include "platform/Assert.h"

namespace qv {

SpectrogramHistory::SpectrogramHistory(int32_t rows, int32_t capacity, float minLog, float maxLog)
    : rows_(rows), capacity_(capacity), minLog_(minLog), maxLog_(maxLog) {
  QV_ASSERT(rows > 0 && capacity > 0);
  const size_t n = static_cast<size_t>(rows) * static_cast<size_t>(capacity);
  values_ = std::make_unique<std::atomic<float>[]>(n);
  for (size_t i = 0; i < n; ++i) values_[i].store(0.0f, std::memory_order_relaxed);
}

void SpectrogramHistory::addColumn(const float* values) {
  const uint64_t column = added_.load(std::memory_order_relaxed);
  // Readers learn that this slot is being rewritten before any of the new values can
  // reach them: each value is stored with release order after the announcement, so a
  // reader whose acquire load sees a new value also sees the announcement.
  begun_.store(column + 1, std::memory_order_relaxed);
  std::atomic<float>* slot =
      values_.get() + static_cast<size_t>(column % static_cast<uint64_t>(capacity_)) * rows_;
  for (int32_t r = 0; r < rows_; ++r) slot[r].store(values[r], std::memory_order_release);
  added_.store(column + 1, std::memory_order_release);
}

SpectrogramHistory::Copied SpectrogramHistory::copyColumns(uint64_t from, float* out,
                                                           int32_t maxColumns) const {
  const uint64_t end = added_.load(std::memory_order_acquire);
  const auto capacity = static_cast<uint64_t>(capacity_);
  uint64_t first = std::max(from, end > capacity ? end - capacity : 0);
  if (first >= end || maxColumns <= 0) return {std::min(from, end), 0};
  const uint64_t count = std::min<uint64_t>(end - first, static_cast<uint64_t>(maxColumns));
  for (uint64_t i = 0; i < count; ++i) {
    const std::atomic<float>* slot =
        values_.get() + static_cast<size_t>((first + i) % capacity) * rows_;
    float* dst = out + static_cast<size_t>(i) * rows_;
    for (int32_t r = 0; r < rows_; ++r) dst[r] = slot[r].load(std::memory_order_acquire);
  }
  // Had the writer begun column c + capacity (which reuses column c's slot) before the
  // copy ended, column c may be torn: only columns from begun - capacity on are whole.
  const uint64_t begun = begun_.load(std::memory_order_acquire);
  const uint64_t whole = begun > capacity ? begun - capacity : 0;
  if (whole <= first) return {first, static_cast<int32_t>(count)};
  const uint64_t torn = std::min(whole - first, count);
  const uint64_t kept = count - torn;
  // Move the whole columns to the front, where the caller expects the copy to start.
  if (kept > 0 && torn > 0)
    std::copy_n(out + static_cast<size_t>(torn) * rows_, static_cast<size_t>(kept) * rows_, out);
  return {first + torn, static_cast<int32_t>(kept)};
}

}  // namespace qv
