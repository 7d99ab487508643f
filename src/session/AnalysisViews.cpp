#include "session/AnalysisViews.h"

#include <algorithm>
#include <cmath>

#include "engine/FractionalOctaveBands.h"
#include "engine/SpectrumAveraging.h"
#include "engine/TransferFunctionModel.h"
#include "platform/Assert.h"
#include "session/MainQueueSignal.h"

namespace qv::session {

AnalysisViews::AnalysisViews(const Format& format, Post post, std::shared_ptr<Clock> clock,
                             bool signal)
    : format_(format),
      post_(std::move(post)),
      clock_(std::move(clock)),
      levelTap_(std::make_shared<LevelTap>()),
      pool_([&](ViewsSnapshot& s) {
        for (int i = 0; i < ViewsSnapshot::kInputs; ++i) {
          s.rta.levels[i].resize(ViewsSnapshot::kMaxRtaPoints);
          s.rta.peaks[i].resize(ViewsSnapshot::kMaxRtaPoints);
        }
        s.groupDelay.values.resize(static_cast<size_t>(format.bands));
      }) {
  QV_ASSERT(post_ != nullptr);
  if (signal) {
    signal_ = std::make_unique<MainQueueSignal>([this] {
      if (listener_) listener_();
    });
  }
}

AnalysisViews::~AnalysisViews() = default;

bool AnalysisViews::isValid(const Config& c) {
  return FractionalOctaveBands::isSupported(c.rta.settings.bandsPerOctave) &&
         SpectrumAveraging::isValid(c.rta.settings.averaging) &&
         qv::Spectrogram::isValid(c.spectrogram.settings) && c.groupDelay.smoothing >= 1 &&
         c.groupDelay.smoothing <= 96 && c.groupDelay.coherenceThreshold >= 0.0f &&
         c.groupDelay.coherenceThreshold <= 1.0f;
}

// ---- control thread ----

void AnalysisViews::configure(const Config& config) {
  QV_ASSERT(isValid(config));
  if (config == config_) return;
  config_ = config;
  post_([this, config] { apply(config); });
}

void AnalysisViews::resetRtaPeaks() {
  post_([this] {
    if (rta_) rta_->resetPeaks();
  });
}

void AnalysisViews::resetRtaAverages() {
  post_([this] {
    if (rta_) rta_->resetAverages();
  });
}

void AnalysisViews::resetLeq() {
  post_([this] {
    if (meter_) meter_->resetLeq();
  });
}

uint64_t AnalysisViews::calibrate(int input, const SplCalibrator::Settings& settings) {
  QV_ASSERT(input == 0 || input == 1);
  const uint64_t serial = requestedCalibrations_.fetch_add(1) + 1;
  post_([this, serial, input, settings] { startCalibration(serial, input, settings); });
  return serial;
}

void AnalysisViews::setListener(std::function<void()> listener) {
  listener_ = std::move(listener);
  signalling_.store(listener_ && signal_, std::memory_order_release);
}

// ---- tick thread ----

bool AnalysisViews::anyEngine() const {
  return rta_ || spectrogram_ || groupDelay_ || meter_ ||
         (calibrator_ && calibrator_->status() == SplCalibrator::Status::Measuring);
}

void AnalysisViews::apply(const Config& config) {
  const auto rate = static_cast<uint64_t>(format_.sampleRate);
  if (!config.rta.shown) {
    rta_.reset();
  } else if (!rta_) {
    rta_ = std::make_unique<SpectrumAnalyser>(format_.fftSize, rate, config.rta.settings, clock_);
    rtaFrames_ = 0;
  } else {
    rta_->setSettings(config.rta.settings);
  }

  if (!config.spectrogram.shown) {
    spectrogram_.reset();
  } else if (!spectrogram_) {
    spectrogram_ = std::make_unique<qv::Spectrogram>(format_.fftSize, rate, format_.tickInterval,
                                                     config.spectrogram.settings, clock_);
  } else {
    spectrogram_->setSettings(config.spectrogram.settings);
  }

  if (!config.groupDelay.shown) {
    groupDelay_.reset();
  } else {
    if (!groupDelay_)
      groupDelay_ = std::make_unique<GroupDelayAnalyser>(format_.fftSize, format_.sampleRate,
                                                         format_.octResolution);
    QV_ASSERT(groupDelay_->bandCount() == format_.bands);
    groupDelay_->setSmoothing(config.groupDelay.smoothing);
    groupDelay_->setCoherenceThreshold(config.groupDelay.coherenceThreshold);
  }

  if (!config.level.shown) {
    meter_.reset();
  } else if (!meter_) {
    meter_ = std::make_unique<SoundLevelMeter>(format_.sampleRate, config.level.weighting,
                                               config.level.timeWeighting);
  } else {
    if (meter_->weighting() != config.level.weighting) meter_->setWeighting(config.level.weighting);
    if (meter_->timeWeighting() != config.level.timeWeighting)
      meter_->setTimeWeighting(config.level.timeWeighting);
  }

  applied_ = config;
  applyCalibration();
  const bool measuring = calibrator_ && calibrator_->status() == SplCalibrator::Status::Measuring;
  if ((meter_ || measuring) != levelTap_->isOpen()) {
    if (meter_ || measuring) {
      levelTap_->open();
    } else {
      levelTap_->close();
    }
  }
  active_.store(anyEngine(), std::memory_order_relaxed);
}

void AnalysisViews::applyCalibration() {
  for (int i = 0; i < ViewsSnapshot::kInputs; ++i) {
    const std::optional<double>& offset = applied_.calibration[static_cast<size_t>(i)];
    if (rta_) rta_->setCalibrationOffset(i, offset);
    if (meter_) meter_->setCalibrationOffset(i, offset);
  }
  if (spectrogram_) spectrogram_->setCalibrationOffset(applied_.calibration[0]);
}

void AnalysisViews::startCalibration(uint64_t serial, int input,
                                     const SplCalibrator::Settings& settings) {
  calibrator_ = std::make_unique<SplCalibrator>(format_.sampleRate, input, settings);
  calibrationSerial_ = serial;
  calibrationReported_ = false;
  // What was recorded before the request is not the calibrator's tone.
  levelTap_->open();
  active_.store(true, std::memory_order_relaxed);
}

void AnalysisViews::tick(const TransferFunctionModel& model) {
  if (!active_.load(std::memory_order_relaxed) && calibrationReported_) return;
  const TFDataSource& source = *model.tfDataSource();
  const TFDataSource::FrameSpectra frame = source.frameSpectra();
  if (frame.measurement) {
    // Frames that still hold the silence the data source's ring starts with would pull the
    // spectrum's mean down; the spectrogram shows them as they are, one column per tick.
    if (rta_ && source.analysedFrameStart() >= 0 &&
        rta_->process(frame.measurement, frame.reference, frame.fftSize))
      ++rtaFrames_;
    if (spectrogram_) spectrogram_->process(frame.measurement, frame.fftSize);
  }
  if (groupDelay_) {
    // The delay the newest frame was compensated by (positive: the reference held back,
    // which is what the measurement lags by).
    const double compensated =
        applied_.groupDelay.includesCompensation ? source.appliedDelayMs() : 0.0;
    groupDelay_->setAddedDelayMs(static_cast<float>(compensated));
    groupDelay_->process(source.averagedSpectra());
  }
  measureLevels();
  publish();
}

void AnalysisViews::measureLevels() {
  if (!levelTap_->isOpen()) return;
  const bool measuring = calibrator_ && calibrator_->status() == SplCalibrator::Status::Measuring;
  levelTap_->drain([&](const float* frames, size_t count) {
    if (meter_) meter_->process(frames, count);
    if (measuring) calibrator_->process(frames, count);
  });
  // A finished calibration lets the ring go unless the meter still needs it.
  if (measuring && calibrator_->status() != SplCalibrator::Status::Measuring && !meter_) {
    levelTap_->close();
    active_.store(anyEngine(), std::memory_order_relaxed);
  }
}

void AnalysisViews::publish() {
  ViewsSnapshot* s = pool_.beginWrite();
  if (!s) return;  // every spare slot held: the next tick publishes
  s->serial = serial_++;
  s->time = clock_->now();

  ViewsSnapshot::Rta& rta = s->rta;
  rta.shown = rta_ != nullptr;
  if (rta_) {
    const FractionalOctaveBands& bands = rta_->bands();
    const int32_t count = std::min(bands.count(), ViewsSnapshot::kMaxRtaPoints);
    rta.frames = rtaFrames_;
    rta.bandsPerOctave = bands.bandsPerOctave();
    rta.count = count;
    rta.firstLog = count > 0 ? static_cast<float>(std::log10(bands.centre(0))) : 0.0f;
    rta.lastLog = count > 0 ? static_cast<float>(std::log10(bands.centre(count - 1))) : 0.0f;
    rta.weighting = rta_->settings().weighting;
    for (int i = 0; i < ViewsSnapshot::kInputs; ++i) {
      const auto in = static_cast<size_t>(i);
      const std::vector<float>& levels = rta_->levels(i);
      const std::vector<float>& peaks = rta_->peaks(i);
      const auto n = std::min(static_cast<size_t>(count), levels.size());
      std::copy_n(levels.begin(), n, rta.levels[in].begin());
      std::copy_n(peaks.begin(), std::min(n, peaks.size()), rta.peaks[in].begin());
      rta.spl[in] = rta_->readsSpl(i);
    }
  }

  s->spectrogram.shown = spectrogram_ != nullptr;
  if (spectrogram_) {
    s->spectrogram.history = spectrogram_->history();
    s->spectrogram.spl = spectrogram_->readsSpl();
  } else {
    s->spectrogram.history.reset();
  }

  s->groupDelay.shown = groupDelay_ != nullptr;
  if (groupDelay_) {
    std::copy_n(groupDelay_->values(), s->groupDelay.values.size(), s->groupDelay.values.begin());
    s->groupDelay.addedMs = groupDelay_->addedDelayMs();
  }

  s->level.shown = meter_ != nullptr;
  if (meter_) {
    for (int i = 0; i < ViewsSnapshot::kInputs; ++i)
      s->level.readings[static_cast<size_t>(i)] = meter_->reading(i);
    s->level.weighting = meter_->weighting();
    s->level.timeWeighting = meter_->timeWeighting();
  }

  ViewsSnapshot::Calibration& cal = s->calibration;
  cal.serial = calibrationSerial_;
  if (calibrator_) {
    cal.input = calibrator_->input();
    cal.status = calibrator_->status();
    cal.progress = calibrator_->progress();
    cal.offsetDb = calibrator_->offsetDb();
    cal.measuredDbfs = calibrator_->measuredDbfs();
    if (cal.status != SplCalibrator::Status::Measuring) calibrationReported_ = true;
  }
  pool_.publish();
  if (signalling_.load(std::memory_order_acquire)) signal_->notify();
}

}  // namespace qv::session
