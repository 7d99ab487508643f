// The delay finder listening to the virtual sound system, in simulated time: it must read
// the room's direct sound where the README says it is.
#include <gtest/gtest.h>

#include <cmath>

#include "audio/QVRecorder.h"
#include "audiolib/AudioLibrary.h"
#include "audiolib/backends/virtual/VirtualSoundSystem.h"
#include "delay/QVDelayFinder.h"
#include "platform/Clock.h"
#include "support/TestConsumer.h"

namespace qv {
namespace {

TEST(VirtualRoomDelay, TheFinderReadsTheDocumentedDirectSound) {
  AudioLibrary::Options options;
  options.portAudio = false;
  options.rescanSeconds = 0;
  options.simulatedTime = true;
  AudioLibrary library(options);
  auto delegate = std::make_shared<test::TestRecorderDelegate>();
  auto recorder = QVRecorder::initWithDeviceUUID("Virtual:Virtual Sound System", 2, 44100, false,
                                                 delegate, library);
  ASSERT_NE(recorder, nullptr);
  recorder->setChannelMap({0, 1});  // microphone, reference

  auto clock = std::make_shared<ManualClock>();
  auto finder = std::make_shared<QVDelayFinder>(0, 0, clock, false);
  recorder->addConsumer(finder);
  recorder->resumeRec();

  // Ten seconds of the room's own pink noise, a finder tick every 0.1 s.
  for (int tick = 0; tick < 100; ++tick) {
    library.virtualSoundSystem().render(4410);
    recorder->performSafeBlock([] {});  // the blocks rendered so far have been delivered
    clock->advance(0.1);
    finder->processTick();
  }
  recorder->stopRec();

  const auto result = finder->lastResult();
  ASSERT_NE(result.impulse, nullptr);
  // The direct sound is 132 samples late; the loudspeaker's 12 kHz low-pass puts the peak
  // of its impulse one sample later, at 133 samples (3.016 ms).
  EXPECT_EQ(result.peakIndex, 133);
  EXPECT_FLOAT_EQ(result.delay, 133.0f / 44100.0f);
  EXPECT_GT(result.meanCoherence, 0.5f);
}

}  // namespace
}  // namespace qv
