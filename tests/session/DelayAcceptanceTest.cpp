// The acceptance rule of the delay finder's readings, by known answers.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "session/DelayAcceptance.h"

namespace qv::session {
namespace {

struct Case {
  float delaySeconds;
  float coherence;
  std::optional<float> delayMs;
};

class DelayAcceptanceTest : public ::testing::TestWithParam<Case> {};

TEST_P(DelayAcceptanceTest, TakesOnlyConfidentPlausibleReadingsRoundedUpToAHundredth) {
  const Case c = GetParam();
  const auto got = DelayAcceptance().accept(c.delaySeconds, c.coherence);
  ASSERT_EQ(got.has_value(), c.delayMs.has_value());
  if (got) {
    EXPECT_FLOAT_EQ(*got, *c.delayMs);
  }
}

// 0.0123456 s is 12.3456 ms: up to 12.35. 5.0001 ms goes up to 5.01, not down to 5.00.
// -0.0123456 s is -12.3456 ms: "up" is towards zero, -12.34. 3 s itself is still taken.
INSTANTIATE_TEST_SUITE_P(
    Readings, DelayAcceptanceTest,
    ::testing::Values(Case{0.0123456f, 0.5f, 12.35f}, Case{0.0050001f, 0.5f, 5.01f},
                      Case{-0.0123456f, 0.5f, -12.34f}, Case{3.0f, 0.9f, 3000.0f},
                      Case{0.002f, 0.1f, std::nullopt}, Case{3.5f, 0.9f, std::nullopt},
                      Case{-3.5f, 0.9f, std::nullopt}, Case{std::nanf(""), 0.9f, std::nullopt},
                      Case{0.002f, std::nanf(""), std::nullopt}));

}  // namespace
}  // namespace qv::session
