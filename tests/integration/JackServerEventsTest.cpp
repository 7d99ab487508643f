// What the server does to a capture: a server that stops delivering, and another client that
// overruns its cycles.
#include <jack/jack.h>
#include <unistd.h>

#include "JackLoopFixture.h"

namespace qv {
namespace {

using namespace test;

class JackServerEventsTest : public JackLoopTest {};

TEST_F(JackServerEventsTest, SilentServerEndsTheCaptureAfterTwoSecondsOfWallTime) {
  LogCapture log;
  startRecorder({0, 1});
  recorder->resumeRec();
  const uint32_t channel = recorder->inputChannel();
  ASSERT_TRUE(waitFor([&] { return consumer->blocks() >= 2; }));
  server->freeze();
  const auto frozen = std::chrono::steady_clock::now();
  // The main queue is not run here: the recorder would free the channel through a server
  // that cannot answer.
  while (library->channelIsActive(channel) &&
         std::chrono::steady_clock::now() - frozen < std::chrono::seconds(8)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const auto elapsed = std::chrono::steady_clock::now() - frozen;
  server->thaw();
  EXPECT_FALSE(library->channelIsActive(channel));
  EXPECT_GE(elapsed, std::chrono::milliseconds(1900));
  EXPECT_LT(elapsed, std::chrono::milliseconds(3000));
  ASSERT_TRUE(waitFor([&] { return recorder->inputChannel() == 0; }));
  EXPECT_TRUE(log.contains("no audio arrived"));
}

// A client elsewhere on the server that overruns its cycles makes the whole graph late: the
// capture counts those xruns (the read-outs' "Lost audio") and goes on capturing.
TEST_F(JackServerEventsTest, AnotherClientsOverrunsAreCountedAsXrunsAndTheCaptureGoesOn) {
  startRecorder({0, 1}, 48000);
  recorder->resumeRec();
  ASSERT_TRUE(waitFor([&] { return consumer->blocks() >= 4; }));
  // A loaded machine may miss a cycle of its own: only what comes on top is counted here.
  const uint64_t before = recorder->losses().xruns;

  jack_status_t status{};
  jack_client_t* late = jack_client_open("qvlate", JackNoStartServer, &status);
  ASSERT_NE(late, nullptr) << "status " << status;
  // One cycle in eight takes three periods (1024 frames at 48 kHz are 21 ms).
  static std::atomic<int> cycles{0};
  cycles = 0;
  jack_set_process_callback(
      late,
      [](jack_nframes_t, void*) {
        if (cycles.fetch_add(1) % 8 == 7) usleep(64000);
        return 0;
      },
      nullptr);
  ASSERT_EQ(jack_activate(late), 0);
  const bool counted = waitFor([&] { return recorder->losses().xruns > before; }, 10);
  jack_deactivate(late);
  jack_client_close(late);
  ASSERT_TRUE(counted) << "the server reported no xrun";

  // The capture goes on.
  const size_t blocks = consumer->blocks();
  EXPECT_TRUE(waitFor([&] { return consumer->blocks() >= blocks + 4; }));
  EXPECT_TRUE(library->channelIsActive(recorder->inputChannel()));
}

}  // namespace
}  // namespace qv
