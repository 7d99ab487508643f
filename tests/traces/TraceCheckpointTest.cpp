// The database file alone (what a user backs up or mails) carries every trace: captures
// and closing move the write-ahead log into it, never waiting for another reader and never
// losing what that reader keeps in the log. A folder that may not be written shows every
// trace read-only, also one whose log still holds traces (the file alone in such a folder:
// TraceSchemaCompatibilityTest).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "TraceTestSupport.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using test::capture;

// Names of the traces in a copy of `database` alone, read as it is (no log beside it).
std::vector<std::string> namesInFileAlone(const std::string& database) {
  test::TempFolder elsewhere;
  const std::string copy = elsewhere.path() + "/alone.sqlite";
  fs::copy_file(database, copy);
  std::vector<std::string> names;
  sqlite3* db = nullptr;
  const std::string uri = "file:" + copy + "?immutable=1";
  if (sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) ==
      SQLITE_OK) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT name FROM TraceShot ORDER BY id", -1, &s, nullptr) ==
        SQLITE_OK) {
      while (sqlite3_step(s) == SQLITE_ROW) {
        names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
      }
    }
    sqlite3_finalize(s);
  }
  sqlite3_close(db);
  return names;
}

std::uintmax_t sizeOf(const std::string& path) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  return ec ? 0 : size;
}

using TraceCheckpointTest = test::TraceFixture;

TEST_F(TraceCheckpointTest, ACopyOfTheFileAloneCarriesEveryCapture) {
  TraceManager store(folder.path());
  capture(store, "a", 1100);
  capture(store, "b", 1100);
  store.setNameForIndex("renamed", 0);  // written to the log; carried by the next capture
  capture(store, "c", 1100);
  EXPECT_EQ(namesInFileAlone(dbPath()), (std::vector<std::string>{"a", "renamed", "c"}));
  EXPECT_EQ(sizeOf(dbPath() + "-wal"), 0u);
}

TEST_F(TraceCheckpointTest, ClosingLeavesTheFileAloneComplete) {
  {
    TraceManager store(folder.path());
    capture(store, "a");
    store.setNameForIndex("closed", 0);
    store.close();
    EXPECT_EQ(namesInFileAlone(dbPath()), std::vector<std::string>{"closed"});
    store.setNameForIndex("reopened", 0);  // the next operation opens it again
    EXPECT_EQ(store.allTraceShots()[0].name, "reopened");
  }
  EXPECT_EQ(namesInFileAlone(dbPath()), std::vector<std::string>{"reopened"});
  // The shared store, which lives until the process ends, does the same at exit.
  const auto child = test::runInChild([&] {
    ::setenv("QUORVEX_DATA_DIR", folder.path().c_str(), 1);
    TraceManager::shared().setNameForIndex("at exit", 0);
    std::exit(0);  // runs the exit handlers, as leaving main does
    return 1;
  });
  EXPECT_EQ(child.exitCode, 0);
  EXPECT_EQ(namesInFileAlone(dbPath()), std::vector<std::string>{"at exit"});
}

// Another connection in the middle of a read keeps the log's frames it reads: the capture
// neither waits for it nor fails, and the traces reach the file once it has finished.
TEST_F(TraceCheckpointTest, AReaderHoldingTheLogDelaysTheCheckpointAndLosesNothing) {
  TraceManager store(folder.path());
  capture(store, "before");
  sqlite3* reader = nullptr;
  ASSERT_EQ(sqlite3_open(dbPath().c_str(), &reader), SQLITE_OK);
  store.setNameForIndex("renamed", 0);
  ASSERT_EQ(
      sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM TraceShot;", nullptr, nullptr, nullptr),
      SQLITE_OK);
  EXPECT_NE(capture(store, "while read", 1100), nullptr);
  EXPECT_FALSE(log.contains("Error"));
  EXPECT_GT(sizeOf(dbPath() + "-wal"), 0u);  // kept for the reader
  sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(reader);
  EXPECT_NE(capture(store, "after", 8), nullptr);
  EXPECT_EQ(namesInFileAlone(dbPath()),
            (std::vector<std::string>{"renamed", "while read", "after"}));
}

// Traces an older build left in the log, copied without the log's index: no index can be
// made in that folder, so the store reads a private copy of both files.
TEST_F(TraceCheckpointTest, ReadsTracesLeftInTheLogWithoutItsIndex) {
  const test::TempFolder readOnly("/tmp");
  { TraceManager store(folder.path()); }
  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open(dbPath().c_str(), &writer), SQLITE_OK);
  ASSERT_EQ(
      sqlite3_exec(writer,
                   "PRAGMA wal_autocheckpoint = 0;"
                   "INSERT INTO TraceShot (name, visible, dateCreated) VALUES ('logged', 1, 5);",
                   nullptr, nullptr, nullptr),
      SQLITE_OK);
  copyReadOnly(readOnly, {"", "-wal"});  // while the writer keeps the log from being checkpointed
  sqlite3_close(writer);
  ASSERT_GT(sizeOf(readOnly.path() + "/traces.sqlite-wal"), 0u);
  const auto child = test::asOrdinaryUser([&] {
    TraceManager store(readOnly.path());
    if (!store.isReadOnly()) return 1;
    const auto list = store.allTraceShots();
    if (list.count() != 1) return 2;
    return list[0].name == "logged" ? 0 : 3;
  });
  EXPECT_EQ(child.exitCode, 0) << ::testing::PrintToString(child.lines);
}

}  // namespace
}  // namespace qv
