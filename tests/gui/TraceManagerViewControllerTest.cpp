#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include "TracePanelTestSupport.h"
#include "gui/traces/TraceListModel.h"
#include "gui/traces/TraceManagerViewController.h"
#include "gui/traces/TraceNameField.h"
#include "gui/traces/TraceShotCellView.h"
#include "gui/traces/TraceTableView.h"
#include "gui/traces/TraceVisibilitySwitch.h"

namespace qv::guitest {
namespace {

using gui::TraceManagerViewController;
using test::capture;

class TraceManagerViewControllerTest : public TracePanelFixture {
 protected:
  void capturedTraces(int count) {
    for (int i = 0; i < count; ++i) capture(*store, test::nameOf(i));
    settle();
  }
  gui::TraceShotCellView* cell(int row) const { return panel->cellForRow(row); }
  // Every row has its widget, showing the store's trace at that position.
  void expectRowsShowTheStore() {
    const TraceShotResults list = store->allTraceShots();
    ASSERT_EQ(panel->model()->rowCount(), static_cast<int>(list.count()));
    for (std::size_t i = 0; i < list.count(); ++i) {
      gui::TraceShotCellView* c = cell(static_cast<int>(i));
      ASSERT_NE(c, nullptr) << "row " << i;
      EXPECT_EQ(c->objectValue()->id, list[i].id);
      EXPECT_EQ(c->primaryTitle(), panel->model()->titleForRow(static_cast<int>(i)));
      EXPECT_EQ(c->visibility(), list[i].visible);
    }
  }
  std::vector<bool> visibilities() const {
    std::vector<bool> v;
    for (const auto& shot : store->allTraceShots()) v.push_back(shot->visible);
    return v;
  }
  std::int64_t selectedId() const {
    const auto selected = store->allSelectedTraces();
    return selected.size() == 1 ? selected[0]->id : (selected.empty() ? 0 : -1);
  }
};

TEST_F(TraceManagerViewControllerTest, ACaptureShowsUpAsTheTopRow) {
  capturedTraces(2);
  makePanel();
  capture(*store, "Stage L");
  settle();
  expectRowsShowTheStore();
  EXPECT_EQ(cell(0)->primaryTitle(), "Stage L");
  const auto newest = store->traceShotForIndex(0);
  EXPECT_EQ(cell(0)->secondaryText(),
            gui::TraceShotCellView::readableDescription(newest->dateCreated));
  const auto color = *store->colorForShot(*newest);
  EXPECT_EQ(cell(0)->color(), QColor::fromRgbF(color.red, color.green, color.blue, color.alpha));
  // The row widget covers the whole top row of the list.
  EXPECT_EQ(cell(0)->geometry(), QRect(0, 0, panel->tableView()->viewport()->width(), 48));
}

TEST_F(TraceManagerViewControllerTest, TheDateLineIsTheCaptureTimeInUtcWithoutTheZone) {
  using namespace std::chrono;
  // 2026-12-05 15:29:42.75 UTC
  const TraceDate date{sys_days{year{2026} / 12 / 5} + hours{15} + minutes{29} + seconds{42} +
                       milliseconds{750}};
  EXPECT_EQ(gui::TraceShotCellView::readableDescription(date), "2026-12-05 15:29:42");
  EXPECT_EQ(gui::TraceShotCellView::readableDescription(std::nullopt), "");
}

TEST_F(TraceManagerViewControllerTest, RenamingInPlaceStoresTheNameAndAnEmptyNameReadsUnnamed) {
  capturedTraces(2);
  makePanel();
  gui::TraceNameField* field = cell(1)->primaryLabel();
  doubleClick(field, QPoint(5, 5));
  ASSERT_TRUE(field->isEditing());
  type(field, "Sub");
  sendKey(field, Qt::Key_Return);
  settle();
  EXPECT_EQ(store->traceShotForIndex(1)->name, "Sub");
  EXPECT_EQ(cell(1)->primaryTitle(), "Sub");
  EXPECT_FALSE(field->showsPlaceholder());

  doubleClick(field, QPoint(5, 5));
  sendKey(field, Qt::Key_Backspace);  // the whole name is selected
  sendKey(field, Qt::Key_Return);
  settle();
  EXPECT_EQ(store->traceShotForIndex(1)->name, std::optional<std::string>(""));
  // Never an empty row: the stand-in is drawn dim, and editing starts from nothing.
  EXPECT_EQ(cell(1)->primaryTitle(), "Unnamed");
  EXPECT_TRUE(field->showsPlaceholder());
  EXPECT_EQ(field->text(), "");

  // Escape drops what was typed; leaving an unchanged name stores nothing.
  doubleClick(field, QPoint(5, 5));
  type(field, "x");
  sendKey(field, Qt::Key_Escape);
  EXPECT_FALSE(field->isEditing());
  settle();
  EXPECT_EQ(store->traceShotForIndex(1)->name, std::optional<std::string>(""));
}

TEST_F(TraceManagerViewControllerTest, EditingAnUnnamedTraceWithoutChangesKeepsItUnnamed) {
  const auto buffer = test::curves(8);
  store->newTraceWithNameFloatBufferLengthCountCommentUserInfo("x", buffer.data(), 8, 3, "");
  makePanel();
  // A trace that never had a name (stored by an older program) shows "Unnamed".
  TraceShot unnamed = *store->traceShotForIndex(0);
  unnamed.name.reset();
  panel->model()->applyNotification(TraceShotResults({std::make_shared<TraceShot>(unnamed)}),
                                    TraceChangeSet{{}, {}, {0}}, std::nullopt);
  EXPECT_EQ(cell(0)->primaryTitle(), "Unnamed");
  gui::TraceNameField* field = cell(0)->primaryLabel();
  doubleClick(field, QPoint(5, 5));
  sendKey(field, Qt::Key_Return);
  settle();
  EXPECT_EQ(store->traceShotForIndex(0)->name, "x");  // "Unnamed" was not written
}

TEST_F(TraceManagerViewControllerTest, TheSwitchTogglesOneTraceAndWithCtrlAllOfThem) {
  capturedTraces(3);
  makePanel();
  click(cell(1)->visibleSwitch());
  settle();
  EXPECT_EQ(visibilities(), (std::vector<bool>{true, false, true}));
  EXPECT_FALSE(cell(1)->visibility());
  // Ctrl on a switch that is on turns every trace off, whatever each one showed.
  click(cell(0)->visibleSwitch(), Qt::ControlModifier);
  settle();
  EXPECT_EQ(visibilities(), (std::vector<bool>{false, false, false}));
  click(cell(2)->visibleSwitch(), Qt::ControlModifier);
  settle();
  EXPECT_EQ(visibilities(), (std::vector<bool>{true, true, true}));
  expectRowsShowTheStore();
}

TEST_F(TraceManagerViewControllerTest, ShowAndHideFromTheMenuWithCtrlApplyToAll) {
  capturedTraces(3);
  makePanel();
  Qt::KeyboardModifiers held = Qt::NoModifier;
  panel->setKeyboardModifiersSource([&held] { return held; });
  ASSERT_TRUE(panel->validateMenuForRow(2));
  EXPECT_EQ(panel->menuItemWithTag(10)->text(), "Hide");
  panel->menuItemWithTag(10)->trigger();
  settle();
  EXPECT_EQ(visibilities(), (std::vector<bool>{true, true, false}));
  ASSERT_TRUE(panel->validateMenuForRow(2));
  EXPECT_EQ(panel->menuItemWithTag(10)->text(), "Show");
  held = Qt::ControlModifier;
  panel->validateMenuForRow(0);
  panel->menuItemWithTag(10)->trigger();  // "Hide" on a shown trace hides them all
  settle();
  EXPECT_EQ(visibilities(), (std::vector<bool>{false, false, false}));
}

TEST_F(TraceManagerViewControllerTest, TheMenuTitleIsTheNameWithASwatchOfTheColour) {
  capturedTraces(2);
  makePanel();
  ASSERT_TRUE(panel->validateMenuForRow(1));
  QAction* title = panel->menuItemWithTag(0);
  EXPECT_EQ(title->text(), "t0");
  const QImage swatch = title->icon().pixmap(QSize(16, 16), 2.0).toImage();
  const auto c = *store->colorForShot(*store->traceShotForIndex(1));
  EXPECT_EQ(swatch.pixelColor(swatch.width() / 2, swatch.height() / 2).name(),
            QColor::fromRgbF(c.red, c.green, c.blue).name());
  // The rounded corners leave the very corner clear.
  EXPECT_LT(swatch.pixelColor(0, 0).alpha(), 255);
  for (int tag : {0, 10, 40, 50, 51}) EXPECT_TRUE(panel->menuItemWithTag(tag)->isEnabled());
  // Outside the rows the menu does nothing.
  EXPECT_FALSE(panel->validateMenuForRow(5));
  for (int tag : {0, 10, 40, 50, 51}) EXPECT_FALSE(panel->menuItemWithTag(tag)->isEnabled());
  panel->menuItemWithTag(40)->trigger();
  EXPECT_TRUE(alerts->confirmations.empty());
}

TEST_F(TraceManagerViewControllerTest, CancelKeepsTheTraceAndItsSelectionOkDeletesIt) {
  capturedTraces(3);
  makePanel();
  const auto middle = store->traceShotForIndex(1)->id;
  alerts->answers = {false, true};
  panel->validateMenuForRow(1);
  panel->menuItemWithTag(40)->trigger();
  settle();
  ASSERT_EQ(alerts->confirmations.size(), 1u);
  EXPECT_EQ(alerts->confirmations[0].first, "Trace shot deletion");
  EXPECT_EQ(alerts->confirmations[0].second, "Do You want to delete this trace?");
  EXPECT_EQ(store->allTraceShots().count(), 3u);
  EXPECT_EQ(selectedId(), middle);
  EXPECT_EQ(panel->selectedRow(), 1);

  panel->validateMenuForRow(1);
  panel->menuItemWithTag(40)->trigger();
  settle();
  EXPECT_EQ(store->allTraceShots().count(), 2u);
  for (const auto& shot : store->allTraceShots()) EXPECT_NE(shot->id, middle);
  expectRowsShowTheStore();
}

TEST_F(TraceManagerViewControllerTest, DeletionAfterTheListMovedDeletesTheTraceAskedAbout) {
  capturedTraces(2);
  makePanel();
  const auto asked = store->traceShotForIndex(1)->id;
  panel->validateMenuForRow(1);
  // Another capture lands while the menu is open, pushing the trace one row down.
  capture(*store, "while the menu was open");
  panel->menuItemWithTag(40)->trigger();
  settle();
  ASSERT_EQ(store->allTraceShots().count(), 2u);
  for (const auto& shot : store->allTraceShots()) EXPECT_NE(shot->id, asked);
}

TEST_F(TraceManagerViewControllerTest, ClicksSelectInTheStoreAndEmptySpaceClearsIt) {
  capturedTraces(3);
  makePanel();
  // A click on a row's date line falls through to the list.
  click(cell(2), QPoint(60, 40));
  settle();
  EXPECT_EQ(selectedId(), store->traceShotForIndex(2)->id);
  click(cell(0)->primaryLabel(), QPoint(5, 5));
  settle();
  EXPECT_EQ(selectedId(), store->traceShotForIndex(0)->id);
  click(panel->tableView()->viewport(), QPoint(100, 3 * 48 + 30));
  settle();
  EXPECT_EQ(selectedId(), 0);
  EXPECT_EQ(panel->selectedRow(), -1);
}

TEST_F(TraceManagerViewControllerTest, TheListShowsTheStoresSelection) {
  capturedTraces(3);
  store->setSelectedForIndex(true, 2);
  makePanel();
  EXPECT_EQ(panel->selectedRow(), 2);
  // The main window deletes the selected trace; no selection is left behind.
  store->deleteAllSelected();
  settle();
  EXPECT_EQ(panel->selectedRow(), -1);
  store->setSelectedForIndex(true, 0);
  settle();
  EXPECT_EQ(panel->selectedRow(), 0);
  // Closing the panel leaves the store's selection alone.
  panel.reset();
  EXPECT_EQ(selectedId(), store->traceShotForIndex(0)->id);
}

TEST_F(TraceManagerViewControllerTest, HeaderLabelsFollowTheSettingsWhileShown) {
  settings->setSmoothingFactor(1);
  settings->setAveraging(100);
  makePanel();
  EXPECT_EQ(panel->smoothingLabel()->text(), "1 oct");
  // In words at the display's rate: index 100 weighs each 1/30 s update 10 %, a time
  // constant of (1/30) / -ln(0.9) = 0.32 s.
  EXPECT_EQ(panel->averagingLabel()->text(), "Fast (\u2248 0.3 s)");
  settings->setSmoothingFactor(24);
  settings->setAveraging(7);
  EXPECT_EQ(panel->smoothingLabel()->text(), "1/24");
  EXPECT_EQ(panel->averagingLabel()->text(), "Index 7 (\u2248 5 s)");
  // Half the display rate averages over twice as long.
  panel->setDisplayInterval(1.0 / 15.0);
  EXPECT_EQ(panel->averagingLabel()->text(), "Index 7 (\u2248 9 s)");
  panel->hide();
  settings->setSmoothingFactor(12);
  EXPECT_EQ(panel->smoothingLabel()->text(), "1/24");  // not observed while hidden
  panel->show();
  EXPECT_EQ(panel->smoothingLabel()->text(), "1/12");
}

TEST_F(TraceManagerViewControllerTest, TheCaptureButtonRunsTheCaptureCommand) {
  makePanel();
  int captures = 0;
  panel->setCaptureCallback([&] {
    ++captures;
    capture(*store, "TF");
  });
  panel->captureButton()->click();
  settle();
  EXPECT_EQ(captures, 1);
  ASSERT_EQ(panel->model()->rowCount(), 1);
}

}  // namespace
}  // namespace qv::guitest
