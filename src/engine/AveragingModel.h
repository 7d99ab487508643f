#pragma once
// Value object naming an averaging type and speed; copied freely, no thread contract.
#include <cstdint>

namespace qv {

class AveragingModel {
 public:
  AveragingModel() = default;
  AveragingModel(uint64_t type, float speed) : _averagingSpeed(speed), _averagingType(type) {}
  static AveragingModel averagingModelWithTypeSpeed(uint64_t type, float speed) {
    return AveragingModel(type, speed);
  }

  float averagingSpeed() const { return _averagingSpeed; }
  void setAveragingSpeed(float speed) { _averagingSpeed = speed; }
  uint64_t averagingType() const { return _averagingType; }
  void setAveragingType(uint64_t type) { _averagingType = type; }

  bool operator==(const AveragingModel&) const = default;

 private:
  float _averagingSpeed = 0.0f;
  uint64_t _averagingType = 0;
};

}  // namespace qv
