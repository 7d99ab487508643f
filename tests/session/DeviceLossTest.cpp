// A JACK server killed and started again under a running session, with and without the
// noise playing on it: the loss is told in words, nothing else stands in for the device
// while it is away, the measurement (and the noise) come back on the same device, and no
// curve from before the loss is shown after it.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "audio/QVRecorder.h"
#include "audiolib/AudioLibrary.h"
#include "integration/JackServer.h"
#include "platform/MainQueue.h"
#include "session/MeasurementSession.h"

namespace qv::session {
namespace {

using test::JackServer;

constexpr const char* kJackUID = "JACK Audio Connection Kit:system";
constexpr const char* kClient = "qvloss";

// Named before main, so that no thread of the process can be reading the environment.
JackServer gServer("qvloss-" + std::to_string(getpid()));

struct Case {
  bool generator;  // the noise plays on the same server (else another program plays a tone)
  bool resume;     // the preference: resume by itself when the device is back
};

class DeviceLossTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gServer.start());
    AudioLibrary::Options options;
    options.clientName = kClient;
    options.rescanSeconds = 0.1;
    library_ = std::make_unique<AudioLibrary>(options);
    MeasurementSession::Config config;
    config.library = library_.get();
    // Slow averaging: curves from before the loss would linger for seconds if kept.
    config.averagingIndex = 10.0f;
    session_ = std::make_unique<MeasurementSession>(config);
    session_->setResumeWhenDeviceReturns(GetParam().resume);
    session_->setDeviceListener([this](const DeviceNotice& n) { notices_.push_back(n); });
    session_->setChannelMap(0, 1);
  }

  void TearDown() override {
    session_.reset();
    library_.reset();
    gServer.stop();
    if (tone_ != 0) {
      kill(tone_, SIGKILL);
      waitpid(tone_, nullptr, 0);
    }
  }

  bool runUntil(const std::function<bool()>& done, double seconds) {
    return dispatch::mainQueue().runUntil(done, seconds);
  }
  // Waits for a notice of that kind after the first `from` ones.
  std::optional<DeviceNotice> waitFor(DeviceNotice::Kind kind, size_t from, double seconds = 10) {
    std::optional<DeviceNotice> found;
    runUntil(
        [&] {
          for (size_t i = from; i < notices_.size() && !found; ++i)
            if (notices_[i].kind == kind) found = notices_[i];
          return found.has_value();
        },
        seconds);
    return found;
  }

  // Both of our inputs hear `from` (a port of any client) and nothing else.
  static bool feed(const std::string& from) {
    const std::string us = std::string(kClient) + ":";
    for (const char* input : {"measurement", "reference"}) {
      for (const char* system : {"system:capture_1", "system:capture_2"})
        JackServer::tool({"jack_disconnect", system, us + input}, true);
      if (!JackServer::connect(from, us + input)) return false;
    }
    return true;
  }

  // Another program playing a 240 Hz tone on the server (it ends with the server).
  bool startTone() {
    std::vector<std::string> args = {"jack_simple_client", "qvtone"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int rc = posix_spawnp(&tone_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    for (int i = 0; i < 100; ++i) {
      const auto ports = JackServer::ports("qvtone");
      if (std::find(ports.begin(), ports.end(), "output1") != ports.end()) return true;
      usleep(50000);
    }
    return false;
  }

  // Bands of the newest curves that show a level (not blanked).
  int shownBands() const {
    const auto s = session_->latestDisplay();
    return static_cast<int>(std::count_if(s->magnitude.begin(), s->magnitude.end(),
                                          [](float m) { return std::isfinite(m); }));
  }

  static bool inWords(const std::string& sentence) {
    return sentence.size() > 30 &&
           std::none_of(sentence.begin(), sentence.end(), [](char c) { return std::isdigit(c); });
  }

  std::unique_ptr<AudioLibrary> library_;
  std::unique_ptr<MeasurementSession> session_;
  std::vector<DeviceNotice> notices_;
  pid_t tone_ = 0;
};

TEST_P(DeviceLossTest, TheLossIsToldInWordsAndTheSameDeviceComesBackWithoutStaleCurves) {
  const Case c = GetParam();
  using Kind = DeviceNotice::Kind;
  ASSERT_TRUE(session_->startCapture(kJackUID));
  if (c.generator) {
    ASSERT_TRUE(session_->setGeneratorOn(true, kJackUID));
    ASSERT_TRUE(feed(std::string(kClient) + ":generator"));
  } else {
    ASSERT_TRUE(startTone());
    ASSERT_TRUE(feed("qvtone:output1"));
  }
  // Both channels hear the same signal: where it has energy the curve shows 0 dB.
  ASSERT_TRUE(runUntil([&] { return shownBands() >= 3; }, 15)) << "no signal measured";

  const size_t before = notices_.size();
  gServer.stop();
  const auto lost = waitFor(Kind::InputLost, before);
  ASSERT_TRUE(lost);
  EXPECT_NE(lost->sentence.find("\u201CJACK\u201D went away"), std::string::npos) << lost->sentence;
  EXPECT_NE(lost->sentence.find(c.resume ? "resumes by itself" : "Press Space"), std::string::npos)
      << lost->sentence;
  EXPECT_TRUE(inWords(lost->sentence)) << lost->sentence;
  EXPECT_FALSE(session_->displayRunning());
  EXPECT_TRUE(session_->inputLost());
  if (c.generator) {
    const auto noise = waitFor(Kind::OutputLost, before);
    ASSERT_TRUE(noise);
    EXPECT_NE(noise->sentence.find("the noise stopped"), std::string::npos) << noise->sentence;
    EXPECT_FALSE(session_->generatorOn());
  }

  // While it is away no other device (the default one) measures in its place, and the
  // refusal says why in words: at once, while the device lists may still show it, and
  // again once they have been read without it (its UID then names the default device).
  const auto refusedInWords = [&] {
    const size_t refused = notices_.size();
    EXPECT_FALSE(session_->startCapture(kJackUID));
    const auto failed = waitFor(Kind::InputFailed, refused, 1);
    ASSERT_TRUE(failed);
    EXPECT_NE(failed->sentence.find("\u201CJACK\u201D is not there"), std::string::npos)
        << failed->sentence;
    EXPECT_TRUE(inWords(failed->sentence)) << failed->sentence;
    EXPECT_EQ(session_->recorder(), nullptr);
    EXPECT_TRUE(session_->inputLost());
  };
  refusedInWords();
  ASSERT_TRUE(runUntil(
      [&] {
        const auto devices = library_->recordingDevices();
        return std::none_of(devices.begin(), devices.end(), [](const AudioDeviceInfo& d) {
          return d.enabled && d.driver == kJackUID;
        });
      },
      10));
  refusedInWords();

  const size_t away = notices_.size();
  ASSERT_TRUE(gServer.start());
  const auto back = waitFor(Kind::InputBack, away);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->resumed, c.resume);
  if (c.generator) {
    const auto noise = waitFor(Kind::OutputBack, away);
    ASSERT_TRUE(noise);
    EXPECT_EQ(noise->resumed, c.resume);
    EXPECT_EQ(session_->generatorOn(), c.resume);
  }
  if (!c.resume) {
    // Space, in the window's words: the device is there again, so this works at once.
    EXPECT_FALSE(session_->displayRunning());
    ASSERT_TRUE(session_->startCapture(kJackUID));
    if (c.generator) {
      ASSERT_TRUE(session_->setGeneratorOn(true, kJackUID));
    }
  }
  ASSERT_TRUE(session_->displayRunning());
  AudioDeviceInfo device;
  ASSERT_TRUE(library_->recordGetDeviceInfo(session_->recorder()->deviceHandle(), &device));
  EXPECT_EQ(device.driver, kJackUID);
  if (c.generator) {
    const auto ports = JackServer::ports(kClient);
    EXPECT_NE(std::find(ports.begin(), ports.end(), "generator"), ports.end());
  }

  // The new server's inputs are silent: every curve from now on is blank. Kept averages
  // or an analysis window of old audio would show the signal from before the loss.
  const uint64_t first = session_->latestDisplay()->serial;
  const int64_t frames = session_->latestDisplay()->framesDelivered;
  int staleSnapshots = 0;
  uint64_t seen = first;
  runUntil(
      [&] {
        const auto s = session_->latestDisplay();
        if (s->serial != seen) {
          seen = s->serial;
          if (shownBands() > 0) ++staleSnapshots;
        }
        return false;
      },
      3.0);
  EXPECT_GT(seen, first + 20) << "the display did not run after the return";
  EXPECT_GT(session_->latestDisplay()->framesDelivered, frames + 44100);
  EXPECT_EQ(staleSnapshots, 0);
}

INSTANTIATE_TEST_SUITE_P(Jack, DeviceLossTest,
                         ::testing::Values(Case{false, true}, Case{true, true}, Case{true, false}),
                         [](const auto& info) {
                           return std::string(info.param.generator ? "WithNoise" : "WithoutNoise") +
                                  (info.param.resume ? "Resuming" : "OnSpace");
                         });

}  // namespace
}  // namespace qv::session
