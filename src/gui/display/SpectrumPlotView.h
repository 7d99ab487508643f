#pragma once
// A plot view that wraps every chart it creates in a ChartProxy and keeps the proxies, so
// callers can hold, recolour, raise or delete a chart through its proxy. Main thread only;
// chart data may still be set from the update queue (see PlotView).
#include <memory>
#include <string>
#include <vector>

#include "gui/plot/PlotView.h"
#include "plot/ChartProxy.h"

namespace qv::gui {

class SpectrumPlotView : public PlotView {
  Q_OBJECT

 public:
  using ProxyList = std::vector<std::shared_ptr<plot::ChartProxy>>;

  explicit SpectrumPlotView(QWidget* parent = nullptr);
  ~SpectrumPlotView() override;

  // Each adds the chart above all others, sets its x values from the span and keeps its proxy.
  std::shared_ptr<plot::ChartProxy> createLineChartWithName(const std::string& name,
                                                            plot::XValuesSpan x, float thickness,
                                                            plot::Color color);
  std::shared_ptr<plot::ChartProxy> createPhaseLineChartWithName(const std::string& name,
                                                                 plot::XValuesSpan x,
                                                                 float thickness,
                                                                 plot::Color color);
  std::shared_ptr<plot::ChartProxy> createBarChartWithName(const std::string& name,
                                                           plot::XValuesSpan x,
                                                           plot::Color barColor);
  std::shared_ptr<plot::ChartProxy> createSpectrogramWithName(const std::string& name,
                                                              plot::XValuesSpan x,
                                                              int32_t sizeByTime);

  // These hide the plain view's operations of the same name: they also drop the proxies.
  bool deleteChart(const plot::Chart* chart);
  size_t deleteChartsWithID(const std::string& id);

  std::shared_ptr<plot::ChartProxy> proxyByChart(const plot::Chart* chart) const;
  // The first proxy of that name, if any (names of proxied charts are unique per view).
  ProxyList proxiesWithName(const std::string& name) const;
  void addProxy(const std::shared_ptr<plot::ChartProxy>& proxy);
  void removeProxy(const std::shared_ptr<plot::ChartProxy>& proxy);
  // Never edited in place: every change makes a new list, so a list handed out stays valid.
  // Null until the first proxy is added.
  std::shared_ptr<const ProxyList> chartProxies() const { return chartProxies_; }

  void setScaleLabelsVisibility(bool visible);
  bool scaleLabelsVisibility() const { return scaleLabelsVisibility_; }

  const std::string& plotViewID() const { return plotViewID_; }
  void setPlotViewID(std::string id) { plotViewID_ = std::move(id); }
  const std::string& title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }
  int64_t index() const { return index_; }
  void setIndex(int64_t index) { index_ = index; }
  std::shared_ptr<plot::ChartProxy> liveChart() const { return liveChart_.lock(); }
  void setLiveChart(const std::shared_ptr<plot::ChartProxy>& proxy) { liveChart_ = proxy; }

 private:
  std::shared_ptr<plot::ChartProxy> wrap(const std::shared_ptr<plot::Chart>& chart,
                                         const std::string& name, plot::XValuesSpan x);

  bool scaleLabelsVisibility_ = false;
  std::string plotViewID_;
  std::string title_;
  int64_t index_ = 0;
  std::weak_ptr<plot::ChartProxy> liveChart_;
  std::shared_ptr<const ProxyList> chartProxies_;
};

}  // namespace qv::gui
