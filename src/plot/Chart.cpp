#include "plot/Chart.h"

#include <algorithm>

#include "platform/Assert.h"
#include "plot/ChartList.h"

namespace qv::plot {

Chart::Chart(Key, ChartList* list, int32_t kind, std::string name, XValuesSpan x)
    : list_(list), kind_(kind), name_(std::move(name)), x_(x) {
  QV_ASSERT(kind >= 0 && kind < kChartKindCount);
  QV_ASSERT(x.count >= 0);
}

void Chart::setColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) {
  std::lock_guard lock(mutex_);
  color_ = {red, green, blue, alpha};
  bump();
}

void Chart::setColor2(ColorBytes color) {
  std::lock_guard lock(mutex_);
  color2_ = color;
  bump();
}

void Chart::setThickness(float thickness) {
  std::lock_guard lock(mutex_);
  thickness_ = thickness;
  bump();
}

void Chart::setData(const float* values, int32_t count) {
  QV_ASSERT(count >= 0);
  QV_ASSERT(values || count == 0);
  std::lock_guard lock(mutex_);
  values_.resize(static_cast<size_t>(count));
  std::copy_n(values, count, values_.begin());
  hasData_ = true;
  bump();
}

void Chart::setXValues(int32_t count, float firstX, float lastX) {
  QV_ASSERT(count >= 0);
  std::lock_guard lock(mutex_);
  x_ = {firstX, lastX, count};
  bump();
}

void Chart::MoveToTop() {
  if (ChartList* list = list_.load(std::memory_order_acquire)) list->moveToTop(this);
}

void Chart::Delete() {
  // The list may hold the last reference: nothing here may touch the chart afterwards.
  if (ChartList* list = list_.load(std::memory_order_acquire)) list->deleteChart(this);
}

void Chart::snapshot(ChartSnapshot& out) const {
  out.kind = kind_;
  std::lock_guard lock(mutex_);
  out.version = version_.load(std::memory_order_acquire);
  out.color = color_;
  out.color2 = color2_;
  out.thickness = thickness_;
  out.x = x_;
  out.hasData = hasData_;
  if (hasData_) {
    out.values.assign(values_.begin(), values_.end());
  } else {
    out.values.assign(static_cast<size_t>(x_.count), 0.0f);
  }
}

}  // namespace qv::plot
