#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <vector>

#include "engine/Averager.h"
#include "engine/CumulAverager.h"
#include "engine/ExpoAverager.h"
#include "engine/SMAAverager.h"

namespace qv {
namespace {

// The exponential averager of the octave bands keeps a copy of the rule for its strided reads.
TEST(AveragerTest, RisesByAttackAndFallsByRelease) {
  for (const bool expo : {false, true}) {
    std::array<float, 2> out = {0.0f, 10.0f};
    auto avg = expo ? std::make_unique<ExpoAverager>(2, out.data(), 1, 0, 0.0f)
                    : std::make_unique<Averager>(2, out.data(), 1, 0, 0.0f);
    avg->setReleaseToAttackRatio(0.1f);
    avg->setSpeedIndex(50.0f);  // attack 0.5, release 0.05
    const float frame[2] = {10.0f, 0.0f};
    avg->processBufer(frame);
    EXPECT_FLOAT_EQ(out[0], 5.0f) << expo;  // 0 + (10 - 0) * 0.5
    EXPECT_FLOAT_EQ(out[1], 9.5f) << expo;  // 10 - (10 - 0) * 0.05
  }
}

TEST(AveragerTest, IndexThousandReplacesEveryValue) {
  std::array<float, 3> out = {4.0f, -4.0f, 9.0f};
  Averager avg(3, out.data(), 1, 0, 1000.0f);
  const float frame[3] = {1.0f, 2.0f, 3.0f};
  avg.processBufer(frame);
  EXPECT_EQ(out, (std::array<float, 3>{1.0f, 2.0f, 3.0f}));
}

TEST(AveragerTest, BaseStrideSpreadsOutputs) {
  std::vector<float> out(6, -1.0f);
  Averager avg(3, out.data(), 2, 0, 1000.0f);
  const float frame[3] = {1.0f, 2.0f, 3.0f};
  avg.processBufer(frame);
  EXPECT_EQ(out, (std::vector<float>{1.0f, -1.0f, 2.0f, -1.0f, 3.0f, -1.0f}));
}

TEST(AveragerTest, ExpoStrideReadsSpreadInput) {
  std::vector<float> out(6, -1.0f);
  ExpoAverager avg(3, out.data(), 2, 0, 1000.0f);
  const float frame[6] = {1.0f, 100.0f, 2.0f, 100.0f, 3.0f, 100.0f};
  avg.processBufer(frame);
  EXPECT_EQ(out, (std::vector<float>{1.0f, 2.0f, 3.0f, -1.0f, -1.0f, -1.0f}));
}

TEST(AveragerTest, InPlaceCopiesDenseWithoutAveraging) {
  std::vector<float> out(4, 0.0f);
  Averager avg(3, out.data(), 2, 0, 1.0f);
  const float frame[3] = {7.0f, 8.0f, 9.0f};
  avg.processBuferInPlace(frame);
  EXPECT_EQ(out, (std::vector<float>{7.0f, 8.0f, 9.0f, 0.0f}));
}

TEST(AveragerDeathTest, ProgrammingErrorsStop) {
  float out[2] = {};
  Averager avg(2, out, 1, 0, 10.0f);
  EXPECT_DEATH(avg.setSpeedIndex(1000.5f), "index <= 1000");
  EXPECT_DEATH(avg.setReleaseCoef(1.01f), "rls<=1.0f");
  Averager noOutput(2, nullptr, 1, 0, 10.0f);
  EXPECT_DEATH(noOutput.reset(), "outputBuf && nodeCount");
}

TEST(CumulAveragerTest, HoldsTheMeanSinceReset) {
  std::array<float, 2> out = {50.0f, 50.0f};
  CumulAverager avg(2, out.data(), 1, 0, 10.0f);
  avg.reset();
  for (float v : {1.0f, 2.0f, 3.0f}) {
    const float frame[2] = {v, -v};
    avg.processBufer(frame);
  }
  EXPECT_FLOAT_EQ(out[0], 2.0f);
  EXPECT_FLOAT_EQ(out[1], -2.0f);
  EXPECT_EQ(avg.cumulN(), 3u);

  avg.reset();
  const float frame[2] = {8.0f, 8.0f};
  avg.processBufer(frame);
  EXPECT_FLOAT_EQ(out[0], 8.0f);  // the first frame after a reset is the mean
}

TEST(CumulAveragerTest, SpeedChangesLeaveWeightsAlone) {
  float out[1] = {};
  CumulAverager avg(1, out, 1, 0, 300.0f);
  const float attack = avg.attackCoef();
  const float release = avg.releaseCoef();
  avg.setSpeedIndex(900.0f);
  EXPECT_EQ(avg.attackCoef(), attack);
  EXPECT_EQ(avg.releaseCoef(), release);
}

class SMAAveragerTest : public ::testing::Test {
 protected:
  // Frame n (1-based) holds n in point 0 and 2n in point 1.
  void feed(int from, int to) {
    for (int n = from; n <= to; ++n) {
      const float frame[2] = {float(n), 2.0f * float(n)};
      avg.processBufer(frame);
    }
  }
  std::array<float, 2> out = {};
  SMAAverager avg{2, out.data(), 1, 7, 100.0f};
};

// The first frame is copied, the second replaces it, and from there on the value is the
// mean of frames 2..n: for frames valued n that is (2 + n) / 2.
TEST_F(SMAAveragerTest, MeansFramesFromTheSecondOn) {
  feed(1, 1);
  EXPECT_FLOAT_EQ(out[0], 1.0f);
  feed(2, 2);
  EXPECT_FLOAT_EQ(out[0], 2.0f);
  feed(3, 10);
  EXPECT_FLOAT_EQ(out[0], 6.0f);
  EXPECT_FLOAT_EQ(out[1], 12.0f);
  feed(11, 513);
  EXPECT_NEAR(out[0], 257.5f, 1e-2f);
  // All 513 slots used: the ring has wrapped back to its start.
  EXPECT_EQ(avg.writeIndex(), 0);
  EXPECT_EQ(avg.readIndex(), 512);
}

TEST_F(SMAAveragerTest, FullRingTurnsIntoWeightOneIn512) {
  feed(1, 513);
  const float before = out[0];
  feed(514, 514);
  EXPECT_NEAR(out[0], before * (511.0f / 512.0f) + 514.0f / 512.0f, 1e-3f);
  feed(515, 515);
  EXPECT_EQ(avg.cumulN(), 515u);
}

TEST_F(SMAAveragerTest, ResetClearsRingButKeepsPositions) {
  feed(1, 5);
  const int write = avg.writeIndex();
  const int read = avg.readIndex();
  avg.reset();
  EXPECT_EQ(out, (std::array<float, 2>{0.0f, 0.0f}));
  EXPECT_EQ(avg.writeIndex(), write);
  EXPECT_EQ(avg.readIndex(), read);
  for (int slot = 0; slot <= SMAAverager::kSmoothInterval; ++slot) {
    ASSERT_EQ(avg.ringSlot(slot)[0], 0.0f) << slot;
  }
  feed(40, 40);
  EXPECT_FLOAT_EQ(out[0], 40.0f);  // the first frame after a reset is copied again
}

}  // namespace
}  // namespace qv
