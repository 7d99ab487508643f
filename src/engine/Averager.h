#pragma once
// Per-point attack/release follower over an output array that belongs to the owner.
// Not thread-safe: one thread folds frames in and reads the outputs.
#include <cstdint>

namespace qv {

class Averager {
 public:
  // `outputBuf` holds at least (points - 1) * stride + 1 floats and outlives the averager.
  Averager(int32_t points, float* outputBuf, int32_t stride, uint64_t type, float avgSpeed);
  virtual ~Averager() = default;
  Averager(const Averager&) = delete;
  Averager& operator=(const Averager&) = delete;

  // Rising values move by the attack weight, falling ones by the release weight; the
  // running values sit `stride` floats apart in the output, the frame is dense.
  virtual void processBufer(const float* frame);
  // Takes the frame as it is: no averaging, no stride.
  void processBuferInPlace(const float* frame);
  virtual void reset();

  virtual void setSpeedIndex(float index);
  void setAttackCoef(float atk);
  void setReleaseCoef(float rls);
  void setAttackRelease(float atk, float rls);

  uint64_t type() const { return _type; }
  void setType(uint64_t type) { _type = type; }
  float attackCoef() const { return _attackCoef; }
  float releaseCoef() const { return _releaseCoef; }
  float speedIndex() const { return _speedIndex; }
  float releaseToAttackRatio() const { return _releaseToAttackRatio; }
  void setReleaseToAttackRatio(float ratio) { _releaseToAttackRatio = ratio; }
  int32_t points() const { return nodeCount; }
  int32_t stride() const { return _stride; }

 protected:
  struct NoSpeed {};
  // For averagers whose speed means nothing: the weights stay zero.
  Averager(NoSpeed, int32_t points, float* outputBuf, int32_t stride, uint64_t type);

  int32_t nodeCount;
  int32_t _stride;
  float x1 = 0.0f, x2 = 1.0f;  // attack weight and its complement
  float y1 = 0.0f, y2 = 1.0f;  // release weight and its complement
  float* outputBuf;
  float _attackCoef = 0.0f;
  float _releaseCoef = 0.0f;
  float _speedIndex = 0.0f;
  float _releaseToAttackRatio = 1.0f;
  uint64_t _type;
};

}  // namespace qv
