#include "plot/ChartList.h"

#include <algorithm>

namespace qv::plot {

ChartList::~ChartList() { clear(); }

std::shared_ptr<Chart> ChartList::addChart(int32_t kind, const std::string& name, XValuesSpan x) {
  auto chart = std::make_shared<Chart>(Chart::Key{}, this, kind, name, x);
  charts_.push_back(chart);
  ++generation_;
  return chart;
}

std::shared_ptr<Chart> ChartList::addStrokedChart(int32_t kind, const std::string& name,
                                                  XValuesSpan x, float thickness, Color color) {
  auto chart = addChart(kind, name, x);
  const ColorBytes c = toColorBytes(color);
  chart->setColor(c.red, c.green, c.blue, c.alpha);
  chart->setThickness(thickness);
  return chart;
}

std::shared_ptr<Chart> ChartList::addLineChartWithName(const std::string& name, XValuesSpan x,
                                                       float thickness, Color color) {
  return addStrokedChart(kChartLine, name, x, thickness, color);
}

std::shared_ptr<Chart> ChartList::addPhaseLineChartWithName(const std::string& name, XValuesSpan x,
                                                            float thickness, Color color) {
  return addStrokedChart(kChartPhaseLine, name, x, thickness, color);
}

std::shared_ptr<Chart> ChartList::addBarChartWithName(const std::string& name, XValuesSpan x,
                                                      Color color1, Color color2) {
  auto chart = addChart(kChartBar, name, x);
  const ColorBytes c = toColorBytes(color1);
  chart->setColor(c.red, c.green, c.blue, c.alpha);
  chart->setColor2(toColorBytes(color2));
  return chart;
}

std::shared_ptr<Chart> ChartList::addSpectrogramWithName(const std::string& name, XValuesSpan x,
                                                         int32_t sizeByTime) {
  auto chart = addChart(kChartSpectrogram, name, x);
  chart->setSizeByTime(sizeByTime);
  return chart;
}

std::vector<std::shared_ptr<Chart>>::iterator ChartList::find(const Chart* chart) {
  return std::find_if(charts_.begin(), charts_.end(),
                      [chart](const auto& c) { return c.get() == chart; });
}

bool ChartList::contains(const Chart* chart) const {
  return std::any_of(charts_.begin(), charts_.end(),
                     [chart](const auto& c) { return c.get() == chart; });
}

bool ChartList::deleteChart(const Chart* chart) {
  const auto it = find(chart);
  if (it == charts_.end()) return false;
  // Take the chart out before it can go away with its last reference.
  std::shared_ptr<Chart> leaving = std::move(*it);
  charts_.erase(it);
  leaving->list_.store(nullptr, std::memory_order_release);
  ++generation_;
  return true;
}

size_t ChartList::deleteChartsWithID(const std::string& id) {
  std::vector<std::shared_ptr<Chart>> leaving;
  std::erase_if(charts_, [&](const std::shared_ptr<Chart>& c) {
    if (c->name() != id) return false;
    leaving.push_back(c);
    return true;
  });
  for (auto& c : leaving) c->list_.store(nullptr, std::memory_order_release);
  if (!leaving.empty()) ++generation_;
  return leaving.size();
}

void ChartList::clear() {
  auto leaving = std::move(charts_);
  charts_.clear();
  for (auto& c : leaving) c->list_.store(nullptr, std::memory_order_release);
  ++generation_;
}

bool ChartList::moveToTop(const Chart* chart) {
  const auto it = find(chart);
  if (it == charts_.end()) return false;
  std::rotate(it, it + 1, charts_.end());
  ++generation_;
  return true;
}

bool ChartList::moveToBottom(const Chart* chart) {
  const auto it = find(chart);
  if (it == charts_.end()) return false;
  std::rotate(charts_.begin(), it, it + 1);
  ++generation_;
  return true;
}

std::shared_ptr<Chart> ChartList::chartWithID(const std::string& id) const {
  const auto it = std::find_if(charts_.rbegin(), charts_.rend(),
                               [&](const auto& c) { return c->name() == id; });
  return it == charts_.rend() ? nullptr : *it;
}

}  // namespace qv::plot
