// The delay between the channels compensated exactly (whole samples by the delay line, the
// rest as a phase term), and what becomes of the average when the compensation changes, on
// recordings whose delay is known.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "SimulatedCapture.h"
#include "engine/TransferFunctionModel.h"
#include "support/KnownSystems.h"

namespace qv {
namespace {

namespace known = test::known;

double wrapDegrees(double d) { return std::remainder(d, 360.0); }

// A model set up as the live program sets it up (swap on, averaging 100, 1/24 smoothing),
// fed 125 ms blocks and ticked 30 times a second in simulated time.
class Chain {
 public:
  explicit Chain(uint32_t rate)
      : clock_(std::make_shared<ManualClock>()),
        model_(32768, rate, 96, 24, clock_),
        capture_(*clock_, *model_.tfDataSource(), rate) {
    source().setChannelsSwapped(true);
    model_.setAveragingIndex(100);
  }

  void setSignal(const std::vector<float>& measurement, const std::vector<float>& reference) {
    capture_.setSignal(known::interleave(measurement, reference));
  }
  // Runs `seconds`, calling `afterTick` after every display tick.
  void run(double seconds, const std::function<void()>& afterTick = {}) {
    capture_.run(seconds, 30.0, [&] {
      model_.transform(0.0);
      if (afterTick) afterTick();
    });
  }

  TFDataSource& source() { return *model_.tfDataSource(); }
  double phaseAt(float hz) const { return model_.closestPhaseDataForFrequencyHz(hz).y; }
  double magnitudeAt(float hz) const { return model_.closestMagnitudeDataForFrequencyHz(hz).y; }
  double coherenceAt(float hz) const {
    return model_.closestCoherenceDataForFrequencyHz(hz).y / 180.0;
  }
  // The largest phase error (against 0°) from lo to hi; a blanked band counts as 1e9.
  double worstPhase(float lo, float hi) const {
    double worst = 0.0;
    for (int32_t b = 0; b < model_.bandCount(); ++b) {
      const float f = model_.frequencyForBandIndex(static_cast<float>(b));
      if (f < lo || f > hi) continue;
      const double v = model_.ppolyline()->values()[b];
      worst = std::isnan(v) ? 1e9 : std::max(worst, std::fabs(wrapDegrees(v)));
    }
    return worst;
  }

 private:
  std::shared_ptr<ManualClock> clock_;
  TransferFunctionModel model_;
  test::SimulatedCapture capture_;
};

struct ExactCase {
  uint32_t rate;
  double delayMs;  // measurement behind the reference; negative: ahead
};
void PrintTo(const ExactCase& c, std::ostream* os) { *os << c.delayMs << " ms at " << c.rate; }

class ExactCompensation : public ::testing::TestWithParam<ExactCase> {};

// Compensated by exactly the system's delay, the measurement is the reference again: 0°
// and 0 dB up to 20 kHz. Whole samples alone would leave −360°·f·(fraction/rate): for
// 2.000 ms at 44.1 kHz (88.2 samples, 88 by the delay line) −16° at 10 kHz and −33° at
// 20 kHz. The delay applied is the one asked for.
TEST_P(ExactCompensation, FlattensPhaseAtTenAndTwentyKilohertz) {
  const auto c = GetParam();
  Chain chain(c.rate);
  const size_t frames = static_cast<size_t>(c.rate * (3.0 + std::fabs(c.delayMs) / 1000.0));
  const double samples = c.delayMs * c.rate / 1000.0;
  const auto reference = known::referenceNoise(frames, 3);
  chain.setSignal(known::delayed(reference, samples), reference);
  ASSERT_TRUE(chain.source().setDelay(c.delayMs));
  chain.run(static_cast<double>(frames) / c.rate);

  EXPECT_EQ(chain.source().appliedDelayMs(), c.delayMs);
  EXPECT_NEAR(chain.source().appliedDelaySamples(), samples, 1e-9);
  for (const float hz : {1000.0f, 10000.0f, 20000.0f}) {
    EXPECT_LT(std::fabs(wrapDegrees(chain.phaseAt(hz))), 2.0) << hz;
    EXPECT_LT(std::fabs(chain.magnitudeAt(hz)), 0.05) << hz;
    EXPECT_GT(chain.coherenceAt(hz), 0.99) << hz;
  }
  EXPECT_LT(chain.worstPhase(100.0f, 20000.0f), 2.0);
  RecordProperty("phase_10k_deg", std::to_string(chain.phaseAt(10000.0f)));
  RecordProperty("phase_20k_deg", std::to_string(chain.phaseAt(20000.0f)));
}

INSTANTIATE_TEST_SUITE_P(Delays, ExactCompensation,
                         ::testing::Values(ExactCase{44100, 2.0}, ExactCase{48000, 8.0},
                                           ExactCase{96000, -1.37}, ExactCase{44100, 1000.013},
                                           ExactCase{192000, 2999.99}));

TEST(ExactCompensationLimits, BeyondThreeSecondsIsRefusedAndChangesNothing) {
  Chain chain(48000);
  ASSERT_TRUE(chain.source().setDelay(12.5));
  EXPECT_FALSE(chain.source().setDelay(3000.5));
  EXPECT_FALSE(chain.source().setDelay(std::nan("")));
  chain.setSignal(std::vector<float>(48000), std::vector<float>(48000));
  chain.run(0.1);
  EXPECT_EQ(chain.source().appliedDelayMs(), 12.5);
}

// The path stays at 2.3 ms while its estimate moves from 2.0 to 2.3 ms (a refinement). The
// frames averaged at 2.0 ms hold −360°·f·0.3 ms (−540° at 5 kHz): turned by the change they
// agree with the new frames at once; kept as they are, they pull the curve away for as long
// as they weigh in the average (coefficient 0.1: about 20 ticks).
TEST(DelayChange, RotatedAverageIsRightAtTheNextTickKeptAverageIsNot) {
  const uint32_t rate = 44100;
  const auto reference = known::referenceNoise(rate * 6, 5);
  const auto measurement = known::delayed(reference, 2.3 * rate / 1000.0);
  double worstAfter[2] = {0, 0};
  for (const DelayChange change : {DelayChange::Rotate, DelayChange::Keep}) {
    Chain chain(rate);
    chain.setSignal(measurement, reference);
    chain.source().setDelay(2.0);
    chain.run(3.0);
    ASSERT_GT(chain.worstPhase(4000.0f, 6000.0f), 20.0);  // the wrong estimate shows
    chain.source().setDelay(2.3, change);
    double& worst = worstAfter[change == DelayChange::Keep];
    chain.run(0.2, [&] { worst = std::max(worst, chain.worstPhase(1000.0f, 10000.0f)); });
  }
  EXPECT_LT(worstAfter[0], 1.0);
  EXPECT_GT(worstAfter[1], 30.0);
}

// The source moves from 5 to 8 ms at 4.0 s and the change is asked for at 4.6 s (as a finder
// would, a little after the move) with a restart from the move. The frames analysed until
// then still began before the move; the average restarts with the first one that does not,
// and from that tick on the curve is the new path's (0°, 0 dB): no second swing as old
// frames leave. Turned instead, the frames straddling the move keep the curve off.
TEST(DelayChange, RestartTakesOnlyFramesAfterTheMove) {
  const uint32_t rate = 44100;
  const size_t move = 4 * rate;
  const auto reference = known::referenceNoise(rate * 7, 9);
  const auto measurement = known::moving(reference, 5e-3 * rate, 8e-3 * rate, move);
  for (const DelayChange change : {DelayChange::Restart, DelayChange::Rotate}) {
    Chain chain(rate);
    chain.setSignal(measurement, reference);
    chain.source().setDelay(5.0);
    chain.run(4.6);
    chain.source().setDelay(8.0, change, static_cast<int64_t>(move));
    int64_t restartedAt = 0;
    float weight = chain.source().avgNew();
    // From the first frame that begins after the move, for a second.
    double worstAfterMove = 0.0;
    double sinceClean = -1.0;
    chain.run(2.4, [&] {
      // A restart shows as the weight of new frames going back up.
      if (chain.source().avgNew() > weight && restartedAt == 0)
        restartedAt = chain.source().analysedFrameStart();
      weight = chain.source().avgNew();
      if (sinceClean < 0.0 && chain.source().analysedFrameStart() >= static_cast<int64_t>(move))
        sinceClean = 0.0;
      if (sinceClean < 0.0 || sinceClean > 1.0) return;
      sinceClean += 1.0 / 30;
      worstAfterMove = std::max(worstAfterMove, chain.worstPhase(100.0f, 10000.0f));
    });
    if (change == DelayChange::Restart) {
      // The first clean frame: its measurement samples begin at or just after the move.
      ASSERT_NE(restartedAt, 0);
      EXPECT_GE(restartedAt, static_cast<int64_t>(move));
      EXPECT_LT(restartedAt, static_cast<int64_t>(move + rate / 10));
      EXPECT_LT(worstAfterMove, 1.0);
    } else {
      EXPECT_GT(worstAfterMove, 5.0);
    }
  }
}

TEST(DelayChange, FollowingADriftKeepsTheAverageCoherentTurningItBlurs) {
  const uint32_t rate = 44100;
  const double ppm = 20.0, start = 100.0;
  const auto reference = known::referenceNoise(rate * 12, 13);
  const auto measurement = known::drifted(reference, ppm, start);
  double coherence[2] = {0, 0};
  for (const DelayChange change : {DelayChange::Keep, DelayChange::Rotate}) {
    Chain chain(rate);
    chain.setSignal(measurement, reference);
    double t = 0.0;
    int ticks = 0;
    double sum = 0.0;
    int count = 0;
    chain.run(12.0, [&] {
      t += 1.0 / 30;
      if (++ticks % 8 == 0) {
        // The delay in the middle of the next frame.
        const double middle = static_cast<double>(chain.source().analysedFrameStart()) + 16384;
        const double delay = known::driftedDelayAt(middle, ppm, start);
        chain.source().setDelay(delay * 1000.0 / rate, change);
      }
      if (t > 6.0) {
        for (const float hz : {4000.0f, 6000.0f, 8000.0f}) sum += chain.coherenceAt(hz);
        count += 3;
      }
    });
    coherence[change == DelayChange::Rotate] = sum / count;
  }
  EXPECT_GT(coherence[0], 0.98);
  EXPECT_LT(coherence[1], coherence[0] - 0.03);
}

}  // namespace
}  // namespace qv
