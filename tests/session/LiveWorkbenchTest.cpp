// The live curves as the trace workbench needs them, on the virtual sound system in
// simulated time: a microphone calibration corrects the magnitude where its file says and
// names itself in every snapshot; the live curves relative to a trace of the same system
// read 0 dB and 0°.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "audio/QVRecorder.h"
#include "audio/QVRecorderConsumer.h"
#include "audio/QVRecorderDelegate.h"
#include "audiolib/AudioLibrary.h"
#include "audiolib/backends/virtual/VirtualSoundSystem.h"
#include "curves/MicCalibration.h"
#include "session/MeasurementSession.h"
#include "support/StubConsumer.h"
#include "support/VirtualDevices.h"
#include "traces/TraceShot.h"
#include "traces/TraceWorkbench.h"

namespace qv::session {
namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kPeriodFrames = 5513;  // one capture period of the virtual system

// Hands every block the recorder delivers to the display chain of driven sessions.
class Forwarder final : public test::StubConsumer {
 public:
  explicit Forwarder(std::vector<MeasurementSession*> sessions) : sessions_(std::move(sessions)) {}
  void getData(const void* data, uint32_t byteSize) override {
    for (MeasurementSession* s : sessions_)
      s->deliverToDisplay(static_cast<const float*>(data), byteSize / 8);
  }

 private:
  std::vector<MeasurementSession*> sessions_;
  std::weak_ptr<QVAudioDataTransport> transport_;
};

struct NoDelegate final : QVRecorderDelegate {
  void recorderStartedWithChannel(QVRecorder&, uint32_t) override {}
  void recorderStoppedWithChannel(QVRecorder&, uint32_t) override {}
};

AudioLibrary::Options simulatedRoom() { return test::virtualOnly(true); }

// The virtual room recorded (measurement on input 0, reference on 1) into driven sessions,
// each ticked 30 times a second of simulated time.
class LiveWorkbenchTest : public ::testing::Test {
 protected:
  void record(std::vector<MeasurementSession*> sessions) {
    sessions_ = sessions;
    recorder_ = QVRecorder::initWithDeviceUUID("Virtual:Virtual Sound System", 2, kRate, false,
                                               delegate_, library_);
    ASSERT_TRUE(recorder_);
    recorder_->setChannelMap({0, 1});
    recorder_->addConsumer(std::make_shared<Forwarder>(sessions));
    recorder_->resumeRec();
  }
  ~LiveWorkbenchTest() override {
    if (recorder_) recorder_->stopRec();
  }

  MeasurementSession::Config config() {
    MeasurementSession::Config c;
    c.driven = true;
    c.clock = clock_;
    c.sampleRate = kRate;
    c.smoothing = 24;
    c.averagingIndex = 2.0f;  // about 16 s
    return c;
  }

  void run(double seconds) {
    for (int period = 0; period < static_cast<int>(seconds * 8); ++period) {
      library_.virtualSoundSystem().render(kPeriodFrames);
      for (int t = 0; t < 4; ++t) {
        clock_->advance(0.03125);
        for (MeasurementSession* s : sessions_) s->displayTick();
      }
    }
  }

  static size_t bandAt(const DisplaySnapshot& s, float hz) {
    return static_cast<size_t>(std::lround(s.axis->bandIndexForFreq(hz)));
  }

  std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>(100.0);
  AudioLibrary library_{simulatedRoom()};
  std::shared_ptr<NoDelegate> delegate_ = std::make_shared<NoDelegate>();
  std::shared_ptr<QVRecorder> recorder_;
  std::vector<MeasurementSession*> sessions_;
};

// A calibration file whose microphone reads 3 dB high from 6 to 10 kHz (and true below 5
// kHz): a measurement corrected by it reads 3 dB lower at 8 kHz than the same measurement
// uncorrected, and the same at 1 kHz; the snapshots name the file.
TEST_F(LiveWorkbenchTest, ACalibrationCorrectsTheMagnitudeWhereItsFileSays) {
  curves::MicCalibration calibration;
  curves::CurveFileError error;
  ASSERT_TRUE(curves::MicCalibration::parse(
      "Sens Factor =-1.2dB\n20 0\n5000 0\n6000 3.0\n10000 3.0\n12000 0\n20000 0\n",
      "ECM8000-1234.txt", &calibration, &error))
      << error.text();
  MeasurementSession plain(config());
  MeasurementSession corrected(config());
  for (MeasurementSession* s : {&plain, &corrected}) s->announce(kRate);
  corrected.setMicCalibration(std::make_shared<curves::MicCalibration>(calibration));
  record({&plain, &corrected});
  run(3.0);

  const auto p = plain.latestDisplay();
  const auto c = corrected.latestDisplay();
  ASSERT_TRUE(c->calibration);
  EXPECT_EQ(c->calibration->name(), "ECM8000-1234.txt");
  EXPECT_FALSE(p->calibration);
  const size_t at8k = bandAt(*c, 8000.0f);
  const size_t at1k = bandAt(*c, 1000.0f);
  ASSERT_TRUE(std::isfinite(p->magnitude[at8k]));
  EXPECT_NEAR(c->magnitude[at8k], p->magnitude[at8k] - 3.0f, 1e-4);
  EXPECT_NEAR(c->magnitude[at1k], p->magnitude[at1k], 1e-4);
  // The phase and the coherence are the microphone's own: untouched.
  EXPECT_EQ(c->phase[at8k], p->phase[at8k]);
  EXPECT_EQ(c->coherence[at8k], p->coherence[at8k]);

  corrected.setMicCalibration(nullptr);
  run(0.25);
  EXPECT_FALSE(corrected.latestDisplay()->calibration);
  EXPECT_EQ(corrected.latestDisplay()->magnitude[at8k], plain.latestDisplay()->magnitude[at8k]);
}

// A trace captured from the live curves, stored and read back as a trace is, then the same
// room measured on: live ÷ trace reads 0 dB and 0° within 0.1 dB and 1° wherever the live
// coherence is high (the room's comb notches are not), with the live coherence beside it.
TEST_F(LiveWorkbenchTest, TheLiveCurvesRelativeToATraceOfTheSameSystemReadZero) {
  MeasurementSession session(config());
  session.announce(kRate);
  session.setDelayMs(3.02f);  // the room's delay, as the finder inserts it
  record({&session});
  run(20.0);

  TraceShot trace;
  {
    const auto s = session.latestDisplay();
    EXPECT_FALSE(s->relativeShown);
    trace.magnitudeData = TraceShot::blobFromFloats(s->magnitude.data(), s->magnitude.size());
    trace.phaseData = TraceShot::blobFromFloats(s->phase.data(), s->phase.size());
    trace.coherenceData = TraceShot::blobFromFloats(s->coherence.data(), s->coherence.size());
  }
  const auto reference = TraceWorkbench::displayedCurvesOf(trace);
  ASSERT_TRUE(reference);
  session.setCompareReference(std::make_shared<curves::BandCurves>(*reference));
  run(20.0);  // a later stretch of the room's noise

  const auto s = session.latestDisplay();
  ASSERT_TRUE(s->relativeShown);
  int compared = 0, bands = 0;
  for (size_t b = bandAt(*s, 100.0f); b <= bandAt(*s, 11000.0f); ++b, ++bands) {
    if (!(s->coherence[b] >= 0.95f * kCoherenceScale)) continue;
    ++compared;
    EXPECT_NEAR(s->relative.magnitude[b], 0.0f, 0.1f) << s->axis->frequencyForBandIndex(b);
    EXPECT_NEAR(s->relative.phase[b], 0.0f, 1.0f) << s->axis->frequencyForBandIndex(b);
    EXPECT_EQ(s->relative.coherence[b], s->coherence[b]);
  }
  // The room is coherent over most of it (above some 8 kHz its noise shows).
  EXPECT_GT(compared, bands * 2 / 3) << compared << " of " << bands;

  session.setCompareReference(nullptr);
  run(0.25);
  EXPECT_FALSE(session.latestDisplay()->relativeShown);
}

}  // namespace
}  // namespace qv::session
