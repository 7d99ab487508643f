#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "JackServer.h"
#include "audio/GeneratorController.h"
#include "audio/QVRecorder.h"
#include "audio/QXBassHelper.h"
#include "audio/QXDeviceManager.h"
#include "audiolib/AudioLibrary.h"
#include "audiolib/backends/portaudio/JackBackend.h"
#include "platform/MainQueue.h"
#include "support/TestConsumer.h"

// Changes of the environment while they are counted: the library's threads must never make
// one, since getenv on any other thread would race them.
namespace {
std::atomic<bool> gCountingEnvironment{false};
std::atomic<int> gEnvironmentChanges{0};
template <typename Fn>
Fn realFunction(const char* name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}
void countEnvironmentChange() {
  if (gCountingEnvironment.load()) gEnvironmentChanges.fetch_add(1);
}
}  // namespace

extern "C" int setenv(const char* name, const char* value, int overwrite) {
  countEnvironmentChange();
  static auto real = realFunction<int (*)(const char*, const char*, int)>("setenv");
  return real(name, value, overwrite);
}
extern "C" int unsetenv(const char* name) {
  countEnvironmentChange();
  static auto real = realFunction<int (*)(const char*)>("unsetenv");
  return real(name);
}
extern "C" int putenv(char* entry) {
  countEnvironmentChange();
  static auto real = realFunction<int (*)(char*)>("putenv");
  return real(entry);
}

namespace qv {
namespace {

using test::JackServer;
using test::TestConsumer;
using test::TestRecorderDelegate;

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

int jackDevices(const std::vector<AudioDeviceInfo>& list) {
  int n = 0;
  for (const auto& d : list) n += d.hostApi == JackBackend::kHostApi ? 1 : 0;
  return n;
}

TEST(DeviceChangeTest, AJackServerStartingAndStoppingReachesTheListsAndTheDelegate) {
  JackServer server("qvdev-" + std::to_string(getpid()));  // not running yet
  AudioLibrary::Options options;
  options.clientName = "qvdev";
  options.rescanSeconds = 0.25;
  gCountingEnvironment = true;  // PortAudio starts here, and again for each change below
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
  // Only our own JACK client reaches the server: PortAudio's JACK host API stays out.
  EXPECT_EQ(jackDevices(library.recordingDevices()), 1);

  server.stop();
  ASSERT_TRUE(dispatch::mainQueue().runUntil(
      [&] { return !has(manager->allRecordingDeviceInfos(), kJackUID); }, 10));
  EXPECT_EQ(delegate.recordingChanges, before + 2);
  EXPECT_EQ(manager->recordingDeviceByUID(kJackUID), nullptr);
  EXPECT_EQ(manager->playbackDeviceByUID("no such device"), nullptr);
  gCountingEnvironment = false;
  EXPECT_EQ(gEnvironmentChanges.load(), 0);
}

bool present(const std::vector<AudioDeviceInfo>& list, const std::string& uid) {
  for (const auto& d : list) {
    if (d.driver == uid) return true;
  }
  return false;
}

// The JACK server comes and goes under a capture and a generator on the virtual device,
// which PortAudio and JACK devices are listed before.
TEST(DeviceChangeTest, DeviceNumbersKeepTheirMeaningWhileJackComesAndGoes) {
  constexpr const char* kVirtualUID = "Virtual:Virtual Sound System";
  JackServer server("qvnum-" + std::to_string(getpid()));
  AudioLibrary::Options options;
  options.clientName = "qvnum";
  options.rescanSeconds = 0.1;
  AudioLibrary library(options);
  auto& main = dispatch::mainQueue();
  QXBassHelper helper(library);
  auto delegate = std::make_shared<TestRecorderDelegate>();
  auto recorder = QVRecorder::initWithDeviceUUID(kVirtualUID, 2, 44100, false, delegate, library);
  auto consumer = std::make_shared<TestConsumer>();
  recorder->addConsumer(consumer);
  recorder->resumeRec();
  const uint32_t recording = recorder->deviceHandle();
  GeneratorController onVirtual(library);
  onVirtual.setDeviceHandle(helper.playbackDeviceHandleForUUID(kVirtualUID));
  onVirtual.start();
  ASSERT_TRUE(onVirtual.isOn());

  ASSERT_TRUE(server.start());
  ASSERT_TRUE(main.runUntil([&] { return present(library.recordingDevices(), kJackUID); }, 10));
  AudioDeviceInfo info;
  ASSERT_TRUE(library.recordGetDeviceInfo(recording, &info));
  EXPECT_EQ(info.driver, kVirtualUID);  // the recorder's number still names its device
  const uint32_t jackRecording = helper.recordingDeviceHandleForUUID(kJackUID);
  const uint32_t jackPlayback = helper.playbackDeviceHandleForUUID(kJackUID);
  EXPECT_NE(jackRecording, recording);
  // A second output on JACK (a plain stream: generators share one noise source).
  ASSERT_TRUE(library.init(jackPlayback, 48000));
  const uint32_t onJack = library.streamCreate(48000, [](uint32_t, void* buffer, uint32_t bytes) {
    std::memset(buffer, 0, bytes);
    return bytes;
  });
  ASSERT_TRUE(library.channelPlay(onJack, false));
  // Stopping the generator stops its own device's output, not the other device's.
  onVirtual.stop();
  EXPECT_TRUE(library.channelIsActive(onJack));
  onVirtual.start();

  server.stop();
  ASSERT_TRUE(main.runUntil([&] { return !present(library.recordingDevices(), kJackUID); }, 10));
  library.channelFree(onJack);  // lets our JACK client go, so that it can connect again
  EXPECT_TRUE(onVirtual.isOn());
  ASSERT_TRUE(library.recordGetDeviceInfo(jackRecording, &info));
  EXPECT_EQ(info.driver, kJackUID);  // away, but still numbered
  EXPECT_FALSE(info.enabled);
  EXPECT_EQ(helper.recordingDeviceHandleForUUID(kJackUID), kDefaultDevice);
  const size_t blocks = consumer->blocks();
  ASSERT_TRUE(main.runUntil([&] { return consumer->blocks() >= blocks + 2; }, 10));
  ASSERT_TRUE(library.recordGetDeviceInfo(recorder->deviceHandle(), &info));
  EXPECT_EQ(info.driver, kVirtualUID);

  ASSERT_TRUE(server.start());
  ASSERT_TRUE(main.runUntil([&] { return present(library.recordingDevices(), kJackUID); }, 10));
  EXPECT_EQ(helper.recordingDeviceHandleForUUID(kJackUID), jackRecording);  // its old number
  EXPECT_EQ(helper.playbackDeviceHandleForUUID(kJackUID), jackPlayback);
  recorder->stopRec();
  onVirtual.stop();
}

}  // namespace
}  // namespace qv
