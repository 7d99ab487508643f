#include <gtest/gtest.h>

#include "audio/QVRecorder.h"
#include "audio/QXBassHelper.h"
#include "audiolib/AudioLibrary.h"
#include "audiolib/backends/virtual/VirtualSoundSystem.h"
#include "support/TestConsumer.h"
#include "support/VirtualDevices.h"

namespace qv {
namespace {

using test::LogCapture;
using test::TestConsumer;
using test::TestRecorderDelegate;

AudioLibrary::Options options(bool withVirtual) {
  AudioLibrary::Options o = test::virtualOnly(true);
  o.virtualSoundSystem = withVirtual;
  return o;
}

class QVRecorderTest : public ::testing::Test {
 protected:
  std::shared_ptr<QVRecorder> make(const std::string& uid, uint32_t rate = 44100) {
    return QVRecorder::initWithDeviceUUID(uid, 2, rate, false, delegate, library);
  }
  void render(uint64_t frames) { library.virtualSoundSystem().render(frames); }

  AudioLibrary library{options(true)};
  std::shared_ptr<TestRecorderDelegate> delegate = std::make_shared<TestRecorderDelegate>();
};

TEST_F(QVRecorderTest, UnknownUIDRecordsFromTheDefaultDevice) {
  auto recorder = make("ALSA:no such card");
  ASSERT_NE(recorder, nullptr);
  EXPECT_EQ(recorder->inputChannelCount(), 2u);
  ASSERT_NE(recorder->startRecChannel(), 0u);
  AudioDeviceInfo info;
  ASSERT_TRUE(library.recordGetDeviceInfo(recorder->deviceHandle(), &info));
  EXPECT_EQ(info.driver, "Virtual:Virtual Sound System");
}

TEST_F(QVRecorderTest, LowRatesAreRaisedTo44100AndConsumersAreToldTheActualRate) {
  auto recorder = make("Virtual:Virtual Sound System", 22050);
  auto consumer = std::make_shared<TestConsumer>();
  recorder->addConsumer(consumer);
  EXPECT_EQ(consumer->samplingRate(), 22050u);  // before start: the requested rate
  ASSERT_NE(recorder->startRecChannel(), 0u);
  EXPECT_EQ(recorder->samplingRate(), 44100u);
  EXPECT_EQ(consumer->samplingRate(), 44100u);
  EXPECT_EQ(consumer->inputChannelCount(), 2u);
  EXPECT_EQ(consumer->audioDataTransport().lock().get(), recorder.get());
}

TEST_F(QVRecorderTest, ConsumerAddedTwiceGetsEachBlockOnceAndTwoAnnouncements) {
  auto recorder = make("Virtual:Virtual Sound System");
  auto consumer = std::make_shared<TestConsumer>();
  recorder->addConsumer(consumer);
  recorder->addConsumer(consumer);
  EXPECT_EQ(consumer->announcements(), 2);
  recorder->resumeRec();
  EXPECT_EQ(consumer->announcements(), 3);  // again after the start, with the real rate
  render(3 * 5513);
  EXPECT_EQ(consumer->blocks(), 3u);
}

TEST_F(QVRecorderTest, RemovedConsumerGetsNoFurtherBlocks) {
  auto recorder = make("Virtual:Virtual Sound System");
  auto kept = std::make_shared<TestConsumer>();
  auto removed = std::make_shared<TestConsumer>();
  recorder->addConsumer(removed);
  recorder->addConsumer(kept);
  recorder->resumeRec();
  render(5513);
  recorder->removeConsumer(removed);
  render(2 * 5513);
  EXPECT_EQ(removed->blocks(), 1u);
  EXPECT_EQ(kept->blocks(), 3u);
  EXPECT_EQ(kept->channel(0).size(), 3u * 5513u);
}

TEST_F(QVRecorderTest, PauseResumeAndStopTellTheDelegateAndGateTheBlocks) {
  LogCapture log;
  auto recorder = make("Virtual:Virtual Sound System");
  auto consumer = std::make_shared<TestConsumer>();
  recorder->addConsumer(consumer);
  recorder->resumeRec();
  const uint32_t channel = recorder->inputChannel();
  ASSERT_NE(channel, 0u);
  render(5513);
  recorder->pauseRec();
  const size_t logged = log.size();
  recorder->pauseRec();  // already paused: quiet, no delegate call
  EXPECT_EQ(log.size(), logged);
  render(2 * 5513);
  EXPECT_EQ(consumer->blocks(), 1u);
  recorder->resumeRec();
  EXPECT_EQ(recorder->inputChannel(), channel);  // the same channel resumes
  render(5513);
  EXPECT_EQ(consumer->blocks(), 2u);
  recorder->stopRec();
  EXPECT_EQ(recorder->inputChannel(), 0u);
  using Call = std::pair<bool, uint32_t>;
  EXPECT_EQ(delegate->calls(),
            (std::vector<Call>{{true, channel}, {false, channel}, {true, channel}, {false, 0}}));
  recorder->pauseRec();
  EXPECT_TRUE(log.contains("Recorder: No channel to pause"));
}

TEST(QVRecorderNoDeviceTest, DeviceWithoutChannelsIsRefusedWithALogLine) {
  AudioLibrary library(options(false));  // no device at all
  LogCapture log;
  auto delegate = std::make_shared<TestRecorderDelegate>();
  auto recorder = QVRecorder::initWithDeviceUUID("ALSA:gone", 2, 44100, false, delegate, library);
  ASSERT_NE(recorder, nullptr);
  EXPECT_EQ(recorder->inputChannelCount(), 0u);
  EXPECT_EQ(recorder->startRecChannel(), 0u);
  EXPECT_TRUE(log.contains("the device reports no input channels"));
  recorder->resumeRec();
  EXPECT_TRUE(log.contains("Recorder: No channel to resume"));
  EXPECT_TRUE(delegate->calls().empty());
}

TEST(QXBassHelperTest, LooksDevicesUpByUID) {
  AudioLibrary library(options(true));
  QXBassHelper helper(library);
  EXPECT_EQ(helper.recordingDeviceHandleForUUID("Virtual:Virtual Sound System"), 0u);
  // Playback index 0 is the "No sound" device, so the virtual output is index 1.
  EXPECT_EQ(helper.playbackDeviceHandleForUUID("Virtual:Virtual Sound System"), 1u);
  EXPECT_EQ(helper.recordingDeviceHandleForUUID("nope"), 0xFFFFFFFFu);
  EXPECT_EQ(helper.playbackDeviceHandleForUUID("nope"), 0xFFFFFFFFu);
  EXPECT_EQ(helper.inputDeviceNameForUUID("Virtual:Virtual Sound System"), "Virtual Sound System");
  EXPECT_EQ(helper.inputDeviceNameForUUID("nope"), std::nullopt);
  EXPECT_EQ(helper.inputDeviceNameForUUID(""), std::nullopt);
  EXPECT_EQ(helper.recordingDeviceChannelCount(0), 2u);
  EXPECT_EQ(helper.recordingDeviceChannelCount(5), 0u);  // no such device
}

}  // namespace
}  // namespace qv
