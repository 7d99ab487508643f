#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>

#include <filesystem>
#include <set>

#include "TraceTestSupport.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using test::capture;

using TraceDurabilityTest = test::TraceFixture;

TEST_F(TraceDurabilityTest, ACaptureSurvivesKillingTheProcessRightAfterIt) {
  std::string uuid;
  const auto child = test::runInChild(
      [&] {
        TraceManager store(folder.path());
        const TraceShotRef shot = capture(store, "survivor", 1100);
        if (!shot) return 1;
        test::childSay("stored " + *shot->uuid);
        for (;;) ::pause();  // never closes the database
      },
      [&](pid_t pid, const std::string& line) {
        if (line.rfind("stored ", 0) == 0) {
          uuid = line.substr(7);
          ::kill(pid, SIGKILL);
        }
      });
  ASSERT_EQ(child.exitCode, -1);  // killed, not exited
  ASSERT_FALSE(uuid.empty());
  TraceManager store(folder.path());
  ASSERT_EQ(store.allTraceShots().count(), 1u);
  EXPECT_EQ(store.allTraceShots()[0].uuid, uuid);
  EXPECT_EQ(store.allTraceShots()[0].magnitudeData->size(), 1100u * 4);
}

// The child stores as the command line does (waiting for the lock); the parent captures
// as the desktop does, where a capture that loses the race to the child is pending and
// stored from the main queue. Between them nothing is lost or stored twice.
TEST_F(TraceDurabilityTest, TwoProcessesCaptureIntoOneFileWithoutFailures) {
  constexpr int kEach = 25;
  std::unique_ptr<TraceManager> store;
  bool parentOk = true;
  const auto child = test::runInChild(
      [&] {
        TraceManager theirs(folder.path());
        test::childSay("ready");
        const auto buffer = test::curves(1100);
        std::string error;
        for (int i = 0; i < kEach; ++i) {
          if (!theirs.newTraceWaiting("child", buffer.data(), 1100, 3, "c",
                                      std::chrono::seconds(10), &error)) {
            test::childSay(error);
            return 1;
          }
        }
        return 0;
      },
      [&](pid_t, const std::string& line) {
        if (line != "ready") return;
        // Opened only now: a connection must not be inherited through fork.
        store = std::make_unique<TraceManager>(folder.path());
        for (int i = 0; i < kEach; ++i) {
          parentOk = (capture(*store, "parent", 1100) || store->capturePending()) && parentOk;
        }
      });
  ASSERT_NE(store, nullptr);
  EXPECT_TRUE(dispatch::mainQueue().runUntil([&] { return !store->capturePending(); }, 30.0));
  EXPECT_EQ(child.exitCode, 0) << ::testing::PrintToString(child.lines);
  EXPECT_FALSE(child.said("Error in Realm transaction"));
  EXPECT_TRUE(parentOk);
  EXPECT_FALSE(log.contains("Error in Realm transaction"));
  store->refresh();
  const auto list = store->allTraceShots();
  ASSERT_EQ(list.count(), 2u * kEach);
  std::set<std::string> uuids;
  for (const auto& shot : list) uuids.insert(*shot->uuid);
  EXPECT_EQ(uuids.size(), 2u * kEach);
  // One colour rotation across both writers: each trace takes the next colour after its
  // predecessor's that a new capture may take.
  const std::vector<RGBAColor> colors = ChartColorPalette().colors();
  const auto next = [&](std::int64_t index) {
    do {
      index = (index + 1) % static_cast<std::int64_t>(colors.size());
    } while (ChartColorPalette::nearLiveCurve(colors[static_cast<std::size_t>(index)]));
    return index;
  };
  for (std::size_t i = 1; i < list.count(); ++i) {
    EXPECT_EQ(next(list[i].colorIndex), list[i - 1].colorIndex) << i;
  }
}

TEST_F(TraceDurabilityTest, AFullFileSystemFailsTheCaptureAndKeepsEveryTrace) {
  const auto child = test::runInChild([&] {
    // A 256 KiB file system of our own, visible to this child only.
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", folder.path().c_str(), "tmpfs", 0, "size=256k") != 0) {
      return 77;
    }
    std::size_t stored = 0;
    {
      TraceManager store(folder.path());
      while (capture(store, "t", 1100)) {
        if (++stored > 100) return 1;  // the file system never filled up
      }
      if (stored == 0 || store.allTraceShots().count() != stored) return 2;
      const auto buffer = test::curves(1100);
      store.newTraceWithNameFloatBufferLengthCountCommentUserInfo(
          "t", buffer.data(), 1100, 3, "c", {},
          [](const CaptureOutcome& outcome) { test::childSay(outcome.failure.sentence()); });
    }
    TraceManager reopened(folder.path());
    return reopened.allTraceShots().count() == stored ? 0 : 3;
  });
  if (child.exitCode == 77) GTEST_SKIP() << "mounting a small file system needs privileges";
  EXPECT_EQ(child.exitCode, 0) << ::testing::PrintToString(child.lines);
  EXPECT_TRUE(child.said("Error in Realm transaction: database or disk is full"))
      << ::testing::PrintToString(child.lines);
  EXPECT_TRUE(
      child.said("The trace was not saved: the disk holding " + folder.path() + " is full."));
}

}  // namespace
}  // namespace qv
