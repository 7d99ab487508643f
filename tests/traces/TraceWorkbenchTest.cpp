// Working with stored traces: imported files and averages become traces like captures;
// offsets and the list's order are kept without touching the curves.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "TraceTestSupport.h"
#include "curves/CurveCompare.h"
#include "traces/TraceWorkbench.h"

namespace qv {
namespace {

using curves::BandAxis;
using curves::BandCurves;
using test::capture;

class TraceWorkbenchTest : public test::TraceFixture {
 protected:
  std::unique_ptr<TraceManager> open() { return std::make_unique<TraceManager>(folder.path()); }
  std::vector<std::string> names(const TraceManager& store) {
    std::vector<std::string> out;
    for (const auto& shot : store.allTraceShots()) out.push_back(shot->name.value_or(""));
    return out;
  }
  static TraceShotRef store(TraceManager& store, const std::string& name, float db, float degrees,
                            float coherence = 1.0f) {
    NewTrace trace{name, "", BandCurves(1100), {}, {}};
    trace.curves.magnitude.assign(1100, db);
    trace.curves.phase.assign(1100, degrees);
    trace.curves.coherence.assign(1100, coherence * BandCurves::kCoherenceScale);
    return store.addTrace(trace);
  }
};

// A bad file's refusal, and that nothing is stored then: CurveImportTest and the command
// line's TracesWorkbenchTest.
TEST_F(TraceWorkbenchTest, AnImportedFileIsStoredLikeACapture) {
  auto store = open();
  capture(*store, "live");
  const std::string path = folder.path() + "/speaker.frd";
  test::writeFile(path, "* from elsewhere\n20 -3 10\n20000 -3 10\n");
  curves::CurveFileError error;
  const auto trace = TraceWorkbench::importFile(path, "", BandAxis(1100), &error);
  ASSERT_TRUE(trace) << error.text();
  std::vector<TraceShotRef> reported;
  store->setVisibilityChangedCallback(
      [&](const TraceShot& shot) { reported.push_back(std::make_shared<TraceShot>(shot)); });
  const TraceShotRef shot = store->addTrace(*trace);
  ASSERT_NE(shot, nullptr);
  EXPECT_EQ(names(*store), (std::vector<std::string>{"speaker.frd", "live"}));
  EXPECT_EQ(shot->source, "speaker.frd");
  EXPECT_TRUE(shot->visible);
  ASSERT_EQ(reported.size(), 1u);
  const auto stored = TraceWorkbench::curvesOf(*open()->traceShotForIndex(0));
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->size(), 1100u);
  EXPECT_FLOAT_EQ(stored->magnitude[500], -3.0f);
  EXPECT_TRUE(std::isnan(stored->magnitude[0]));  // 8 Hz lies below the file
}

TEST_F(TraceWorkbenchTest, AnAverageOfTracesIsANewTraceNamingThem) {
  auto s = open();
  store(*s, "left", 0.0f, 20.0f);
  store(*s, "centre", -6.0f, 20.0f);
  store(*s, "right", 6.0f, 20.0f);
  std::string error;
  float agreement = 0.0f;
  const TraceShotResults list = s->allTraceShots();
  const auto average =
      TraceWorkbench::average({list.begin(), list.end()}, "AVG", &error, &agreement);
  ASSERT_TRUE(average) << error;
  const TraceShotRef shot = s->addTrace(*average);
  ASSERT_NE(shot, nullptr);
  EXPECT_EQ(shot->source, "Average of right, centre, left");
  const auto curves = TraceWorkbench::curvesOf(*shot);
  EXPECT_NEAR(curves->magnitude[100], 2.4157f, 1e-4f);  // the power mean of 0, −6, +6 dB
  EXPECT_NEAR(curves->phase[100], 20.0f, 1e-4f);
  EXPECT_NEAR(agreement, 1.0f, 1e-6f);
  EXPECT_FALSE(TraceWorkbench::average({shot}, "one", &error));
}

// Offsets change what is drawn and compared, never the stored curves; older builds ignore
// them, and they survive a restart.
TEST_F(TraceWorkbenchTest, OffsetsAreKeptBesideTheCurves) {
  auto s = open();
  const TraceShotRef shot = store(*s, "t", -10.0f, 0.0f);
  int reports = 0;
  s->setVisibilityChangedCallback([&](const TraceShot&) { ++reports; });
  s->setOffsetsForShot(3.0, 0.25, *shot);
  EXPECT_EQ(reports, 1);  // drawn again
  const TraceShotRef reopened = open()->traceShotForIndex(0);
  EXPECT_EQ(reopened->magnitudeData, shot->magnitudeData);
  EXPECT_EQ(reopened->phaseData, shot->phaseData);
  EXPECT_DOUBLE_EQ(reopened->offsetDb, 3.0);
  EXPECT_DOUBLE_EQ(reopened->offsetDelayMs, 0.25);
  const auto drawn = TraceWorkbench::displayedCurvesOf(*reopened);
  EXPECT_FLOAT_EQ(drawn->magnitude[7], -7.0f);
  const BandAxis axis(1100);
  const std::size_t at1k = static_cast<std::size_t>(std::lround(BandAxis::bandForFrequency(1000)));
  EXPECT_NEAR(drawn->phase[at1k], curves::wrapDegrees(-90.0 * axis.frequency(at1k) / 1000.0), 1e-3);
  // The same trace relative to itself offset by 3 dB: 3 dB and 0° (after the delay's turn).
  TraceShot plain = *reopened;
  plain.offsetDb = 0.0;
  const auto relative = TraceWorkbench::difference(*reopened, plain);
  EXPECT_FLOAT_EQ(relative->magnitude[7], 3.0f);
}

TEST_F(TraceWorkbenchTest, TheListsOrderIsKeptAndNewTracesComeFirst) {
  auto s = open();
  for (const char* name : {"a", "b", "c", "d"}) capture(*s, name);
  ASSERT_EQ(names(*s), (std::vector<std::string>{"d", "c", "b", "a"}));
  std::vector<std::string> drawn;
  s->setVisibilityChangedCallback([&](const TraceShot& shot) { drawn.push_back(*shot.name); });
  s->toggleVisibilityForIndex(2);  // b hidden
  drawn.clear();
  s->moveShot(3, 0);  // a to the top
  EXPECT_EQ(names(*s), (std::vector<std::string>{"a", "d", "c", "b"}));
  // Visible traces again from the bottom up, so that the first is drawn on top.
  EXPECT_EQ(drawn, (std::vector<std::string>{"c", "d", "a"}));
  s->moveShot(1, 3);
  EXPECT_EQ(names(*s), (std::vector<std::string>{"a", "c", "b", "d"}));
  s->moveShot(0, 9);  // out of range: nothing
  capture(*s, "e");
  EXPECT_EQ(names(*s), (std::vector<std::string>{"e", "a", "c", "b", "d"}));
  EXPECT_EQ(names(*open()), (std::vector<std::string>{"e", "a", "c", "b", "d"}));
}

// However a list changes between two looks (traces added, deleted, moved, modified), a list
// view that removes the deleted rows, inserts the inserted ones and reloads the modified
// ones ends up showing the new list.
TEST(TraceChangeSetMoves, ApplyingTheChangesRebuildsTheNewList) {
  std::mt19937 random(7);
  auto trace = [](std::int64_t id, int version) {
    auto shot = std::make_shared<TraceShot>();
    shot->id = id;
    shot->comment = std::to_string(version);
    return TraceShotRef(shot);
  };
  for (int round = 0; round < 300; ++round) {
    std::vector<TraceShotRef> before;
    const int n = static_cast<int>(random() % 9);
    for (int i = 0; i < n; ++i) before.push_back(trace(i + 1, 0));
    std::vector<TraceShotRef> after;
    for (const auto& shot : before) {
      if (random() % 5 == 0) continue;  // deleted
      after.push_back(random() % 4 == 0 ? trace(shot->id, 1) : shot);
    }
    std::shuffle(after.begin(), after.end(), random);
    for (int i = 0; i < static_cast<int>(random() % 3); ++i) {
      after.insert(after.begin() + static_cast<long>(random() % (after.size() + 1)),
                   trace(100 + i, 0));
    }
    const TraceChangeSet changes =
        TraceChangeSet::between(TraceShotResults(before), TraceShotResults(after));
    std::vector<TraceShotRef> view = before;
    for (auto row = changes.deletions.rbegin(); row != changes.deletions.rend(); ++row) {
      view.erase(view.begin() + static_cast<long>(*row));
    }
    for (std::size_t row : changes.insertions) {
      view.insert(view.begin() + static_cast<long>(row), after[row]);
    }
    for (std::size_t row : changes.modifications) view[row] = after[row];
    ASSERT_EQ(view, after) << "round " << round;
  }
}

}  // namespace
}  // namespace qv
