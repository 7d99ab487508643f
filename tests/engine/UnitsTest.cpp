#include <gtest/gtest.h>

#include "UnitTestDoubles.h"
#include "engine/AveragrUnit.h"
#include "engine/DecibelUnit.h"
#include "engine/PushPullUnit.h"
#include "engine/SplitterUnit.h"
#include "engine/Unit.h"
#include "platform/Clock.h"

namespace qv {
namespace {

using testing::FrameSource;
using testing::Probe;

UnitBufferSize sizeOf(int32_t n) { return {n, 0, 0.0f, 0.0f}; }

// A chain built head first: every stage learns its size when it is connected and again on
// every later change, before any values arrive.
class ChainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source->pullUnitSetOutputSize(sizeOf(4));
    head->pullUnitConnectInputTo(source);
    head->pushUnitConnectOutputTo(splitter);
    splitter->pushUnitConnectOutputTo(db);
    splitter->pushUnitConnectOutputTo(avg);
    db->pushUnitConnectOutputTo(dbProbe);
    avg->pushUnitConnectOutputTo(avgProbe);
  }

  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  std::shared_ptr<FrameSource> source = std::make_shared<FrameSource>();
  std::shared_ptr<PushPullUnit> head = PushPullUnit::unit();
  std::shared_ptr<SplitterUnit> splitter = SplitterUnit::splitter();
  std::shared_ptr<DecibelUnit> db = DecibelUnit::unit();
  std::shared_ptr<AveragrUnit> avg = AveragrUnit::averagerWithSpeed(100.0f, clock);
  std::shared_ptr<Probe> dbProbe = std::make_shared<Probe>();
  std::shared_ptr<Probe> avgProbe = std::make_shared<Probe>();
};

TEST_F(ChainTest, SizesReachEveryStageBeforeValues) {
  EXPECT_EQ(head->bufferSize(), 4);
  EXPECT_EQ(db->buffer().size(), 4u);
  EXPECT_EQ(avg->buffer().size(), 4u);
  ASSERT_FALSE(dbProbe->sizes.empty());
  EXPECT_EQ(dbProbe->sizes.back(), sizeOf(4));
  EXPECT_TRUE(dbProbe->frames.empty());

  head->setBufferSize(16);
  EXPECT_EQ(source->unitGetOutputSize(), sizeOf(16));  // passed upstream too
  EXPECT_EQ(splitter->unitGetOutputSize(), sizeOf(16));
  EXPECT_EQ(db->buffer().size(), 16u);
  EXPECT_EQ(avg->buffer(), std::vector<float>(16, 0.0f));
  EXPECT_EQ(avgProbe->sizes.back(), sizeOf(16));
  EXPECT_TRUE(avgProbe->frames.empty());
}

TEST_F(ChainTest, SilentSourceLeavesHeadBufferAsItWas) {
  source->frame = {2.0f, 2.0f, 2.0f, 2.0f};
  head->update();
  source->silent = true;
  head->update();
  ASSERT_EQ(avgProbe->frames.size(), 2u);
  EXPECT_EQ(source->pulls, 2);
  EXPECT_FLOAT_EQ(dbProbe->frames[1][0], dbProbe->frames[0][0]);
}

TEST_F(ChainTest, ChainIsOwnedFromItsHead) {
  EXPECT_EQ(splitter->previousUnit(), head);
  EXPECT_EQ(avg->previousUnit(), splitter);
  EXPECT_EQ(avgProbe->previousUnit(), avg);
  EXPECT_EQ(source->nextUnit(), head);

  std::weak_ptr<UnitProtocol> watchSplitter = splitter;
  std::weak_ptr<UnitProtocol> watchAvg = avg;
  splitter.reset();
  avg.reset();
  EXPECT_FALSE(watchAvg.expired());  // held through the head
  head.reset();
  EXPECT_TRUE(watchSplitter.expired());
  EXPECT_TRUE(watchAvg.expired());
  EXPECT_EQ(avgProbe->previousUnit(), nullptr);
}

TEST_F(ChainTest, ReconnectingAPushUnitReleasesTheOldOutput) {
  auto other = std::make_shared<Probe>();
  db->pushUnitConnectOutputTo(other);
  EXPECT_EQ(dbProbe->previousUnit(), nullptr);
  EXPECT_EQ(other->previousUnit(), db);
  EXPECT_EQ(other->sizes.back(), sizeOf(4));
}

TEST(SplitterTest, SameOutputTwiceKeepsOneEntryButResendsSize) {
  auto splitter = SplitterUnit::splitter();
  splitter->pushUnitSetInputSize(sizeOf(3));
  auto probe = std::make_shared<Probe>();
  splitter->pushUnitConnectOutputTo(probe);
  splitter->pushUnitConnectOutputTo(probe);
  EXPECT_EQ(splitter->outputs().size(), 1u);
  EXPECT_EQ(probe->sizes.size(), 2u);
  const float values[3] = {1, 2, 3};
  splitter->pushUnitSetInputValues(values);
  EXPECT_EQ(probe->frames.size(), 1u);  // delivered once, not twice
}

TEST(SplitterTest, RemovalKeepsTheOrderOfTheOthers) {
  std::vector<std::string> journal;
  auto splitter = SplitterUnit::splitter();
  auto a = std::make_shared<Probe>("a", &journal);
  auto b = std::make_shared<Probe>("b", &journal);
  auto c = std::make_shared<Probe>("c", &journal);
  for (const auto& p : {a, b, c}) splitter->pushUnitConnectOutputTo(p);
  splitter->removeUnit(b);
  splitter->removeUnit(b);  // absent: nothing changes
  splitter->removeUnit(std::make_shared<Probe>());
  journal.clear();

  splitter->pushUnitSetInputSize(sizeOf(1));
  const float v = 5.0f;
  splitter->pushUnitSetInputValues(&v);
  EXPECT_EQ(journal, (std::vector<std::string>{"a size", "c size", "a values", "c values"}));
  EXPECT_EQ(b->previousUnit(), nullptr);
}

class AveragrUnitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    avg->pushUnitConnectOutputTo(probe);
    avg->pushUnitSetInputSize(sizeOf(2));
  }
  void push(float a, float b) {
    const float v[2] = {a, b};
    avg->pushUnitSetInputValues(v);
  }
  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>(50.0);
  std::shared_ptr<AveragrUnit> avg = AveragrUnit::averagerWithSpeed(100.0f, clock);
  std::shared_ptr<Probe> probe = std::make_shared<Probe>();
};

// Speed 100 is a 0.1 s time constant: after 0.05 s a frame counts half, after 0.2 s whole.
TEST_F(AveragrUnitTest, BlendsByElapsedFractionOfTimeConstant) {
  clock->advance(0.05);
  push(10.0f, -4.0f);
  EXPECT_FLOAT_EQ(probe->frames.back()[0], 5.0f);
  EXPECT_FLOAT_EQ(probe->frames.back()[1], -2.0f);
  clock->advance(0.2);
  push(1.0f, 1.0f);
  EXPECT_FLOAT_EQ(probe->frames.back()[0], 1.0f);
  EXPECT_DOUBLE_EQ(avg->lastPassTime(), clock->now());
}

TEST_F(AveragrUnitTest, AttackIsLimitedToOneSecond) {
  avg->setSpeedIndex(4000.0f);
  EXPECT_FLOAT_EQ(avg->attackCoef(), 1.0f);
  EXPECT_FLOAT_EQ(avg->releaseCoef(), 4.0f);  // stored, not used
  clock->advance(0.25);
  push(8.0f, 8.0f);
  EXPECT_FLOAT_EQ(probe->frames.back()[0], 2.0f);  // 0.25 s of a 1 s constant
}

TEST_F(AveragrUnitTest, ZeroSpeedTakesEveryFrameWhole) {
  avg->setSpeedIndex(0.0f);
  push(3.0f, 3.0f);  // no time has passed; the frame is still taken
  EXPECT_FLOAT_EQ(probe->frames.back()[0], 3.0f);
}

TEST_F(AveragrUnitTest, ClockSteppingBackBlendsNothing) {
  clock->advance(1.0);
  push(6.0f, 6.0f);
  clock->advance(-0.5);
  push(100.0f, 100.0f);
  EXPECT_FLOAT_EQ(probe->frames.back()[0], 6.0f);
}

TEST_F(AveragrUnitTest, ResetZeroesAndRestartsTheClock) {
  clock->advance(1.0);
  push(6.0f, 6.0f);
  clock->advance(0.3);
  avg->reset();
  EXPECT_EQ(avg->buffer(), std::vector<float>(2, 0.0f));
  clock->advance(0.05);
  push(4.0f, 4.0f);
  EXPECT_FLOAT_EQ(probe->frames.back()[0], 2.0f);  // measured from the reset, not before
}

}  // namespace
}  // namespace qv
