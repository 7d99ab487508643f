#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/DispatchQueue.h"
#include "platform/MainQueue.h"

namespace qv::dispatch {
namespace {

TEST(SerialQueue, RunsBlocksOneAtATimeInOrder) {
  auto queue = makeSerialQueue("test.serial");
  std::vector<int> seen;
  std::atomic<int> running{0};
  bool overlapped = false;
  for (int i = 0; i < 200; ++i) {
    queue->async([&, i] {
      if (running.fetch_add(1) != 0) overlapped = true;
      seen.push_back(i);
      running.fetch_sub(1);
    });
  }
  queue->sync([] {});
  EXPECT_FALSE(overlapped);
  ASSERT_EQ(seen.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(seen[static_cast<size_t>(i)], i);
}

TEST(SerialQueue, KnowsWhenItIsCurrentAndSyncFromInsideDoesNotDeadlock) {
  auto queue = makeSerialQueue("test.current");
  EXPECT_FALSE(queue->isCurrent());
  bool inside = false;
  bool nested = false;
  queue->sync([&] {
    inside = queue->isCurrent();
    queue->sync([&] { nested = true; });
  });
  EXPECT_TRUE(inside);
  EXPECT_TRUE(nested);
}

TEST(SerialQueue, PendingBlocksRunBeforeTheQueueGoesAway) {
  std::atomic<int> ran{0};
  {
    auto queue = makeSerialQueue("test.teardown");
    for (int i = 0; i < 50; ++i) queue->async([&] { ran.fetch_add(1); });
  }
  EXPECT_EQ(ran.load(), 50);
}

TEST(ConcurrentQueue, RunsBlocksInParallel) {
  auto queue = makeConcurrentQueue("test.concurrent", 2);
  std::mutex m;
  std::condition_variable cv;
  int arrived = 0;
  bool bothInside = false;
  // Two blocks wait for each other: only a queue that runs them at once lets both finish.
  for (int i = 0; i < 2; ++i) {
    queue->async([&] {
      std::unique_lock<std::mutex> lock(m);
      ++arrived;
      cv.notify_all();
      bothInside = cv.wait_for(lock, std::chrono::seconds(10), [&] { return arrived == 2; });
    });
  }
  queue->sync([] {});
  std::unique_lock<std::mutex> lock(m);
  cv.wait_for(lock, std::chrono::seconds(10), [&] { return arrived == 2; });
  EXPECT_EQ(arrived, 2);
  lock.unlock();
  queue.reset();  // joins the workers
  EXPECT_TRUE(bothInside);
}

TEST(MainQueue, HandRunLoopRunsPostsFromOtherThreadsOnTheCallingThread) {
  auto& main = mainQueue();
  main.drain();
  std::thread::id ranOn;
  bool wasCurrent = false;
  std::thread poster([&] {
    main.async([&] {
      ranOn = std::this_thread::get_id();
      wasCurrent = mainQueue().isCurrent();
    });
  });
  poster.join();
  EXPECT_TRUE(main.runUntil([&] { return ranOn != std::thread::id(); }, 5.0));
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_TRUE(wasCurrent);
}

TEST(MainQueue, AnInstalledExecutorReceivesTheBlocks) {
  auto& main = mainQueue();
  std::vector<Block> posted;
  main.setExecutor([&](Block b) { posted.push_back(std::move(b)); });
  int ran = 0;
  main.async([&] { ++ran; });
  main.setExecutor(nullptr);
  EXPECT_EQ(main.drain(), 0);  // nothing went to the hand-run loop
  ASSERT_EQ(posted.size(), 1u);
  main.execute(posted[0]);
  EXPECT_EQ(ran, 1);
}

TEST(Once, RunsExactlyOnceAcrossThreads) {
  OnceFlag flag;
  std::atomic<int> count{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&] { once(flag, [&] { count++; }); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(count.load(), 1);
}

}  // namespace
}  // namespace qv::dispatch
