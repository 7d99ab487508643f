// A recorder delivering blocks must not allocate once it is running: every 125 ms it
// hands a block across threads, for hours. Global operator new is counted here while a
// flag is up, so the count covers the delivery thread and the record queue alike.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include "audio/QVRecorder.h"
#include "audiolib/AudioLibrary.h"
#include "audiolib/backends/virtual/VirtualSoundSystem.h"
#include "support/CountedAllocations.h"
#include "support/TestConsumer.h"
#include "support/VirtualDevices.h"

namespace qv {
namespace {

// Sums what it receives into fixed state: a consumer that allocates nothing itself.
class SummingConsumer final : public test::StubConsumer {
 public:
  void getData(const void* data, uint32_t bytes) override {
    const auto* f = static_cast<const float*>(data);
    for (uint32_t i = 0; i < bytes / 4; ++i) sum += f[i];
    blocks.fetch_add(1);
  }
  double sum = 0;
  std::atomic<int> blocks{0};
};

TEST(RecorderAllocation, DeliveringBlocksAllocatesNothingOnceRunning) {
  QV_SKIP_UNLESS_ALLOCATIONS_COUNTED();
  AudioLibrary library(test::virtualOnly(true));
  auto delegate = std::make_shared<test::TestRecorderDelegate>();
  auto recorder = QVRecorder::initWithDeviceUUID("Virtual:Virtual Sound System", 2, 44100, false,
                                                 delegate, library);
  ASSERT_NE(recorder, nullptr);
  auto consumer = std::make_shared<SummingConsumer>();
  recorder->addConsumer(consumer);
  recorder->resumeRec();
  library.virtualSoundSystem().render(5513 * 40);  // warm up: queues reach their depth
  const int before = consumer->blocks.load();

  gCountingEverywhere = true;
  library.virtualSoundSystem().render(5513 * 200);
  gCountingEverywhere = false;

  recorder->stopRec();
  EXPECT_GE(consumer->blocks.load() - before, 190);
  EXPECT_EQ(gAllocations.load(), 0);
}

}  // namespace
}  // namespace qv
