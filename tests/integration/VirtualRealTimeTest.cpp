#include <gtest/gtest.h>

#include <cmath>

#include "audio/GeneratorController.h"
#include "audio/QVRecorder.h"
#include "audiolib/AudioLibrary.h"
#include "platform/MainQueue.h"
#include "support/TestConsumer.h"
#include "support/VirtualDevices.h"

namespace qv {
namespace {

using test::TestConsumer;
using test::TestRecorderDelegate;

TEST(VirtualRealTimeTest, ItsOwnThreadFeedsTheRecorderWhileTheGeneratorPlays) {
  AudioLibrary library(test::virtualOnly(false));
  auto delegate = std::make_shared<TestRecorderDelegate>();
  auto recorder = QVRecorder::initWithDeviceUUID("Virtual:Virtual Sound System", 2, 44100, false,
                                                 delegate, library);
  ASSERT_NE(recorder, nullptr);
  auto consumer = std::make_shared<TestConsumer>();
  recorder->addConsumer(consumer);
  GeneratorController generator(library);
  generator.start();
  recorder->resumeRec();
  ASSERT_TRUE(dispatch::mainQueue().runUntil([&] { return consumer->blocks() >= 4; }, 10));
  recorder->stopRec();
  generator.stop();
  // Blocks follow the delivery thread's clock, so they vary around 5512.5 frames, but
  // the capture never hands over more than it holds.
  for (uint32_t frames : consumer->blockFrames()) EXPECT_LE(frames, 15360u);
  const auto reference = consumer->channel(1);
  float peak = 0;
  for (float v : reference) peak = std::max(peak, std::fabs(v));
  EXPECT_GT(peak, 0.01f);
}

}  // namespace
}  // namespace qv
