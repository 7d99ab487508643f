// quorvex-analyze traces: the traces the desktop program stored, listed and exported for a
// user's scripts from the same database (QUORVEX_DATA_DIR).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

#include "cli/CsvRows.h"
#include "cli/TestFiles.h"
#include "export/TraceExporter.h"
#include "traces/TraceManager.h"

namespace qv::cli {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kBands = 1100;  // the live analysis at 44.1 kHz

// Three traces as the live program captures them (magnitude dB, phase degrees, coherence
// × 180), "Kick" twice with different curves, bands 0 and 700 blanked.
class TracesCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    TraceManager store(dir.path("data"));
    for (const auto& [name, comment, level] :
         {std::tuple{"Kick", "first take", -10.0f},
          std::tuple{"Snare\ttop", "line one\nline two", -20.0f},
          std::tuple{"Kick", "second take", -30.0f}}) {
      std::vector<float> buffer(3 * kBands);
      for (std::size_t b = 0; b < kBands; ++b) {
        buffer[b] = level + 0.01f * static_cast<float>(b);
        buffer[kBands + b] = -90.0f;
        buffer[2 * kBands + b] = 90.0f;
      }
      for (std::size_t b : {0u, 700u}) {
        buffer[b] = buffer[kBands + b] = buffer[2 * kBands + b] =
            std::numeric_limits<float>::quiet_NaN();
      }
      std::string error;
      ASSERT_TRUE(store.newTraceWaiting(name, buffer.data(), kBands, 3, comment,
                                        std::chrono::seconds(10), &error))
          << error;
    }
    for (const TraceShotRef& shot : store.allTraceShots()) shots.push_back(*shot);
  }
  ProgramRun traces(std::vector<std::string> args) {
    args.insert(args.begin(), "traces");
    return runAnalyze(dir, args, "QUORVEX_DATA_DIR=" + quoted(dir.path("data")));
  }
  static std::string timeOf(const TraceShot& shot) {
    return TraceExporter::isoDescription(*shot.dateCreated);
  }

  TempDir dir;
  std::vector<TraceShot> shots;  // newest first
};

// Tabs and line breaks in names and comments become spaces: one trace, one line.
TEST_F(TracesCommand, ListShowsOneTraceALineNewestFirst) {
  const auto run = traces({"list"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Kick\t" + timeOf(shots[0]) + "\tsecond take\n" +  //
                         "Snare top\t" + timeOf(shots[1]) + "\tline one line two\n" + "Kick\t" +
                         timeOf(shots[2]) + "\tfirst take\n");

  // Where nothing was ever stored, looking creates nothing.
  const auto empty =
      runAnalyze(dir, {"traces", "list"}, "QUORVEX_DATA_DIR=" + quoted(dir.path("nothing-yet")));
  EXPECT_EQ(empty.status, 0) << empty.err;
  EXPECT_EQ(empty.out, "");
  EXPECT_FALSE(fs::exists(dir.path("nothing-yet")));
}

TEST_F(TracesCommand, ExportWritesTheStoredCurvesAsCsvOrJson) {
  const auto csv = traces({"export", "Snare\ttop"});
  ASSERT_EQ(csv.status, 0) << csv.err;
  const auto rows = clitest::parseCsv(csv.out);
  ASSERT_EQ(rows.size(), kBands);
  EXPECT_NEAR(rows[1].frequency, TraceExporter::bandFrequenciesForCount(kBands)[1], 1e-4);
  EXPECT_NEAR(*rows[1].magnitude, -19.99, 1e-4);
  EXPECT_NEAR(*rows[1].phase, -90.0, 1e-3);
  EXPECT_NEAR(*rows[1].coherence, 0.5, 1e-5);  // stored × 180, written 0 to 1
  EXPECT_FALSE(rows[700].magnitude || rows[700].phase || rows[700].coherence);

  const auto json = traces({"export", "Snare\ttop", "--format", "json", "--out", "s.json"});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out, "");
  const std::string text = readFile(dir.path("s.json"));
  EXPECT_NE(text.find("\"name\": \"Snare\\u0009top\""), std::string::npos) << text.substr(0, 200);
  EXPECT_NE(text.find("\"captured\": \"" + timeOf(shots[1]) + "\""), std::string::npos);
  EXPECT_NE(text.find("\"bands\": 1100"), std::string::npos);
  EXPECT_NE(text.find("\"magnitude_db\": [null, -19.9900, "), std::string::npos);
  EXPECT_NE(text.find("\"coherence\": [null, 0.50000, "), std::string::npos);
}

TEST_F(TracesCommand, ANameMatchingNoTraceOrSeveralIsAnErrorUnlessOneIsPicked) {
  const auto none = traces({"export", "Hihat"});
  EXPECT_EQ(none.status, 2);
  EXPECT_EQ(none.err, "quorvex-analyze: no trace is named 'Hihat' (see traces list)\n");
  EXPECT_EQ(none.out, "");
  const std::string older = timeOf(shots[2]), newer = timeOf(shots[0]);
  const auto two = traces({"export", "Kick"});
  EXPECT_EQ(two.status, 2);
  EXPECT_EQ(two.err, "quorvex-analyze: 2 traces are named 'Kick', captured " + newer + ", " +
                         older + "; --newest or --date DATE picks one\n");
  EXPECT_EQ(two.out, "");
  const auto noSuchTime = traces({"export", "Kick", "--date", "1999"});
  EXPECT_EQ(noSuchTime.status, 2);
  EXPECT_NE(noSuchTime.err.find(older), std::string::npos) << noSuchTime.err;

  const auto newest = traces({"export", "Kick", "--newest"});
  ASSERT_EQ(newest.status, 0) << newest.err;
  EXPECT_NEAR(*clitest::parseCsv(newest.out)[1].magnitude, -29.99, 1e-4);
  // The whole listed time, and the shortest prefix the newer one does not share.
  const auto common = std::mismatch(older.begin(), older.end(), newer.begin()).first;
  for (const std::string& date : {older, std::string(older.begin(), common + 1)}) {
    const auto run = traces({"export", "Kick", "--date", date});
    ASSERT_EQ(run.status, 0) << date << ": " << run.err;
    EXPECT_NEAR(*clitest::parseCsv(run.out)[1].magnitude, -9.99, 1e-4);
  }

  // The user moved the newest trace to the bottom of the panel: newest is still newest.
  TraceManager(dir.path("data")).moveShot(0, 2);
  const auto moved = traces({"export", "Kick", "--newest"});
  ASSERT_EQ(moved.status, 0) << moved.err;
  EXPECT_NEAR(*clitest::parseCsv(moved.out)[1].magnitude, -29.99, 1e-4);
  EXPECT_EQ(traces({"list"}).out.substr(0, 5 + newer.size()), "Kick\t" + newer);
}

TEST_F(TracesCommand, TheDatabaseIsNoPlaceForAnExport) {
  const std::string database = dir.path("data/traces.sqlite");
  const auto size = fs::file_size(database);
  const auto run = traces({"export", "Kick", "--newest", "--out", database});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("names the trace database"), std::string::npos) << run.err;
  EXPECT_EQ(fs::file_size(database), size);
}

}  // namespace
}  // namespace qv::cli
