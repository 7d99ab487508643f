#include "gui/display/SpectrumPlotView.h"

#include <algorithm>

namespace qv::gui {

SpectrumPlotView::SpectrumPlotView(QWidget* parent) : PlotView(parent) {}

SpectrumPlotView::~SpectrumPlotView() = default;

std::shared_ptr<plot::ChartProxy> SpectrumPlotView::wrap(const std::shared_ptr<plot::Chart>& chart,
                                                         const std::string& name,
                                                         plot::XValuesSpan x) {
  if (!chart) return nullptr;
  auto proxy = plot::ChartProxy::proxyWithChart(chart);
  proxy->setName(name);
  chart->setXValues(x.count, x.firstX, x.lastX);
  addProxy(proxy);
  return proxy;
}

std::shared_ptr<plot::ChartProxy> SpectrumPlotView::createLineChartWithName(const std::string& name,
                                                                            plot::XValuesSpan x,
                                                                            float thickness,
                                                                            plot::Color color) {
  return wrap(addLineChartWithName(name, x, thickness, color), name, x);
}

std::shared_ptr<plot::ChartProxy> SpectrumPlotView::createPhaseLineChartWithName(
    const std::string& name, plot::XValuesSpan x, float thickness, plot::Color color) {
  return wrap(addPhaseLineChartWithName(name, x, thickness, color), name, x);
}

std::shared_ptr<plot::ChartProxy> SpectrumPlotView::createBarChartWithName(const std::string& name,
                                                                           plot::XValuesSpan x,
                                                                           plot::Color barColor) {
  return wrap(addBarChartWithName(name, x, barColor, barColor), name, x);
}

std::shared_ptr<plot::ChartProxy> SpectrumPlotView::createSpectrogramWithName(
    const std::string& name, plot::XValuesSpan x, int32_t sizeByTime) {
  return wrap(addSpectrogramWithName(name, x, sizeByTime), name, x);
}

bool SpectrumPlotView::deleteChart(const plot::Chart* chart) {
  // Looked up first: once the view lets the chart go, its proxy no longer answers to it.
  auto proxy = proxyByChart(chart);
  const bool deleted = PlotView::deleteChart(chart);
  if (proxy) removeProxy(proxy);
  return deleted;
}

size_t SpectrumPlotView::deleteChartsWithID(const std::string& id) {
  const size_t deleted = PlotView::deleteChartsWithID(id);
  for (const auto& proxy : proxiesWithName(id)) removeProxy(proxy);
  return deleted;
}

std::shared_ptr<plot::ChartProxy> SpectrumPlotView::proxyByChart(const plot::Chart* chart) const {
  if (!chartProxies_ || !chart) return nullptr;
  for (const auto& proxy : *chartProxies_) {
    if (proxy->chartPtr() == chart) return proxy;
  }
  return nullptr;
}

SpectrumPlotView::ProxyList SpectrumPlotView::proxiesWithName(const std::string& name) const {
  if (chartProxies_) {
    for (const auto& proxy : *chartProxies_) {
      if (proxy->name() == name) return {proxy};
    }
  }
  return {};
}

void SpectrumPlotView::addProxy(const std::shared_ptr<plot::ChartProxy>& proxy) {
  auto list =
      chartProxies_ ? std::make_shared<ProxyList>(*chartProxies_) : std::make_shared<ProxyList>();
  list->push_back(proxy);
  chartProxies_ = std::move(list);
}

void SpectrumPlotView::removeProxy(const std::shared_ptr<plot::ChartProxy>& proxy) {
  if (!chartProxies_) return;
  auto list = std::make_shared<ProxyList>(*chartProxies_);
  list->erase(std::remove(list->begin(), list->end(), proxy), list->end());
  chartProxies_ = std::move(list);
}

void SpectrumPlotView::setScaleLabelsVisibility(bool visible) {
  scaleLabelsVisibility_ = visible;
  for (int side = PlotSideLeft; side < PlotSideCount; ++side)
    setScaleSideLabelsVisible(static_cast<PlotSide>(side), visible);
  update(false);
}

}  // namespace qv::gui
