// The three threads that meet in the engine, at once: the record queue delivering blocks,
// the update queue running transforms, and the controlling thread changing settings.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "SimulatedCapture.h"
#include "engine/TransferFunctionModel.h"

namespace qv {
namespace {

// Identical channels, and settings that keep them identical (equal delays on both, any
// swap, any averaging): whatever interleaving the threads take, the curves must come out
// as 0 dB and full coherence. Under ThreadSanitizer this also proves the sharing race-free.
TEST(LiveThreads, DeliveryTransformAndSettingsRunConcurrently) {
  constexpr uint32_t kRate = 44100;
  constexpr uint32_t kBlockFrames = 1470;
  auto clock = std::make_shared<ManualClock>();
  TransferFunctionModel model(8192, kRate, 96, 12, clock);
  std::shared_ptr<TFDataSource> source = model.tfDataSource();
  const auto mono = test::noise(kRate * 4, 31);
  const auto audio = test::interleave(mono, mono);

  std::atomic<bool> delivered{false};
  std::atomic<int> transforms{0};
  std::thread producer([&] {
    const ByteRing& ring = source->circularBuffer();
    for (uint32_t at = 0; at + kBlockFrames <= mono.size();) {
      if (ring.length - ring.fill() < static_cast<int32_t>(2 * 8 * kBlockFrames)) {
        std::this_thread::yield();
        continue;
      }
      source->getData(audio.data() + 2 * at, 8 * kBlockFrames);
      at += kBlockFrames;
    }
    delivered = true;
  });
  std::thread control([&] {
    for (int i = 0; !delivered; ++i) {
      model.setAveragingIndex(static_cast<float>(1 + (i * 37) % 1000));
      const float ms = static_cast<float>(i % 7);
      model.setDelayLeftAndRight(ms, ms);
      // Nothing between the channels either, taken over by turning or restarting the average.
      if (i % 5 == 0)
        source->setDelay(0.0, i % 10 == 0 ? DelayChange::Rotate : DelayChange::Restart,
                         source->framesReceived());
      source->setChannelsSwapped(i % 2 == 0);
      model.setCoherenceThreshold(i % 3 == 0 ? 0.05f : 0.1f);
      std::this_thread::yield();
    }
  });
  while (!delivered) {
    clock->advance(1.0 / 30);
    model.transform(0.0);
    ++transforms;
  }
  producer.join();
  control.join();
  model.setAveragingIndex(1000);
  model.setDelayLeftAndRight(3.0f, 3.0f);
  model.transform(0.0);

  EXPECT_GT(transforms.load(), 0);
  const float* magnitude = model.mpolyline()->values();
  const float* coherence = model.cpolyline()->values();
  const int32_t half = model.smoothKernelLength() / 2;
  for (int32_t b = half + 1; b < model.bandCount() - half - 1; ++b) {
    ASSERT_NEAR(magnitude[b], 0.0f, 1e-3f) << b;
    ASSERT_NEAR(coherence[b], 180.0f, 1e-3f) << b;
  }
}

}  // namespace
}  // namespace qv
