#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/HeapTrim.h"

namespace qv {
namespace {

struct HeapMapping {
  uintptr_t begin = 0, end = 0;
  long residentKb = -1;
};

// The heap's address range and resident size, from /proc/self/smaps.
HeapMapping heapMapping() {
  std::ifstream smaps("/proc/self/smaps");
  HeapMapping heap;
  bool inHeap = false;
  for (std::string line; std::getline(smaps, line);) {
    if (line.find("[heap]") != std::string::npos) {
      std::istringstream range(line);
      char dash = 0;
      range >> std::hex >> heap.begin >> dash >> heap.end;
      inHeap = true;
    } else if (inHeap && line.rfind("Rss:", 0) == 0) {
      heap.residentKb = std::stol(line.substr(4));
      return heap;
    }
  }
  return heap;
}

// 4 MB freed below a block still in use stays resident (the heap can only shrink from its
// top) until a trim hands the pages back.
TEST(HeapTrim, FreedSpaceBelowABlockInUseGoesBack) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers bring their own allocator";
#endif
  constexpr size_t kBlock = 64 * 1024;  // below any mmap threshold: from the heap
  std::vector<char*> blocks;
  for (int i = 0; i < 64; ++i) {
    auto* p = static_cast<char*>(std::malloc(kBlock));
    ASSERT_NE(p, nullptr);
    std::memset(p, 1, kBlock);
    asm volatile("" : : "r"(p) : "memory");  // written for real
    blocks.push_back(p);
  }
  // The pin must lie above every block; a hole that earlier tests left lower in the heap
  // takes the first allocations, and with the pin there the freed blocks would be the
  // heap's top, which free() gives back at once.
  uintptr_t highest = 0;
  for (char* p : blocks) highest = std::max(highest, reinterpret_cast<uintptr_t>(p));
  std::vector<void*> pins;
  while (pins.empty() || reinterpret_cast<uintptr_t>(pins.back()) < highest) {
    if (pins.size() == 256) GTEST_SKIP() << "no allocation came from above the blocks";
    pins.push_back(std::malloc(kBlock));
    asm volatile("" : : "r"(pins.back()) : "memory");
  }
  const HeapMapping heap = heapMapping();
  for (char* p : blocks) {
    const auto at = reinterpret_cast<uintptr_t>(p);
    if (at < heap.begin || at >= heap.end) GTEST_SKIP() << "the blocks are not in the heap";
  }
  for (char* p : blocks) std::free(p);
  const long kept = heapMapping().residentKb;
  EXPECT_GT(kept, heap.residentKb - 1024) << "the freed space should still be resident";

  EXPECT_TRUE(returnFreedHeap());
  EXPECT_LT(heapMapping().residentKb, kept - 3 * 1024);
  for (void* pin : pins) std::free(pin);
}

}  // namespace
}  // namespace qv
