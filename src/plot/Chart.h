#pragma once
// One chart of a plot view: kind, look, x values and a private copy of its values.
// setData and setXValues may come from any thread (the update queue) and copy under the
// chart's own short lock; readers take a consistent snapshot under the same lock. Every
// other operation belongs to the main thread, like the ChartList that owns the chart.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "plot/ChartColor.h"
#include "plot/XValuesSpan.h"

namespace qv::plot {

class ChartList;

// The six chart kinds. Line-like kinds join their points; a phase line breaks where the
// curve wraps between ±180°; the filled and dot variants draw as their base kind until a
// view gives them a look of their own. A filled line given two values a point (x.count
// lower values, then x.count upper ones) is a band: the area between the two.
enum ChartKind : int32_t {
  kChartLine = 0,
  kChartPhaseLine = 1,
  kChartFilledLine = 2,
  kChartBar = 3,
  kChartPhaseDots = 4,
  kChartSpectrogram = 5,
  kChartKindCount = 6,
};

// What a view draws from: copied out in one go, so the values and the x values match.
struct ChartSnapshot {
  int32_t kind = kChartLine;
  ColorBytes color;
  ColorBytes color2;
  float thickness = 1.0f;
  XValuesSpan x;
  // The data as last set; a chart that never had data holds x.count zeros (drawn at y 0).
  std::vector<float> values;
  bool hasData = false;
  uint64_t version = 0;
};

class Chart {
  struct Key {};  // only ChartList makes charts

 public:
  Chart(Key, ChartList* list, int32_t kind, std::string name, XValuesSpan x);
  Chart(const Chart&) = delete;
  Chart& operator=(const Chart&) = delete;

  int32_t kind() const { return kind_; }
  const std::string& name() const { return name_; }
  // The caller's back-reference (a proxy); atomic, as a proxy may end on another thread.
  void* userData() const { return userData_.load(std::memory_order_acquire); }
  void setUserData(void* data) { userData_.store(data, std::memory_order_release); }
  // Clears or replaces the user data only while it still is `expected`.
  bool userDataExchange(void*& expected, void* data) {
    return userData_.compare_exchange_strong(expected, data, std::memory_order_acq_rel);
  }
  // History rows of a spectrogram (0 for other kinds).
  int32_t sizeByTime() const { return sizeByTime_; }
  void setSizeByTime(int32_t rows) { sizeByTime_ = rows; }

  void setColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha);
  void setColor2(ColorBytes color);
  void setThickness(float thickness);
  // Copies `count` values; reuses its storage while the count stays the same.
  void setData(const float* values, int32_t count);
  void setXValues(int32_t count, float firstX, float lastX);

  // Through the owning list; no-ops once the chart has left it.
  void MoveToTop();
  void Delete();
  bool isInList() const { return list_.load(std::memory_order_acquire) != nullptr; }

  // Reuses `out.values`' storage; holds the lock only for the copy.
  void snapshot(ChartSnapshot& out) const;
  // Changes with every change of what a snapshot would show.
  uint64_t version() const { return version_.load(std::memory_order_acquire); }

 private:
  friend class ChartList;
  // Called with mutex_ held, so that a snapshot's version names exactly its contents.
  void bump() { version_.fetch_add(1, std::memory_order_acq_rel); }

  // Set by the list on the main thread and cleared when it lets the chart go; read from
  // any thread to tell whether the chart is still drawn.
  std::atomic<ChartList*> list_;
  const int32_t kind_;
  const std::string name_;
  std::atomic<void*> userData_{nullptr};
  int32_t sizeByTime_ = 0;

  mutable std::mutex mutex_;
  ColorBytes color_;
  ColorBytes color2_;
  float thickness_ = 1.0f;
  XValuesSpan x_;
  std::vector<float> values_;
  bool hasData_ = false;
  std::atomic<uint64_t> version_{1};
};

}  // namespace qv::plot
