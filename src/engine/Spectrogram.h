#pragma once
// The spectrogram of the measurement input: every tick, the level of the newest frame in
// each band of the analyser's log-frequency axis (bands per 0.3 decade from 8 Hz up to the
// Nyquist frequency, as the octave band analyser lays them out) becomes one column of a
// history that keeps the last N seconds. The analyser leaves its lowest band (8 Hz)
// unmeasured: that row holds NaN, no level. The octave band analyser's chain does the work:
//   frame source → pull → pull-push head → splitter → band mapper → averager → dB → history
// Thread contract: constructed, configured and processed on one thread (the session's
// tick); a tick allocates nothing. Readers on other threads hold history() (a shared
// pointer: a new resolution or length makes a new history, the old one stays readable).
#include <memory>
#include <optional>

#include "engine/OctaveDataTransformer.h"
#include "engine/SpectrogramColumnSink.h"
#include "engine/SpectrogramHistory.h"
#include "engine/SpectrumFrameSource.h"
#include "platform/Clock.h"

namespace qv {

class Spectrogram {
 public:
  struct Settings {
    int32_t octResolution = 24;  // bands per 0.3 decade: 12, 24, 48 or 96
    double historySeconds = 30.0;
    float averagingMs = 0.0f;  // time constant of the band averager; 0: none
    bool splUnits = false;     // dB SPL when the measurement input is calibrated
    bool operator==(const Settings&) const = default;
  };
  static constexpr int32_t kResolutions[] = {12, 24, 48, 96};
  static constexpr double kMinHistorySeconds = 5.0;
  static constexpr double kMaxHistorySeconds = 120.0;
  static constexpr float kMaxAveragingMs = 1000.0f;
  static bool isValid(const Settings& settings);

  // `tickInterval`: seconds between two process calls, which sets how many columns the
  // history keeps.
  Spectrogram(int32_t fftSize, uint64_t samplingRate, double tickInterval, const Settings& settings,
              std::shared_ptr<Clock> clock = Clock::system());

  void setSettings(const Settings& settings);
  const Settings& settings() const { return settings_; }
  void setCalibrationOffset(std::optional<double> offsetDb);
  bool readsSpl() const { return settings_.splUnits && offset_.has_value(); }
  void setFormat(int32_t fftSize, uint64_t samplingRate, double tickInterval);

  // One tick: the measurement input's half spectrum (bins 0 … N/2, interleaved re, im,
  // unscaled FFT under the periodic Hann window) becomes the next column. False, and no
  // column, when `fftSize` is not the spectrogram's.
  bool process(const float* measurement, int32_t fftSize);

  const std::shared_ptr<SpectrogramHistory>& history() const { return sink_->history(); }
  int32_t rows() const { return transformer_->bandCount(); }
  float frequencyForRow(int32_t row) const {
    return transformer_->frequencyForBandIndex(static_cast<float>(row));
  }
  double tickInterval() const { return tickInterval_; }

 private:
  void build();
  int32_t capacity() const;

  int32_t fftSize_;
  uint64_t samplingRate_;
  double tickInterval_;
  Settings settings_;
  std::optional<double> offset_;
  std::shared_ptr<Clock> clock_;
  std::shared_ptr<SpectrumFrameSource> source_;
  std::shared_ptr<SpectrogramColumnSink> sink_;
  std::unique_ptr<OctaveDataTransformer> transformer_;
};

}  // namespace qv
