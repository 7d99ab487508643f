#include "engine/Spectrogram.h"

#include <algorithm>
#include <cmath>

#include "engine/SpectrumPullUnit.h"
#include "platform/Assert.h"

namespace qv {

bool Spectrogram::isValid(const Settings& s) {
  return std::find(std::begin(kResolutions), std::end(kResolutions), s.octResolution) !=
             std::end(kResolutions) &&
         s.historySeconds >= kMinHistorySeconds && s.historySeconds <= kMaxHistorySeconds &&
         s.averagingMs >= 0.0f && s.averagingMs <= kMaxAveragingMs;
}

Spectrogram::Spectrogram(int32_t fftSize, uint64_t samplingRate, double tickInterval,
                         const Settings& settings, std::shared_ptr<Clock> clock)
    : fftSize_(fftSize),
      samplingRate_(samplingRate),
      tickInterval_(tickInterval),
      settings_(settings),
      clock_(std::move(clock)) {
  QV_ASSERT(isValid(settings));
  QV_ASSERT(tickInterval > 0.0);
  build();
}

int32_t Spectrogram::capacity() const {
  return static_cast<int32_t>(std::ceil(settings_.historySeconds / tickInterval_)) + 1;
}

void Spectrogram::build() {
  source_ = std::make_shared<SpectrumFrameSource>(samplingRate_, static_cast<uint64_t>(fftSize_));
  sink_ = std::make_shared<SpectrogramColumnSink>(capacity());
  transformer_ = std::make_unique<OctaveDataTransformer>(
      fftSize_, std::make_shared<SpectrumPullUnit>(source_), sink_, source_,
      settings_.octResolution, settings_.averagingMs, clock_);
  setCalibrationOffset(offset_);
}

void Spectrogram::setSettings(const Settings& settings) {
  QV_ASSERT(isValid(settings));
  const Settings old = settings_;
  settings_ = settings;
  if (settings.octResolution != old.octResolution)
    transformer_->setOctResolution(settings.octResolution);
  if (settings.historySeconds != old.historySeconds) sink_->setCapacity(capacity());
  if (settings.averagingMs != old.averagingMs) {
    transformer_->setAveragingSpeed(settings.averagingMs);
    transformer_->resetAverages();
  }
  setCalibrationOffset(offset_);
}

void Spectrogram::setCalibrationOffset(std::optional<double> offsetDb) {
  offset_ = offsetDb;
  sink_->setOffsetDb(readsSpl() ? static_cast<float>(*offsetDb) : 0.0f);
}

void Spectrogram::setFormat(int32_t fftSize, uint64_t samplingRate, double tickInterval) {
  QV_ASSERT(tickInterval > 0.0);
  if (fftSize == fftSize_ && samplingRate == samplingRate_ && tickInterval == tickInterval_) return;
  fftSize_ = fftSize;
  samplingRate_ = samplingRate;
  tickInterval_ = tickInterval;
  build();
}

bool Spectrogram::process(const float* measurement, int32_t fftSize) {
  if (fftSize != fftSize_ || measurement == nullptr) return false;
  source_->setHalfSpectrum(measurement, static_cast<uint64_t>(fftSize));
  transformer_->update();
  return true;
}

}  // namespace qv
