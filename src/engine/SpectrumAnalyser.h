#pragma once
// The real-time analyser (RTA) of both inputs: 1/b-octave band levels of each input's
// newest frame, weighted A, C or Z, averaged in time, with peak hold, in dBFS or, for an
// input with a calibration offset, dB SPL. Each input has its own processing chain:
//   frame source → pull → pull-push head → weighting → band mapper → averaging → dB → levels
// Thread contract: constructed, configured and processed on one thread (the session's
// tick); a tick allocates nothing, a change of resolution or FFT size does. The level
// arrays are read on that thread and stay valid until the next process or setting.
#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "engine/AveragingModel.h"
#include "engine/BandAveragingUnit.h"
#include "engine/BandLevelSink.h"
#include "engine/DecibelUnit.h"
#include "engine/FractionalOctaveMapper.h"
#include "engine/FrequencyWeighting.h"
#include "engine/PushPullUnit.h"
#include "engine/SpectrumAveraging.h"
#include "engine/SpectrumFrameSource.h"
#include "engine/WeightingUnit.h"
#include "platform/Clock.h"

namespace qv {

class SpectrumAnalyser {
 public:
  static constexpr int kMeasurement = 0;
  static constexpr int kReference = 1;
  static constexpr int kInputs = 2;

  struct Settings {
    int32_t bandsPerOctave = 3;  // 1, 3, 6, 12, 24 or 48
    AveragingModel averaging = SpectrumAveraging::exponential(1.0);
    Weighting weighting = Weighting::Z;
    bool splUnits = false;  // dB SPL for calibrated inputs
    std::array<bool, kInputs> enabled = {true, true};
    bool operator==(const Settings&) const = default;
  };

  SpectrumAnalyser(int32_t fftSize, uint64_t samplingRate, const Settings& settings,
                   const std::shared_ptr<Clock>& clock = Clock::system());

  // A new resolution, weighting or averaging restarts the averages and the peaks.
  void setSettings(const Settings& settings);
  const Settings& settings() const { return settings_; }
  // Decibels that turn the input's dBFS into dB SPL; nothing: not calibrated.
  void setCalibrationOffset(int input, std::optional<double> offsetDb);
  // A new frame size or rate (the session's FFT size, the device's rate).
  void setFormat(int32_t fftSize, uint64_t samplingRate);

  // One tick: the half spectra (bins 0 … N/2, interleaved re, im) of the newest frame of
  // each input, from the unscaled FFT under the periodic Hann window. A null spectrum or
  // a disabled input leaves that input as it was. False, and nothing changes, when
  // `fftSize` is not the analyser's.
  bool process(const float* measurement, const float* reference, int32_t fftSize);

  void resetPeaks();
  void resetAverages();

  const FractionalOctaveBands& bands() const { return chains_[0].mapper->bands(); }
  const std::vector<float>& levels(int input) const { return chain(input).sink->levels(); }
  const std::vector<float>& peaks(int input) const { return chain(input).sink->peaks(); }
  // True: the input's levels are dB SPL; false: dBFS (also when SPL was asked for but the
  // input has no calibration).
  bool readsSpl(int input) const;
  int32_t fftSize() const { return fftSize_; }

 private:
  struct Chain {
    std::shared_ptr<SpectrumFrameSource> source;
    std::shared_ptr<PushPullUnit> head;
    std::shared_ptr<WeightingUnit> weighting;
    std::shared_ptr<FractionalOctaveMapper> mapper;
    std::shared_ptr<BandAveragingUnit> averaging;
    std::shared_ptr<DecibelUnit> decibels;
    std::shared_ptr<BandLevelSink> sink;
  };
  const Chain& chain(int input) const;
  void applyOffsets();

  int32_t fftSize_;
  uint64_t samplingRate_;
  Settings settings_;
  std::array<std::optional<double>, kInputs> offsets_;
  std::array<Chain, kInputs> chains_;
};

}  // namespace qv
