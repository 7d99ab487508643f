#include "session/LevelTap.h"

namespace qv::session {

LevelTap::LevelTap() : ring_(kRingBytes) {}

void LevelTap::open() {
  // Closed, the producer writes nothing, so the consumer may empty the ring.
  ring_.clear();
  open_.store(true, std::memory_order_release);
}

void LevelTap::close() { open_.store(false, std::memory_order_release); }

void LevelTap::getData(const void* data, uint32_t byteSize) {
  if (!open_.load(std::memory_order_acquire) || !ring_.valid()) return;
  if (!ring_.produceBytes(data, static_cast<int32_t>(byteSize)))
    dropped_.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace qv::session
