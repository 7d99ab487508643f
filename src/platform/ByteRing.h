#pragma once
// Lock-free single-producer single-consumer byte ring.
// Thread contract: one producer thread calls head/produce, one consumer thread calls
// tail/consume; fillCount is the only shared state and changes atomically.
// The storage is mapped twice in a row in virtual memory, so any run of up to `length`
// bytes starting at the tail (or the head) is one contiguous array.
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace qv {

class ByteRing {
 public:
  // The length is rounded up to a whole number of pages. Fails (valid() false, with a
  // log line) only when the system refuses the mapping.
  explicit ByteRing(int32_t requestedLength);
  ~ByteRing();
  ByteRing(const ByteRing&) = delete;
  ByteRing& operator=(const ByteRing&) = delete;

  bool valid() const { return buffer != nullptr; }

  // Consumer side: pointer to the readable bytes and their count.
  void* tail(int32_t* availableBytes);
  void consume(int32_t amount);

  // Producer side: pointer to the free space and its size.
  void* head(int32_t* availableBytes);
  void produce(int32_t amount);
  // Copies `len` bytes in; false (nothing written) when they do not fit.
  bool produceBytes(const void* src, int32_t len);

  // Consumer side: drops everything readable.
  void clear();

  int32_t fill() const { return fillCount.load(std::memory_order_acquire); }

  // Fields named as the rest of the system knows them.
  uint8_t* buffer = nullptr;
  int32_t length = 0;
  int32_t tailOffset = 0;  // tail
  int32_t headOffset = 0;  // head
  std::atomic<int32_t> fillCount{0};
};

}  // namespace qv
