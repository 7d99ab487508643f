#include "gui/app/AppSettings.h"

#include <QSettings>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <mutex>

#include "engine/SmoothingModel.h"
#include "engine/TFDataSource.h"
#include "platform/Log.h"

namespace qv::gui {
namespace {

constexpr const char* kSmoothing = "TFSmoothingFactor";
constexpr const char* kAveraging = "AveragingIndexGlobal";
constexpr const char* kDelayedChannel = "TFDelayedChannel";
constexpr const char* kDelay = "QVCurrentDelayMS";
constexpr const char* kCoherenceThreshold = "TFCoherenceThreshold";
constexpr const char* kAutoDelay = "QVStartDelayFinder";
constexpr const char* kSwap = "TFSwapChannels";
constexpr const char* kRunning = "ShouldRunOnStart";
constexpr const char* kGenerator = "QVSignalGeneratorON";
constexpr const char* kImpulse = "QVShowImpulseView";
constexpr const char* kTraceManager = "QVShowTraceManager";
constexpr const char* kFirstStart = "QVFirstStart";
constexpr const char* kRecording = "SelectedRecordingDedviceUUID";
constexpr const char* kPlayback = "SelectedPlaybackDedviceUUID";
constexpr const char* kMeas = "SelectedMeasChannelIndex";
constexpr const char* kRef = "SelectedRefChannelIndex";
constexpr const char* kChannelMap = "ChannelIndexMap";
constexpr const char* kCapturedThickness = "CapturedTraceThickness";
constexpr const char* kLiveThickness = "LiveTraceThickness";

bool isStringType(const QVariant& v) { return v.typeId() == QMetaType::QString; }

bool isIntegerType(const QVariant& v) {
  switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
      return true;
    default:
      return false;
  }
}

// What each number may hold; anything else reads as the default. The limits are those of
// the controls that write them, so a value the program wrote always reads back.
bool offeredSmoothing(int64_t v) { return SmoothingModel::isOffered(v); }
bool averagingIndex(int64_t v) { return v >= 1 && v <= 1000; }
bool channelSide(int64_t v) { return v == 0 || v == 1; }
bool inputIndex(int64_t v) { return v >= 0 && v < AppSettings::kMaxInputChannels; }

// Whether `stored` (as written, or as read back from the file, where every value is text)
// already holds `value`.
bool holds(const QVariant& stored, const QVariant& value) {
  if (!stored.isValid()) return false;
  if (stored.typeId() == value.typeId()) return stored == value;
  if (!isStringType(stored)) return false;
  QVariant converted = stored;
  return converted.convert(value.metaType()) && converted == value;
}

}  // namespace

SettingsBase::SettingsBase(std::unique_ptr<QSettings> store) : defaults_(std::move(store)) {}
SettingsBase::~SettingsBase() = default;

AppSettings& AppSettings::set() {
  static std::once_flag flag;
  static AppSettings* shared = nullptr;
  std::call_once(flag, [] {
    shared = new AppSettings(std::make_unique<QSettings>(
        QSettings::NativeFormat, QSettings::UserScope, "Quorvex", "Quorvex"));
  });
  return *shared;
}

AppSettings::AppSettings(std::unique_ptr<QSettings> store) : SettingsBase(std::move(store)) {
  registerDefaults();
  recordingDeviceUUID_ = preferredRecordingDeviceUUID();
  playbackDeviceUUID_ = preferredPlaybackDeviceUUID();
}

AppSettings::~AppSettings() = default;

void AppSettings::registerDefaults() {
  registered_ = {
      {kAutoDelay, true},
      {kFirstStart, true},
      {kRunning, true},
      {kSwap, false},
      {kDelay, 0.0},
      {kSmoothing, qint64{24}},
      {kAveraging, qint64{100}},
      {kCoherenceThreshold, 0.5},
      {kImpulse, false},
      {kTraceManager, false},
      {kRef, qint64{0}},
      {kMeas, qint64{1}},
      {kCapturedThickness, 1.0},
      {kLiveThickness, 2.0},
  };
  registerDelayDefaults();
}

// ---- reading -------------------------------------------------------------------------

void AppSettings::reportBadValue(const char* key, const QVariant& raw, const char* why) const {
  // One line per key and run: getters are called on every repaint.
  if (!reportedBadKeys_.insert(key).second) return;
  qv::log("Settings: ignoring stored value \"%s\" of %s (%s); using the default",
          raw.toString().toUtf8().constData(), key, why);
}

std::optional<int64_t> AppSettings::readInteger(const char* key) const {
  std::lock_guard<std::recursive_mutex> lock(storeMutex_);
  const QVariant raw = defaults_->value(key);
  if (!raw.isValid()) return std::nullopt;
  bool ok = false;
  int64_t value = 0;
  if (isIntegerType(raw)) {
    value = raw.toLongLong(&ok);
  } else if (isStringType(raw)) {
    value = raw.toString().trimmed().toLongLong(&ok);
  }
  if (!ok) {
    reportBadValue(key, raw, "wrong type");
    return std::nullopt;
  }
  return value;
}

std::optional<float> AppSettings::readFloat(const char* key) const {
  const auto v = readDouble(key);
  return v ? std::optional<float>(static_cast<float>(*v)) : std::nullopt;
}

std::optional<double> AppSettings::readDouble(const char* key) const {
  std::lock_guard<std::recursive_mutex> lock(storeMutex_);
  const QVariant raw = defaults_->value(key);
  if (!raw.isValid()) return std::nullopt;
  bool ok = false;
  double value = 0.0;
  if (isIntegerType(raw) || raw.typeId() == QMetaType::Double || raw.typeId() == QMetaType::Float) {
    value = raw.toDouble(&ok);
  } else if (isStringType(raw)) {
    value = raw.toString().trimmed().toDouble(&ok);
  }
  if (!ok || !std::isfinite(value) || std::fabs(value) > 3.0e38) {
    reportBadValue(key, raw, "wrong type");
    return std::nullopt;
  }
  return value;
}

std::optional<bool> AppSettings::readFlag(const char* key) const {
  std::lock_guard<std::recursive_mutex> lock(storeMutex_);
  const QVariant raw = defaults_->value(key);
  if (!raw.isValid()) return std::nullopt;
  if (raw.typeId() == QMetaType::Bool) return raw.toBool();
  if (isStringType(raw) || isIntegerType(raw)) {
    const QString text = raw.toString().trimmed().toLower();
    if (text == "true" || text == "1" || text == "yes") return true;
    if (text == "false" || text == "0" || text == "no") return false;
  }
  reportBadValue(key, raw, "wrong type");
  return std::nullopt;
}

int64_t AppSettings::integerFor(const char* key, bool (*valid)(int64_t)) const {
  if (auto v = readInteger(key)) {
    if (!valid || valid(*v)) return *v;
    std::lock_guard<std::recursive_mutex> lock(storeMutex_);
    reportBadValue(key, QVariant::fromValue<qlonglong>(*v), "out of range");
  }
  for (const auto& [k, v] : registered_)
    if (std::string_view(k) == key) return v.toLongLong();
  return 0;
}

float AppSettings::floatFor(const char* key, float min, float max) const {
  return static_cast<float>(doubleFor(key, min, max));
}

double AppSettings::doubleFor(const char* key, double min, double max) const {
  if (auto v = readDouble(key)) {
    if (*v >= min && *v <= max) return *v;
    std::lock_guard<std::recursive_mutex> lock(storeMutex_);
    reportBadValue(key, *v, "out of range");
  }
  for (const auto& [k, v] : registered_)
    if (std::string_view(k) == key) return v.toDouble();
  return 0.0;
}

bool AppSettings::flagFor(const char* key) const {
  if (auto v = readFlag(key)) return *v;
  for (const auto& [k, v] : registered_)
    if (std::string_view(k) == key) return v.toBool();
  return false;
}

std::optional<std::string> AppSettings::stringFor(const char* key) const {
  std::lock_guard<std::recursive_mutex> lock(storeMutex_);
  const QVariant raw = defaults_->value(key);
  if (!raw.isValid()) return std::nullopt;
  if (!isStringType(raw)) {
    reportBadValue(key, raw, "wrong type");
    return std::nullopt;
  }
  return raw.toString().toStdString();
}

void AppSettings::write(const char* key, const QVariant& value) {
  std::lock_guard<std::recursive_mutex> lock(storeMutex_);
  // The delay finder sets the delay ten times a second, nearly always to the value already
  // stored; each change rewrites and syncs the whole file, so only a change is written.
  if (!holds(defaults_->value(key), value)) defaults_->setValue(key, value);
  reportedBadKeys_.erase(key);
}

void AppSettings::remove(const char* key) {
  std::lock_guard<std::recursive_mutex> lock(storeMutex_);
  defaults_->remove(key);
}

void AppSettings::sync() {
  std::lock_guard<std::recursive_mutex> lock(storeMutex_);
  defaults_->sync();
}

QString AppSettings::fileName() const {
  std::lock_guard<std::recursive_mutex> lock(storeMutex_);
  return defaults_->fileName();
}

// ---- properties ----------------------------------------------------------------------

int64_t AppSettings::smoothingFactor() const { return integerFor(kSmoothing, offeredSmoothing); }
void AppSettings::setSmoothingFactor(int64_t value) {
  write(kSmoothing, qint64{value});
  announce("smoothingFactor");
}
int64_t AppSettings::averaging() const { return integerFor(kAveraging, averagingIndex); }
void AppSettings::setAveraging(int64_t value) {
  write(kAveraging, qint64{value});
  announce("averaging");
}
int64_t AppSettings::delayedChannel() const { return integerFor(kDelayedChannel, channelSide); }
void AppSettings::setDelayedChannel(int64_t value) {
  write(kDelayedChannel, qint64{value});
  announce("delayedChannel");
}
// Floats are stored as doubles so the file keeps plain numbers a person can edit.
double AppSettings::delayValueMS() const {
  return doubleFor(kDelay, -TFDataSource::kMaxDelayMs, TFDataSource::kMaxDelayMs);
}
void AppSettings::setDelayValueMS(double value) {
  write(kDelay, value);
  announce("delayValueMS");
}
float AppSettings::coherenceThreshold() const { return floatFor(kCoherenceThreshold, 0.0f, 1.0f); }
void AppSettings::setCoherenceThreshold(float value) {
  write(kCoherenceThreshold, static_cast<double>(value));
  announce("coherenceThreshold");
}
bool AppSettings::autoDelayOn() const { return flagFor(kAutoDelay); }
void AppSettings::setAutoDelayOn(bool value) {
  write(kAutoDelay, value);
  announce("autoDelayOn");
}
bool AppSettings::swapChannels() const { return flagFor(kSwap); }
void AppSettings::setSwapChannels(bool value) {
  write(kSwap, value);
  announce("swapChannels");
}
bool AppSettings::runningOnStart() const { return flagFor(kRunning); }
void AppSettings::setRunningOnStart(bool value) {
  write(kRunning, value);
  announce("runningOnStart");
}
bool AppSettings::generatorOn() const { return flagFor(kGenerator); }
void AppSettings::setGeneratorOn(bool value) {
  write(kGenerator, value);
  announce("generatorOn");
}
bool AppSettings::showImpulseView() const { return flagFor(kImpulse); }
void AppSettings::setShowImpulseView(bool value) {
  write(kImpulse, value);
  announce("showImpulseView");
}
bool AppSettings::showTraceManager() const { return flagFor(kTraceManager); }
void AppSettings::setShowTraceManager(bool value) {
  write(kTraceManager, value);
  announce("showTraceManager");
}
bool AppSettings::firstStart() const { return flagFor(kFirstStart); }
void AppSettings::setFirstStart(bool value) {
  write(kFirstStart, value);
  announce("firstStart");
}

std::optional<std::string> AppSettings::preferredRecordingDeviceUUID() const {
  return stringFor(kRecording);
}
void AppSettings::setPreferredRecordingDeviceUUID(const std::optional<std::string>& value) {
  if (value)
    write(kRecording, QString::fromStdString(*value));
  else
    remove(kRecording);
  announce("preferredRecordingDeviceUUID");
  setRecordingDeviceUUID(value);
}
std::optional<std::string> AppSettings::preferredPlaybackDeviceUUID() const {
  return stringFor(kPlayback);
}
void AppSettings::setPreferredPlaybackDeviceUUID(const std::optional<std::string>& value) {
  if (value)
    write(kPlayback, QString::fromStdString(*value));
  else
    remove(kPlayback);
  announce("preferredPlaybackDeviceUUID");
  setPlaybackDeviceUUID(value);
}

int64_t AppSettings::measChannelIndex() const { return integerFor(kMeas, inputIndex); }
void AppSettings::setMeasChannelIndex(int64_t value) {
  write(kMeas, qint64{value});
  announce("measChannelIndex");
}
int64_t AppSettings::refChannelIndex() const { return integerFor(kRef, inputIndex); }
void AppSettings::setRefChannelIndex(int64_t value) {
  write(kRef, qint64{value});
  announce("refChannelIndex");
}

std::optional<std::vector<int64_t>> AppSettings::channelMap() const {
  std::lock_guard<std::recursive_mutex> lock(storeMutex_);
  const QVariant raw = defaults_->value(kChannelMap);
  if (!raw.isValid()) return std::nullopt;
  // A list comes back as strings from the file, as numbers before it was written.
  QVariantList items;
  if (raw.typeId() == QMetaType::QStringList) {
    for (const QString& s : raw.toStringList()) items.push_back(s);
  } else if (raw.typeId() == QMetaType::QVariantList) {
    items = raw.toList();
  } else if (isStringType(raw) || isIntegerType(raw)) {
    items.push_back(raw);  // a one-element list reads back as a plain value
  } else {
    reportBadValue(kChannelMap, raw, "wrong type");
    return std::nullopt;
  }
  std::vector<int64_t> map;
  for (const QVariant& item : items) {
    bool ok = false;
    const int64_t v = item.toString().trimmed().toLongLong(&ok);
    if (!ok || !inputIndex(v)) {
      reportBadValue(kChannelMap, raw, ok ? "out of range" : "wrong type");
      return std::nullopt;
    }
    map.push_back(v);
  }
  return map;
}
void AppSettings::setChannelMap(const std::optional<std::vector<int64_t>>& value) {
  if (value) {
    QVariantList list;
    for (int64_t v : *value) list.push_back(qint64{v});
    write(kChannelMap, list);
  } else {
    remove(kChannelMap);
  }
  announce("channelMap");
}

float AppSettings::capturedTraceThickness() const {
  return floatFor(kCapturedThickness, kMinTraceThickness, kMaxTraceThickness);
}
void AppSettings::setCapturedTraceThickness(float value) {
  write(kCapturedThickness, static_cast<double>(value));
  announce("capturedTraceThickness");
}
float AppSettings::liveTraceThickness() const {
  return floatFor(kLiveThickness, kMinTraceThickness, kMaxTraceThickness);
}
void AppSettings::setLiveTraceThickness(float value) {
  write(kLiveThickness, static_cast<double>(value));
  announce("liveTraceThickness");
}

std::optional<std::string> AppSettings::recordingDeviceUUID() const {
  std::lock_guard<std::mutex> lock(runtimeMutex_);
  return recordingDeviceUUID_;
}
void AppSettings::setRecordingDeviceUUID(const std::optional<std::string>& value) {
  {
    std::lock_guard<std::mutex> lock(runtimeMutex_);
    recordingDeviceUUID_ = value;
  }
  announce("recordingDeviceUUID");
}
std::optional<std::string> AppSettings::playbackDeviceUUID() const {
  std::lock_guard<std::mutex> lock(runtimeMutex_);
  return playbackDeviceUUID_;
}
void AppSettings::setPlaybackDeviceUUID(const std::optional<std::string>& value) {
  {
    std::lock_guard<std::mutex> lock(runtimeMutex_);
    playbackDeviceUUID_ = value;
  }
  announce("playbackDeviceUUID");
}

}  // namespace qv::gui
