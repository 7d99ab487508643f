#include "gui/display/SpectrumViewSettings.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "engine/SpectrumAveraging.h"

namespace qv::gui {
namespace {

constexpr const char* kShown = "QVSpectrumViewShown";
constexpr const char* kBands = "QVSpectrumBandsPerOctave";
constexpr const char* kWeighting = "QVSpectrumWeighting";
constexpr const char* kAveraging = "QVSpectrumAveragingSeconds";
constexpr const char* kSpl = "QVSpectrumSplUnits";
constexpr const char* kCalibratorLevel = "QVCalibratorLevel";
constexpr const char* kCalibration[] = {"QVSplCalibrationMeasurement", "QVSplCalibrationReference"};

// A calibration maps dBFS to dB SPL; no microphone and preamplifier need more than this.
constexpr double kLargestOffsetDb = 200.0;

std::optional<double> number(const QSettings& settings, const char* key) {
  bool ok = false;
  const double value = settings.value(QString::fromLatin1(key)).toDouble(&ok);
  if (!ok || !std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace

AveragingModel SpectrumViewSettings::averaging() const {
  return averagingSeconds > 0.0 ? SpectrumAveraging::exponential(averagingSeconds)
                                : SpectrumAveraging::infinite();
}

SpectrumViewSettings SpectrumViewSettings::read(const QSettings& settings) {
  SpectrumViewSettings s;
  s.shown = settings.value(QString::fromLatin1(kShown), false).toBool();
  s.splUnits = settings.value(QString::fromLatin1(kSpl), true).toBool();
  if (const auto b = number(settings, kBands);
      b &&
      std::find(std::begin(kBandChoices), std::end(kBandChoices), *b) != std::end(kBandChoices))
    s.bandsPerOctave = static_cast<int>(*b);
  if (const auto w = FrequencyWeighting::fromName(
          settings.value(QString::fromLatin1(kWeighting)).toString().toStdString()))
    s.weighting = *w;
  if (const auto a = number(settings, kAveraging);
      a && std::find(std::begin(kAveragingSeconds), std::end(kAveragingSeconds), *a) !=
               std::end(kAveragingSeconds))
    s.averagingSeconds = *a;
  if (const auto level = number(settings, kCalibratorLevel); level && *level > 0 && *level < 160)
    s.calibratorLevelDb = *level;
  for (size_t i = 0; i < s.calibration.size(); ++i) {
    if (const auto offset = number(settings, kCalibration[i]);
        offset && std::fabs(*offset) <= kLargestOffsetDb)
      s.calibration[i] = offset;
  }
  return s;
}

void SpectrumViewSettings::write(QSettings& settings) const {
  settings.setValue(QString::fromLatin1(kShown), shown);
  settings.setValue(QString::fromLatin1(kSpl), splUnits);
  settings.setValue(QString::fromLatin1(kBands), bandsPerOctave);
  settings.setValue(QString::fromLatin1(kWeighting),
                    QString::fromLatin1(FrequencyWeighting::name(weighting)));
  settings.setValue(QString::fromLatin1(kAveraging), averagingSeconds);
  settings.setValue(QString::fromLatin1(kCalibratorLevel), calibratorLevelDb);
  for (size_t i = 0; i < calibration.size(); ++i) {
    if (calibration[i]) {
      settings.setValue(QString::fromLatin1(kCalibration[i]), *calibration[i]);
    } else {
      settings.remove(QString::fromLatin1(kCalibration[i]));
    }
  }
}

}  // namespace qv::gui
