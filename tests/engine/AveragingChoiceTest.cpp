// The averaging choices read by what they do: the time constant of the exponential
// average from the display tick, rounded as the menu shows it.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/AveragingChoice.h"

namespace qv {
namespace {

TEST(AveragingChoiceTest, LabelsNameTheTimeConstantOfTheTickRate) {
  // Index 100 weighs each tick's frame 0.1: after n ticks the old value keeps 0.9^n, which
  // is 1/e after −1/ln 0.9 = 9.49 ticks, 0.316 s at 30 ticks a second.
  EXPECT_NEAR(AveragingChoice::timeConstant(100, 1.0 / 30.0), 0.3164, 1e-4);
  EXPECT_EQ(AveragingChoice::label(100, 1.0 / 30.0), "Fast (\u2248 0.3 s)");
  // Index 10: −1/ln 0.99 = 99.5 ticks, 3.32 s.
  EXPECT_EQ(AveragingChoice::label(10, 1.0 / 30.0), "Slow (\u2248 3 s)");
  EXPECT_EQ(AveragingChoice::label(1, 1.0 / 30.0), "Slowest (\u2248 33 s)");
  // Where the display ticks 15 times a second the same index averages twice as long.
  EXPECT_EQ(AveragingChoice::label(100, 1.0 / 15.0), "Fast (\u2248 0.6 s)");
  EXPECT_EQ(AveragingChoice::label(1000, 1.0 / 30.0), "None");
  EXPECT_EQ(AveragingChoice::timeConstant(1000, 1.0 / 30.0), 0.0);
  EXPECT_EQ(AveragingChoice::label(137, 1.0 / 30.0), "Index 137 (\u2248 0.2 s)");

  // Down the offered list every choice averages longer than the one before.
  double previous = -1.0;
  for (int index : AveragingChoice::kIndices) {
    const double tau = AveragingChoice::timeConstant(index, 1.0 / 30.0);
    EXPECT_GT(tau, previous) << index;
    previous = tau;
  }
  EXPECT_NE(AveragingChoice::description(100, 1.0 / 30.0).find("0.32 s"), std::string::npos);
}

}  // namespace
}  // namespace qv
