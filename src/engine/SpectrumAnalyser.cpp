#include "engine/SpectrumAnalyser.h"

#include "engine/SpectrumPullUnit.h"
#include "platform/Assert.h"

namespace qv {

SpectrumAnalyser::SpectrumAnalyser(int32_t fftSize, uint64_t samplingRate, const Settings& settings,
                                   const std::shared_ptr<Clock>& clock)
    : fftSize_(fftSize), samplingRate_(samplingRate), settings_(settings) {
  QV_ASSERT(FractionalOctaveBands::isSupported(settings.bandsPerOctave));
  QV_ASSERT(SpectrumAveraging::isValid(settings.averaging));
  const auto rate = static_cast<double>(samplingRate);
  for (Chain& c : chains_) {
    c.source = std::make_shared<SpectrumFrameSource>(samplingRate, static_cast<uint64_t>(fftSize));
    c.head = PushPullUnit::unit();
    c.weighting = std::make_shared<WeightingUnit>(settings.weighting, rate);
    c.mapper = std::make_shared<FractionalOctaveMapper>(settings.bandsPerOctave, rate);
    c.averaging = std::make_shared<BandAveragingUnit>(settings.averaging, clock);
    c.decibels = DecibelUnit::unit();
    c.sink = std::make_shared<BandLevelSink>();
    c.head->pullUnitConnectInputTo(std::make_shared<SpectrumPullUnit>(c.source));
    c.head->pushUnitConnectOutputTo(c.weighting);
    c.weighting->pushUnitConnectOutputTo(c.mapper);
    c.mapper->pushUnitConnectOutputTo(c.averaging);
    c.averaging->pushUnitConnectOutputTo(c.decibels);
    c.decibels->pushUnitConnectOutputTo(c.sink);
    // Sizing the head sizes every stage below it.
    c.head->setBufferSize(fftSize);
  }
}

const SpectrumAnalyser::Chain& SpectrumAnalyser::chain(int input) const {
  QV_ASSERT(input >= 0 && input < kInputs);
  return chains_[input];
}

void SpectrumAnalyser::setSettings(const Settings& settings) {
  QV_ASSERT(FractionalOctaveBands::isSupported(settings.bandsPerOctave));
  QV_ASSERT(SpectrumAveraging::isValid(settings.averaging));
  const Settings old = settings_;
  settings_ = settings;
  for (Chain& c : chains_) {
    if (settings.bandsPerOctave != old.bandsPerOctave)
      c.mapper->setBandsPerOctave(settings.bandsPerOctave);
    if (settings.weighting != old.weighting) c.weighting->setWeighting(settings.weighting);
    if (!(settings.averaging == old.averaging)) c.averaging->setAveraging(settings.averaging);
  }
  // Averages and peaks over two weightings or averagings mean nothing.
  if (settings.weighting != old.weighting || !(settings.averaging == old.averaging)) {
    resetAverages();
    resetPeaks();
  }
  applyOffsets();
}

void SpectrumAnalyser::setCalibrationOffset(int input, std::optional<double> offsetDb) {
  QV_ASSERT(input >= 0 && input < kInputs);
  offsets_[input] = offsetDb;
  applyOffsets();
}

void SpectrumAnalyser::applyOffsets() {
  for (int i = 0; i < kInputs; ++i)
    chains_[i].sink->setOffsetDb(readsSpl(i) ? static_cast<float>(*offsets_[i]) : 0.0f);
}

bool SpectrumAnalyser::readsSpl(int input) const {
  QV_ASSERT(input >= 0 && input < kInputs);
  return settings_.splUnits && offsets_[input].has_value();
}

void SpectrumAnalyser::setFormat(int32_t fftSize, uint64_t samplingRate) {
  if (fftSize == fftSize_ && samplingRate == samplingRate_) return;
  fftSize_ = fftSize;
  samplingRate_ = samplingRate;
  const auto rate = static_cast<double>(samplingRate);
  for (Chain& c : chains_) {
    *c.source = SpectrumFrameSource(samplingRate, static_cast<uint64_t>(fftSize));
    c.weighting->setSamplingRate(rate);
    c.mapper->setSamplingRate(rate);
    c.head->setBufferSize(fftSize);
  }
}

bool SpectrumAnalyser::process(const float* measurement, const float* reference, int32_t fftSize) {
  if (fftSize != fftSize_) return false;
  const float* spectra[kInputs] = {measurement, reference};
  for (int i = 0; i < kInputs; ++i) {
    if (!settings_.enabled[i] || spectra[i] == nullptr) continue;
    chains_[i].source->setHalfSpectrum(spectra[i], static_cast<uint64_t>(fftSize));
    chains_[i].head->update();
  }
  return true;
}

void SpectrumAnalyser::resetPeaks() {
  for (Chain& c : chains_) c.sink->resetPeaks();
}

void SpectrumAnalyser::resetAverages() {
  for (Chain& c : chains_) c.averaging->reset();
}

}  // namespace qv
