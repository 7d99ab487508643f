// A capture that cannot be stored keeps its log line and tells its caller why, in a
// sentence a user can act on; once the cause is gone the next capture is stored.
//
// The causes are made without privileges: a full disk through SQLite's page limit (which
// fails a write exactly as a full disk does) and, for the system's own refusal, the file
// size limit (RLIMIT_FSIZE with SIGXFSZ ignored) in a child; a read-only folder through
// permission bits, with a child of a root test becoming nobody first (root writes anywhere
// and no read-only mount is available to an unprivileged test).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>

#include "TraceTestSupport.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using Kind = TraceStoreFailure::Kind;

class TraceCaptureFailureTest : public test::TraceFixture {
 protected:
  // One capture of 1100 points through the completion the window will use.
  static CaptureOutcome captureNow(TraceManager& store, const std::string& name) {
    CaptureOutcome result;
    const auto buffer = test::curves(1100);
    store.newTraceWithNameFloatBufferLengthCountCommentUserInfo(
        name, buffer.data(), 1100, 3, "c", {},
        [&](const CaptureOutcome& outcome) { result = outcome; });
    return result;
  }
};

TEST_F(TraceCaptureFailureTest, AFullDiskSaysSoAndTheNextCaptureAfterSpaceIsFreedIsStored) {
  TraceManager store(folder.path());
  ASSERT_NE(test::capture(store, "first", 1100), nullptr);
  store.setPageLimit(4);  // the file already has more: no page can be added
  const CaptureOutcome failed = captureNow(store, "refused");
  EXPECT_EQ(failed.shot, nullptr);
  EXPECT_EQ(failed.failure.kind(), Kind::DiskFull);
  EXPECT_EQ(failed.failure.sentence(),
            "The trace was not saved: the disk holding " + folder.path() + " is full.");
  EXPECT_EQ(failed.failure.reason(), "The disk holding " + folder.path() + " is full.");
  EXPECT_TRUE(log.contains("Error in Realm transaction: database or disk is full"));
  EXPECT_EQ(store.allTraceShots().count(), 1u);
  // The command line's capture, which waits for other writers, hears the same.
  const auto buffer = test::curves(1100);
  std::string error;
  TraceStoreFailure failure;
  EXPECT_FALSE(store.newTraceWaiting("refused", buffer.data(), 1100, 3, "c",
                                     std::chrono::milliseconds(100), &error, &failure));
  EXPECT_EQ(failure, failed.failure);

  store.setPageLimit(0);
  const CaptureOutcome stored = captureNow(store, "after");
  ASSERT_NE(stored.shot, nullptr) << stored.error;
  EXPECT_FALSE(stored.failure);
  EXPECT_EQ(TraceManager(folder.path()).allTraceShots().count(), 2u);
}

// The limit sits at the log's present end, so that the refused capture may have begun to
// write: what was stored before stays whole.
TEST_F(TraceCaptureFailureTest, TheFileSizeLimitSaysSoAndLiftingItLetsTheNextCaptureIn) {
  { test::capture(*std::make_unique<TraceManager>(folder.path()), "first", 1100); }
  const auto child = test::runInChild([&] {
    TraceManager store(folder.path());
    if (!test::capture(store, "second", 1100)) return 1;
    struct stat st {};
    if (::stat((folder.path() + "/traces.sqlite-wal").c_str(), &st) != 0) return 1;
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{static_cast<rlim_t>(st.st_size), RLIM_INFINITY};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 1;
    const CaptureOutcome failed = captureNow(store, "refused");
    if (failed.shot || store.allTraceShots().count() != 2) return 2;
    test::childSay(failed.failure.sentence());
    const rlimit lifted{RLIM_INFINITY, RLIM_INFINITY};
    if (::setrlimit(RLIMIT_FSIZE, &lifted) != 0) return 3;
    return captureNow(store, "after").shot ? 0 : 4;
  });
  EXPECT_EQ(child.exitCode, 0) << ::testing::PrintToString(child.lines);
  EXPECT_EQ(child.lines.front(), "Error in Realm transaction: disk I/O error");
  EXPECT_TRUE(
      child.said("The trace was not saved: the file size limit of this session "
                 "(ulimit -f) stops " +
                 folder.path() + "/traces.sqlite from growing."));
  const auto list = TraceManager(folder.path()).allTraceShots();
  ASSERT_EQ(list.count(), 3u);
  EXPECT_EQ(list[0].name, "after");
  EXPECT_EQ(list[1].name, "second");
  EXPECT_EQ(list[2].magnitudeData->size(), 1100u * 4);
}

TEST_F(TraceCaptureFailureTest, AReadOnlyFolderSaysSoAndTheNextCaptureAfterItOpensIsStored) {
  test::TempFolder shared("/tmp");  // reachable by an ordinary user
  { test::capture(*std::make_unique<TraceManager>(shared.path()), "first"); }
  if (::getuid() == 0) {
    // The child becomes nobody; its folder is its own, so that it can open it again.
    for (const auto& entry : fs::directory_iterator(shared.path())) {
      ASSERT_EQ(::chown(entry.path().c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(::chown(shared.path().c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(::chmod(shared.path().c_str(), 0555), 0);
  const auto child = test::asOrdinaryUser([&] {
    TraceManager store(shared.path());
    if (store.storeFailure().kind() != Kind::ReadOnlyFolder || !store.isReadOnly()) return 2;
    const CaptureOutcome failed = captureNow(store, "refused");
    if (failed.shot || failed.failure.kind() != Kind::ReadOnlyFolder) return 3;
    store.clearAll();  // refused too: the trace stays
    if (store.allTraceShots().count() != 1) return 6;
    test::childSay(failed.failure.sentence());
    if (::chmod(shared.path().c_str(), 0755) != 0) return 4;
    const CaptureOutcome stored = captureNow(store, "after");
    if (!stored.shot) test::childSay(stored.error);
    return stored.shot && store.allTraceShots().count() == 2 ? 0 : 5;
  });
  ::chmod(shared.path().c_str(), 0755);
  EXPECT_EQ(child.exitCode, 0) << ::testing::PrintToString(child.lines);
  EXPECT_TRUE(child.said("Error in Realm transaction: attempt to write a readonly database ("));
  EXPECT_TRUE(
      child.said("The trace was not saved: the folder " + shared.path() + " may not be written."))
      << ::testing::PrintToString(child.lines);
}

TEST_F(TraceCaptureFailureTest, AFileWhereTheDataFolderShouldBeIsNamed) {
  const std::string file = folder.path() + "/notes";
  test::writeFile(file, "not a folder");
  TraceManager store(file + "/Quorvex");
  EXPECT_EQ(store.storeFailure().kind(), Kind::NotAFolder);
  const CaptureOutcome failed = captureNow(store, "refused");
  EXPECT_EQ(failed.shot, nullptr);
  EXPECT_EQ(failed.failure.sentence(),
            "The trace was not saved: " + file + " is a file, not a folder.");
  EXPECT_TRUE(log.contains("Error in Realm transaction: cannot create folder " + file));

  fs::remove(file);
  ASSERT_NE(captureNow(store, "after").shot, nullptr);
  EXPECT_FALSE(store.storeFailure());
}

}  // namespace
}  // namespace qv
