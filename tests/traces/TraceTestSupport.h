#pragma once
// Helpers for the trace store tests: their fixture, curves to capture and names for them,
// and statements run on the database as another program would.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/MainQueue.h"
#include "support/ChildProcess.h"
#include "support/LogCapture.h"
#include "support/ScopedEnv.h"
#include "support/TempFolder.h"
#include "traces/TraceFolders.h"
#include "traces/TraceManager.h"

namespace qv::test {

// Three curves of n points with values that tell them apart: magnitude -i, phase i/10,
// coherence 1/(i+1), shifted by `seed` so that traces differ too.
inline std::vector<float> curves(std::size_t n, float seed = 0.0f) {
  std::vector<float> buffer(3 * n);
  for (std::size_t i = 0; i < n; ++i) {
    buffer[i] = seed - static_cast<float>(i);
    buffer[n + i] = seed + static_cast<float>(i) / 10.0f;
    buffer[2 * n + i] = 1.0f / static_cast<float>(i + 1);
  }
  return buffer;
}

// "t0", "t1", ... (built by appending: g++ 12 warns falsely on "t" + std::to_string(i)).
inline std::string nameOf(int i) {
  std::string name = "t";
  name += std::to_string(i);
  return name;
}

// Runs `statement` through a connection of its own to the database at `path`; what went
// wrong, or "" when nothing did.
inline std::string sqlOn(const std::string& path, const std::string& statement) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);  // a file that cannot be opened fails the statement
  sqlite3_busy_timeout(db, 5000);
  char* message = nullptr;
  const int rc = sqlite3_exec(db, statement.c_str(), nullptr, nullptr, &message);
  const std::string failure = rc == SQLITE_OK ? "" : message ? message : sqlite3_errstr(rc);
  sqlite3_free(message);
  sqlite3_close(db);
  return failure;
}

// A folder of the test's own with the store's database in it, the log captured, and the
// main queue emptied at the end (deliveries may outlive the store).
class TraceFixture : public ::testing::Test {
 protected:
  void TearDown() override { dispatch::mainQueue().drain(); }
  std::string dbPath() const { return folder.path() + "/traces.sqlite"; }
  // The database's files with these suffixes ("", "-wal") copied into `into`, which is made
  // read-only with them (in /tmp, an ordinary user can reach it; it cleans up after itself).
  void copyReadOnly(const TempFolder& into, std::initializer_list<const char*> suffixes) const {
    for (const char* suffix : suffixes) {
      const std::string copy = into.path() + "/traces.sqlite" + suffix;
      std::filesystem::copy_file(dbPath() + suffix, copy);
      ::chmod(copy.c_str(), 0444);
    }
    ::chmod(into.path().c_str(), 0555);
  }

  TempFolder folder;
  LogCapture log;
};

inline TraceShotRef capture(TraceManager& store, const std::string& name, std::size_t n = 8,
                            float seed = 0.0f) {
  const auto buffer = curves(n, seed);
  return store.newTraceWithNameFloatBufferLengthCountCommentUserInfo(
      name, buffer.data(), static_cast<std::int64_t>(n), 3, "comment of " + name);
}

}  // namespace qv::test
