// The trace panel's workbench: importing a curve file from the button and by dropping it
// (a damaged file refused with its line, nothing stored), averaging the visible traces
// (with a warning when their phases disagree), moving and recolouring a trace, and
// choosing the trace to compare with.
#include <gtest/gtest.h>

#include <QAction>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <cmath>

#include "TracePanelTestSupport.h"
#include "gui/traces/TraceManagerViewController.h"
#include "support/DisplayTestSupport.h"

namespace qv::guitest {
namespace {

using gui::TraceManagerViewController;

class TracePanelWorkbenchTest : public TracePanelFixture {
 protected:
  void SetUp() override { makePanel(); }
  QString write(const QString& name, const QByteArray& text) { return writeFile(out, name, text); }
  void storeFlat(const std::string& name, float magnitude, float phase) {
    const auto curves = PlotArea::curves(magnitude, phase, 180.0f);
    ASSERT_NE(store->newTraceWithNameFloatBufferLengthCountCommentUserInfo(
                  name, curves.data(), PlotArea::bandCount(), 3, ""),
              nullptr);
  }
  // The magnitude of the list's first trace near 1 kHz (band 672 of the live axis).
  float firstMagnitudeAt1k() {
    const auto mag =
        TraceShot::floatsFromBlob(*store->allTraceShots().firstObject()->magnitudeData);
    return mag.size() > 672 ? mag[672] : NAN;
  }

  QTemporaryDir out;
};

// The button and a drop both import (what a file's curves become is held by the trace
// store's tests); a damaged file is refused with its line, a cancelled dialog does nothing.
TEST_F(TracePanelWorkbenchTest, ButtonAndDropImportAndADamagedFileIsRefusedWithItsLine) {
  chooser->openAnswer = write("room.txt",
                              "* measured elsewhere\n20\t-3\t10\n1000\t-3\t20\n"
                              "20000\t-3\t30\n");
  click(panel->importButton());
  settle();
  ASSERT_EQ(store->allTraceShots().count(), 1u);
  EXPECT_EQ(store->allTraceShots().firstObject()->name, "room.txt");
  EXPECT_NEAR(firstMagnitudeAt1k(), -3.0f, 1e-4);  // on the live analysis' axis
  EXPECT_TRUE(alerts->messages.empty());

  chooser->openAnswer = write("bad.csv", "20,-3\n1k,-3\n20000,-3\n");
  click(panel->importButton());
  settle();
  EXPECT_EQ(store->allTraceShots().count(), 1u);
  ASSERT_EQ(alerts->messages.size(), 1u);
  EXPECT_EQ(alerts->messages[0].first, QStringLiteral("bad.csv could not be imported"));
  EXPECT_TRUE(alerts->messages[0].second.startsWith(QStringLiteral("Line 2")))
      << alerts->messages[0].second.toStdString();

  chooser->openAnswer.reset();
  click(panel->importButton());
  EXPECT_EQ(store->allTraceShots().count(), 1u);
  EXPECT_EQ(alerts->messages.size(), 1u);

  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(write("a.frd", "20 -6 0\n20000 -6 0\n"))});
  // As a drag does it: the enter makes the panel the drop's target.
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(panel.get(), &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(panel.get(), &drop);
  settle();
  ASSERT_EQ(store->allTraceShots().count(), 2u);
  EXPECT_EQ(store->allTraceShots().firstObject()->name, "a.frd");
}

TEST_F(TracePanelWorkbenchTest, AveragingNeedsTwoVisibleTracesAndWarnsWhenPhasesDisagree) {
  storeFlat("A", -6.0f, 10.0f);
  settle();
  ASSERT_TRUE(panel->validateMenuForRow(0));
  EXPECT_FALSE(panel->menuItemWithTag(TraceManagerViewController::kAverageItemTag)->isEnabled());

  // Aligned phases: a power average of the levels and no warning.
  storeFlat("B", -12.0f, 10.0f);
  settle();
  ASSERT_TRUE(panel->validateMenuForRow(0));
  QAction* average = panel->menuItemWithTag(TraceManagerViewController::kAverageItemTag);
  ASSERT_TRUE(average->isEnabled());
  average->trigger();
  settle();
  ASSERT_EQ(store->allTraceShots().count(), 3u);
  EXPECT_EQ(store->allTraceShots().firstObject()->name, "Average of 2");
  // 10·log10((10^-0.6 + 10^-1.2) / 2) = -8.03 dB: the power mean, not the -9 dB of the dBs.
  EXPECT_NEAR(firstMagnitudeAt1k(), -8.03f, 0.01f);
  EXPECT_TRUE(alerts->messages.empty());

  // Opposite phases (as from different delays): stored, with the warning.
  store->setVisibilityForAllTraces(false);
  storeFlat("C", -6.0f, 0.0f);
  storeFlat("D", -6.0f, 180.0f);
  settle();
  ASSERT_TRUE(panel->validateMenuForRow(0));
  panel->menuItemWithTag(TraceManagerViewController::kAverageItemTag)->trigger();
  settle();
  EXPECT_EQ(store->allTraceShots().count(), 6u);
  ASSERT_EQ(alerts->messages.size(), 1u);
  EXPECT_EQ(alerts->messages[0].first, QStringLiteral("The averaged phase means little"));
}

TEST_F(TracePanelWorkbenchTest, MovingAndRecolouringFromTheMenuReachTheStore) {
  storeFlat("A", -6.0f, 0.0f);
  storeFlat("B", -9.0f, 0.0f);
  settle();
  const auto names = [&] {
    std::vector<std::string> n;
    for (const auto& shot : store->allTraceShots()) n.push_back(shot->name.value_or(""));
    return n;
  };
  ASSERT_EQ(names(), (std::vector<std::string>{"B", "A"}));
  ASSERT_TRUE(panel->validateMenuForRow(0));
  EXPECT_FALSE(panel->menuItemWithTag(TraceManagerViewController::kMoveUpItemTag)->isEnabled());
  QAction* down = panel->menuItemWithTag(TraceManagerViewController::kMoveDownItemTag);
  ASSERT_TRUE(down->isEnabled());
  down->trigger();
  settle();
  EXPECT_EQ(names(), (std::vector<std::string>{"A", "B"}));
  ASSERT_TRUE(panel->validateMenuForRow(1));  // B, now last
  EXPECT_FALSE(panel->menuItemWithTag(TraceManagerViewController::kMoveDownItemTag)->isEnabled());

  // A colour for dark backgrounds, then back to the palette's own.
  ASSERT_TRUE(panel->validateMenuForRow(0));
  const TraceShotRef a = store->allTraceShots().firstObject();
  const RGBAColor automatic = *store->colorForShot(*a);
  const RGBAColor chosen = ChartColorPalette::darkBackgroundColors()[2];
  ASSERT_NE(chosen, automatic);
  const auto colorItem = [&](int tag) -> QAction* {
    for (QAction* item : panel->colorMenu()->actions())
      if (!item->isSeparator() && item->data().toInt() == tag) return item;
    return nullptr;
  };
  colorItem(TraceManagerViewController::kColorItemTagBase + 2)->trigger();
  settle();
  EXPECT_EQ(store->colorForShot(*store->allTraceShots().firstObject()), chosen);
  colorItem(TraceManagerViewController::kAutomaticColorItemTag)->trigger();
  settle();
  EXPECT_EQ(store->colorForShot(*store->allTraceShots().firstObject()), automatic);
}

TEST_F(TracePanelWorkbenchTest, OffsetsFromTheMenuAreKeptAndACancelChangesNothing) {
  storeFlat("A", -6.0f, 0.0f);
  settle();
  std::optional<gui::TraceOffsets> answer = gui::TraceOffsets{2.5, -1.25};
  std::vector<double> shownDb;
  panel->setOffsetsAsker([&](QWidget*, const TraceShot& shot) {
    shownDb.push_back(shot.offsetDb);
    return answer;
  });
  ASSERT_TRUE(panel->validateMenuForRow(0));
  panel->menuItemWithTag(TraceManagerViewController::kOffsetsItemTag)->trigger();
  settle();
  const auto stored = [&] { return store->allTraceShots().firstObject(); };
  EXPECT_EQ(stored()->offsetDb, 2.5);
  EXPECT_EQ(stored()->offsetDelayMs, -1.25);

  answer.reset();  // cancelled: the asker saw the offsets in force, nothing changes
  panel->menuItemWithTag(TraceManagerViewController::kOffsetsItemTag)->trigger();
  settle();
  EXPECT_EQ(shownDb, (std::vector<double>{0.0, 2.5}));
  EXPECT_EQ(stored()->offsetDb, 2.5);

  // The dialog's fields hold figures in range only, also when handed stored ones beyond it.
  gui::TraceOffsetsDialog dialog("A", {500.0, -5000.0});
  EXPECT_EQ(dialog.offsets().db, gui::TraceOffsetsDialog::kMaxDb);
  EXPECT_EQ(dialog.offsets().delayMs, -gui::TraceOffsetsDialog::kMaxDelayMs);
}

// What the reference then does to the plots is the plot controller's test.
TEST_F(TracePanelWorkbenchTest, CompareFromTheMenuSetsAndEndsTheReference) {
  storeFlat("Before", -6.0f, 0.0f);
  settle();
  TraceShotRef reference;
  panel->setCompareHooks({[&]() -> std::int64_t { return reference ? reference->id : 0; },
                          [&](const TraceShotRef& shot) { reference = shot; }});
  ASSERT_TRUE(panel->validateMenuForRow(0));
  QAction* compare = panel->menuItemWithTag(TraceManagerViewController::kCompareItemTag);
  EXPECT_EQ(compare->text(), QStringLiteral("Compare With This"));
  compare->trigger();
  ASSERT_NE(reference, nullptr);
  EXPECT_EQ(reference->name, "Before");

  ASSERT_TRUE(panel->validateMenuForRow(0));
  EXPECT_EQ(compare->text(), QStringLiteral("Stop Comparing"));
  compare->trigger();
  EXPECT_EQ(reference, nullptr);
}

}  // namespace
}  // namespace qv::guitest
