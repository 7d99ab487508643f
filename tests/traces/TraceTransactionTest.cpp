// A write transaction ends with its scope: committed, or rolled back after an early return
// or an exception, leaving the database ready for the next one.
#include <gtest/gtest.h>

#include <stdexcept>

#include "TraceTestSupport.h"
#include "traces/TraceDatabase.h"
#include "traces/TraceTransaction.h"

namespace qv {
namespace {

class TraceTransactionTest : public test::TraceFixture {
 protected:
  std::size_t storedCount() {
    std::vector<TraceShotRef> list;
    EXPECT_TRUE(db.loadAll(list));
    return list.size();
  }
  bool insertOne(const std::string& name) {
    TraceShot shot;
    shot.name = name;
    shot.dateCreated = TraceDate(std::chrono::microseconds(static_cast<long>(name.size())));
    return db.insert(shot);
  }

  TraceDatabase db{folder.path()};
};

TEST_F(TraceTransactionTest, EndsCommittedOnlyWhenCommitted) {
  std::vector<TraceShotRef> list;
  ASSERT_TRUE(db.open(list));
  {
    TraceTransaction transaction(db);
    ASSERT_TRUE(transaction.began());
    ASSERT_TRUE(insertOne("left early"));
  }  // no commit: as a body that returns early
  EXPECT_EQ(storedCount(), 0u);
  EXPECT_FALSE(db.inTransaction());

  try {
    TraceTransaction transaction(db);
    ASSERT_TRUE(insertOne("thrown"));
    throw std::runtime_error("out of memory while building the trace");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(storedCount(), 0u);
  EXPECT_FALSE(db.inTransaction());

  TraceTransaction transaction(db);
  ASSERT_TRUE(transaction.began());  // the lock was given back both times
  ASSERT_TRUE(insertOne("kept"));
  EXPECT_TRUE(transaction.commit());
  EXPECT_FALSE(transaction.commit());  // once only
  EXPECT_EQ(storedCount(), 1u);
}

// A plot callback that throws while a trace is being deleted (it is told inside the
// transaction) leaves the trace stored and the store writable.
TEST_F(TraceTransactionTest, AnExceptionInsideAStoreOperationRollsItBack) {
  TraceManager store(folder.path());
  test::capture(store, "a");
  test::capture(store, "b");
  store.setVisibilityChangedCallback([](const TraceShot& shot) {
    if (!shot.visible) throw std::runtime_error("the plot went away");
  });
  EXPECT_THROW(store.deleteShotAtIndex(0), std::runtime_error);
  store.setVisibilityChangedCallback(nullptr);
  store.refresh();
  ASSERT_EQ(store.allTraceShots().count(), 2u);
  EXPECT_TRUE(store.allTraceShots()[0].visible);
  store.deleteShotAtIndex(0);
  EXPECT_EQ(store.allTraceShots().count(), 1u);
  EXPECT_EQ(TraceManager(folder.path()).allTraceShots().count(), 1u);
}

}  // namespace
}  // namespace qv
