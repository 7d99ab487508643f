#pragma once
// The one settings object: a typed face over the per-user store (QSettings, organisation
// and application "Quorvex", so ~/.config/Quorvex/Quorvex.conf). Every getter reads the
// store, every setter writes it; registered defaults answer reads while no value of the
// user's own is stored and are never written. A stored value of the wrong type or out of
// its range (a hand-edited or damaged file) reads as the default, with one log line. Properties are
// observed by name ("smoothingFactor"); observers run synchronously inside the setter. Used from
// the main thread; reads from other threads are safe (the store sits behind a lock).
#include <QString>
#include <QVariant>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

class QSettings;

namespace qv::gui {

class SettingsBase {
 public:
  explicit SettingsBase(std::unique_ptr<QSettings> store);
  virtual ~SettingsBase();
  SettingsBase(const SettingsBase&) = delete;
  SettingsBase& operator=(const SettingsBase&) = delete;

  QSettings& defaults() const { return *defaults_; }

 protected:
  std::unique_ptr<QSettings> defaults_;
};

class AppSettings : public SettingsBase {
 public:
  // newValue: the property's value after the change (for device identifiers an empty
  // QVariant means no value).
  using Observer = std::function<void(const QVariant& newValue)>;

  // Removes its observation when it goes.
  class ObservationToken {
   public:
    ObservationToken() = default;
    ~ObservationToken() { reset(); }
    ObservationToken(ObservationToken&& other) noexcept { *this = std::move(other); }
    ObservationToken& operator=(ObservationToken&& other) noexcept;
    ObservationToken(const ObservationToken&) = delete;
    ObservationToken& operator=(const ObservationToken&) = delete;
    void reset();

   private:
    friend class AppSettings;
    ObservationToken(AppSettings* settings, uint64_t id) : settings_(settings), id_(id) {}
    AppSettings* settings_ = nullptr;
    uint64_t id_ = 0;
  };

  // Line widths of the curves, as the preferences offer them.
  static constexpr float kMinTraceThickness = 0.5f;
  static constexpr float kMaxTraceThickness = 6.0f;
  // Input indices beyond this are taken for damage, whatever the device.
  static constexpr int64_t kMaxInputChannels = 1024;

  // The shared object, created on first use under a once-only guard, over the user's
  // store. Never destroyed.
  static AppSettings& set();
  // For tests: any store (an INI file in a temporary folder).
  explicit AppSettings(std::unique_ptr<QSettings> store);
  ~AppSettings() override;

  // `property` is the property name ("smoothingFactor"). With deliverInitial the
  // observer hears the current value at once.
  [[nodiscard]] ObservationToken observe(const std::string& property, Observer observer,
                                         bool deliverInitial = false);
  // The current value of a property by name, as observers receive it.
  QVariant valueForProperty(const std::string& property) const;

  int64_t smoothingFactor() const;
  void setSmoothingFactor(int64_t value);
  int64_t averaging() const;
  void setAveraging(int64_t value);
  int64_t delayedChannel() const;
  void setDelayedChannel(int64_t value);
  // Milliseconds, -3000 … 3000, kept exactly (a found delay is no multiple of anything).
  double delayValueMS() const;
  void setDelayValueMS(double value);
  float coherenceThreshold() const;
  void setCoherenceThreshold(float value);
  bool autoDelayOn() const;
  void setAutoDelayOn(bool value);
  bool swapChannels() const;
  void setSwapChannels(bool value);
  bool runningOnStart() const;
  void setRunningOnStart(bool value);
  bool generatorOn() const;
  void setGeneratorOn(bool value);
  bool showImpulseView() const;
  void setShowImpulseView(bool value);
  bool showTraceManager() const;
  void setShowTraceManager(bool value);
  bool firstStart() const;
  void setFirstStart(bool value);
  // No value (nullopt) removes the stored key. Also sets the run-time identifier.
  std::optional<std::string> preferredRecordingDeviceUUID() const;
  void setPreferredRecordingDeviceUUID(const std::optional<std::string>& value);
  std::optional<std::string> preferredPlaybackDeviceUUID() const;
  void setPreferredPlaybackDeviceUUID(const std::optional<std::string>& value);
  int64_t measChannelIndex() const;
  void setMeasChannelIndex(int64_t value);
  int64_t refChannelIndex() const;
  void setRefChannelIndex(int64_t value);
  std::optional<std::vector<int64_t>> channelMap() const;
  void setChannelMap(const std::optional<std::vector<int64_t>>& value);
  float capturedTraceThickness() const;
  void setCapturedTraceThickness(float value);
  float liveTraceThickness() const;
  void setLiveTraceThickness(float value);
  // The delay finder's companions (AppSettingsDelay.cpp): the air temperature that gives the
  // speed of sound for the delay in metres (°C), whether a moving delay is tracked, and the
  // band the finder searches ({0, 0}: the whole band).
  static constexpr double kMinAirTemperatureC = -30.0;
  static constexpr double kMaxAirTemperatureC = 50.0;
  static constexpr double kHighestFinderBandHz = 96000.0;
  double airTemperatureC() const;
  void setAirTemperatureC(double value);
  bool trackDelay() const;
  void setTrackDelay(bool value);
  std::pair<double, double> delayFinderBand() const;
  void setDelayFinderBand(std::pair<double, double> value);

  // The identifiers in use in this run; never stored.
  std::optional<std::string> recordingDeviceUUID() const;
  void setRecordingDeviceUUID(const std::optional<std::string>& value);
  std::optional<std::string> playbackDeviceUUID() const;
  void setPlaybackDeviceUUID(const std::optional<std::string>& value);

  // Writes pending changes to disk (also done by the store itself from the event loop).
  void sync();
  // The file behind the store.
  QString fileName() const;

 private:
  struct Observation {
    uint64_t id;
    std::string property;
    std::shared_ptr<Observer> observer;
  };

  void registerDefaults();
  void registerDelayDefaults();  // AppSettingsDelay.cpp
  // Reads the user's value of `key`, or nothing when absent or of the wrong type.
  std::optional<int64_t> readInteger(const char* key) const;
  std::optional<float> readFloat(const char* key) const;
  std::optional<double> readDouble(const char* key) const;
  std::optional<bool> readFlag(const char* key) const;
  // The user's value when it is valid, else the default.
  int64_t integerFor(const char* key, bool (*valid)(int64_t) = nullptr) const;
  float floatFor(const char* key, float min, float max) const;
  double doubleFor(const char* key, double min, double max) const;
  bool flagFor(const char* key) const;
  std::optional<std::string> stringFor(const char* key) const;
  void write(const char* key, const QVariant& value);
  void remove(const char* key);
  void reportBadValue(const char* key, const QVariant& raw, const char* why) const;
  void announce(const std::string& property);
  void removeObservation(uint64_t id);

  // The registration domain: answers reads, never written.
  std::vector<std::pair<const char*, QVariant>> registered_;

  mutable std::recursive_mutex storeMutex_;
  mutable std::set<std::string> reportedBadKeys_;

  mutable std::mutex runtimeMutex_;
  std::optional<std::string> recordingDeviceUUID_;
  std::optional<std::string> playbackDeviceUUID_;

  std::mutex observersMutex_;
  std::vector<Observation> observations_;
  uint64_t nextObservationId_ = 1;
};

}  // namespace qv::gui
