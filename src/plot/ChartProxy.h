#pragma once
// Wrapper of one chart that a view owns, and the end of a processing chain: pushed
// values become the chart's data. Chain calls come on the chain's thread, the rest on the
// main thread; the chart is observed weakly, so a chart the view deleted is never touched.
#include <any>
#include <memory>
#include <string>

#include "engine/PushUnitProtocol.h"
#include "plot/Chart.h"
#include "plot/ChartColor.h"

namespace qv::plot {

class ChartProxy : public PushUnitProtocol {
 public:
  explicit ChartProxy(const std::shared_ptr<Chart>& chart);
  ~ChartProxy() override;
  static std::shared_ptr<ChartProxy> proxyWithChart(const std::shared_ptr<Chart>& chart) {
    return std::make_shared<ChartProxy>(chart);
  }

  // Null once the chart is deleted, by this proxy or by its view, even while someone
  // else still holds the chart object.
  Chart* chartPtr() const { return chart().get(); }
  std::shared_ptr<Chart> chart() const;
  const std::string& name() const { return name_; }
  void setName(std::string name) { name_ = std::move(name); }
  const std::any& representedObject() const { return representedObject_; }
  void setRepresentedObject(std::any object) { representedObject_ = std::move(object); }

  void setColor(const Color& color);
  void moveToTop();
  void deleteChart();
  // The proxy's type for the chart's kind: 0→0, 1→2, 2→0, 3→1, 4→2, 5→3.
  uint32_t type() const;

  // End of a chain.
  uint64_t unitFunction() const override { return unitFunction_; }
  UnitBufferSize unitGetInputSize() const override { return {inputSize_, 0, 0.0f, 0.0f}; }
  UnitBufferSize unitGetOutputSize() const override { return {}; }
  void pushUnitConnectOutputTo(std::shared_ptr<PushUnitProtocol>) override {}
  void pushUnitSetInputSize(UnitBufferSize size) override;
  void pushUnitSetInputValues(const float* values) override;
  std::shared_ptr<UnitProtocol> previousUnit() const override { return previousUnit_.lock(); }
  void setPreviousUnit(std::weak_ptr<UnitProtocol> unit) override {
    previousUnit_ = std::move(unit);
  }
  int32_t inputSize() const { return inputSize_; }

 private:
  const std::weak_ptr<Chart> chart_;
  const int32_t kind_;  // kept, so that `type` still answers after deletion
  std::string name_;
  std::any representedObject_;
  int32_t inputSize_ = 0;
  std::weak_ptr<UnitProtocol> previousUnit_;
  const uint64_t unitFunction_ = 0;
};

}  // namespace qv::plot
