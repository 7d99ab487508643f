#include <gtest/gtest.h>

#include <algorithm>

#include "TraceTestSupport.h"

namespace qv {
namespace {

using test::capture;
using Deliveries = std::vector<std::optional<TraceChangeSet>>;  // nullopt: the whole list

// Plays the trace panel: keeps its own rows and changes them only by the change sets, the
// way a table view applies a batch. Its rows must always equal the delivered results.
class TraceNotificationTest : public test::TraceFixture {
 protected:
  void SetUp() override {
    store = std::make_unique<TraceManager>(folder.path());
    token = store->addNotificationBlock([this](const TraceShotResults& results,
                                               const std::optional<TraceChangeSet>& changes,
                                               const std::optional<std::string>& error) {
      if (error) {
        errors.push_back(*error);
        EXPECT_EQ(results.count(), rows.size());  // the last good list, unchanged
        return;
      }
      calls.push_back(changes);
      if (!changes) {
        rows.clear();
        for (const auto& shot : results) rows.push_back(shot->id);
      } else {
        apply(*changes, results);
      }
      std::vector<std::int64_t> expected;
      for (const auto& shot : results) expected.push_back(shot->id);
      EXPECT_EQ(rows, expected);
    });
  }
  void TearDown() override {
    token.stop();
    dispatch::mainQueue().drain();
  }

  void apply(const TraceChangeSet& changes, const TraceShotResults& results) {
    for (auto row = changes.deletions.rbegin(); row != changes.deletions.rend(); ++row) {
      ASSERT_LT(*row, rows.size());
      rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(*row));
    }
    for (std::size_t row : changes.insertions) {
      ASSERT_LE(row, rows.size());
      rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(row), results[row].id);
    }
    for (std::size_t row : changes.modifications) ASSERT_LT(row, results.count());
  }

  // Runs what the main queue holds and returns the change sets delivered meanwhile.
  Deliveries deliver() {
    dispatch::mainQueue().drain();
    auto delivered = calls;
    calls.clear();
    return delivered;
  }

  static TraceChangeSet inserted(std::vector<std::size_t> rows) {
    return {{}, std::move(rows), {}};
  }
  static TraceChangeSet deleted(std::vector<std::size_t> rows) { return {std::move(rows), {}, {}}; }
  static TraceChangeSet modified(std::vector<std::size_t> rows) {
    return {{}, {}, std::move(rows)};
  }

  std::unique_ptr<TraceManager> store;
  TraceNotificationToken token;
  Deliveries calls;
  std::vector<std::int64_t> rows;
  std::vector<std::string> errors;
};

// The first call, on the main queue, carries the whole list and no change set.
TEST_F(TraceNotificationTest, EachOperationArrivesAsRowChanges) {
  EXPECT_TRUE(calls.empty());  // nothing runs before the main queue does
  EXPECT_EQ(deliver(), (Deliveries{std::nullopt}));
  capture(*store, "a");
  capture(*store, "b");
  capture(*store, "c");
  // Newest first: every capture is a new row 0.
  EXPECT_EQ(deliver(), (Deliveries{inserted({0}), inserted({0}), inserted({0})}));
  store->setNameForIndex("renamed", 1);
  store->toggleVisibilityForIndex(2);
  store->setSelectedForIndex(true, 0);
  EXPECT_EQ(deliver(), (Deliveries{modified({1}), modified({2}), modified({0})}));
  // Moving the selection changes the old and the new row in one transaction.
  store->setSelectedForIndex(true, 2);
  EXPECT_EQ(deliver(), (Deliveries{modified({0, 2})}));
  store->deleteShotAtIndex(1);
  EXPECT_EQ(deliver(), (Deliveries{deleted({1})}));
  EXPECT_EQ(rows.size(), 2u);
}

TEST_F(TraceNotificationTest, ClearAllArrivesAsTwoBatches) {
  for (int i = 0; i < 3; ++i) capture(*store, test::nameOf(i));
  store->toggleVisibilityForIndex(1);
  deliver();
  store->clearAll();
  // First the two visible traces are hidden, then all three rows go at once.
  EXPECT_EQ(deliver(), (Deliveries{modified({0, 2}), deleted({0, 1, 2})}));
  EXPECT_TRUE(rows.empty());
}

TEST_F(TraceNotificationTest, OperationsThatChangeNothingStayQuiet) {
  capture(*store, "a");
  deliver();
  store->deselectAll();
  store->setSelectedForIndex(true, 5);
  store->deleteShotAtIndex(1);
  store->setVisibilityForAllTraces(true);  // already visible
  EXPECT_TRUE(deliver().empty());
}

TEST_F(TraceNotificationTest, ChangesFromAnotherConnectionArriveOnRefresh) {
  capture(*store, "mine");
  deliver();
  {
    TraceManager other(folder.path());
    capture(other, "theirs");
    other.setNameForIndex("mine, renamed elsewhere", 1);
  }
  EXPECT_TRUE(deliver().empty());  // nothing polls behind our back
  store->refresh();
  EXPECT_EQ(deliver(), (Deliveries{TraceChangeSet{{}, {0}, {1}}}));
  EXPECT_EQ(store->traceShotForIndex(1)->name, "mine, renamed elsewhere");
  // Our own next write also picks up whatever the other side did before it.
  { capture(*std::make_unique<TraceManager>(folder.path()), "theirs again"); }
  capture(*store, "mine again");
  EXPECT_EQ(deliver(), (Deliveries{inserted({0, 1})}));
  EXPECT_EQ(rows.size(), 4u);
}

TEST_F(TraceNotificationTest, AListThatCannotBeReadArrivesAsAnError) {
  capture(*store, "a");
  deliver();
  // Another program wrecks the table under us.
  ASSERT_EQ(test::sqlOn(dbPath(), "DROP TABLE TraceShot"), "");
  store->refresh();
  EXPECT_TRUE(deliver().empty());
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("no such table"), std::string::npos) << errors[0];
  EXPECT_EQ(store->allTraceShots().count(), 1u);
  EXPECT_EQ(capture(*store, "b"), nullptr);
  EXPECT_TRUE(log.contains("Error in Realm transaction: no such table: TraceShot"));
}

TEST_F(TraceNotificationTest, AStoppedTokenGetsNoMoreCalls) {
  deliver();
  capture(*store, "a");
  token.stop();  // the delivery for "a" is already queued
  capture(*store, "b");
  EXPECT_TRUE(deliver().empty());
}

TEST_F(TraceNotificationTest, DeliveriesOutliveTheStore) {
  deliver();
  capture(*store, "a");
  store.reset();
  const auto delivered = deliver();
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0], inserted({0}));
}

TEST(TraceChangeSet, MatchesRowsByIdAndComparesTheirFields) {
  auto shot = [](std::int64_t id, std::int64_t micros, const char* name) {
    auto s = std::make_shared<TraceShot>();
    s->id = id;
    s->dateCreated = TraceDate(std::chrono::microseconds(micros));
    s->name = name;
    return TraceShotRef(s);
  };
  const TraceShotResults before({shot(3, 30, "c"), shot(2, 20, "b"), shot(1, 10, "a")});
  // Row 2 deleted, 4 added on top, 1 renamed; 3 is an equal copy, not a change.
  const TraceShotResults after({shot(4, 40, "d"), shot(3, 30, "c"), shot(1, 10, "renamed")});
  EXPECT_EQ(TraceChangeSet::between(before, after), (TraceChangeSet{{1}, {0}, {2}}));
  // A reused row id with another creation date is another trace.
  const TraceShotResults reused({shot(3, 35, "c")});
  EXPECT_EQ(TraceChangeSet::between(TraceShotResults({shot(3, 30, "c")}), reused),
            (TraceChangeSet{{0}, {0}, {}}));
}

}  // namespace
}  // namespace qv
