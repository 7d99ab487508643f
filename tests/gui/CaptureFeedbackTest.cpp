// What a capture tells the user: the name the panel, its menu and the window's message give
// a trace, its tooltip in words, and the message after a capture.
// clang-format off
#include "support/MainViewFixture.h"
// clang-format on
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QPushButton>

#include "TracePanelTestSupport.h"
#include "gui/app/CaptureNotice.h"
#include "gui/traces/TraceCommentText.h"
#include "gui/traces/TraceDisplayName.h"
#include "gui/traces/TraceListModel.h"
#include "gui/traces/TraceManagerViewController.h"
#include "gui/traces/TraceShotCellView.h"
#include "gui/traces/TraceTableView.h"
#include "gui/traces/TraceVisibilitySwitch.h"

namespace qv::gui {
namespace {

TraceDate traceDate(const QDateTime& local) {
  return TraceDate(std::chrono::milliseconds(local.toMSecsSinceEpoch()));
}

TraceShotRef shotOf(std::int64_t id, std::optional<std::string> name, const QDateTime& created) {
  auto shot = std::make_shared<TraceShot>();
  shot->id = id;
  shot->name = std::move(name);
  shot->dateCreated = traceDate(created);
  return shot;
}

// ---- the name rule ----

class TraceDisplayNameTest : public ::testing::Test {
 protected:
  // Local times: the rule speaks of the user's clock, whatever the zone.
  const QDateTime now{QDate(2026, 12, 8), QTime(15, 0)};
  const QDateTime today{QDate(2026, 12, 8), QTime(14, 2, 59)};
  const QDateTime yesterday{QDate(2026, 12, 7), QTime(9, 5)};
};

TEST_F(TraceDisplayNameTest, CapturesAreNumberedInTheOrderTheyWereMadeNotAsListed) {
  // Listed newest first, with one moved to the top; ids 7 and 8 share a capture time.
  const TraceShotRef a = shotOf(5, "TF", yesterday);
  const TraceShotRef b = shotOf(8, "TF", today);
  const TraceShotRef c = shotOf(7, "TF", today);
  const TraceShotRef d = shotOf(9, "Sub", now);
  const std::vector<TraceShotRef> list = {a, d, b, c};
  EXPECT_EQ(TraceDisplayName::creationNumber(*a, list), 1);
  EXPECT_EQ(TraceDisplayName::creationNumber(*c, list), 2);  // the lower id first
  EXPECT_EQ(TraceDisplayName::creationNumber(*b, list), 3);
  EXPECT_EQ(TraceDisplayName::creationNumber(*d, list), 4);
  EXPECT_EQ(TraceDisplayName::creationNumber(*shotOf(99, "TF", now), list), 0);
  // A deletion renumbers the later ones.
  EXPECT_EQ(TraceDisplayName::creationNumber(*b, std::vector<TraceShotRef>{b, c}), 2);
}

TEST_F(TraceDisplayNameTest, ACaptureShowsItsNumberAndTimeWithTheDayWhenNotToday) {
  EXPECT_EQ(TraceDisplayName::title(*shotOf(1, "TF", today), 3, now), "TF 3 \u2014 14:02");
  EXPECT_EQ(TraceDisplayName::title(*shotOf(1, "TF", yesterday), 12, now),
            "TF 12 \u2014 7 Dec 09:05");
  // Another year is still not today.
  EXPECT_EQ(TraceDisplayName::title(*shotOf(1, "TF", today.addYears(-1)), 1, now),
            "TF 1 \u2014 8 Dec 14:02");
  EXPECT_EQ(TraceDisplayName::title(*shotOf(1, "TF", today), 0, now), "TF");
}

TEST_F(TraceDisplayNameTest, ARenamedTraceShowsItsNameAndANamelessOneUnnamed) {
  EXPECT_EQ(TraceDisplayName::title(*shotOf(1, "Stage L", today), 3, now), "Stage L");
  EXPECT_EQ(TraceDisplayName::title(*shotOf(1, "TF 2", today), 3, now), "TF 2");
  EXPECT_EQ(TraceDisplayName::title(*shotOf(1, "tf", today), 3, now), "tf");
  EXPECT_EQ(TraceDisplayName::title(*shotOf(1, "", today), 3, now), "Unnamed");
  EXPECT_EQ(TraceDisplayName::title(*shotOf(1, std::nullopt, today), 3, now), "Unnamed");
  EXPECT_TRUE(TraceDisplayName::isUnnamed(*shotOf(1, "", today)));
  EXPECT_FALSE(TraceDisplayName::isUnnamed(*shotOf(1, " ", today)));
}

// ---- the tooltip ----

struct CommentCase {
  const char* comment;
  double tick;
  const char* shown;
};

class TraceCommentTextTest : public ::testing::TestWithParam<CommentCase> {};

TEST_P(TraceCommentTextTest, ReadsTheStoredCommentInWords) {
  EXPECT_EQ(TraceCommentText::readable(GetParam().comment, GetParam().tick),
            QString::fromUtf8(GetParam().shown));
}

// Index 100 at 30 updates a second: (1/30) / -ln(0.9) = 0.32 s. Index 10 at 15 a second:
// (1/15) / -ln(0.99) = 6.6 s, shown to one figure.
INSTANTIATE_TEST_SUITE_P(
    Comments, TraceCommentTextTest,
    ::testing::Values(
        CommentCase{"Smoothing: 1/24 oct, averaging: 100.000000, delay: 3.01 ms", 1.0 / 30.0,
                    "Smoothing 1/24 oct \u00b7 Averaging Fast (\u2248 0.3 s) \u00b7 Delay 3.01 ms"},
        CommentCase{"Smoothing: 1/1 oct, averaging: 1000.000000, delay: -0.50 ms", 1.0 / 30.0,
                    "Smoothing 1 oct \u00b7 Averaging None \u00b7 Delay -0.50 ms"},
        CommentCase{"Smoothing: 1/6 oct, averaging: 10.000000, delay: 12.00 ms", 1.0 / 15.0,
                    "Smoothing 1/6 oct \u00b7 Averaging Slow (\u2248 7 s) \u00b7 Delay 12.00 ms"},
        // Anything else stands as it was written.
        CommentCase{"Average of 3 traces", 1.0 / 30.0, "Average of 3 traces"},
        CommentCase{"Smoothing: 1/24 oct, averaging: 137.5, delay: 3.01 ms", 1.0 / 30.0,
                    "Smoothing: 1/24 oct, averaging: 137.5, delay: 3.01 ms"},
        CommentCase{"Smoothing: 1/24 oct, averaging: 5000.000000, delay: 3.01 ms", 1.0 / 30.0,
                    "Smoothing: 1/24 oct, averaging: 5000.000000, delay: 3.01 ms"},
        CommentCase{"Smoothing: 1/24 oct, averaging: 100.000000, delay: 3.01 ms; moved", 1.0 / 30.0,
                    "Smoothing: 1/24 oct, averaging: 100.000000, delay: 3.01 ms; moved"},
        CommentCase{"", 1.0 / 30.0, ""}));

// ---- the panel ----

class CaptureTitlesInPanelTest : public guitest::TracePanelFixture {
 protected:
  TraceShotRef captureTf(
      const std::string& comment = "Smoothing: 1/24 oct, averaging: 100.000000, delay: 3.01 ms") {
    const auto buffer = qv::test::curves(8);
    TraceShotRef shot = store->newTraceWithNameFloatBufferLengthCountCommentUserInfo(
        "TF", buffer.data(), 8, 3, comment);
    guitest::settle();
    return shot;
  }
  static QString atTime(const TraceShot& shot, int number) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(shot.dateCreated->time_since_epoch());
    return QStringLiteral("TF %1 \u2014 ").arg(number) +
           QDateTime::fromMSecsSinceEpoch(ms.count()).toLocalTime().toString("HH:mm");
  }
};

TEST_F(CaptureTitlesInPanelTest, RowsMenuAndTooltipSayWhichCaptureItIs) {
  makePanel();
  const TraceShotRef first = captureTf();
  const TraceShotRef second = captureTf("imported by hand");
  const TraceShotRef third = captureTf();
  ASSERT_TRUE(first && second && third);
  EXPECT_EQ(panel->cellForRow(0)->primaryTitle(), atTime(*third, 3));
  EXPECT_EQ(panel->cellForRow(2)->primaryTitle(), atTime(*first, 1));
  ASSERT_TRUE(panel->validateMenuForRow(1));
  EXPECT_EQ(panel->menuItemWithTag(TraceManagerViewController::kTitleItemTag)->text(),
            atTime(*second, 2));
  EXPECT_EQ(panel->cellForRow(0)->toolTip(),
            "Smoothing 1/24 oct \u00b7 Averaging Fast (\u2248 0.3 s) \u00b7 Delay 3.01 ms");
  EXPECT_EQ(panel->cellForRow(1)->toolTip(), "imported by hand");

  // Deleting the first capture renumbers the rows that were not changed themselves.
  store->deleteShotAtIndex(2);
  guitest::settle();
  EXPECT_EQ(panel->cellForRow(0)->primaryTitle(), atTime(*third, 2));
  EXPECT_EQ(panel->cellForRow(1)->primaryTitle(), atTime(*second, 1));
}

// The header's buttons share the panel's narrowest width without being cut.
TEST_F(CaptureTitlesInPanelTest, HeaderButtonsAreWholeAtThePanelsWidths) {
  makePanel();
  for (int width : {panel->minimumWidth(), 200}) {
    panel->resize(width, 420);
    guitest::settle();
    for (QPushButton* button : {panel->captureButton(), panel->importButton()}) {
      EXPECT_GE(button->width(), button->minimumSizeHint().width()) << width;
      EXPECT_GE(button->width(), button->fontMetrics().horizontalAdvance(button->text()) + 8)
          << width;
      const QRect inPanel(button->mapTo(panel.get(), QPoint(0, 0)), button->size());
      EXPECT_TRUE(panel->rect().contains(inPanel)) << width;
    }
  }
}

// With more rows than fit, the scroll bar takes its width from the rows, not from their
// switches.
TEST_F(CaptureTitlesInPanelTest, RowsNarrowWhenTheScrollBarComes) {
  for (int i = 0; i < 12; ++i) captureTf();
  makePanel();
  panel->resize(200, 300);
  guitest::settle();
  QWidget* viewport = panel->tableView()->viewport();
  ASSERT_LT(viewport->width(), panel->width()) << "no scroll bar";
  for (int row : {0, 11}) {
    EXPECT_EQ(panel->cellForRow(row)->width(), viewport->width()) << row;
    QWidget* knob = panel->cellForRow(row)->visibleSwitch();
    EXPECT_LE(knob->mapTo(viewport, QPoint(knob->width(), 0)).x(), viewport->width()) << row;
  }
}

// ---- the message after a capture ----

using CaptureMessageTest = qv::gui::test::MainViewFixture;

TEST_F(CaptureMessageTest, ACaptureSaysItsNameAndWhereToSeeItThenGoes) {
  auto& view = makeView();
  storeTrace();
  settings().setShowTraceManager(false);
  view.captureAction()->trigger();
  ASSERT_TRUE(tracesBecome(2));
  const QLabel* notice = view.outlets().noticeLabel;
  ASSERT_TRUE(guitest::processEventsUntil([&] { return !notice->isHidden(); }, 5000));
  const TraceShotResults list = traces().allTraceShots();
  const QString name = TraceDisplayName::titleInList(list[0], list);
  EXPECT_TRUE(name.startsWith("TF 2 \u2014 ")) << name.toStdString();
  EXPECT_EQ(notice->text(),
            "Captured \u201c" + name + "\u201d \u2014 see it with View \u25b8 Trace Manager");
  view.show();
  guitest::processEventsFor(50);
  guitest::saveScreenshot(view, "mainview-after-capture");

  // With the panel shown, the name alone; the message goes by itself.
  settings().setShowTraceManager(true);
  view.captureAction()->trigger();
  ASSERT_TRUE(tracesBecome(3));
  ASSERT_TRUE(guitest::processEventsUntil(
      [&] { return notice->text().startsWith("Captured \u201cTF 3 \u2014 "); }, 5000))
      << notice->text().toStdString();
  EXPECT_FALSE(notice->text().contains("Trace Manager"));
  EXPECT_TRUE(guitest::processEventsUntil([&] { return notice->isHidden(); },
                                          CaptureNotice::kShowMs + 3000));
}

}  // namespace
}  // namespace qv::gui
