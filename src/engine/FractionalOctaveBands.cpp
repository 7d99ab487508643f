#include "engine/FractionalOctaveBands.h"

#include <algorithm>
#include <cmath>

#include "platform/Assert.h"

namespace qv {
namespace {

constexpr double kLowest = 20.0;
constexpr double kHighest = 20000.0;

}  // namespace

bool FractionalOctaveBands::isSupported(int32_t bandsPerOctave) {
  return std::find(std::begin(kResolutions), std::end(kResolutions), bandsPerOctave) !=
         std::end(kResolutions);
}

FractionalOctaveBands::FractionalOctaveBands(int32_t bandsPerOctave, double samplingRate)
    : bandsPerOctave_(bandsPerOctave), samplingRate_(samplingRate) {
  QV_ASSERT(isSupported(bandsPerOctave));
  QV_ASSERT(samplingRate > 0.0);
  const double b = bandsPerOctave;
  // log10 of G^(1/b) is 0.3/b: band x is centred at 10^(3 + 0.3·x/b).
  const double step = 0.3 / b;
  edgeRatio_ = std::pow(10.0, -step / 2.0);
  const auto centreOf = [&](int32_t x) { return std::pow(10.0, 3.0 + step * x); };
  // The first band whose upper edge lies above 20 Hz.
  firstIndex_ = static_cast<int32_t>(std::floor((std::log10(kLowest) - 3.0) / step + 0.5)) - 1;
  while (centreOf(firstIndex_) / edgeRatio_ <= kLowest) ++firstIndex_;
  const double nyquist = samplingRate / 2.0;
  for (int32_t x = firstIndex_;; ++x) {
    const double c = centreOf(x);
    if (c * edgeRatio_ >= kHighest || c >= nyquist) break;
    centre_.push_back(c);
  }
}

int32_t FractionalOctaveBands::bandForFrequency(double frequencyHz) const {
  if (!(frequencyHz > 0.0) || centre_.empty()) return -1;
  const double step = 0.3 / bandsPerOctave_;
  const auto x = static_cast<int32_t>(std::floor((std::log10(frequencyHz) - 3.0) / step + 0.5));
  const int32_t band = x - firstIndex_;
  return band >= 0 && band < count() ? band : -1;
}

}  // namespace qv
