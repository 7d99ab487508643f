#include "engine/SoundLevelMeter.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/Assert.h"

namespace qv {
namespace {

double timeConstant(TimeWeighting w) { return w == TimeWeighting::Fast ? 0.125 : 1.0; }

}  // namespace

SoundLevelMeter::SoundLevelMeter(double sampleRate, Weighting weighting,
                                 TimeWeighting timeWeighting)
    : rate_(sampleRate), weighting_(weighting), timeWeighting_(timeWeighting) {
  inputs_.reserve(kInputs);
  for (int i = 0; i < kInputs; ++i) inputs_.emplace_back(weighting, sampleRate);
  setTimeWeighting(timeWeighting);
}

void SoundLevelMeter::setWeighting(Weighting weighting) {
  weighting_ = weighting;
  for (Input& in : inputs_) {
    in.filter = WeightingFilter(weighting, rate_);
    in.timeWeighted = 0.0;
  }
  resetLeq();
}

void SoundLevelMeter::setTimeWeighting(TimeWeighting timeWeighting) {
  timeWeighting_ = timeWeighting;
  // Exact for a sampled exponential: after τ·fs samples the weight of the past is 1/e.
  alpha_ = -std::expm1(-1.0 / (timeConstant(timeWeighting) * rate_));
}

void SoundLevelMeter::setCalibrationOffset(int input, std::optional<double> offsetDb) {
  QV_ASSERT(input >= 0 && input < kInputs);
  inputs_[input].offset = offsetDb;
}

std::optional<double> SoundLevelMeter::calibrationOffset(int input) const {
  QV_ASSERT(input >= 0 && input < kInputs);
  return inputs_[input].offset;
}

void SoundLevelMeter::process(const float* frames, size_t frameCount) {
  const double a = alpha_;
  for (int c = 0; c < kInputs; ++c) {
    Input& in = inputs_[c];
    double y = in.timeWeighted;
    double sum = 0.0;
    double maximum = in.maximum;
    for (size_t i = 0; i < frameCount; ++i) {
      const double x = in.filter.processSample(frames[2 * i + c]);
      const double square = x * x;
      sum += square;
      y += a * (square - y);
      maximum = std::max(maximum, y);
    }
    in.timeWeighted = y;
    in.sum += sum;
    in.maximum = maximum;
  }
  samples_ += frameCount;
}

void SoundLevelMeter::resetLeq() {
  samples_ = 0;
  for (Input& in : inputs_) {
    in.sum = 0.0;
    in.maximum = 0.0;
  }
}

double SoundLevelMeter::dbfsFromMeanSquare(double meanSquare) {
  if (!(meanSquare > 0.0)) return -std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(2.0 * meanSquare);
}

SoundLevelMeter::Reading SoundLevelMeter::reading(int input) const {
  QV_ASSERT(input >= 0 && input < kInputs);
  const Input& in = inputs_[input];
  const double offset = in.offset.value_or(0.0);
  Reading r;
  r.level = dbfsFromMeanSquare(in.timeWeighted) + offset;
  r.leq = samples_ > 0 ? dbfsFromMeanSquare(in.sum / static_cast<double>(samples_)) + offset
                       : -std::numeric_limits<double>::infinity();
  r.maximum = dbfsFromMeanSquare(in.maximum) + offset;
  r.leqSeconds = static_cast<double>(samples_) / rate_;
  r.splUnits = in.offset.has_value();
  return r;
}

}  // namespace qv
