// PortAudio keeps one state per process. Libraries with backends of their own (tests make
// several; each rescans on its own thread) must not tear it down under each other: a
// library made while another rescanned crashed the reader of the device list.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "audiolib/backends/portaudio/PortAudioBackend.h"

namespace qv {
namespace {

TEST(PortAudioBackendTest, BackendsMadeWhileAnotherRescansKeepEveryList) {
  PortAudioBackend rescanning;
  ASSERT_TRUE(rescanning.initialized());
  std::vector<AudioDeviceInfo> before;
  rescanning.appendDevices(before);

  // One backend terminates and initialises PortAudio again and again, as a rescan does
  // (for real whenever it is the only one), while others come and go beside it.
  constexpr int kRounds = 300;
  std::vector<size_t> rescanned, made;
  std::thread other([&] {
    for (int i = 0; i < kRounds; ++i) {
      PortAudioBackend backend;
      std::vector<AudioDeviceInfo> devices;
      backend.appendDevices(devices);
      made.push_back(devices.size());
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    rescanning.reinitialize();
    std::vector<AudioDeviceInfo> devices;
    rescanning.appendDevices(devices);
    rescanned.push_back(devices.size());
  }
  other.join();

  // Nothing was plugged in meanwhile: every read saw the whole list.
  EXPECT_TRUE(rescanning.initialized());
  for (size_t count : rescanned) EXPECT_EQ(count, before.size());
  for (size_t count : made) EXPECT_EQ(count, before.size());
}

}  // namespace
}  // namespace qv
