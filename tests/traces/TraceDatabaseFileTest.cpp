#include <gtest/gtest.h>

#include <filesystem>

#include "TraceTestSupport.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using test::capture;

class TraceDatabaseFileTest : public test::TraceFixture {
 protected:
  std::vector<std::string> setAside() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder.path())) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("traces.sqlite.unusable-", 0) == 0 && name.find("-wal") == std::string::npos &&
          name.find("-shm") == std::string::npos) {
        found.push_back(entry.path().string());
      }
    }
    return found;
  }
};

// How the file in the way was made; each must be moved aside untouched.
enum class Unusable { Text, ForeignDatabase, DamagedPages };

class UnusableFileTest : public TraceDatabaseFileTest,
                         public ::testing::WithParamInterface<Unusable> {
 protected:
  void makeFile() {
    switch (GetParam()) {
      case Unusable::Text:
        test::writeFile(dbPath(), "these are my notes, not a database\n");
        break;
      case Unusable::ForeignDatabase:
        ASSERT_EQ(test::sqlOn(dbPath(),
                              "CREATE TABLE notes (body TEXT); "
                              "INSERT INTO notes VALUES ('keep me');"),
                  "");
        break;
      case Unusable::DamagedPages: {
        {
          TraceManager store(folder.path());
          for (int i = 0; i < 3; ++i) capture(store, test::nameOf(i), 300);
        }
        // Everything after the first page (the schema) becomes noise.
        std::string bytes = test::readFile(dbPath());
        ASSERT_GT(bytes.size(), 8192u);
        for (std::size_t i = 4096; i < bytes.size(); ++i)
          bytes[i] = static_cast<char>(0xa5 ^ (i * 7));
        test::writeFile(dbPath(), bytes);
        break;
      }
    }
  }
};

TEST_P(UnusableFileTest, IsMovedAsideAndAFreshStoreStarts) {
  makeFile();
  const std::string original = test::readFile(dbPath());
  auto store = std::make_unique<TraceManager>(folder.path());

  const auto aside = setAside();
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(test::readFile(aside[0]), original);
  bool named = false;
  for (const auto& line : log.lines()) {
    named = named ||
            (line.find(dbPath()) != std::string::npos && line.find(aside[0]) != std::string::npos);
  }
  EXPECT_TRUE(named) << "no log line names both files";

  EXPECT_EQ(store->allTraceShots().count(), 0u);
  EXPECT_NE(capture(*store, "fresh"), nullptr);
  store.reset();
  // The new file is ours: the next start keeps it.
  EXPECT_EQ(TraceManager(folder.path()).allTraceShots().count(), 1u);
  EXPECT_EQ(setAside().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Files, UnusableFileTest,
                         ::testing::Values(Unusable::Text, Unusable::ForeignDatabase,
                                           Unusable::DamagedPages));

TEST_F(TraceDatabaseFileTest, ANewerSchemaIsReadButNeverWritten) {
  {
    TraceManager store(folder.path());
    capture(store, "a");
    capture(store, "b");
  }
  ASSERT_EQ(test::sqlOn(dbPath(), "PRAGMA user_version = 16"), "");
  const std::string before = test::readFile(dbPath());
  {
    TraceManager store(folder.path());
    EXPECT_TRUE(log.contains("newer"));
    EXPECT_TRUE(store.isReadOnly());
    ASSERT_EQ(store.allTraceShots().count(), 2u);
    EXPECT_EQ(capture(store, "c"), nullptr);
    EXPECT_TRUE(
        log.contains("Error in Realm transaction: the trace database was written by a "
                     "newer version (schema 16) and is read-only"));
    EXPECT_EQ(store.storeFailure().sentence(),
              "The trace was not saved: the trace database " + dbPath() +
                  " was written by a newer version of Quorvex and can only be read.");
    store.setNameForIndex("renamed", 0);
    store.clearAll();
    EXPECT_EQ(store.traceShotForIndex(0)->name, "b");
  }
  EXPECT_EQ(test::readFile(dbPath()), before);
  EXPECT_TRUE(setAside().empty());
}

TEST_F(TraceDatabaseFileTest, RemoveRealmFilesDeletesTheDatabaseAndStartsEmpty) {
  TraceManager store(folder.path());
  capture(store, "a");
  ASSERT_TRUE(fs::exists(dbPath() + "-wal"));
  store.removeRealmFiles();
  EXPECT_FALSE(fs::exists(dbPath()));
  EXPECT_FALSE(fs::exists(dbPath() + "-wal"));
  EXPECT_FALSE(fs::exists(dbPath() + "-shm"));
  EXPECT_EQ(store.allTraceShots().count(), 0u);
  EXPECT_EQ(capture(store, "b")->colorIndex, 0);
  EXPECT_TRUE(fs::exists(dbPath()));
}

TEST_F(TraceDatabaseFileTest, TheFolderComesFromTheEnvironment) {
  {
    test::ScopedEnv data("QUORVEX_DATA_DIR", (folder.path() + "/nested/data").c_str());
    TraceManager store;
    EXPECT_EQ(store.databasePath(), folder.path() + "/nested/data/traces.sqlite");
    EXPECT_NE(capture(store, "a"), nullptr);
  }
  test::ScopedEnv noOverride("QUORVEX_DATA_DIR", nullptr);
  test::ScopedEnv xdg("XDG_DATA_HOME", "/somewhere");
  EXPECT_EQ(TraceFolders::dataFolder(), "/somewhere/Quorvex");
}

}  // namespace
}  // namespace qv
