#pragma once
// One measurement: the chain from two-channel audio to published curves, impulse, delay
// and levels. The input is a capture device (the recorder hands its blocks to the session's
// input, which takes out the drift between the channels' clocks and feeds the spectral data
// source, the input tap and, while it runs, the delay finder) or blocks the caller feeds
// (files). Display ticks turn the transfer-function model's spectra into a DisplaySnapshot;
// finder ticks turn the delay finder's search into a DelaySnapshot and a reading, which the
// DelayAcceptance rule may make the delay in force (exactly, to a fraction of a sample, the
// average kept, turned or restarted as the finder saw the change). The session also owns the
// generator and the delay, averaging, smoothing and coherence-threshold controls.
//
// Thread contract:
// - Control thread (the main queue's thread; in a driven session the thread that feeds the
//   display): every operation not named below, and every listener.
// - Display ticks on the update queue (the caller's thread when driven); finder ticks on
//   the finder's serial queue (the caller's finder thread when driven); blocks reach the
//   consumers on the recorder's queue. Time comes only from the injected clocks.
// - latestDisplay() and latestDelay() on any thread: each is one writer's SnapshotPool,
//   read without locks; the tick never waits for a reader. A Ref is held briefly and must
//   go before the session does.
// - Results reach the control thread only through the main queue (one coalesced block per
//   kind, every finder reading in order): the delay listener, the display listener. Nothing
//   here blocks on a tick except the destructor, which waits for a running one.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "audiolib/AudioLibrary.h"
#include "curves/BandCurves.h"
#include "curves/MicCalibration.h"
#include "delay/DelaySearch.h"
#include "delay/DriftEstimator.h"
#include "engine/AnalysisConstants.h"
#include "engine/LinToLogTransformer.h"
#include "platform/Clock.h"
#include "platform/DispatchQueue.h"
#include "platform/GCDTimer.h"
#include "session/DelayAcceptance.h"
#include "session/DelaySnapshot.h"
#include "session/DeviceNotice.h"
#include "session/DisplaySnapshot.h"
#include "session/ReadingQueue.h"
#include "session/SnapshotPool.h"

namespace qv {
class DelayLocator;
class GeneratorController;
class QVRecorder;
class TransferFunctionModel;
}  // namespace qv

namespace qv::session {

class AnalysisViews;
class DisplayAdjustments;
class DriftStage;
class InputTap;
class MainQueueSignal;
class RecorderWatch;
class SessionInput;

class MeasurementSession {
 public:
  using DisplayPool = SnapshotPool<DisplaySnapshot, 4>;
  using DelayPool = SnapshotPool<DelaySnapshot, 4>;

  struct Config {
    // The rate asked of a device, or the rate of the blocks fed; the bands are laid out
    // for it.
    uint32_t sampleRate = kAnalysisSampleRate;
    int64_t smoothing = 12;          // 1/S octave
    float averagingIndex = 1000.0f;  // 1 … 1000; 1000 averages nothing
    float coherenceThreshold = 0.05f;
    // Seconds between ticks; 0 picks by the processors: display 1/30 s above two (else
    // 1/15 s), finder 0.05 s from five (else 0.1 s).
    double displayInterval = 0.0;
    double finderInterval = 0.0;
    unsigned processorCount = 0;  // 0: the machine's
    // True: no timers and no main-queue hops; the caller runs displayTick and finderTick
    // (simulated time) and applies the finder's readings itself.
    bool driven = false;
    std::shared_ptr<Clock> clock;        // null: the system clock
    std::shared_ptr<Clock> finderClock;  // null: `clock`
    AudioLibrary* library = nullptr;     // null: the shared one
  };

  explicit MeasurementSession(Config config);
  ~MeasurementSession();
  MeasurementSession(const MeasurementSession&) = delete;
  MeasurementSession& operator=(const MeasurementSession&) = delete;

  // ---- a capture device ----
  // Makes the recorder for `uid` (the default input when unknown) if there is none, with
  // the channel map and the display chain's consumers; false when it cannot be made.
  bool openInput(const std::string& uid, uint32_t channelCountHint = 0);
  // openInput, then the capture resumes; the display ticks while audio flows. False, with
  // an InputFailed notice, when the capture does not start.
  bool startCapture(const std::string& uid, uint32_t channelCountHint = 0);
  // Pauses the capture, the display and the finder (keeping recorder and finder).
  void stopCapture();
  // Drops the recorder (a new device is used from the next start).
  void releaseInput();
  // Device channels of the measurement and the reference; used by every recorder made.
  void setChannelMap(int32_t measurement, int32_t reference);
  uint32_t inputChannel() const;  // the capture handle (for the level meter), 0: none
  const std::shared_ptr<QVRecorder>& recorder() const { return recorder_; }

  // ---- devices that go away (MeasurementSessionDevices.cpp) ----
  // A capture that ends by itself stops the display and the finder and is reported in
  // words; the recorder is dropped, so that a later start opens the device afresh. While
  // resuming is on (the default) the capture, with its finder, starts again when its
  // device is back, and the noise plays again when its output is back; its curves stay
  // blank until the analysis window holds only audio captured after the return.
  void setDeviceListener(std::function<void(const DeviceNotice&)> listener);
  void setResumeWhenDeviceReturns(bool on) { resumeWhenBack_ = on; }
  bool resumeWhenDeviceReturns() const { return resumeWhenBack_; }
  // A capture went away and has not been started again.
  bool inputLost() const { return lostInput_.has_value(); }
  // Looks at the devices now (as the watch does twice a second while it matters).
  void checkDevices();
  // What the input lost since the session was made: frames without room in a ring (the
  // capture's or the display's) and the dropouts the devices reported.
  ChannelLosses losses() const;

  // ---- blocks fed by the caller (driven) ----
  // The format of the blocks to come; starts the finder and the averages afresh.
  void announce(uint32_t sampleRate);
  // At most kMaxBlockFrames interleaved frames (measurement, reference). The display
  // chain and the finder may be fed from their own threads.
  void deliverToDisplay(const float* frames, uint32_t count);
  void deliverToFinder(const float* frames, uint32_t count);

  // ---- display ----
  void startDisplay();  // (re)starts the ticks and the averages
  void stopDisplay();
  bool displayRunning() const { return displayRunning_; }
  // One tick: transform, publish a DisplaySnapshot. Update queue, or the caller if driven.
  void displayTick();
  // A driven tick whose curves nobody reads: the averages, the views and the levels go on
  // as in displayTick, but no curves are made and nothing is published (the latest
  // snapshot stays that of an earlier tick). The caller's thread, driven only.
  void advanceDisplay();
  // Publishes the model's curves as they are, without a transform: the tick's second half.
  // On the tick's thread, or any thread while no tick runs.
  void publishDisplay();
  double displayInterval() const { return displayInterval_; }
  const GCDTimer* displayTimer() const { return displayTimer_.get(); }
  uint64_t displayTicks() const { return displayTicks_.load(std::memory_order_relaxed); }
  // The one serial queue of every session's display ticks and smoothing changes.
  static std::shared_ptr<dispatch::Queue> updateQueue();

  // ---- delay finder ----
  // The longest delay there is, either way (ms): what the finder searches and a delay may be.
  static constexpr double kMaxDelayMs = 3000.0;
  // Makes the finder if there is none, attaches it to the input (it starts its search
  // afresh) and starts its ticks; true when it runs (it needs a recorder).
  bool startDelayFinder();
  // Stops the ticks and detaches the finder from the input; keeps the finder.
  void stopDelayFinder();
  void releaseDelayFinder();  // stops and drops it
  const std::shared_ptr<DelayLocator>& delayFinder() const { return finder_; }
  bool delayFinderRunning() const;
  double finderInterval() const { return finderInterval_; }
  // Whether the finder's results become the delay in force, and whether a delay that moves
  // is followed (tracking) or a steady one held.
  void setAutoInsertDelay(bool on);
  bool autoInsertDelay() const { return autoInsertDelay_; }
  void setTracking(bool on);
  bool tracking() const { return tracking_; }
  // The band the finder searches in (Hz; lo >= hi: the whole band, weighted by coherence).
  void setFinderBand(double loHz, double hiHz);
  // One finder tick (finder thread); the reading when it produced a result.
  std::optional<FinderReading> finderTick();
  // Publishes a finder result (finder thread, or any thread while no finder tick runs);
  // the impulse is copied. Outside a driven session its reading then goes to the control
  // thread through the main queue.
  // `reading` brings the drift that goes with it; the rest is filled in.
  FinderReading publishFinderResult(const DelayEstimate& estimate, FinderReading reading = {});
  // Control thread: the acceptance rule; true when the reading changed the delay in force.
  bool applyFinderReading(const FinderReading& reading);
  // Control thread: the newest reading, the delay in force and how it came about.
  const DelayStatus& delayStatus() const { return status_; }
  // The delay the data source applied to its newest frame, in ms and samples (after the
  // display tick that took it over).
  double appliedDelayMs() const;
  double appliedDelaySamples() const;

  // ---- controls ----
  // Milliseconds, applied exactly; |v| below 0.009 is 0; negative holds back the
  // measurement, positive the reference. False (and nothing changes) for a value that is no
  // number or lies beyond ±kMaxDelayMs.
  bool setDelayMs(double milliseconds);
  double delayMs() const { return delayMs_; }
  // Applied between ticks; smoothing() is the value last set.
  void setSmoothing(int64_t smoothing);
  int64_t smoothing() const { return smoothing_; }
  void setAveragingIndex(float index);
  float averagingIndex() const;
  void resetAverages();
  void setCoherenceThreshold(float threshold);
  // Starts or stops the pink noise on the playback device `uid` (the default when
  // unknown); returns whether it plays (an OutputFailed notice says why not).
  bool setGeneratorOn(bool on, const std::string& uid);
  bool generatorOn() const;

  // ---- corrections and comparisons of the live curves ----
  // The measurement's magnitude corrected by the microphone's calibration (null: none),
  // in the snapshots and everything made from them (captures, the command line's outputs).
  // Published at once, also while the display is stopped (a driven session: at its next
  // tick).
  void setMicCalibration(std::shared_ptr<const curves::MicCalibration> calibration);
  const std::shared_ptr<const curves::MicCalibration>& micCalibration() const {
    return micCalibration_;
  }
  // Snapshots carry the live curves relative to `reference` (null: none), on the session's
  // bands; as setMicCalibration for when it takes effect.
  void setCompareReference(std::shared_ptr<const curves::BandCurves> reference);
  bool hasCompareReference() const { return hasCompareReference_; }

  // ---- what it publishes ----
  DisplayPool::Ref latestDisplay() const { return display_.acquire(); }
  DelayPool::Ref latestDelay() const { return delay_.acquire(); }
  const DisplayPool& displayPool() const { return display_; }
  // The bands the curves are given on; fixed for the session's life.
  const LinToLogTransformer& axis() const { return axis_; }
  uint32_t sampleRate() const { return config_.sampleRate; }
  int64_t framesDelivered() const;

  // Control thread; set before the events they follow can happen.
  // A new DisplaySnapshot (coalesced: take latestDisplay()).
  void setDisplayListener(std::function<void()> listener);
  // A finder result reached the control thread; `accepted`: it set the delay in force.
  void setDelayListener(std::function<void(const DelaySnapshot&, bool accepted)> listener);
  // The display started or stopped (also when the device went away).
  void setRunningListener(std::function<void(bool running)> listener);
  // Every finder reading as the acceptance rule took it; `changed`: it changed the delay.
  void setReadingListener(std::function<void(const FinderReading&, bool changed)> listener);

  // The views beside the transfer function (spectrum, spectrogram, group delay, level),
  // which run on the display tick while they are shown.
  AnalysisViews& views() const { return *views_; }

  // The chain itself, for inspection in tests.
  TransferFunctionModel& model() { return *model_; }

 private:
  std::optional<FinderReading> runFinderTick(DelayLocator& finder);
  // Finder thread: a drift correction due with this result, scheduled on the finder's side.
  void correctDrift(const DelayEstimate& estimate, FinderReading& reading);
  DriftStage& finderStage();
  struct LostDevice {
    std::string requested;  // the UID it was started with ("" for the default)
    std::string driver;     // the UID of the device it ran on
    std::string name;       // as the lists show it
    bool finderRan = false;
    double lostAt = 0;      // the session clock's time of the loss
    bool seenAway = false;  // the device lists have shown it gone since
  };

  // A tick's first part: the averages. True while the curves must be blank (old audio still
  // in the analysis window after a return).
  bool advanceAverages();
  void publishSnapshot(bool blank);
  // Devices (MeasurementSessionDevices.cpp).
  void inputWentAway(CaptureEnd why);
  void outputWentAway();
  void resumeInput();
  void resumeOutput();
  void notify(const DeviceNotice& notice);
  void updateWatch();
  void foldLosses();
  std::string inputDeviceName(const std::string& uid) const;
  std::string outputDeviceName(const std::string& uid) const;
  bool devicePresent(bool recording, const std::string& driver) const;
  // Whether the open recorder took that device (and it is still listed).
  bool recordingFrom(const std::string& driver) const;
  bool deviceReturned(LostDevice& lost, bool recording) const;
  void startFinderTimer();
  void deliverDelayResult();
  bool applyDecision(const DelayDecision& decision);
  void updateMode();
  void applyChannelMap();
  // Runs `change` on the adjustments where the ticks use them, then republishes.
  void adjust(std::function<void(DisplayAdjustments&)> change);
  void takeLevels(float levels[2]);
  AudioLibrary& library() const;

  Config config_;
  std::shared_ptr<Clock> clock_;
  std::shared_ptr<Clock> finderClock_;
  const LinToLogTransformer axis_;
  std::shared_ptr<TransferFunctionModel> model_;
  std::shared_ptr<InputTap> tap_;
  // The tick's (configured on the update queue).
  std::shared_ptr<DisplayAdjustments> adjustments_;
  // A device's blocks come through input_; fed blocks through the two stages, one for each
  // thread that feeds.
  std::shared_ptr<SessionInput> input_;
  std::unique_ptr<DriftStage> displayStage_;
  std::unique_ptr<DriftStage> fedFinderStage_;
  std::unique_ptr<AnalysisViews> views_;
  DelayAcceptance acceptance_;

  // Control thread.
  std::shared_ptr<QVRecorder> recorder_;
  std::shared_ptr<RecorderWatch> recorderWatch_;
  std::shared_ptr<DelayLocator> finder_;
  std::unique_ptr<GeneratorController> generator_;
  std::unique_ptr<GCDTimer> displayTimer_;
  std::unique_ptr<GCDTimer> finderTimer_;
  std::shared_ptr<dispatch::Queue> finderQueue_;
  int32_t channelMap_[2] = {0, 1};
  bool displayRunning_ = false;
  bool autoInsertDelay_ = false;
  std::shared_ptr<const curves::MicCalibration> micCalibration_;
  bool hasCompareReference_ = false;
  bool tracking_ = false;
  DelaySearch::Settings searchSettings_;
  double delayMs_ = 0.0;
  int64_t smoothing_ = 0;
  DelayStatus status_;
  double displayInterval_ = 0.0;
  double finderInterval_ = 0.0;
  std::function<void()> displayListener_;
  std::function<void(const DelaySnapshot&, bool)> delayListener_;
  std::function<void(bool)> runningListener_;
  std::function<void(const FinderReading&, bool)> readingListener_;
  std::function<void(const DeviceNotice&)> deviceListener_;
  std::unique_ptr<MainQueueSignal> displaySignal_;
  // Devices that went away and what to bring back.
  bool resumeWhenBack_ = true;
  std::string inputUid_;  // as the last start asked for it
  std::optional<LostDevice> lostInput_;
  bool generatorWanted_ = false;
  std::string generatorUid_;
  std::optional<LostDevice> lostOutput_;
  std::unique_ptr<GCDTimer> watchTimer_;
  int devicesListener_ = 0;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // for the list listener's hop
  ChannelLosses lossesBefore_;                                  // of recorders already dropped
  bool freshNeeded_ = false;                                    // the next start marks freshFrom_
  std::unique_ptr<MainQueueSignal> delaySignal_;
  ReadingQueue readings_;

  // Read by the ticks, written by the control thread.
  std::atomic<double> lastTick_{0.0};
  std::atomic<double> delayInForce_{0.0};
  std::atomic<bool> signalDisplay_{false};
  // While not negative, the tick publishes blank curves until its analysis window starts
  // at this frame (counted as the display's data source receives them).
  std::atomic<int64_t> freshFrom_{-1};
  std::atomic<uint64_t> droppedFrames_{0};
  std::atomic<uint64_t> xruns_{0};

  // The display writer's (one tick at a time).
  uint64_t displaySerial_ = 0;
  float levels_[2] = {0.0f, 0.0f};
  std::atomic<uint64_t> displayTicks_{0};
  // The finder writer's.
  uint64_t delaySerial_ = 0;
  DriftEstimator drift_;

  // Made after the axis their snapshots point to, so they go before it.
  DisplayPool display_;
  DelayPool delay_;
};

}  // namespace qv::session
