#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <numeric>
#include <thread>
#include <vector>

#include "platform/ByteRing.h"

namespace qv {
namespace {

TEST(ByteRing, LengthIsRoundedUpToWholePages) {
  const int page = static_cast<int>(sysconf(_SC_PAGESIZE));
  ByteRing ring(page + 1);
  ASSERT_TRUE(ring.valid());
  EXPECT_EQ(ring.length, 2 * page);
  int32_t available = -1;
  EXPECT_EQ(ring.tail(&available), nullptr);
  EXPECT_EQ(available, 0);
  EXPECT_NE(ring.head(&available), nullptr);
  EXPECT_EQ(available, ring.length);
}

TEST(ByteRing, ReadsAcrossTheSeamAreContiguous) {
  ByteRing ring(4096);
  const int32_t len = ring.length;
  // Move head and tail close to the end so the next write wraps.
  std::vector<uint8_t> filler(static_cast<size_t>(len - 100), 0xEE);
  ASSERT_TRUE(ring.produceBytes(filler.data(), static_cast<int32_t>(filler.size())));
  ring.consume(static_cast<int32_t>(filler.size()));

  std::vector<uint8_t> data(300);
  std::iota(data.begin(), data.end(), 0);
  ASSERT_TRUE(ring.produceBytes(data.data(), 300));
  int32_t available = 0;
  auto* tail = static_cast<uint8_t*>(ring.tail(&available));
  ASSERT_EQ(available, 300);
  // The 300 bytes straddle the end of the storage, yet read as one array.
  EXPECT_EQ(std::memcmp(tail, data.data(), 300), 0);
  ring.consume(300);
  EXPECT_EQ(ring.fill(), 0);
}

TEST(ByteRing, AFullRingRefusesMoreAndKeepsWhatItHas) {
  ByteRing ring(4096);
  std::vector<uint8_t> block(static_cast<size_t>(ring.length), 7);
  ASSERT_TRUE(ring.produceBytes(block.data(), ring.length));
  const uint8_t one = 1;
  EXPECT_FALSE(ring.produceBytes(&one, 1));
  EXPECT_EQ(ring.fill(), ring.length);
  int32_t space = -1;
  EXPECT_EQ(ring.head(&space), nullptr);
  EXPECT_EQ(space, 0);
  ring.clear();
  EXPECT_EQ(ring.fill(), 0);
}

TEST(ByteRingDeathTest, OverConsumingStopsWithTheCheckText) {
  EXPECT_DEATH(
      {
        ByteRing ring(4096);
        ring.consume(8);
      },
      "buffer->fillCount >= 0");
  EXPECT_DEATH(
      {
        ByteRing ring(4096);
        ring.produce(ring.length + 8);
      },
      "buffer->fillCount <= buffer->length");
}

// A producer and a consumer thread move a counting sequence through a small ring in
// uneven chunks; every value must arrive once and in order.
TEST(ByteRingConcurrency, ProducerAndConsumerThreadsKeepOrder) {
  ByteRing ring(4096);
  constexpr uint32_t kCount = 400000;
  std::thread producer([&] {
    uint32_t next = 0;
    uint32_t chunk = 1;
    while (next < kCount) {
      int32_t space = 0;
      auto* head = static_cast<uint32_t*>(ring.head(&space));
      uint32_t n = std::min<uint32_t>({chunk, static_cast<uint32_t>(space) / 4, kCount - next});
      for (uint32_t i = 0; i < n; ++i) head[i] = next + i;
      if (n > 0) ring.produce(static_cast<int32_t>(n * 4));
      next += n;
      chunk = chunk % 97 + 1;
      if (n == 0) std::this_thread::yield();
    }
  });
  uint32_t expected = 0;
  bool inOrder = true;
  while (expected < kCount) {
    int32_t available = 0;
    auto* tail = static_cast<uint32_t*>(ring.tail(&available));
    const uint32_t n = static_cast<uint32_t>(available) / 4;
    for (uint32_t i = 0; i < n; ++i) inOrder = inOrder && tail[i] == expected + i;
    if (n > 0) ring.consume(static_cast<int32_t>(n * 4));
    expected += n;
    if (n == 0) std::this_thread::yield();
  }
  producer.join();
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(ring.fill(), 0);
}

}  // namespace
}  // namespace qv
