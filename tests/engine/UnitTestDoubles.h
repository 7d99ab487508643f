#pragma once
// Test doubles for processing chains: a source that hands out prepared frames and a probe
// that records what reaches the end of a chain.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/PullUnit.h"
#include "engine/PushUnitProtocol.h"

namespace qv::testing {

class FrameSource : public PullUnit {
 public:
  std::vector<float> frame;  // copied as far as the output size reaches
  int pulls = 0;
  bool silent = false;  // copies nothing, like the base pull unit

  int32_t pullUnitCopyDataTo(float* buffer) override {
    ++pulls;
    if (silent) return 0;
    const auto n = std::min<size_t>(frame.size(), static_cast<size_t>(_outputSize.size));
    std::copy_n(frame.begin(), n, buffer);
    return static_cast<int32_t>(n);
  }
};

class Probe : public PushUnitProtocol {
 public:
  explicit Probe(std::string tag = {}, std::vector<std::string>* journal = nullptr)
      : tag_(std::move(tag)), journal_(journal) {}

  std::vector<UnitBufferSize> sizes;
  std::vector<std::vector<float>> frames;

  UnitBufferSize unitGetInputSize() const override {
    return sizes.empty() ? UnitBufferSize{} : sizes.back();
  }
  UnitBufferSize unitGetOutputSize() const override { return {}; }
  uint64_t unitFunction() const override { return 99; }
  void pushUnitConnectOutputTo(std::shared_ptr<PushUnitProtocol>) override {}
  void pushUnitSetInputSize(UnitBufferSize size) override {
    sizes.push_back(size);
    if (journal_) journal_->push_back(tag_ + " size");
  }
  void pushUnitSetInputValues(const float* values) override {
    frames.emplace_back(values, values + unitGetInputSize().size);
    if (journal_) journal_->push_back(tag_ + " values");
  }
  std::shared_ptr<UnitProtocol> previousUnit() const override { return previous_.lock(); }
  void setPreviousUnit(std::weak_ptr<UnitProtocol> unit) override { previous_ = std::move(unit); }

 private:
  std::string tag_;
  std::vector<std::string>* journal_;
  std::weak_ptr<UnitProtocol> previous_;
};

}  // namespace qv::testing
