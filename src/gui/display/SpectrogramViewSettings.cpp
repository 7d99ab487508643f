#include "gui/display/SpectrogramViewSettings.h"

#include <algorithm>
#include <iterator>

namespace qv::gui {
namespace {

constexpr const char* kShown = "QVSpectrogramShown";
constexpr const char* kResolution = "QVSpectrogramResolution";
constexpr const char* kSeconds = "QVSpectrogramSeconds";

template <size_t N>
int choice(const QSettings& settings, const char* key, const int (&choices)[N], int fallback) {
  bool ok = false;
  const int value = settings.value(QString::fromLatin1(key)).toInt(&ok);
  return ok && std::find(std::begin(choices), std::end(choices), value) != std::end(choices)
             ? value
             : fallback;
}

}  // namespace

SpectrogramViewSettings SpectrogramViewSettings::read(const QSettings& settings) {
  SpectrogramViewSettings s;
  s.shown = settings.value(QString::fromLatin1(kShown), false).toBool();
  s.octResolution = choice(settings, kResolution, kResolutionChoices, s.octResolution);
  s.historySeconds = choice(settings, kSeconds, kSecondsChoices, s.historySeconds);
  return s;
}

void SpectrogramViewSettings::write(QSettings& settings) const {
  settings.setValue(QString::fromLatin1(kShown), shown);
  settings.setValue(QString::fromLatin1(kResolution), octResolution);
  settings.setValue(QString::fromLatin1(kSeconds), historySeconds);
}

}  // namespace qv::gui
