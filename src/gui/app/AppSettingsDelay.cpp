// The settings that go with the delay finder: air temperature, tracking, the finder's band.
#include <QVariant>

#include "gui/app/AppSettings.h"

namespace qv::gui {
namespace {

constexpr const char* kAirTemperature = "QVAirTemperatureC";
constexpr const char* kTrackDelay = "QVTrackDelay";
constexpr const char* kFinderBandLow = "QVDelayFinderBandLowHz";
constexpr const char* kFinderBandHigh = "QVDelayFinderBandHighHz";

}  // namespace

void AppSettings::registerDelayDefaults() {
  registered_.emplace_back(kAirTemperature, 20.0);
  registered_.emplace_back(kTrackDelay, false);
  registered_.emplace_back(kFinderBandLow, 0.0);
  registered_.emplace_back(kFinderBandHigh, 0.0);
}

double AppSettings::airTemperatureC() const {
  return doubleFor(kAirTemperature, kMinAirTemperatureC, kMaxAirTemperatureC);
}
void AppSettings::setAirTemperatureC(double value) {
  write(kAirTemperature, value);
  announce("airTemperatureC");
}

bool AppSettings::trackDelay() const { return flagFor(kTrackDelay); }
void AppSettings::setTrackDelay(bool value) {
  write(kTrackDelay, value);
  announce("trackDelay");
}

std::pair<double, double> AppSettings::delayFinderBand() const {
  const double lo = doubleFor(kFinderBandLow, 0.0, kHighestFinderBandHz);
  const double hi = doubleFor(kFinderBandHigh, 0.0, kHighestFinderBandHz);
  if (lo == 0.0 && hi == 0.0) return {0.0, 0.0};
  // Each end may be in range while the pair is no band: the whole band then.
  if (!(lo >= 1.0 && lo < hi)) {
    std::lock_guard<std::recursive_mutex> lock(storeMutex_);
    reportBadValue(kFinderBandLow, QStringLiteral("%1-%2").arg(lo).arg(hi), "not a band");
    return {0.0, 0.0};
  }
  return {lo, hi};
}
void AppSettings::setDelayFinderBand(std::pair<double, double> value) {
  write(kFinderBandLow, value.first);
  write(kFinderBandHigh, value.second);
  announce("delayFinderBand");
}

}  // namespace qv::gui
