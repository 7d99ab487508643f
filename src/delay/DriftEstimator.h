#pragma once
// How fast the two channels' clocks drift apart, from the slope of the found delay over
// time: a straight line through the results of the last seconds, in parts per million,
// with its standard error. A move of the source starts it afresh (the line would bend).
// Thread contract: none inside; one thread (the one that receives the finder's results).
#include <array>
#include <cstddef>
#include <cstdint>

#include "delay/DelayEstimate.h"

namespace qv {

class DriftEstimator {
 public:
  struct Estimate {
    bool valid = false;  // enough results over enough time, and a slope clear of its error
    double ppm = 0.0;    // positive: the measurement's delay grows (its clock runs fast)
    double errorPpm = 0.0;
    double spanSeconds = 0.0;
    int count = 0;
  };
  static constexpr int kMinCount = 20;
  // Results of an average that has taken fewer windows than this are left out: while it
  // fills, a drifting delay's estimate moves from the newest window's towards the average's.
  static constexpr int64_t kSettled = 10;
  static constexpr double kMinSpanSeconds = 5.0;

  // Results older than `windowSeconds` leave the line.
  explicit DriftEstimator(double windowSeconds = 20.0) : window_(windowSeconds) {}

  void reset() { count_ = 0; }
  // Takes a finder result: found ones join the line, a move starts it again.
  void add(const DelayEstimate& estimate);
  Estimate estimate() const;

  // What to add to a resampler's drift (DriftResampler::compose) once the slope is clear,
  // then starts afresh (the corrected stream's slope is measured next). Nothing while the
  // slope is not clear or smaller than its error allows to say.
  bool takeCorrection(double* ppm);

 private:
  static constexpr size_t kPoints = 512;
  struct Point {
    double position;  // the estimate's midpoint
    double delay;
  };
  double window_;
  uint32_t rate_ = 0;
  std::array<Point, kPoints> points_{};
  size_t count_ = 0;      // points held (the newest kPoints at most)
  size_t next_ = 0;       // where the next goes
  int64_t averaged_ = 0;  // of the last result taken
};

}  // namespace qv
