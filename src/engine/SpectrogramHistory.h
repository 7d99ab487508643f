#pragma once
// The newest columns of a spectrogram (one column of `rows` levels in dB per tick) in a ring
// allocated once for a fixed number of columns. Columns are numbered from 0 as they are
// added, so a view that has drawn up to column n copies only the columns after it and
// draws them: one new column per tick, never the whole picture again.
// Thread contract: one writer (the session's tick) adds columns; any number of readers on
// any threads copy them, without locks: a reader checks after copying that the writer had
// not begun to overwrite what it copied, and drops what it had.
#include <atomic>
#include <cstdint>
#include <memory>

namespace qv {

class SpectrogramHistory {
 public:
  // Row r lies at log10 frequency minLog + r·(maxLog - minLog)/(rows - 1).
  SpectrogramHistory(int32_t rows, int32_t capacity, float minLog = 0.0f, float maxLog = 0.0f);

  int32_t rows() const { return rows_; }
  int32_t capacity() const { return capacity_; }
  float minLogFrequency() const { return minLog_; }
  float maxLogFrequency() const { return maxLog_; }

  // Writer: copies `rows` values in as the next column.
  void addColumn(const float* values);
  // Number of columns ever added (the number the next column will get).
  uint64_t columnCount() const { return added_.load(std::memory_order_acquire); }

  struct Copied {
    uint64_t first = 0;  // number of the first column copied
    int32_t count = 0;   // columns copied, oldest first
  };
  // Reader: copies the columns from number `from` on (or the oldest one kept, if `from` has
  // been overwritten already), at most `maxColumns`, the oldest first, into `out`
  // (`rows` floats per column). Columns that the writer overwrote during the copy are
  // dropped from the front; `first` tells where the copy starts.
  Copied copyColumns(uint64_t from, float* out, int32_t maxColumns) const;

 private:
  int32_t rows_;
  int32_t capacity_;
  float minLog_;
  float maxLog_;
  std::unique_ptr<std::atomic<float>[]> values_;
  std::atomic<uint64_t> begun_{0};  // columns the writer has begun
  std::atomic<uint64_t> added_{0};  // columns complete
};

}  // namespace qv
