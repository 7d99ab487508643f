// The settings' observation by property name (see AppSettings.h).
#include <algorithm>

#include "gui/app/AppSettings.h"
#include "platform/Log.h"

namespace qv::gui {
namespace {

QVariant optionalString(const std::optional<std::string>& s) {
  return s ? QVariant(QString::fromStdString(*s)) : QVariant();
}

}  // namespace

AppSettings::ObservationToken& AppSettings::ObservationToken::operator=(
    ObservationToken&& other) noexcept {
  if (this != &other) {
    reset();
    settings_ = other.settings_;
    id_ = other.id_;
    other.settings_ = nullptr;
  }
  return *this;
}

void AppSettings::ObservationToken::reset() {
  if (settings_) settings_->removeObservation(id_);
  settings_ = nullptr;
}

// ---- observation ---------------------------------------------------------------------

QVariant AppSettings::valueForProperty(const std::string& p) const {
  if (p == "smoothingFactor") return qint64{smoothingFactor()};
  if (p == "averaging") return qint64{averaging()};
  if (p == "delayedChannel") return qint64{delayedChannel()};
  if (p == "delayValueMS") return delayValueMS();
  if (p == "coherenceThreshold") return coherenceThreshold();
  if (p == "autoDelayOn") return autoDelayOn();
  if (p == "swapChannels") return swapChannels();
  if (p == "runningOnStart") return runningOnStart();
  if (p == "generatorOn") return generatorOn();
  if (p == "showImpulseView") return showImpulseView();
  if (p == "showTraceManager") return showTraceManager();
  if (p == "firstStart") return firstStart();
  if (p == "preferredRecordingDeviceUUID") return optionalString(preferredRecordingDeviceUUID());
  if (p == "preferredPlaybackDeviceUUID") return optionalString(preferredPlaybackDeviceUUID());
  if (p == "measChannelIndex") return qint64{measChannelIndex()};
  if (p == "refChannelIndex") return qint64{refChannelIndex()};
  if (p == "channelMap") {
    QVariantList list;
    if (auto map = channelMap())
      for (int64_t v : *map) list.push_back(qint64{v});
    return list;
  }
  if (p == "capturedTraceThickness") return capturedTraceThickness();
  if (p == "liveTraceThickness") return liveTraceThickness();
  if (p == "airTemperatureC") return airTemperatureC();
  if (p == "trackDelay") return trackDelay();
  if (p == "delayFinderBand") {
    const auto [lo, hi] = delayFinderBand();
    return QVariantList{lo, hi};
  }
  if (p == "recordingDeviceUUID") return optionalString(recordingDeviceUUID());
  if (p == "playbackDeviceUUID") return optionalString(playbackDeviceUUID());
  qv::log("Settings: no property named %s", p.c_str());
  return {};
}

AppSettings::ObservationToken AppSettings::observe(const std::string& property, Observer observer,
                                                   bool deliverInitial) {
  auto shared = std::make_shared<Observer>(std::move(observer));
  uint64_t id;
  {
    std::lock_guard<std::mutex> lock(observersMutex_);
    id = nextObservationId_++;
    observations_.push_back({id, property, shared});
  }
  if (deliverInitial) (*shared)(valueForProperty(property));
  return ObservationToken(this, id);
}

void AppSettings::announce(const std::string& property) {
  std::vector<std::pair<uint64_t, std::shared_ptr<Observer>>> targets;
  {
    std::lock_guard<std::mutex> lock(observersMutex_);
    for (const Observation& o : observations_)
      if (o.property == property) targets.emplace_back(o.id, o.observer);
  }
  if (targets.empty()) return;
  const QVariant value = valueForProperty(property);
  for (auto& [id, observer] : targets) {
    bool stillThere;
    {
      std::lock_guard<std::mutex> lock(observersMutex_);
      stillThere = std::any_of(observations_.begin(), observations_.end(),
                               [id = id](const Observation& o) { return o.id == id; });
    }
    if (stillThere) (*observer)(value);
  }
}

void AppSettings::removeObservation(uint64_t id) {
  std::lock_guard<std::mutex> lock(observersMutex_);
  observations_.erase(std::remove_if(observations_.begin(), observations_.end(),
                                     [id](const Observation& o) { return o.id == id; }),
                      observations_.end());
}

}  // namespace qv::gui
