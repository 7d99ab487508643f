// The session's acceptance rule around the finder's policy: the mode it runs in, how a change
// made by hand reaches the average, and what a restart of the finder keeps.
#include <gtest/gtest.h>

#include "delay/DelaySignals.h"
#include "session/DelayAcceptance.h"

namespace qv::session {
namespace {

constexpr uint32_t kRate = 48000;
constexpr int32_t kFrame = 32768;

using test::found;

// Manual, the mode it starts in, only watches: the finder's results, however many and clear,
// insert nothing (what Auto inserts is the policy's table).
TEST(DelayAcceptanceTest, ManualOnlyWatches) {
  DelayAcceptance acceptance(kFrame, kRate);
  acceptance.setApplied(0.0);
  for (int t = 0; t < 10; ++t) EXPECT_FALSE(acceptance.consider(found(480.0, t)).insert);
  EXPECT_EQ(acceptance.state(), DelayState::Found);
  EXPECT_EQ(acceptance.changes(), 0);
}

// A small change by hand re-times the average (the path stayed); one that is a large part
// of the display's frame (2 % of 32768 samples: 13.65 ms at 48 kHz) restarts it. Either
// way round, since the size of the change is what counts.
TEST(DelayAcceptanceTest, ChangesByHandTurnTheAverageWhenSmallAndRestartItWhenLarge) {
  const DelayAcceptance acceptance(kFrame, kRate);
  EXPECT_EQ(acceptance.changeByHand(10.0, 10.01), DelayChange::Rotate);
  EXPECT_EQ(acceptance.changeByHand(10.0, 23.0), DelayChange::Rotate);
  EXPECT_EQ(acceptance.changeByHand(10.0, 24.0), DelayChange::Restart);
  EXPECT_EQ(acceptance.changeByHand(1000.0, 0.0), DelayChange::Restart);
}

// After a restart of the finder the delay in force stays and the count of changes goes on;
// the earlier results no longer count towards a change, so a new delay needs its own
// confirmations, and the one in force is not inserted again.
TEST(DelayAcceptanceTest, ARestartKeepsTheDelayAndTheCountButNotTheConfirmations) {
  DelayAcceptance acceptance(kFrame, kRate);
  acceptance.setMode(DelayAcceptance::Mode::Auto);
  for (int t = 0; t < 3; ++t) acceptance.consider(found(480.0, t));
  ASSERT_EQ(acceptance.changes(), 1);
  acceptance.consider(found(960.0, 3));
  acceptance.consider(found(960.0, 4));

  acceptance.restart();
  EXPECT_EQ(acceptance.mode(), DelayAcceptance::Mode::Auto);
  for (int t = 0; t < 5; ++t)
    EXPECT_FALSE(acceptance.consider(found(480.0, t)).insert) << "already in force";
  EXPECT_FALSE(acceptance.consider(found(960.0, 5)).insert);
  EXPECT_FALSE(acceptance.consider(found(960.0, 6)).insert);
  const DelayDecision d = acceptance.consider(found(960.0, 7));
  ASSERT_TRUE(d.insert);
  EXPECT_EQ(d.delayMs, 20.0);
  EXPECT_EQ(acceptance.changes(), 2);
}

}  // namespace
}  // namespace qv::session
