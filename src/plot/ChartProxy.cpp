#include "plot/ChartProxy.h"

#include "platform/Assert.h"

namespace qv::plot {

ChartProxy::ChartProxy(const std::shared_ptr<Chart>& chart)
    : chart_(chart), kind_(chart ? chart->kind() : -1) {
  QV_ASSERT(chart);
  chart->setUserData(this);
}

ChartProxy::~ChartProxy() {
  // The chart may outlive its proxy in the view; it must not point at a dead one.
  if (auto chart = chart_.lock()) {
    void* self = this;
    chart->userDataExchange(self, nullptr);
  }
}

std::shared_ptr<Chart> ChartProxy::chart() const {
  auto chart = chart_.lock();
  return chart && chart->isInList() ? chart : nullptr;
}

void ChartProxy::setColor(const Color& color) {
  if (auto chart = this->chart()) {
    const ColorBytes c = toColorBytes(color);
    chart->setColor(c.red, c.green, c.blue, c.alpha);
  }
}

void ChartProxy::moveToTop() {
  if (auto chart = this->chart()) chart->MoveToTop();
}

void ChartProxy::deleteChart() {
  if (auto chart = this->chart()) chart->Delete();
}

uint32_t ChartProxy::type() const {
  static constexpr uint32_t kTypeForKind[kChartKindCount] = {0, 2, 0, 1, 2, 3};
  QV_ASSERT(kind_ >= 0 && kind_ < kChartKindCount);
  return kTypeForKind[kind_];
}

void ChartProxy::pushUnitSetInputSize(UnitBufferSize size) {
  inputSize_ = size.size;
  if (auto chart = this->chart()) chart->setXValues(size.size, size.minX, size.maxX);
}

void ChartProxy::pushUnitSetInputValues(const float* values) {
  if (auto chart = this->chart()) chart->setData(values, inputSize_);
}

}  // namespace qv::plot
