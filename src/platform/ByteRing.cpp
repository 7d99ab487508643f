#include "platform/ByteRing.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

#include "platform/Assert.h"
#include "platform/Log.h"

namespace qv {

ByteRing::ByteRing(int32_t requestedLength) {
  QV_ASSERT(requestedLength > 0);
  const long page = sysconf(_SC_PAGESIZE);
  const size_t size = ((static_cast<size_t>(requestedLength) + page - 1) / page) * page;

  const int fd = memfd_create("qv-byte-ring", MFD_CLOEXEC);
  if (fd < 0) {
    log("Byte ring: memfd_create failed (%s)", std::strerror(errno));
    return;
  }
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
    log("Byte ring: ftruncate of %zu bytes failed (%s)", size, std::strerror(errno));
    close(fd);
    return;
  }
  // Reserve twice the size, then map the same file into both halves.
  // cppcheck-suppress invalidFunctionArg ; an anonymous mapping takes no file: fd -1
  void* region = mmap(nullptr, 2 * size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (region == MAP_FAILED) {
    log("Byte ring: reserving %zu bytes failed (%s)", 2 * size, std::strerror(errno));
    close(fd);
    return;
  }
  auto* base = static_cast<uint8_t*>(region);
  void* first = mmap(base, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0);
  void* second = mmap(base + size, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0);
  close(fd);
  if (first == MAP_FAILED || second == MAP_FAILED) {
    log("Byte ring: mirroring %zu bytes failed (%s)", size, std::strerror(errno));
    munmap(region, 2 * size);
    return;
  }
  buffer = base;
  length = static_cast<int32_t>(size);
}

ByteRing::~ByteRing() {
  if (buffer) munmap(buffer, 2 * static_cast<size_t>(length));
}

void* ByteRing::tail(int32_t* availableBytes) {
  *availableBytes = fillCount.load(std::memory_order_acquire);
  if (*availableBytes == 0) return nullptr;
  return buffer + tailOffset;
}

void ByteRing::consume(int32_t amount) {
  tailOffset = (tailOffset + amount) % length;
  const int32_t after = fillCount.fetch_sub(amount, std::memory_order_acq_rel) - amount;
  QV_ASSERT_TEXT(after >= 0, "buffer->fillCount >= 0");
}

void* ByteRing::head(int32_t* availableBytes) {
  *availableBytes = length - fillCount.load(std::memory_order_acquire);
  if (*availableBytes == 0) return nullptr;
  return buffer + headOffset;
}

void ByteRing::produce(int32_t amount) {
  headOffset = (headOffset + amount) % length;
  const int32_t after = fillCount.fetch_add(amount, std::memory_order_acq_rel) + amount;
  QV_ASSERT_TEXT(after <= length, "buffer->fillCount <= buffer->length");
}

bool ByteRing::produceBytes(const void* src, int32_t len) {
  int32_t space = 0;
  void* ptr = head(&space);
  if (len <= 0) return len == 0;
  if (space < len) return false;
  std::memcpy(ptr, src, static_cast<size_t>(len));
  produce(len);
  return true;
}

void ByteRing::clear() {
  int32_t available = 0;
  tail(&available);
  if (available > 0) consume(available);
}

}  // namespace qv
