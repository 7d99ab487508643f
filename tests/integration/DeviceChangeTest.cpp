#include <gtest/gtest.h>
#include <unistd.h>

#include "JackServer.h"
#include "audio/QXDeviceManager.h"
#include "audiolib/AudioLibrary.h"
#include "platform/MainQueue.h"

namespace qv {
namespace {

using test::JackServer;

constexpr const char* kJackUID = "JACK Audio Connection Kit:system";

class CountingDelegate final : public QXDeviceManagerDelegate {
 public:
  void recordingDeviceListChanged(QXDeviceManager&) override {
    EXPECT_TRUE(dispatch::mainQueue().isCurrent());
    ++recordingChanges;
  }
  void playbackDeviceListChanged(QXDeviceManager&) override { ++playbackChanges; }
  int recordingChanges = 0;
  int playbackChanges = 0;
};

bool has(const QXDeviceManager::DeviceList& list, const std::string& uid) {
  for (const auto& d : list) {
    if (d->uuid() == uid) return true;
  }
  return false;
}

TEST(DeviceChangeTest, AJackServerStartingAndStoppingReachesTheListsAndTheDelegate) {
  JackServer server("qvdev-" + std::to_string(getpid()));  // not running yet
  AudioLibrary::Options options;
  options.clientName = "qvdev";
  options.rescanSeconds = 0.25;
  AudioLibrary library(options);
  CountingDelegate delegate;
  bool scanned = false;
  auto manager = QXDeviceManager::initWithDelegateInitialScanCompletion(
      &delegate, [&] { scanned = true; }, library);
  ASSERT_TRUE(dispatch::mainQueue().runUntil([&] { return scanned; }, 10));
  EXPECT_TRUE(manager->isFullyInit());
  EXPECT_FALSE(has(manager->allRecordingDeviceInfos(), kJackUID));
  // The virtual sound system is always there and, without hardware, the default.
  ASSERT_NE(manager->recordingDeviceByUID("Virtual:Virtual Sound System"), nullptr);
  ASSERT_NE(manager->defaultRecordingDevice(), nullptr);
  const int before = delegate.recordingChanges;

  ASSERT_TRUE(server.start());
  ASSERT_TRUE(dispatch::mainQueue().runUntil(
      [&] { return has(manager->allRecordingDeviceInfos(), kJackUID); }, 10));
  EXPECT_EQ(delegate.recordingChanges, before + 1);
  EXPECT_GE(delegate.playbackChanges, 1);
  auto jack = manager->recordingDeviceByUID(kJackUID);
  ASSERT_NE(jack, nullptr);
  EXPECT_EQ(jack->inputStreamsNumber(), 2u);
  EXPECT_EQ(jack->type(), QXAudioDeviceInfo::kTransportJack);
  EXPECT_TRUE(has(manager->allPlaybackDeviceInfos(), kJackUID));  // inputs and outputs: both lists

  server.stop();
  ASSERT_TRUE(dispatch::mainQueue().runUntil(
      [&] { return !has(manager->allRecordingDeviceInfos(), kJackUID); }, 10));
  EXPECT_EQ(delegate.recordingChanges, before + 2);
  EXPECT_EQ(manager->recordingDeviceByUID(kJackUID), nullptr);
  EXPECT_EQ(manager->playbackDeviceByUID("no such device"), nullptr);
}

}  // namespace
}  // namespace qv
