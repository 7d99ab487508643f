#pragma once
// The pull stage at the head of a spectrum chain: copies a frame from its data source.
// Chain thread only.
#include <memory>

#include "engine/FFTDataSourceProtocol.h"
#include "engine/PullUnit.h"

namespace qv {

class SpectrumPullUnit : public PullUnit {
 public:
  explicit SpectrumPullUnit(std::shared_ptr<FFTDataSourceProtocol> source);
  int32_t pullUnitCopyDataTo(float* buffer) override;
  const std::shared_ptr<FFTDataSourceProtocol>& source() const { return source_; }

 private:
  std::shared_ptr<FFTDataSourceProtocol> source_;
};

}  // namespace qv
