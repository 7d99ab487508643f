#pragma once
// A plot area as the main window builds it — a base view holding the three plot views of
// a QVPlotViewController — over a trace store in a private temporary folder.
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "gui/display/QVPlotViewController.h"
#include "traces/TraceManager.h"
#include "traces/TraceTestSupport.h"

namespace qv::guitest {

// Chart names of a view, bottom first.
inline std::vector<std::string> chartNames(const gui::PlotView& view) {
  std::vector<std::string> names;
  for (const auto& chart : view.chartList().charts()) names.push_back(chart->name());
  return names;
}

inline size_t chartsNamed(const gui::PlotView& view, const std::string& name) {
  size_t n = 0;
  for (const auto& chart : view.chartList().charts()) n += chart->name() == name;
  return n;
}

// A band's curve values, written straight into the model's curves (no tick may run).
struct BandValues {
  float magnitude;
  float phase;
  float coherence;
};
inline void setBand(TransferFunctionModel& model, int32_t band, BandValues v) {
  model.mpolyline()->values()[band] = v.magnitude;
  model.ppolyline()->values()[band] = v.phase;
  model.cpolyline()->values()[band] = v.coherence;
}

class PlotArea {
 public:
  explicit PlotArea(int width = 1000, int height = 600, unsigned processors = 4)
      : store_(folder_.path()) {
    base_.resize(width, height);
    gui::QVPlotController::Options options;
    options.processorCount = processors;
    options.traceManager = &store_;
    controller_ = std::make_unique<gui::QVPlotViewController>(options);
  }
  ~PlotArea() { controller_.reset(); }

  // Builds the views (the stored visible traces are drawn now).
  void build() { controller_->setBaseView(&base_); }

  TraceManager& store() { return store_; }
  QWidget& base() { return base_; }
  gui::QVPlotViewController& controller() { return *controller_; }
  gui::QVPlotController& plots() { return *controller_->plotController(); }
  gui::SpectrumPlotView& mag() { return *controller_->magPlotView(); }
  gui::SpectrumPlotView& phase() { return *controller_->phasePlotView(); }
  gui::SpectrumPlotView& impulse() { return *controller_->impPlotView(); }
  TransferFunctionModel& model() { return *plots().tfModel(); }
  // The bands of the display's axis (32768-point FFT at 44100 Hz, 96 bands per octave).
  static int32_t bandCount() { return LinToLogTransformer(nullptr, 32768, 44100, 96).bandCount(); }

  // Three curves of the display's band count: magnitude, phase, coherence.
  static std::vector<float> curves(float magnitude, float phase, float coherence) {
    const auto n = static_cast<size_t>(bandCount());
    std::vector<float> buffer(3 * n);
    std::fill_n(buffer.begin(), n, magnitude);
    std::fill_n(buffer.begin() + n, n, phase);
    std::fill_n(buffer.begin() + 2 * n, n, coherence);
    return buffer;
  }

 private:
  test::TempFolder folder_;
  TraceManager store_;
  QWidget base_;
  std::unique_ptr<gui::QVPlotViewController> controller_;
};

}  // namespace qv::guitest
