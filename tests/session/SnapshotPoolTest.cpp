// The snapshot pool: a reader's value never changes under it, the writer skips (never
// waits) while readers hold every spare slot, and many readers on many threads only ever
// see whole values, newest last.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "session/SnapshotPool.h"

namespace qv::session {
namespace {

// Every element equals the serial, so a value half written shows as a mix.
struct Value {
  std::vector<uint64_t> items;
  bool whole() const {
    return std::all_of(items.begin(), items.end(), [&](uint64_t v) { return v == items[0]; });
  }
};
using Pool = SnapshotPool<Value, 3>;

Pool makePool() {
  return Pool([](Value& v) { v.items.assign(256, 0); });
}

bool publish(Pool& pool, uint64_t serial) {
  Value* v = pool.beginWrite();
  if (!v) return false;
  std::fill(v->items.begin(), v->items.end(), serial);
  pool.publish();
  return true;
}

TEST(SnapshotPoolTest, ReadersSeeTheLatestAndKeepWhatTheyHoldWhileTheWriterGoesOn) {
  Pool pool = makePool();
  EXPECT_FALSE(pool.acquire()) << "nothing before the first publication";
  ASSERT_TRUE(publish(pool, 1));
  Pool::Ref first = pool.acquire();
  ASSERT_TRUE(first);
  for (uint64_t serial = 2; serial <= 10; ++serial) ASSERT_TRUE(publish(pool, serial));
  EXPECT_EQ(first->items[0], 1u);
  EXPECT_TRUE(first->whole());
  EXPECT_EQ(pool.acquire()->items[0], 10u);
}

TEST(SnapshotPoolTest, WhileReadersHoldEverySpareSlotTheWriterSkipsAndThenGoesOn) {
  Pool pool = makePool();
  ASSERT_TRUE(publish(pool, 1));
  Pool::Ref a = pool.acquire();
  ASSERT_TRUE(publish(pool, 2));
  Pool::Ref b = pool.acquire();
  ASSERT_TRUE(publish(pool, 3));  // the third slot; 1 and 2 are held
  EXPECT_FALSE(publish(pool, 4)) << "the only free slot is the latest";
  EXPECT_EQ(pool.skipped(), 1u);
  EXPECT_EQ(pool.acquire()->items[0], 3u);
  a = Pool::Ref();
  EXPECT_TRUE(publish(pool, 5));
  EXPECT_EQ(pool.acquire()->items[0], 5u);
  EXPECT_EQ(b->items[0], 2u);
}

// With two slots more than there are readers, a reader can always leave the writer one.
TEST(SnapshotPoolTest, ReadersOnOtherThreadsSeeWholeValuesInOrderAndTheWriterNeverSkips) {
  SnapshotPool<Value, 4> pool([](Value& v) { v.items.assign(256, 0); });
  constexpr uint64_t kPublications = 20000;
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::atomic<int> backwards{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 2; ++r) {
    readers.emplace_back([&] {
      uint64_t last = 0;
      while (!done.load()) {
        const auto ref = pool.acquire();
        if (!ref) continue;
        torn += !ref->whole();
        backwards += ref->items[0] < last;
        last = ref->items[0];
      }
    });
  }
  for (uint64_t serial = 1; serial <= kPublications; ++serial) {
    Value* v = pool.beginWrite();
    ASSERT_NE(v, nullptr) << serial;
    std::fill(v->items.begin(), v->items.end(), serial);
    pool.publish();
  }
  done = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(backwards.load(), 0);
  EXPECT_EQ(pool.skipped(), 0u);
  EXPECT_EQ(pool.acquire()->items[0], kPublications);
}

}  // namespace
}  // namespace qv::session
