#pragma once
// What a plot controller asks of its owner when it builds its model: the analysis rate,
// the averaging index and the FFT size. Asked once, on the main thread, at creation.
#include <cstdint>

namespace qv::gui {

class QVTFPlotControllerDataSource {
 public:
  virtual ~QVTFPlotControllerDataSource() = default;
  virtual uint64_t sampleRate() = 0;
  virtual uint64_t avgIndex() = 0;
  virtual uint64_t fftSize() = 0;
};

}  // namespace qv::gui
