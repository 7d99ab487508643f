// The finder's tick, the acceptance and the drift estimate run ten times a second for hours,
// and the display's update takes every change of compensation: none of them may allocate
// once running. Global operator new is counted here while a flag is up.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>

#include "delay/DelayLocator.h"
#include "delay/DelayPolicy.h"
#include "delay/DriftEstimator.h"
#include "engine/TFDataSource.h"
#include "platform/Clock.h"
#include "support/CountedAllocations.h"
#include "support/KnownSystems.h"

namespace qv {
namespace {

namespace known = test::known;

TEST(DelayTickAllocation, FinderAcceptanceDriftAndCompensationAllocateNothing) {
  QV_SKIP_UNLESS_ALLOCATIONS_COUNTED();
  const uint32_t rate = 44100;
  // A source that moves, so that the search also locates a move and the acceptance
  // restarts the average.
  const auto reference = known::referenceNoise(rate * 8, 101);
  const auto frames = known::interleave(
      known::moving(reference, 300.0, 500.0, static_cast<size_t>(rate * 5.5)), reference);

  auto locator = std::make_shared<DelayLocator>(false);
  locator->setInputChannelCountSamplingRateAudioDataTransport(2, rate, {});
  DelayPolicy policy;
  DriftEstimator drift;
  auto clock = std::make_shared<ManualClock>();
  TFDataSource source(rate, 32768, 1.0f, 1100.0f, 0.1f, clock);
  source.setChannelsSwapped(true);
  int inserted = 0;
  DelayEstimate seen;
  ASSERT_TRUE(locator->start(
      [&](const DelayEstimate& e) {
        seen = e;
        drift.add(e);
        const DelayDecision d = policy.consider(e);
        if (!d.insert) return;
        ++inserted;
        source.setDelay(d.delayMs, d.change,
                        d.restartFrom == DelayDecision::kRestartNow ? TFDataSource::kRestartNow
                                                                    : d.restartFrom);
      },
      DelayLocator::Delivery::TickThread));

  const size_t block = rate / 10;
  for (size_t at = 0; at + block <= frames.size() / 2; at += block) {
    // The first second sets everything up: the search for the rate, the plans.
    gCountingEverywhere = at >= rate;
    locator->getData(frames.data() + 2 * at, static_cast<uint32_t>(block * 8));
    source.getData(frames.data() + 2 * at, static_cast<uint32_t>(block * 8));
    locator->processTick();
    for (int tick = 0; tick < 3; ++tick) {
      clock->advance(1.0 / 30);
      source.update(0.0);
    }
  }
  gCountingEverywhere = false;
  EXPECT_EQ(gAllocations.load(), 0);
  // The run went through what it was meant to: found, a move, two insertions.
  EXPECT_EQ(seen.state, DelayState::Found);
  EXPECT_EQ(inserted, 2);
}

}  // namespace
}  // namespace qv
