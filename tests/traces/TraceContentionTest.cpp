// Another process (quorvex-analyze --save-trace, a second window) holding the database's
// write lock must never freeze the main thread: a capture returns at once, keeps its
// curves and is stored when the lock comes free, or is reported failed after its window.
#include <gtest/gtest.h>

#include <chrono>

#include "TraceTestSupport.h"
#include "traces/TraceDatabase.h"
#include "traces/TraceTransaction.h"

namespace qv {
namespace {

class TraceContentionTest : public test::TraceFixture {
 protected:
  void SetUp() override {
    // Made before the child starts, so that both processes share one schema.
    store = std::make_unique<TraceManager>(folder.path());
    store->setVisibilityChangedCallback(
        [this](const TraceShot& shot) { reported.push_back(shot); });
  }
  void TearDown() override {
    store.reset();
    dispatch::mainQueue().drain();
  }

  // A child process that opens the database itself, takes the write lock with one trace
  // written, says "holding", keeps the lock for `holdSeconds` and then commits.
  test::ChildResult holdWriteLock(double holdSeconds, const std::function<void()>& whileHeld) {
    return test::runInChild(
        [&] {
          TraceDatabase db(folder.path());
          std::vector<TraceShotRef> list;
          if (!db.open(list)) return 1;
          TraceTransaction transaction(db);
          if (!transaction.began()) return 1;
          TraceShot other;
          other.name = "other process";
          other.visible = true;
          other.dateCreated = TraceDate(std::chrono::microseconds(1));
          if (!db.insert(other)) return 2;
          test::childSay("holding");
          ::usleep(static_cast<useconds_t>(holdSeconds * 1e6));
          return transaction.commit() ? 0 : 3;
        },
        [&](pid_t, const std::string& line) {
          if (line == "holding") whileHeld();
        });
  }

  std::unique_ptr<TraceManager> store;
  std::vector<TraceShot> reported;
};

// Two captures taken while the lock is held: each call returns without its trace (a call
// that waited for the lock would come back with it), both wait in capture order, and both
// are stored once the other process commits, reported to the plot's callback and to their
// completions.
TEST_F(TraceContentionTest, CapturesDuringAnotherWriteReturnAtOnceAndAreStoredLater) {
  std::vector<std::string> completed;
  const auto child = holdWriteLock(1.5, [&] {
    for (const char* name : {"first", "second"}) {
      const auto curves = test::curves(1100);
      const TraceShotRef shot = store->newTraceWithNameFloatBufferLengthCountCommentUserInfo(
          name, curves.data(), 1100, 3, "c", {}, [&, name](const CaptureOutcome& outcome) {
            EXPECT_NE(outcome.shot, nullptr) << outcome.error;
            EXPECT_TRUE(outcome.error.empty()) << outcome.error;
            EXPECT_FALSE(outcome.failure);
            if (outcome.shot) completed.push_back(*outcome.shot->name);
          });
      EXPECT_EQ(shot, nullptr);
    }
    EXPECT_EQ(store->pendingCaptureCount(), 2u);
    EXPECT_TRUE(completed.empty());
    EXPECT_TRUE(dispatch::mainQueue().runUntil([&] { return completed.size() == 2; }, 10.0));
  });
  EXPECT_EQ(child.exitCode, 0);
  EXPECT_EQ(completed, (std::vector<std::string>{"first", "second"}));
  EXPECT_FALSE(store->capturePending());
  ASSERT_EQ(reported.size(), 2u);
  EXPECT_TRUE(reported[0].visible);
  const auto list = store->allTraceShots();
  ASSERT_EQ(list.count(), 3u);
  EXPECT_EQ(list[0].name, "second");
  EXPECT_EQ(list[1].name, "first");
  EXPECT_EQ(list[2].name, "other process");
  const auto curves = test::curves(1100);
  EXPECT_EQ(TraceShot::floatsFromBlob(*list[1].magnitudeData),
            std::vector<float>(curves.begin(), curves.begin() + 1100));
  EXPECT_FALSE(log.contains("Error in Realm transaction"));
}

// A lock held past the retry window: the capture is given up with the store's own error,
// logged and reported to its completion; nothing of ours is stored, nothing stays pending.
TEST_F(TraceContentionTest, ACaptureGivesUpAfterItsWindowWithTheStoresError) {
  store->setCaptureRetryWindow(0.5);
  std::optional<std::string> failure;
  TraceStoreFailure reason;
  const auto child = holdWriteLock(2.0, [&] {
    test::capture(*store, "lost", 8);
    const auto curves = test::curves(8);
    store->newTraceWithNameFloatBufferLengthCountCommentUserInfo(
        "also lost", curves.data(), 8, 3, "c", {}, [&](const CaptureOutcome& outcome) {
          EXPECT_EQ(outcome.shot, nullptr);
          failure = outcome.error;
          reason = outcome.failure;
        });
    EXPECT_TRUE(dispatch::mainQueue().runUntil([&] { return failure.has_value(); }, 5.0));
    EXPECT_FALSE(store->capturePending());
  });
  EXPECT_EQ(child.exitCode, 0);
  EXPECT_EQ(failure, "database is locked");
  EXPECT_EQ(reason.sentence(),
            "The trace was not saved: another program kept the trace database busy; capture "
            "again.");
  EXPECT_TRUE(log.contains("Error in Realm transaction: database is locked"));
  EXPECT_TRUE(log.contains("The trace 'lost' was not stored"));
  EXPECT_TRUE(reported.empty());
  store->refresh();
  ASSERT_EQ(store->allTraceShots().count(), 1u);
  EXPECT_EQ(store->allTraceShots()[0].name, "other process");
}

// The command line waits for the lock instead: stored once the other process commits,
// or refused with the store's error when its wait (shorter than the lock is held) runs out
// first.
TEST_F(TraceContentionTest, WaitingCaptureStoresOrFailsButIsNeverPending) {
  const auto curves = test::curves(8);
  std::string error;
  TraceShotRef waited;
  auto child = holdWriteLock(0.5, [&] {
    waited = store->newTraceWaiting("waited", curves.data(), 8, 3, "c", std::chrono::seconds(10),
                                    &error);
  });
  EXPECT_EQ(child.exitCode, 0);
  ASSERT_NE(waited, nullptr) << error;
  EXPECT_EQ(store->allTraceShots()[0].name, "waited");

  TraceShotRef refused;
  child = holdWriteLock(1.5, [&] {
    refused = store->newTraceWaiting("refused", curves.data(), 8, 3, "c",
                                     std::chrono::milliseconds(300), &error);
  });
  EXPECT_EQ(child.exitCode, 0);
  EXPECT_EQ(refused, nullptr);
  EXPECT_EQ(error, "database is locked");
  EXPECT_FALSE(store->capturePending());
}

}  // namespace
}  // namespace qv
