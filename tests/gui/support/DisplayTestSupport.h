#pragma once
// A plot area as the main window builds it — a base view holding the three plot views of
// a QVPlotViewController showing a measurement session — over a trace store in a private
// temporary folder.
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "engine/AnalysisConstants.h"
#include "engine/TransferFunctionModel.h"
#include "gui/display/QVPlotViewController.h"
#include "session/MeasurementSession.h"
#include "traces/TraceManager.h"
#include "traces/TraceTestSupport.h"

// Qt defines `emit` as a macro; the audio library has a method of that name.
#pragma push_macro("emit")
#undef emit
#include "audio/BassLevelReader.h"
#include "audio/QVRecorder.h"
#include "audio/QVRecorderDelegate.h"
#include "audiolib/AudioLibrary.h"
#include "audiolib/backends/virtual/VirtualSoundSystem.h"
#include "support/VirtualDevices.h"
#pragma pop_macro("emit")

namespace qv::guitest {

// Chart names of a view, bottom first.
inline std::vector<std::string> chartNames(const gui::PlotView& view) {
  std::vector<std::string> names;
  for (const auto& chart : view.chartList().charts()) names.push_back(chart->name());
  return names;
}

inline size_t chartsNamed(const gui::PlotView& view, const std::string& name) {
  const auto names = chartNames(view);
  return static_cast<size_t>(std::count(names.begin(), names.end(), name));
}

// Writes one band of the model's curves directly (no tick may run meanwhile); the
// session's publishDisplay() then shows them to readers.
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
  explicit PlotArea(int width = 1000, int height = 600, unsigned processors = 4,
                    std::shared_ptr<Clock> clock = nullptr)
      : store_(folder_.path()) {
    base_.resize(width, height);
    session::MeasurementSession::Config config;
    config.processorCount = processors;
    config.averagingIndex = 100.0f;  // the settings' default
    config.clock = std::move(clock);
    session_ = std::make_shared<session::MeasurementSession>(config);
    gui::QVPlotController::Options options;
    options.traceManager = &store_;
    controller_ = std::make_unique<gui::QVPlotViewController>(session_, options);
  }
  ~PlotArea() {
    controller_.reset();
    session_.reset();
  }

  // Builds the views; the stored visible traces are drawn now.
  void build() { controller_->setBaseView(&base_); }

  TraceManager& store() { return store_; }
  QWidget& base() { return base_; }
  gui::QVPlotViewController& controller() { return *controller_; }
  gui::QVPlotController& plots() { return *controller_->plotController(); }
  session::MeasurementSession& session() { return *session_; }
  gui::SpectrumPlotView& mag() { return *controller_->magPlotView(); }
  gui::SpectrumPlotView& phase() { return *controller_->phasePlotView(); }
  gui::SpectrumPlotView& impulse() { return *controller_->impPlotView(); }
  TransferFunctionModel& model() { return session_->model(); }

  // The display's bands.
  static int32_t bandCount() {
    return LinToLogTransformer(nullptr, kAnalysisFftSize, kAnalysisSampleRate, kBandsPerOctave)
        .bandCount();
  }
  // Constant magnitude, phase and coherence curves, one after the other.
  static std::vector<float> curves(float magnitude, float phase, float coherence) {
    std::vector<float> buffer;
    for (float v : {magnitude, phase, coherence}) buffer.insert(buffer.end(), bandCount(), v);
    return buffer;
  }

 private:
  test::TempFolder folder_;
  TraceManager store_;
  QWidget base_;
  std::shared_ptr<session::MeasurementSession> session_;
  std::unique_ptr<gui::QVPlotViewController> controller_;
};

// The virtual sound system's input (measurement microphone on 0, reference on 1) recorded
// for consumers, in real or simulated time.
class VirtualRoom {
 public:
  explicit VirtualRoom(bool simulatedTime) : library_(test::virtualOnly(simulatedTime)) {
    recorder_ = QVRecorder::initWithDeviceUUID("Virtual:Virtual Sound System", 2, 44100, false,
                                               delegate_, library_);
    recorder_->setChannelMap({0, 1});
  }
  ~VirtualRoom() { recorder_->stopRec(); }
  void feed(std::shared_ptr<QVRecorderConsumer> consumer) { recorder_->addConsumer(consumer); }
  AudioLibrary& library() { return library_; }
  QVRecorder& recorder() { return *recorder_; }

 private:
  struct Delegate final : QVRecorderDelegate {
    void recorderStartedWithChannel(QVRecorder&, uint32_t) override {}
    void recorderStoppedWithChannel(QVRecorder&, uint32_t) override {}
  };
  std::shared_ptr<Delegate> delegate_ = std::make_shared<Delegate>();
  AudioLibrary library_;
  std::shared_ptr<QVRecorder> recorder_;
};

}  // namespace qv::guitest
