#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "TraceTestSupport.h"

namespace qv {
namespace {

using test::capture;

class TraceStoreTest : public test::TraceFixture {
 protected:
  std::unique_ptr<TraceManager> open() { return std::make_unique<TraceManager>(folder.path()); }

  // Records every visibility report with the state of the store at that moment.
  struct Report {
    std::string uuid;
    bool visible;
    std::size_t storedCount;
  };
  void watch(TraceManager& store) {
    store.setVisibilityChangedCallback([this, &store](const TraceShot& shot) {
      reports.push_back({shot.uuid.value_or(""), shot.visible, store.allTraceShots().count()});
    });
  }

  std::vector<Report> reports;
};

TEST_F(TraceStoreTest, CaptureStoresTheCurvesAsPackedLittleEndianFloats) {
  auto store = open();
  watch(*store);
  const float buffer[6] = {1.0f, -2.5f, 90.0f, 180.0f, 0.5f, 1.0f};  // two points per curve
  const TraceShotRef shot =
      store->newTraceWithNameFloatBufferLengthCountCommentUserInfo("TF", buffer, 2, 3, "note");
  ASSERT_NE(shot, nullptr);
  // 1.0f is 0x3f800000 and -2.5f is 0xc0200000, least significant byte first.
  const Bytes magnitude{0x00, 0x00, 0x80, 0x3f, 0x00, 0x00, 0x20, 0xc0};
  EXPECT_EQ(shot->magnitudeData, magnitude);
  EXPECT_EQ(TraceShot::floatsFromBlob(*shot->phaseData), (std::vector<float>{90.0f, 180.0f}));
  EXPECT_EQ(TraceShot::floatsFromBlob(*shot->coherenceData), (std::vector<float>{0.5f, 1.0f}));
  EXPECT_EQ(shot->name, "TF");
  EXPECT_EQ(shot->comment, "note");
  EXPECT_TRUE(shot->visible);
  ASSERT_TRUE(shot->dateCreated.has_value());
  EXPECT_EQ(shot->dateCreated, shot->dateModified);
  // The identifier is "%f" of the seconds since 2001-01-01 UTC (978307200 s after 1970).
  const double unixSeconds =
      static_cast<double>(shot->dateCreated->time_since_epoch().count()) / 1e6;
  char expected[64];
  std::snprintf(expected, sizeof expected, "%f", unixSeconds - 978307200.0);
  EXPECT_EQ(shot->uuid, expected);
  // The new trace is reported visible once, after it is stored.
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_TRUE(reports[0].visible);
  EXPECT_EQ(reports[0].storedCount, 1u);

  // Everything survives closing and reopening the file.
  store.reset();
  auto reopened = open();
  ASSERT_EQ(reopened->allTraceShots().count(), 1u);
  EXPECT_EQ(reopened->allTraceShots()[0], *shot);
}

TEST_F(TraceStoreTest, CapturesWithinOneMicrosecondStillGetDistinctIdentifiers) {
  auto store = open();
  std::set<std::string> uuids;
  for (int i = 0; i < 20; ++i) uuids.insert(*capture(*store, "t")->uuid);
  EXPECT_EQ(uuids.size(), 20u);
  // Newest first, strictly.
  const auto list = store->allTraceShots();
  for (std::size_t i = 1; i < list.count(); ++i)
    EXPECT_GT(list[i - 1].dateCreated, list[i].dateCreated);
}

TEST_F(TraceStoreTest, ABufferOfOtherThanThreeCurvesStoresNothing) {
  auto store = open();
  watch(*store);
  const auto buffer = test::curves(4);
  std::string said;
  EXPECT_EQ(store->newTraceWithNameFloatBufferLengthCountCommentUserInfo(
                "TF", buffer.data(), 4, 2, "", {},
                [&](const CaptureOutcome& outcome) { said = outcome.failure.sentence(); }),
            nullptr);
  EXPECT_TRUE(log.contains("Wrong trace buffer for saving!"));
  EXPECT_EQ(said, "The trace was not saved: there were no curves to capture.");
  EXPECT_EQ(store->allTraceShots().count(), 0u);
  EXPECT_TRUE(reports.empty());
  EXPECT_EQ(open()->allTraceShots().count(), 0u);
}

// The colour index rotates through the palette as it always has (older builds read it),
// passing over the orange and the red, which a thin trace line shares with the orange-red
// coherence; a trace whose palette colour another trace already shows is drawn in the first
// colour for dark backgrounds that none shows, kept as its own colour.
TEST_F(TraceStoreTest, ColoursRotateInCaptureOrderAndNoTwoTracesShareOne) {
  auto store = open();
  for (int i = 0; i < 9; ++i) capture(*store, test::nameOf(i));
  const auto list = store->allTraceShots();
  ASSERT_EQ(list.count(), 9u);
  // Captured 0, 2, 4, 5, 6 (1 orange and 3 red skipped), then round again; newest first.
  const std::int64_t expected[9] = {5, 4, 2, 0, 6, 5, 4, 2, 0};
  for (std::size_t i = 0; i < 9; ++i) EXPECT_EQ(list[i].colorIndex, expected[i]) << i;
  const auto& dark = ChartColorPalette::darkBackgroundColors();
  // The second round finds its palette colours shown: pink, violet, sky blue, mint.
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(store->colorForShot(list[i]), dark[10 - i]) << i;
  EXPECT_EQ(store->colorForShot(list[4]), store->palette().colors()[6]);
  EXPECT_FALSE(list[4].colorData.has_value());
  for (const auto& shot : list)
    EXPECT_FALSE(ChartColorPalette::nearLiveCurve(*store->colorForShot(*shot)));
  // A colour given up by a deleted trace is the first one free again.
  store->deleteShotAtIndex(8);  // the oldest, green
  EXPECT_EQ(store->colorForShot(*capture(*store, "after")), store->palette().colors()[0]);
}

// Traces stored with a colour that new captures skip keep it, and the rotation goes on
// from them.
TEST_F(TraceStoreTest, AStoredOrangeTraceKeepsItsColour) {
  auto store = open();
  ASSERT_EQ(capture(*store, "t")->colorIndex, 0);
  store.reset();
  // As an older build left it: the newest trace drawn in the palette's orange.
  ASSERT_EQ(test::sqlOn(dbPath(), "UPDATE TraceShot SET colorIndex = 1"), "");
  store = open();
  EXPECT_EQ(store->colorForShot(*store->traceShotForIndex(0)), store->palette().colors()[1]);
  EXPECT_EQ(capture(*store, "t")->colorIndex, 2);  // after the orange: the yellow
}

TEST_F(TraceStoreTest, DeletedTracesDoNotFreeTheirColours) {
  auto store = open();
  for (int i = 0; i < 3; ++i) capture(*store, "t");  // colours 0, 2, 4
  store->deleteShotAtIndex(2);                       // the oldest, colour 0
  store->deleteShotAtIndex(1);                       // colour 2
  // The newest remaining trace has colour 4, so the next one takes 5, not the freed 0.
  EXPECT_EQ(capture(*store, "t")->colorIndex, 5);
  // The rotation follows the newest trace, also across a restart.
  store.reset();
  EXPECT_EQ(capture(*open(), "t")->colorIndex, 6);
}

// A recoloured trace is drawn again, in its own colour from then on.
TEST_F(TraceStoreTest, ColourOfATracePrefersItsOwnColour) {
  auto store = open();
  const TraceShotRef shot = capture(*store, "t");
  watch(*store);
  const RGBAColor violet{0.5f, 0.0f, 1.0f, 0.75f};
  store->setColorForShot(violet, *shot);
  EXPECT_EQ(reports.size(), 1u);
  EXPECT_EQ(open()->colorForShot(*open()->traceShotForIndex(0)), violet);
  TraceShot outside = *shot;
  outside.colorData.reset();
  outside.colorIndex = 7;  // one past the palette
  EXPECT_FALSE(store->colorForShot(outside).has_value());
  outside.colorIndex = -1;
  EXPECT_FALSE(store->colorForShot(outside).has_value());
  outside.colorData = Bytes{1, 2, 3};  // not a colour: falls back to nothing, not garbage
  EXPECT_FALSE(outside.color().has_value());
}

TEST_F(TraceStoreTest, ClearAllHidesEveryTraceBeforeDeletingAndRestartsThePalette) {
  auto store = open();
  for (int i = 0; i < 3; ++i) capture(*store, "t");
  store->toggleVisibilityForIndex(1);
  watch(*store);
  store->clearAll();
  // Every trace is reported hidden while all of them are still stored.
  ASSERT_EQ(reports.size(), 3u);
  for (const auto& r : reports) {
    EXPECT_FALSE(r.visible);
    EXPECT_EQ(r.storedCount, 3u);
  }
  EXPECT_EQ(store->allTraceShots().count(), 0u);
  EXPECT_EQ(store->palette().colorIndex(), 0);
  EXPECT_EQ(open()->allTraceShots().count(), 0u);
  EXPECT_EQ(capture(*store, "t")->colorIndex, 0);
}

TEST_F(TraceStoreTest, SelectionIsSingleAndTheNotFoundIndexClearsIt) {
  auto store = open();
  for (int i = 0; i < 4; ++i) capture(*store, "t");
  store->setSelectedForIndex(true, 0);
  store->setSelectedForIndex(true, 2);
  auto selected = store->allSelectedTraces();
  ASSERT_EQ(selected.size(), 1u);
  EXPECT_EQ(selected[0]->id, store->traceShotForIndex(2)->id);

  store->setSelectedForIndex(true, 4);  // past the end: nothing changes
  EXPECT_TRUE(store->traceShotForIndex(2)->selected);
  EXPECT_EQ(store->traceShotForIndex(4), nullptr);

  store->setSelectedForIndex(false, 1);  // clears the others, leaves 1 unselected
  EXPECT_FALSE(store->hasSelectedTraces());

  store->setSelectedForIndex(true, 3);
  store->setSelectedForIndex(true, TraceManager::kNotFound);
  EXPECT_FALSE(store->hasSelectedTraces());
  EXPECT_FALSE(open()->hasSelectedTraces());
}

TEST_F(TraceStoreTest, DeleteAllSelectedReportsOnlyTheVisibleOnes) {
  auto store = open();
  for (int i = 0; i < 4; ++i) capture(*store, test::nameOf(i));
  const std::string visibleSelected = *store->traceShotForIndex(0)->uuid;
  const std::string hiddenSelected = *store->traceShotForIndex(2)->uuid;
  store->toggleVisibilityForIndex(2);
  // The panel selects one row at a time; two selected rows come from another writer.
  ASSERT_EQ(test::sqlOn(dbPath(), "UPDATE TraceShot SET selected = 1 WHERE uuid IN ('" +
                                      visibleSelected + "', '" + hiddenSelected + "')"),
            "");
  store->refresh();
  ASSERT_EQ(store->allSelectedTraces().size(), 2u);
  watch(*store);
  store->deleteAllSelected();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].uuid, visibleSelected);
  EXPECT_FALSE(reports[0].visible);
  const auto list = store->allTraceShots();
  ASSERT_EQ(list.count(), 2u);
  EXPECT_EQ(list[0].name, "t2");
  EXPECT_EQ(list[1].name, "t0");
}

TEST_F(TraceStoreTest, RenamingKeepsTheModificationDate) {
  auto store = open();
  capture(*store, "first");
  capture(*store, "second");
  const TraceShot before = *store->traceShotForIndex(1);
  store->setNameForIndex("renamed", 1);
  store->setNameForIndex("ignored", 2);  // past the end
  const TraceShot after = *store->traceShotForIndex(1);
  EXPECT_EQ(after.name, "renamed");
  EXPECT_EQ(after.dateModified, before.dateModified);
  EXPECT_EQ(after.dateCreated, before.dateCreated);
  store->setNameForShot("", after);  // empty is a name, not "no name"
  EXPECT_EQ(open()->traceShotForIndex(1)->name, std::string());
}

TEST_F(TraceStoreTest, VisibilityOperationsReportEachChangedTrace) {
  auto store = open();
  for (int i = 0; i < 3; ++i) capture(*store, test::nameOf(i));
  watch(*store);
  store->toggleVisibilityForIndex(1);
  store->toggleVisibilityForIndex(3);  // past the end: no report
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_FALSE(reports[0].visible);
  EXPECT_FALSE(store->traceShotForIndex(1)->visible);
  // A stale copy still toggles the stored state, not its own.
  const TraceShot stale = *store->traceShotForIndex(0);
  store->toggleVisibilityForShot(stale);
  store->toggleVisibilityForShot(stale);
  EXPECT_TRUE(store->traceShotForIndex(0)->visible);

  reports.clear();
  store->setVisibilityForAllTraces(true);
  ASSERT_EQ(reports.size(), 3u);
  const auto list = store->allTraceShots();
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(reports[i].uuid, list[i].uuid);  // newest first
    EXPECT_TRUE(reports[i].visible);
  }

  store->setVisibilityForAllTraces(false);
  reports.clear();
  store->toggleVisibilityForIndex(2);
  store->start();  // reports the visible ones only
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[1].uuid, list[2].uuid);
  EXPECT_TRUE(reports[1].visible);
}

TEST_F(TraceStoreTest, DeleteShotAtIndexHidesThenDeletes) {
  auto store = open();
  capture(*store, "old");
  capture(*store, "new");
  watch(*store);
  store->deleteShotAtIndex(2);  // past the end
  EXPECT_TRUE(reports.empty());
  store->deleteShotAtIndex(0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_FALSE(reports[0].visible);
  EXPECT_EQ(reports[0].storedCount, 2u);  // still listed while it is being hidden
  ASSERT_EQ(store->allTraceShots().count(), 1u);
  EXPECT_EQ(store->traceShotForIndex(0)->name, "old");
}

TEST_F(TraceStoreTest, ASchema14FileMigratesAndKeepsItsTraces) {
  {
    auto store = open();
    capture(*store, "kept", 5, 3.0f);
    store->setSelectedForIndex(true, 0);
  }
  ASSERT_EQ(test::sqlOn(dbPath(), "PRAGMA user_version = 14"), "");
  auto store = open();
  EXPECT_TRUE(log.contains("Realm migration from v.14l to v.15l"));
  ASSERT_EQ(store->allTraceShots().count(), 1u);
  const TraceShot& shot = store->allTraceShots()[0];
  EXPECT_EQ(shot.name, "kept");
  EXPECT_TRUE(shot.selected);
  EXPECT_EQ(TraceShot::floatsFromBlob(*shot.magnitudeData), (std::vector<float>{3, 2, 1, 0, -1}));
  EXPECT_FALSE(store->isReadOnly());
  EXPECT_NE(capture(*store, "new"), nullptr);
  // Migrated once: the next start says nothing.
  store.reset();
  test::LogCapture again;
  open();
  EXPECT_FALSE(again.contains("Realm migration"));
}

}  // namespace
}  // namespace qv
