#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "delay/QVDelayFinder.h"
#include "platform/Clock.h"
#include "platform/Log.h"

namespace qv {
namespace {

constexpr int32_t kRingBytes = 65536 * 8 + 16384;  // 540672, a whole number of pages
constexpr int32_t kWindowBytes = 65536 * 4;

class DelayFinderRings : public ::testing::Test {
 protected:
  void SetUp() override {
    previousSink = setLogSink([this](const std::string& line) { logLines.push_back(line); });
    finder = std::make_shared<QVDelayFinder>(1024, 3, clock, /*ownTimer=*/false);
    finder->setInputChannelCountSamplingRateAudioDataTransport(2, 44100, {});
  }
  void TearDown() override { setLogSink(previousSink); }

  // Frames whose measurement sample is f + 0.25 and reference sample −f.
  static std::vector<float> rampBlock(int32_t frames) {
    std::vector<float> out(2 * static_cast<size_t>(frames));
    for (int32_t f = 0; f < frames; ++f) {
      out[2 * static_cast<size_t>(f)] = static_cast<float>(f) + 0.25f;
      out[2 * static_cast<size_t>(f) + 1] = -static_cast<float>(f);
    }
    return out;
  }
  void deliver(const std::vector<float>& block) {
    finder->getData(block.data(), static_cast<uint32_t>(block.size() * sizeof(float)));
  }
  // The newest `count` samples held by a ring.
  static std::vector<float> newest(const ByteRing& ring, int32_t count) {
    std::vector<float> out(static_cast<size_t>(count));
    const uint8_t* from = ring.buffer + ring.tailOffset + ring.fill() - count * 4;
    std::memcpy(out.data(), from, out.size() * sizeof(float));
    return out;
  }

  LogSink previousSink;
  std::vector<std::string> logLines;
  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  std::shared_ptr<QVDelayFinder> finder;
};

// The size argument is ignored; each ring starts half full of silence (67584 samples).
TEST_F(DelayFinderRings, StartHalfFullOfSilence) {
  for (const ByteRing* ring : {&finder->lCircularBuffer(), &finder->rCircularBuffer()}) {
    ASSERT_EQ(ring->length, kRingBytes);
    EXPECT_EQ(ring->fill(), kRingBytes / 2);
    const auto held = newest(*ring, kRingBytes / 8);
    for (float v : held) ASSERT_EQ(v, 0.0f);
  }
  EXPECT_EQ(finder->deviceIndex(), 3u);
  EXPECT_EQ(finder->outputChannelCount(), 0u);
  EXPECT_EQ(finder->requiredMinimumDataSize(), 0u);
}

TEST_F(DelayFinderRings, SplitsFramesIntoMeasurementAndReference) {
  deliver(rampBlock(100));
  EXPECT_EQ(finder->lCircularBuffer().fill(), kRingBytes / 2 + 400);
  EXPECT_EQ(finder->rCircularBuffer().fill(), kRingBytes / 2 + 400);
  const auto measurement = newest(finder->lCircularBuffer(), 100);
  const auto reference = newest(finder->rCircularBuffer(), 100);
  for (int32_t f = 0; f < 100; ++f) {
    ASSERT_EQ(measurement[static_cast<size_t>(f)], static_cast<float>(f) + 0.25f);
    ASSERT_EQ(reference[static_cast<size_t>(f)], -static_cast<float>(f));
  }
  deliver({});  // an empty block changes nothing and is no overflow
  EXPECT_EQ(finder->rCircularBuffer().fill(), kRingBytes / 2 + 400);
  EXPECT_TRUE(logLines.empty());
}

// Free space per ring is 270336 bytes = 67584 frames. A block that does not fit logs
// "AAAAA" and keeps the whole frames that do; a full ring keeps nothing.
TEST_F(DelayFinderRings, OverflowKeepsWhatFitsAndSaysSo) {
  const int32_t freeFrames = kRingBytes / 2 / 4;
  for (int i = 0; i < 4; ++i) deliver(rampBlock(15360));  // 61440 frames
  EXPECT_TRUE(logLines.empty());
  deliver(rampBlock(15360));
  ASSERT_EQ(logLines.size(), 1u);
  EXPECT_EQ(logLines[0], "AAAAA");
  EXPECT_EQ(finder->lCircularBuffer().fill(), kRingBytes);
  EXPECT_EQ(finder->rCircularBuffer().fill(), kRingBytes);
  // The last kept frame is frame (freeFrames − 61440 − 1) of the fifth block.
  const float lastKept = static_cast<float>(freeFrames - 61440 - 1);
  EXPECT_EQ(newest(finder->rCircularBuffer(), 1)[0], -lastKept);
  EXPECT_EQ(newest(finder->lCircularBuffer(), 1)[0], lastKept + 0.25f);

  deliver(rampBlock(10));
  EXPECT_EQ(logLines.size(), 2u);
  EXPECT_EQ(finder->rCircularBuffer().fill(), kRingBytes);
}

// Known answers of the consumption rule, s = min(1.5·fill/length·rate·dt, fill/16) samples,
// 4·s bytes rounded down to whole frames of both channels (multiples of 8).
TEST_F(DelayFinderRings, ConsumesInProportionToTimeAndFill) {
  const int32_t half = kRingBytes / 2;  // 270336
  ASSERT_TRUE(finder->processTick());
  EXPECT_EQ(finder->rCircularBuffer().fill(), half);  // a first tick has no elapsed time

  // 1.5 · 0.5 · 44100 · 0.1 = 3307.5 samples → 3307 → 13228 bytes → 13224.
  clock->advance(0.1);
  ASSERT_TRUE(finder->processTick());
  EXPECT_EQ(finder->rCircularBuffer().fill(), half - 13224);
  EXPECT_EQ(finder->lCircularBuffer().fill(), half - 13224);

  // A long gap is capped at a quarter of what is held: (270336 + 15360·4 − 13224) / 4.
  deliver(std::vector<float>(2 * 15360, 0.0f));
  const int32_t held = half + 15360 * 4 - 13224;
  clock->advance(100.0);
  ASSERT_TRUE(finder->processTick());
  EXPECT_EQ(finder->rCircularBuffer().fill(), held - ((held / 4) & ~7));

  // A clock that steps back consumes nothing.
  deliver(std::vector<float>(2 * 15360, 0.0f));
  const int32_t before = finder->rCircularBuffer().fill();
  clock->advance(-5.0);
  ASSERT_TRUE(finder->processTick());
  EXPECT_EQ(finder->rCircularBuffer().fill(), before);
}

// Without input the rings drain until less than a window is held; from then on a tick
// neither transforms nor consumes, so it never reads what the recorder is writing.
TEST_F(DelayFinderRings, StopsShortOfAWindow) {
  int results = 0;
  for (int t = 0; t < 200; ++t) {
    clock->advance(0.1);
    if (finder->processTick()) ++results;
  }
  const int32_t left = finder->rCircularBuffer().fill();
  EXPECT_LT(left, kWindowBytes);
  EXPECT_GE(left, kWindowBytes - kWindowBytes / 4);
  EXPECT_GT(results, 0);
  EXPECT_LT(results, 200);
  clock->advance(0.1);
  EXPECT_FALSE(finder->processTick());
  EXPECT_EQ(finder->rCircularBuffer().fill(), left);
  EXPECT_EQ(finder->lCircularBuffer().fill(), left);
}

}  // namespace
}  // namespace qv
