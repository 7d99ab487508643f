#pragma once
// The charts of one plot view, bottom first: the order a view draws them in. Main thread
// only; a chart's data may still be set from other threads (see Chart).
#include <memory>
#include <string>
#include <vector>

#include "plot/Chart.h"
#include "plot/ChartColor.h"
#include "plot/XValuesSpan.h"

namespace qv::plot {

class ChartList {
 public:
  ChartList() = default;
  ~ChartList();
  ChartList(const ChartList&) = delete;
  ChartList& operator=(const ChartList&) = delete;

  // Each new chart goes above all existing ones.
  std::shared_ptr<Chart> addLineChartWithName(const std::string& name, XValuesSpan x,
                                              float thickness, Color color);
  std::shared_ptr<Chart> addPhaseLineChartWithName(const std::string& name, XValuesSpan x,
                                                   float thickness, Color color);
  std::shared_ptr<Chart> addBarChartWithName(const std::string& name, XValuesSpan x, Color color1,
                                             Color color2);
  std::shared_ptr<Chart> addSpectrogramWithName(const std::string& name, XValuesSpan x,
                                                int32_t sizeByTime);
  std::shared_ptr<Chart> addChart(int32_t kind, const std::string& name, XValuesSpan x);

  // A chart handed out earlier stays alive while someone holds it (a chain pushing data
  // from another thread), but it is no longer drawn and its MoveToTop/Delete do nothing.
  bool deleteChart(const Chart* chart);
  // Every chart of that name (ID); returns how many went.
  size_t deleteChartsWithID(const std::string& id);
  void clear();
  bool moveToTop(const Chart* chart);
  // Below every other chart (what the curves are drawn over, such as a target's band).
  bool moveToBottom(const Chart* chart);

  const std::vector<std::shared_ptr<Chart>>& charts() const { return charts_; }
  bool contains(const Chart* chart) const;
  // The topmost chart of that name, or null.
  std::shared_ptr<Chart> chartWithID(const std::string& id) const;
  size_t size() const { return charts_.size(); }
  bool empty() const { return charts_.empty(); }
  // Changes with every addition, deletion and reordering.
  uint64_t generation() const { return generation_; }

 private:
  // A line-style chart with its colour and thickness set.
  std::shared_ptr<Chart> addStrokedChart(int32_t kind, const std::string& name, XValuesSpan x,
                                         float thickness, Color color);
  std::vector<std::shared_ptr<Chart>>::iterator find(const Chart* chart);

  std::vector<std::shared_ptr<Chart>> charts_;
  uint64_t generation_ = 0;
};

}  // namespace qv::plot
