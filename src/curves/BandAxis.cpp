#include "curves/BandAxis.h"

#include <algorithm>
#include <cmath>

namespace qv::curves {
namespace {

// 0.3 decade is taken as the octave: R bands span a frequency ratio of exactly 10^0.3.
constexpr double kStep = 0.3 / BandAxis::kOctResolution;

}  // namespace

BandAxis::BandAxis(std::size_t bandCount) : frequencies_(bandCount) {
  for (std::size_t b = 0; b < bandCount; ++b) {
    frequencies_[b] = frequencyForBand(static_cast<float>(b));
  }
}

float BandAxis::frequencyForBand(float index) {
  // The exponent rounded to float first, the power in single precision, as the live
  // analysis does, so that the same band gets the very same frequency.
  const auto exponent = static_cast<float>(index * kStep);
  return kStartFrequency * std::pow(10.0f, exponent);
}

double BandAxis::bandForFrequency(double hz) { return std::log10(hz / kStartFrequency) / kStep; }

BandAxis BandAxis::forSampleRate(std::int64_t sampleRate) {
  const auto step = static_cast<float>(kStep);
  const auto stop = static_cast<float>(std::min(25000.0, static_cast<double>(sampleRate) / 2.01));
  const float stopLog = std::log10(stop);
  const auto count =
      static_cast<long>(std::trunc(std::round(stopLog / step) - std::round(0.90309f / step)));
  return BandAxis(count > 0 ? static_cast<std::size_t>(count) : 0);
}

}  // namespace qv::curves
