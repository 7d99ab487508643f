// The trace database keeps schema version 15 across builds: this build reads a file the
// earlier build wrote (fixtures/schema15-main.sqlite, written by the store of commit 5c01e13),
// and a file this build wrote still answers the earlier build's own statements, quoted
// below as that build runs them.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <filesystem>

#include "TraceTestSupport.h"
#include "traces/TraceWorkbench.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

// The earlier build's list query and its capture.
constexpr const char* kEarlierList =
    "SELECT id, selected, visible, zOrder, colorIndex, coherenceThreshold, name, comment, "
    "filepath, uuid, colorData, coherenceData, magnitudeData, phaseData, dateCreated, "
    "dateModified FROM TraceShot ORDER BY dateCreated DESC, id DESC";
constexpr const char* kEarlierInsert =
    "INSERT INTO TraceShot (selected, visible, zOrder, colorIndex, coherenceThreshold, name, "
    "comment, filepath, uuid, colorData, coherenceData, magnitudeData, phaseData, dateCreated, "
    "dateModified) VALUES (0, 1, 1, 3, 0, 'old build', 'c', NULL, '900000000.000000', NULL, "
    "x'00000000', x'00000000', x'00000000', 2000000000000000, 2000000000000000)";

// The fixture's curves, as its maker computed them: level − 0.01·i dB, the phase of a pure
// delay at each band, coherence stepping through 0.5..0.95 (× 180), all three blank at every
// 97th band.
struct FixtureTrace {
  const char* name;
  std::size_t points;
  float level;
  float delayMs;
};
constexpr FixtureTrace kFixture[] = {{"short", 8, 3.0f, 0.0f},
                                     {"sub \xc3\xa9t\xc3\xa9", 1100, -6.0f, 2.5f},
                                     {"front left", 1100, 0.0f, 1.0f}};

void expectFixtureCurves(const TraceShot& shot, const FixtureTrace& made) {
  const auto curves = TraceWorkbench::curvesOf(shot);
  ASSERT_TRUE(curves);
  ASSERT_EQ(curves->size(), made.points);
  for (std::size_t i = 0; i < made.points; ++i) {
    if (i % 97 == 0) {
      ASSERT_TRUE(std::isnan(curves->magnitude[i]));
      continue;
    }
    const double f = 8.0 * std::pow(10.0, static_cast<double>(i) * 0.3 / 96.0);
    ASSERT_EQ(curves->magnitude[i], made.level - 0.01f * static_cast<float>(i)) << i;
    ASSERT_EQ(curves->phase[i],
              static_cast<float>(std::remainder(-360.0 * f * made.delayMs / 1000.0, 360.0)))
        << i;
    ASSERT_EQ(curves->coherence[i], 180.0f * (0.5f + 0.5f * static_cast<float>(i % 10) / 10.0f))
        << i;
  }
}

class TraceSchemaCompatibilityTest : public test::TraceFixture {
 protected:
  void SetUp() override {
    fs::copy_file(std::string(QV_TRACE_FIXTURES_DIR) + "/schema15-main.sqlite", dbPath());
  }
};

TEST_F(TraceSchemaCompatibilityTest, ThisBuildReadsTheEarlierBuildsFile) {
  TraceManager store(folder.path());
  EXPECT_FALSE(store.isReadOnly());
  EXPECT_FALSE(log.contains("migration"));
  const auto list = store.allTraceShots();
  ASSERT_EQ(list.count(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(list[i].name, kFixture[i].name);
    expectFixtureCurves(list[i], kFixture[i]);
    EXPECT_EQ(list[i].colorIndex, static_cast<std::int64_t>(2 - i));
    EXPECT_FALSE(list[i].listOrder.has_value());
    EXPECT_EQ(list[i].offsetDb, 0.0);
    EXPECT_FALSE(list[i].source.has_value());
  }
  EXPECT_TRUE(list[0].selected);
  EXPECT_FALSE(list[1].visible);
  EXPECT_EQ(list[2].comment, "Smoothing: 1/6 oct, averaging: 8.000000, delay: 2.99 ms");
  EXPECT_EQ(list[2].uuid, "818346777.617256");
  EXPECT_EQ(store.colorForShot(list[2]), (RGBAColor{0.25f, 0.5f, 0.75f, 1.0f}));
  // The next capture continues the earlier build's colour rotation, past the red (3).
  EXPECT_EQ(test::capture(store, "new")->colorIndex, 4);
}

TEST_F(TraceSchemaCompatibilityTest, AFileThisBuildWroteAnswersTheEarlierBuildsStatements) {
  {
    TraceManager store(folder.path());
    const auto buffer = test::curves(1100);
    store.newTraceWithNameFloatBufferLengthCountCommentUserInfo(
        "calibrated", buffer.data(), 1100, 3, "c", {{TraceManager::kUserInfoCalibration, "m.txt"}});
    store.moveShot(0, 3);
    store.setOffsetsForShot(2.0, 1.5, *store.traceShotForIndex(2));  // front left
  }
  sqlite3* earlier = nullptr;
  ASSERT_EQ(sqlite3_open(dbPath().c_str(), &earlier), SQLITE_OK);
  const auto one = [&](const char* sql) {
    sqlite3_stmt* s = nullptr;
    std::int64_t value = -1;
    if (sqlite3_prepare_v2(earlier, sql, -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW) {
      value = sqlite3_column_int64(s, 0);
    }
    sqlite3_finalize(s);
    return value;
  };
  // What the earlier build checks before it trusts the file.
  EXPECT_EQ(one("PRAGMA application_id"), 0x51565452);
  EXPECT_EQ(one("PRAGMA user_version"), 15);
  EXPECT_EQ(one("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name NOT IN "
                "('TraceShot', 'sqlite_sequence')"),
            0);
  EXPECT_EQ(one("SELECT count(*) FROM pragma_table_info('TraceShot') WHERE name IN ('id', "
                "'selected', 'visible', 'zOrder', 'colorIndex', 'coherenceThreshold', 'name', "
                "'comment', 'filepath', 'uuid', 'colorData', 'coherenceData', 'magnitudeData', "
                "'phaseData', 'dateCreated', 'dateModified')"),
            16);
  // Its list, newest first, with every row whole.
  std::vector<std::string> names;
  {
    sqlite3_stmt* s = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(earlier, kEarlierList, -1, &s, nullptr), SQLITE_OK);
    while (sqlite3_step(s) == SQLITE_ROW) {
      names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 6)));
      EXPECT_GT(sqlite3_column_bytes(s, 12), 0);
    }
    sqlite3_finalize(s);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"calibrated", "short", "sub \xc3\xa9t\xc3\xa9",
                                             "front left"}));
  sqlite3_close(earlier);
  // Its capture, its writes and its deletions.
  for (const char* statement : {kEarlierInsert, "UPDATE TraceShot SET visible = 1 WHERE id = 2",
                                "DELETE FROM TraceShot WHERE selected = 1"}) {
    EXPECT_EQ(test::sqlOn(dbPath(), statement), "") << statement;
  }

  // Back in this build: the earlier build's capture comes first (it was never moved).
  TraceManager store(folder.path());
  const auto list = store.allTraceShots();
  ASSERT_EQ(list.count(), 4u);
  EXPECT_EQ(list[0].name, "old build");
  EXPECT_EQ(list[0].offsetDb, 0.0);
  EXPECT_EQ(list[1].name, "sub \xc3\xa9t\xc3\xa9");
  EXPECT_TRUE(list[1].visible);
  EXPECT_EQ(list[3].name, "calibrated");
  EXPECT_EQ(list[3].calibration, "m.txt");
  EXPECT_EQ(list[2].name, "front left");
  EXPECT_EQ(list[2].offsetDb, 2.0);
}

// Where the earlier build's file cannot be given the new columns, they read as their
// defaults.
TEST_F(TraceSchemaCompatibilityTest, ThisBuildReadsTheEarlierFileInAReadOnlyFolder) {
  const test::TempFolder readOnly("/tmp");
  copyReadOnly(readOnly, {""});
  const auto child = test::asOrdinaryUser([&] {
    TraceManager store(readOnly.path());
    const auto list = store.allTraceShots();
    if (!store.isReadOnly() || list.count() != 3) return 2;
    if (list[0].name != "short" || list[2].offsetDb != 0.0 || list[2].listOrder) return 3;
    return TraceWorkbench::curvesOf(list[1])->size() == 1100 ? 0 : 4;
  });
  EXPECT_EQ(child.exitCode, 0) << ::testing::PrintToString(child.lines);
}

}  // namespace
}  // namespace qv
