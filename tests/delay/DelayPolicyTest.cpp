// Which finder results become the compensation, and how the average takes them: results
// built by hand, so that each rule is seen alone.
#include <gtest/gtest.h>

#include <vector>

#include "delay/DelayPolicy.h"
#include "delay/DelaySignals.h"

namespace qv {
namespace {

constexpr uint32_t kRate = 48000;

using test::found;

class DelayPolicyTest : public ::testing::Test {
 protected:
  // Feeds results, returns the decisions that inserted something.
  std::vector<DelayDecision> feed(const std::vector<DelayEstimate>& results) {
    std::vector<DelayDecision> inserted;
    for (const auto& e : results) {
      const DelayDecision d = policy.consider(e);
      if (d.insert) inserted.push_back(d);
    }
    return inserted;
  }
  std::vector<DelayEstimate> steady(double delay, int from, int count) {
    std::vector<DelayEstimate> out;
    for (int i = 0; i < count; ++i) out.push_back(found(delay, from + i));
    return out;
  }
  DelayPolicy policy;
};

// Unsure and out of range results are never inserted, however many and however clear.
TEST_F(DelayPolicyTest, OnlyFoundResultsAreInserted) {
  for (const DelayState state : {DelayState::Unsure, DelayState::OutOfRange}) {
    std::vector<DelayEstimate> results = steady(1000.0, 0, 20);
    for (auto& e : results) e.state = state;
    EXPECT_TRUE(feed(results).empty());
    EXPECT_EQ(policy.state(), state);
  }
  EXPECT_EQ(policy.changes(), 0);
}

// Auto waits for three agreeing results, Track for two; an unsure one between them starts
// the count again. The delay inserted is their mean, exactly (no rounding to 0.01 ms:
// 8.000 ms at 48 kHz is 384 samples and stays 8.000 ms).
TEST_F(DelayPolicyTest, InsertsOnlyWhatConsecutiveResultsConfirm) {
  std::vector<DelayEstimate> results = {found(384.0, 0), found(384.0, 1)};
  EXPECT_TRUE(feed(results).empty());
  DelayEstimate unsure = found(384.0, 2);
  unsure.state = DelayState::Unsure;
  EXPECT_TRUE(feed({unsure, found(384.0, 3), found(384.0, 4)}).empty());
  const auto inserted = feed({found(384.0, 5)});
  ASSERT_EQ(inserted.size(), 1u);
  EXPECT_EQ(inserted[0].delayMs, 8.0);
  EXPECT_EQ(inserted[0].delaySamples, 384.0);

  DelayPolicy track(DelayPolicy::Settings{DelayPolicy::Mode::Track, 32768});
  EXPECT_FALSE(track.consider(found(100.0, 0)).insert);
  EXPECT_TRUE(track.consider(found(100.0, 1)).insert);
}

// After an insertion, results that differ by less than the measurement resolves (here
// 0.027 samples: 2° at 10 kHz) change nothing; a confirmed difference beyond it does.
TEST_F(DelayPolicyTest, ChangesBelowTheResolutionAreNotMade) {
  ASSERT_EQ(feed(steady(500.0, 0, 3)).size(), 1u);
  EXPECT_TRUE(feed(steady(500.02, 3, 10)).empty());
  const auto inserted = feed(steady(500.1, 13, 3));
  ASSERT_EQ(inserted.size(), 1u);
  EXPECT_DOUBLE_EQ(inserted[0].delaySamples, 500.1);
  EXPECT_EQ(policy.changes(), 2);
}

// Results that scatter raise the bar with them: four times their jitter.
TEST_F(DelayPolicyTest, JitterRaisesTheBar) {
  std::vector<DelayEstimate> results;
  for (int i = 0; i < 16; ++i) results.push_back(found(800.0 + (i % 2 ? 0.2 : -0.2), i));
  feed(results);
  EXPECT_GT(policy.toleranceSamples(), 4 * 0.2);
  EXPECT_EQ(policy.changes(), 1);
}

// A delay set by hand counts as in effect: results that agree with it insert nothing.
TEST_F(DelayPolicyTest, AManualDelayIsWhatResultsAreHeldAgainst) {
  policy.setApplied(10.0, kRate);
  EXPECT_TRUE(feed(steady(480.0, 0, 10)).empty());
  policy.setMode(DelayPolicy::Mode::Manual);
  EXPECT_TRUE(feed(steady(700.0, 10, 10)).empty());
}

struct ChangeCase {
  const char* name;
  std::vector<DelayEstimate> results;
  DelayChange change;
  int64_t restartFrom;  // for restarts
};

class HowTheAverageTakesIt : public ::testing::TestWithParam<ChangeCase> {};

// The last insertion of each sequence, and how the frames averaged before are to take it:
// - a first delay that is a small part of the display's frame: the average uncompensated so
//   far is the same path, turned;
// - a first delay of a second: frames compensated 1 s wrong hold little of each other, so
//   the average restarts at once;
// - a steady delay whose results moved a little (a better estimate): turned;
// - a jump the finder saw and located: restarted from where it located it;
// - a delay that keeps moving (clock drift): each frame stays as it was compensated.
TEST_P(HowTheAverageTakesIt, FollowsFromWhatTheFinderSaw) {
  const auto& c = GetParam();
  DelayPolicy policy;
  DelayDecision last;
  for (const auto& e : c.results) {
    const DelayDecision d = policy.consider(e);
    if (d.insert) last = d;
  }
  ASSERT_TRUE(last.insert);
  EXPECT_EQ(last.change, c.change);
  if (c.change == DelayChange::Restart) {
    EXPECT_EQ(last.restartFrom, c.restartFrom);
  }
}

std::vector<DelayEstimate> sequence(std::initializer_list<std::pair<double, int>> runs) {
  std::vector<DelayEstimate> out;
  int tick = 0;
  for (const auto& [delay, count] : runs)
    for (int i = 0; i < count; ++i) out.push_back(found(delay, tick++));
  return out;
}

std::vector<DelayEstimate> moved() {
  auto results = sequence({{240.0, 5}, {384.0, 3}});
  results[5].step = true;
  results[5].stepFromSamples = 240.0;
  results[5].stepPosition = 123456;
  return results;
}

std::vector<DelayEstimate> drifting() {
  std::vector<DelayEstimate> out;
  for (int i = 0; i < 40; ++i) out.push_back(found(100.0 + 0.1 * i, i));
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HowTheAverageTakesIt,
    ::testing::Values(ChangeCase{"FirstSmallDelay", sequence({{240.0, 3}}), DelayChange::Rotate, 0},
                      ChangeCase{"FirstLongDelay", sequence({{48000.0, 3}}), DelayChange::Restart,
                                 DelayDecision::kRestartNow},
                      ChangeCase{"Refinement", sequence({{240.0, 3}, {240.3, 3}}),
                                 DelayChange::Rotate, 0},
                      ChangeCase{"LocatedJump", moved(), DelayChange::Restart, 123456},
                      ChangeCase{"Drift", drifting(), DelayChange::Keep, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qv
