// A recorder delivering blocks must not allocate once it is running: every 125 ms it
// hands a block across threads, for hours. Global operator new is counted here while a
// flag is up, so the count covers the delivery thread and the record queue alike.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "audio/QVRecorder.h"
#include "audiolib/AudioLibrary.h"
#include "audiolib/backends/virtual/VirtualSoundSystem.h"
#include "support/TestConsumer.h"

namespace {
std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};
}  // namespace

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
void* operator new(std::size_t size) {
  if (gCounting.load(std::memory_order_relaxed)) gAllocations.fetch_add(1);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#endif

namespace qv {
namespace {

// Sums what it receives into fixed state: a consumer that allocates nothing itself.
class SummingConsumer final : public QVRecorderConsumer {
 public:
  void setInputChannelCountSamplingRateAudioDataTransport(
      uint32_t, uint32_t, std::weak_ptr<QVAudioDataTransport>) override {}
  void getData(const void* data, uint32_t bytes) override {
    const auto* f = static_cast<const float*>(data);
    for (uint32_t i = 0; i < bytes / 4; ++i) sum += f[i];
    blocks.fetch_add(1);
  }
  std::weak_ptr<QVAudioDataTransport> audioDataTransport() const override { return {}; }
  void setAudioDataTransport(std::weak_ptr<QVAudioDataTransport>) override {}
  uint32_t inputChannelCount() const override { return 2; }
  uint64_t outputChannelCount() const override { return 0; }
  uint64_t samplingRate() const override { return 44100; }
  uint32_t requiredMinimumDataSize() const override { return 0; }
  double sum = 0;
  std::atomic<int> blocks{0};
};

TEST(RecorderAllocation, DeliveringBlocksAllocatesNothingOnceRunning) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer owns operator new";
#endif
  AudioLibrary::Options options;
  options.portAudio = false;
  options.simulatedTime = true;
  options.rescanSeconds = 0;
  AudioLibrary library(options);
  auto delegate = std::make_shared<test::TestRecorderDelegate>();
  auto recorder = QVRecorder::initWithDeviceUUID("Virtual:Virtual Sound System", 2, 44100, false,
                                                 delegate, library);
  ASSERT_NE(recorder, nullptr);
  auto consumer = std::make_shared<SummingConsumer>();
  recorder->addConsumer(consumer);
  recorder->resumeRec();
  library.virtualSoundSystem().render(5513 * 40);  // warm up: queues reach their depth
  const int before = consumer->blocks.load();

  gCounting = true;
  library.virtualSoundSystem().render(5513 * 200);
  gCounting = false;

  recorder->stopRec();
  EXPECT_GE(consumer->blocks.load() - before, 190);
  EXPECT_EQ(gAllocations.load(), 0);
}

}  // namespace
}  // namespace qv
