#include "engine/SplCalibrator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "engine/SoundLevelMeter.h"
#include "platform/Assert.h"

namespace qv {
namespace {

// Samples at or above this magnitude count as clipped (a converter's full scale).
constexpr float kClipLevel = 0.999f;
// Q of a band-pass a third of an octave wide between its half-power points.
constexpr double kThirdOctaveQ = 4.318;

}  // namespace

SplCalibrator::SplCalibrator(double sampleRate, int input, Settings settings)
    : rate_(sampleRate), input_(input), settings_(settings) {
  QV_ASSERT(input == 0 || input == 1);
  QV_ASSERT(sampleRate > 0.0 && settings.seconds > 0.0);
  QV_ASSERT(settings.referenceFrequencyHz > 0.0 &&
            settings.referenceFrequencyHz < 0.45 * sampleRate);
  const double w0 = 2.0 * std::numbers::pi * settings.referenceFrequencyHz / sampleRate;
  const double alpha = std::sin(w0) / (2.0 * kThirdOctaveQ);
  const double a0 = 1.0 + alpha;
  b0_ = alpha / a0;
  b2_ = -alpha / a0;
  a1_ = -2.0 * std::cos(w0) / a0;
  a2_ = (1.0 - alpha) / a0;
  settle_ = static_cast<uint64_t>(std::llround(kSettleSeconds * sampleRate));
  total_ =
      std::max<uint64_t>(2, static_cast<uint64_t>(std::llround(settings.seconds * sampleRate)));
}

void SplCalibrator::process(const float* frames, size_t frameCount) {
  for (size_t i = 0; i < frameCount && status_ == Status::Measuring; ++i) {
    const float v = frames[2 * i + static_cast<size_t>(input_)];
    const double x = v;
    const double y = b0_ * x + b2_ * x2_ - a1_ * y1_ - a2_ * y2_;
    x2_ = x1_;
    x1_ = x;
    y2_ = y1_;
    y1_ = y;
    if (settle_ > 0) {
      --settle_;
      continue;
    }
    peak_ = std::max(peak_, std::fabs(v));
    sum_[seen_ * 2 < total_ ? 0 : 1] += x * x;
    band_ += y * y;
    if (++seen_ == total_) finish();
  }
}

void SplCalibrator::finish() {
  const double n = static_cast<double>(total_);
  const uint64_t firstCount = (total_ + 1) / 2;  // samples with 2·index < total
  const auto firstHalf = static_cast<double>(firstCount);
  const double meanSquare = (sum_[0] + sum_[1]) / n;
  measured_ = SoundLevelMeter::dbfsFromMeanSquare(meanSquare);
  const double bandDbfs = SoundLevelMeter::dbfsFromMeanSquare(band_ / n);
  const double first = SoundLevelMeter::dbfsFromMeanSquare(sum_[0] / firstHalf);
  const double second = SoundLevelMeter::dbfsFromMeanSquare(sum_[1] / (n - firstHalf));
  if (peak_ >= kClipLevel) {
    status_ = Status::Clipped;
  } else if (!(measured_ >= kQuietestDbfs)) {
    status_ = Status::TooQuiet;
  } else if (!(bandDbfs >= measured_ - kToneShareDb)) {
    status_ = Status::NotATone;
  } else if (!(std::fabs(first - second) <= kSteadyDb)) {
    status_ = Status::Unsteady;
  } else {
    status_ = Status::Done;
    offset_ = settings_.referenceLevelDb - measured_;
  }
}

double SplCalibrator::progress() const {
  if (status_ != Status::Measuring) return 1.0;
  return static_cast<double>(seen_) / static_cast<double>(total_);
}

const char* SplCalibrator::describe(Status status) {
  switch (status) {
    case Status::Measuring:
      return "Measuring the calibrator";
    case Status::Done:
      return "Calibrated";
    case Status::TooQuiet:
      return "The input is too quiet: is the calibrator on the microphone, and switched on?";
    case Status::Clipped:
      return "The input clipped: lower the input gain and calibrate again";
    case Status::NotATone:
      return "The input is not a calibrator's tone at the reference frequency";
    case Status::Unsteady:
      return "The level changed during the measurement: hold the calibrator still and try again";
  }
  return "";
}

}  // namespace qv
