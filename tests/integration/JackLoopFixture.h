#pragma once
// Our JACK output played straight into our JACK input, on a dummy server of our own: the
// fixture of the loop tests.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "JackServer.h"
#include "audio/GeneratorController.h"
#include "audio/QVRecorder.h"
#include "audio/QXBassHelper.h"
#include "audiolib/AudioLibrary.h"
#include "platform/MainQueue.h"
#include "support/TestConsumer.h"

namespace qv::test {

inline constexpr const char* kJackUID = "JACK Audio Connection Kit:system";
inline constexpr const char* kClient = "qvtest";

inline bool waitFor(const std::function<bool()>& done, double seconds = 15) {
  return dispatch::mainQueue().runUntil(done, seconds);
}

inline std::string uniqueName() {
  static int counter = 0;
  return "qvtest-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

// Our JACK output played straight into our JACK input, on a dummy server of our own.
class JackLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server = std::make_unique<JackServer>(uniqueName());
    ASSERT_TRUE(server->start(ports, ports, rate)) << "jackd did not come up";
    AudioLibrary::Options options;
    options.clientName = kClient;
    library = std::make_unique<AudioLibrary>(options);
    ASSERT_NE(QXBassHelper(*library).recordingDeviceHandleForUUID(kJackUID), kDefaultDevice);
  }
  void TearDown() override {
    generator.reset();
    recorder.reset();
    library.reset();
    server.reset();
  }
  void startGenerator() {
    generator = std::make_unique<GeneratorController>(*library);
    generator->setDeviceHandle(QXBassHelper(*library).playbackDeviceHandleForUUID(kJackUID));
    generator->start();
    ASSERT_TRUE(generator->isOn());
  }
  // 44100 Hz is resampled from the server's 48000; at 48000 the loop is bit-exact.
  void startRecorder(const std::vector<int32_t>& map, uint32_t rate = 44100) {
    recorder = QVRecorder::initWithDeviceUUID(kJackUID, 2, rate, false, delegate, *library);
    ASSERT_NE(recorder, nullptr);
    recorder->setChannelMap(map);
    recorder->addConsumer(consumer);
    ASSERT_NE(recorder->startRecChannel(), 0u);  // ports exist from here on
  }

  // A mono stream on the server's output playing fill(n) for its n-th frame (the first
  // stream of a test is port out_1, the second out_2).
  uint32_t startStream(std::function<float(uint64_t)> fill) {
    const uint32_t device = QXBassHelper(*library).playbackDeviceHandleForUUID(kJackUID);
    EXPECT_TRUE(library->init(device, 48000) || AudioLibrary::errorCode() == kAudioErrorAlready);
    auto frames = std::make_shared<std::atomic<uint64_t>>(0);
    streamFrames.push_back(frames);
    const uint32_t stream = library->streamCreate(
        48000, [fill = std::move(fill), frames](uint32_t, void* buffer, uint32_t bytes) {
          auto* f = static_cast<float*>(buffer);
          uint64_t n = frames->load();
          for (uint32_t i = 0; i < bytes / 4; ++i) f[i] = fill(n++);
          frames->store(n);
          return bytes;
        });
    EXPECT_NE(stream, 0u);
    EXPECT_TRUE(library->channelPlay(stream, false));
    return stream;
  }

  int ports = 2;
  int rate = 48000;
  std::unique_ptr<JackServer> server;
  std::unique_ptr<AudioLibrary> library;
  std::unique_ptr<GeneratorController> generator;
  std::shared_ptr<QVRecorder> recorder;
  std::shared_ptr<TestRecorderDelegate> delegate = std::make_shared<TestRecorderDelegate>();
  std::shared_ptr<TestConsumer> consumer = std::make_shared<TestConsumer>();
  std::vector<std::shared_ptr<std::atomic<uint64_t>>> streamFrames;
};

}  // namespace qv::test
