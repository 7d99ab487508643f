// quorvex-analyze traces import and average: curves from elsewhere and averages stored as
// traces beside the desktop program's captures (QUORVEX_DATA_DIR).
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>

#include "cli/TestFiles.h"
#include "curves/BandAxis.h"
#include "curves/CurveCompare.h"
#include "traces/TraceManager.h"
#include "traces/TraceWorkbench.h"

namespace qv::cli {
namespace {

constexpr std::size_t kBands = 1100;  // the desktop program's bands (44.1 kHz)
constexpr float kBlank = std::numeric_limits<float>::quiet_NaN();

class TracesWorkbench : public ::testing::Test {
 protected:
  ProgramRun traces(std::vector<std::string> args) {
    args.insert(args.begin(), "traces");
    return runAnalyze(dir, args, "QUORVEX_DATA_DIR=" + quoted(dir.path("data")));
  }
  void store(const std::string& name, const curves::BandCurves& c) {
    TraceManager traces(dir.path("data"));
    NewTrace trace;
    trace.name = name;
    trace.curves = c;
    ASSERT_TRUE(traces.addTraceWaiting(trace, std::chrono::seconds(10)).shot);
  }
  // The newest trace of that name, as stored.
  curves::BandCurves stored(const std::string& name) {
    TraceManager traces(dir.path("data"));
    for (const TraceShotRef& shot : traces.allTraceShots()) {
      if (shot->name == name) return *TraceWorkbench::curvesOf(*shot);
    }
    ADD_FAILURE() << "no trace " << name;
    return {};
  }
  std::size_t count() { return TraceManager(dir.path("data")).allTraceShots().count(); }
  void write(const std::string& file, const std::string& text) {
    std::ofstream(dir.path(file)) << text;
  }

  // One system as measured: a level that varies, a 2.99 ms delay whose phase wraps many
  // times, coherence that falls at the top; two bands blanked.
  static curves::BandCurves measured(float levelDb = 0.0f, float coherence = 0.9f) {
    curves::BandCurves c(kBands);
    for (std::size_t b = 0; b < kBands; ++b) {
      c.magnitude[b] = levelDb - 6.0f + 4.0f * std::sin(static_cast<float>(b) / 41.0f);
      c.phase[b] = 0.0f;
      c.coherence[b] = coherence * 180.0f * (b < 1000 ? 1.0f : 0.8f);
    }
    curves::CurveCompare::applyOffsets(c, 0.0, 2.99);
    for (std::size_t b : {3u, 650u}) c.magnitude[b] = c.phase[b] = c.coherence[b] = kBlank;
    return c;
  }

  TempDir dir;
};

// Exported as CSV and as FRD and imported back: the same curves within 0.001 dB and
// 0.01° (CSV keeps four decimals of dB, three of degrees), blank bands blank; the CSV
// brings its coherence back too, the FRD (which has none) coherence 1.
TEST_F(TracesWorkbench, ExportedCsvAndFrdImportBackAsTheSameCurves) {
  const curves::BandCurves original = measured();
  store("Stage L", original);
  for (const std::string format : {"csv", "frd"}) {
    const std::string file = "stage." + format;
    ASSERT_EQ(traces({"export", "Stage L", "--format", format, "--out", file}).status, 0);
    const auto run = traces({"import", file, "--name", "Back from " + format});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out + run.err, "");
    const curves::BandCurves back = stored("Back from " + format);
    ASSERT_EQ(back.size(), kBands) << format;
    for (std::size_t b = 0; b < kBands; ++b) {
      if (std::isnan(original.magnitude[b])) {
        EXPECT_TRUE(std::isnan(back.magnitude[b]) && std::isnan(back.phase[b])) << format << b;
        continue;
      }
      ASSERT_NEAR(back.magnitude[b], original.magnitude[b], 0.001) << format << " band " << b;
      ASSERT_NEAR(curves::wrapDegrees(back.phase[b] - original.phase[b]), 0.0, 0.01)
          << format << " band " << b;
      ASSERT_NEAR(back.coherence[b], format == "csv" ? original.coherence[b] : 180.0f, 0.001)
          << format << " band " << b;
    }
  }
  // Named after its file when no name is given.
  ASSERT_EQ(traces({"import", "stage.frd"}).status, 0);
  EXPECT_EQ(stored("stage.frd").size(), kBands);
}

TEST_F(TracesWorkbench, AFileWithABadLineIsRefusedWithItsLineAndNothingIsStored) {
  write("bad.txt", "* from another program\nHz dB deg\n100 -3 10\n200 -3.5 oops\n400 -4 30\n");
  store("Kept", measured());
  const auto run = traces({"import", "bad.txt", "--name", "Bad"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err,
            "quorvex-analyze: bad.txt: Line 4: \"oops\" is not a number. Nothing was stored.\n");
  EXPECT_EQ(count(), 1u);
}

// The average of takes is stored under the name given (its figures are the curve
// arithmetic's, checked where it is): takes of one system agree and the command is
// silent; takes measured with different delays (3 and 7 ms apart) scatter in phase, and
// the command stores the average but warns that its phase means little.
TEST_F(TracesWorkbench, AveragesAreStoredAndScatteredPhasesAreWarnedAbout) {
  curves::BandCurves late = measured();
  curves::BandCurves later = measured();
  curves::CurveCompare::applyOffsets(late, 0.0, 3.0);
  curves::CurveCompare::applyOffsets(later, 0.0, 7.0);
  store("Near", measured());
  store("Louder", measured(6.0f));
  store("Mid", late);
  store("Far", later);
  auto run = traces({"average", "Near", "Louder", "--name", "AVG"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  // 10·log10((1 + 3.9811) / 2) = 3.9629 dB above the first take.
  EXPECT_NEAR(stored("AVG").magnitude[100], measured().magnitude[100] + 3.9629f, 1e-3);

  run = traces({"average", "Near", "Mid", "Far", "--name", "Blurred"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("warning: the traces' phases agree poorly"), std::string::npos) << run.err;
  EXPECT_EQ(count(), 6u);
}

}  // namespace
}  // namespace qv::cli
