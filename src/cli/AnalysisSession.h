#pragma once
// The measurement chain of the live program without its windows: the transfer-function
// model with its spectral data source, and the delay finder, fed recorder-style blocks.
// The caller drives it: deliver() for every captured block, displayTick() for every
// display tick, finderTick() for every delay-finder tick. With a manual clock this runs
// in simulated time, as fast as the engine goes.
// Thread contract: deliver() may run on the recorder's queue while the ticks run on one
// other thread; everything else on the ticking thread. Or, in simulated time, the display
// chain (deliverToDisplay, displayTick, setDelayMs) and the finder (deliverToFinder,
// finderStep) on two threads of their own, each with its own clock.
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "cli/Options.h"
#include "export/AnalysisResult.h"
#include "platform/Clock.h"

namespace qv {
class TransferFunctionModel;
class QVDelayFinder;
class QVRecorderConsumer;
}  // namespace qv

namespace qv::cli {

class AnalysisSession {
 public:
  static constexpr int kFftSize = 32768;
  static constexpr int kOctResolution = 96;

  // The finder reads `finderClock` when one is given, else `clock` as the display does.
  AnalysisSession(uint32_t sampleRate, const Options& options, std::shared_ptr<Clock> clock,
                  std::shared_ptr<Clock> finderClock = nullptr);
  ~AnalysisSession();

  // The consumers a recorder registers (the data source, then the finder).
  std::vector<std::shared_ptr<QVRecorderConsumer>> consumers() const;
  // Announces the format to the consumers and starts the finder (for file analysis,
  // where there is no recorder to do it).
  void announce(uint32_t sampleRate);

  // `count` frames, at most kMaxBlockFrames as from a recorder.
  void deliver(const float* frames, uint32_t count);
  void displayTick();
  // finderStep, then the delay it asks for set as the main window would.
  void finderTick();

  // The halves of deliver and finderTick. finderStep returns the delay in ms to insert,
  // if its result asks for one; nothing else of the display chain is touched.
  void deliverToDisplay(const float* frames, uint32_t count);
  void deliverToFinder(const float* frames, uint32_t count);
  std::optional<float> finderStep();

  // The delay control: |v| below 0.009 ms is 0; a negative delay holds back the
  // measurement, a positive one the reference.
  void setDelayMs(float milliseconds);
  float delayMs() const { return delayMs_; }

  AnalysisResult result() const;

 private:
  Options options_;
  uint32_t sampleRate_;
  std::shared_ptr<Clock> clock_;
  std::shared_ptr<TransferFunctionModel> model_;
  std::shared_ptr<QVDelayFinder> finder_;
  float delayMs_ = 0;
  int64_t framesDelivered_ = 0;
  bool haveFinderResult_ = false;
};

}  // namespace qv::cli
