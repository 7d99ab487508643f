// The measurement view's menu items (by tag), their validation, the smoothing combo box
// and the single-key shortcuts.
// Core headers before Qt's (see support/MainViewFixture.h).
// clang-format off
#include "engine/TransferFunctionModel.h"
#include "support/MainViewFixture.h"
#include "gui/display/QVPlotController.h"
#include "gui/display/QVPlotViewController.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <set>
// clang-format on

namespace qv::gui::test {
namespace {

class MenuTest : public MainViewFixture {
 protected:
  QAction* item(int tag) {
    QAction* a = view_->actionForTag(tag);
    EXPECT_NE(a, nullptr) << "no item with tag " << tag;
    return a;
  }
  QAction* validated(int tag) {
    QAction* a = item(tag);
    view_->validateMenuItem(a);
    return a;
  }
  std::set<int> tags() {
    std::set<int> all;
    for (QMenu* menu : view_->menus())
      for (QAction* a : menu->actions())
        if (!a->isSeparator() && a->data().toInt() != 0) all.insert(a->data().toInt());
    return all;
  }
};

TEST_F(MenuTest, EveryTaggedItemIsOffered) {
  makeView();
  const std::set<int> expected{1000, 1100, 1200, 4003, 5001, 5002, 5003, 5006, 5012,
                               5024, 5048, 5096, 6000, 6100, 7001, 7002, 7005, 7010,
                               7020, 7050, 7100, 7200, 7500, 8000, 8001};
  EXPECT_EQ(tags(), expected);
}

TEST_F(MenuTest, StartItemIsTitledAfterTheRememberedRunningState) {
  makeView();
  settings().setRunningOnStart(true);
  EXPECT_EQ(validated(1000)->text(), "Pause");
  settings().setRunningOnStart(false);
  EXPECT_EQ(validated(1000)->text(), "Start");
  EXPECT_FALSE(validated(1000)->isChecked());
  EXPECT_TRUE(validated(1000)->isEnabled());
}

TEST_F(MenuTest, ToggleItemsAreTickedFromTheSettings) {
  makeView();
  const std::vector<std::pair<int, void (AppSettings::*)(bool)>> toggles{
      {1100, &AppSettings::setGeneratorOn},
      {1200, &AppSettings::setAutoDelayOn},
      {6000, &AppSettings::setShowImpulseView},
      {6100, &AppSettings::setShowTraceManager}};
  for (auto [tag, set] : toggles) {
    (settings().*set)(true);
    EXPECT_TRUE(validated(tag)->isChecked()) << tag;
    (settings().*set)(false);
    EXPECT_FALSE(validated(tag)->isChecked()) << tag;
    EXPECT_TRUE(validated(tag)->isEnabled()) << tag;
  }
}

TEST_F(MenuTest, DeleteSelectedIsEnabledOnlyWithSelectedTraces) {
  storeTrace("a");
  makeView();
  EXPECT_FALSE(validated(4003)->isEnabled());
  EXPECT_FALSE(view_->outlets().deleteButton->isEnabled());
  traces().setSelectedForIndex(true, 0);
  EXPECT_TRUE(validated(4003)->isEnabled());
  EXPECT_FALSE(validated(4003)->isChecked());
  // The button follows the store without a menu being opened.
  EXPECT_TRUE(guitest::processEventsUntil(
      [&] { return view_->outlets().deleteButton->isEnabled(); }, 2000));
  item(4003)->trigger();
  EXPECT_TRUE(traces().allTraceShots().empty());
}

TEST_F(MenuTest, SmoothingItemsAreTitledAndTickedByTheirDenominator) {
  settings().setSmoothingFactor(12);
  makeView();
  EXPECT_EQ(validated(5001)->text(), "1");
  EXPECT_EQ(validated(5012)->text(), "1/12");
  EXPECT_EQ(validated(5096)->text(), "1/96");
  EXPECT_TRUE(validated(5012)->isChecked());
  EXPECT_FALSE(validated(5024)->isChecked());
}

TEST_F(MenuTest, ASmoothingItemSetsPlotsSettingsReadoutAndCombo) {
  auto& view = makeView();
  item(5003)->trigger();
  EXPECT_EQ(settings().smoothingFactor(), 3);
  EXPECT_EQ(view.plotController()->smoothing(), 3);
  EXPECT_EQ(view.outlets().smoothingLabel->text(), "1/3");
  EXPECT_EQ(view.outlets().smoothingCombo->currentText(), "1/3");
  view.onSmoothingMenu(5005);  // not in the catalogue
  view.onSmoothingMenu(5000);
  EXPECT_EQ(settings().smoothingFactor(), 3);
  EXPECT_EQ(view.plotController()->smoothing(), 3);
}

TEST_F(MenuTest, TheComboBoxSetsTheChosenSmoothing) {
  auto& view = makeView();
  QComboBox* combo = view.outlets().smoothingCombo;
  ASSERT_EQ(combo->count(), 8);
  EXPECT_EQ(combo->itemText(0), "1 oct");
  combo->setFocus();
  emit combo->activated(combo->findText("1/48"));
  EXPECT_EQ(settings().smoothingFactor(), 48);
  EXPECT_EQ(view.plotController()->smoothing(), 48);
  EXPECT_EQ(view.outlets().smoothingLabel->text(), "1/48");
  EXPECT_FALSE(combo->hasFocus());
}

TEST_F(MenuTest, AveragingItemsSetTheModelAndSettingsAndResetLeavesSettingsAlone) {
  auto& view = makeView();
  auto model = view.plotController()->tfModel();
  settings().setAveraging(100);
  EXPECT_TRUE(validated(7100)->isChecked());
  EXPECT_FALSE(validated(7050)->isChecked());
  item(7050)->trigger();
  EXPECT_EQ(settings().averaging(), 50);
  EXPECT_EQ(model->averagingIndex(), 50.0f);
  item(7100)->trigger();
  EXPECT_EQ(model->averagingIndex(), 100.0f);
  item(8001)->trigger();
  EXPECT_EQ(settings().averaging(), 100);
  EXPECT_EQ(model->averagingIndex(), 100.0f);
  view.onAveragingMenu(7000);  // K = 0 and K = 1001 are out of range
  view.onAveragingMenu(8002);
  EXPECT_EQ(settings().averaging(), 100);
  view.onAveragingMenu(8000);
  EXPECT_EQ(settings().averaging(), 1000);
}

TEST_F(MenuTest, TheImpulseItemShowsAndHidesTheImpulsePlot) {
  auto& view = makeView();
  item(6000)->trigger();
  EXPECT_TRUE(view.plotViewController()->showImpulsePlot());
  EXPECT_TRUE(settings().showImpulseView());
  EXPECT_TRUE(item(6000)->isChecked());
  item(6000)->trigger();
  EXPECT_FALSE(view.plotViewController()->showImpulsePlot());
  EXPECT_FALSE(settings().showImpulseView());
}

TEST_F(MenuTest, TheTraceManagerItemAsksTheShellAndUntaggedItemsStayPlain) {
  makeView();
  int toggles = 0;
  view_->setToggleTraceManagerCallback([&] { ++toggles; });
  item(6100)->trigger();
  EXPECT_EQ(toggles, 1);
  view_->validateMenuItem(view_->clearAllAction());
  EXPECT_FALSE(view_->clearAllAction()->isChecked());
  EXPECT_TRUE(view_->clearAllAction()->isEnabled());
}

class ShortcutTest : public MenuTest {
 protected:
  QVMainViewController& shownView() {
    useVirtualDevices();
    auto& view = makeView();
    view.show();
    QApplication::setActiveWindow(&view);
    EXPECT_TRUE(guitest::processEventsUntil([&] { return view.isActiveWindow(); }, 2000));
    return view;
  }
};

TEST_F(ShortcutTest, SpaceStartsAndPauses) {
  settings().setAutoDelayOn(false);
  auto& view = shownView();
  typeKey(&view, Qt::Key_Space, " ");
  EXPECT_TRUE(view.started());
  typeKey(&view, Qt::Key_Space, " ");
  EXPECT_FALSE(view.started());
  EXPECT_FALSE(settings().runningOnStart());
}

TEST_F(ShortcutTest, CCapturesAndDeleteDeletesTheSelection) {
  auto& view = shownView();
  typeKey(&view, Qt::Key_C, "c");
  ASSERT_TRUE(
      guitest::processEventsUntil([] { return traces().allTraceShots().count() == 1; }, 5000));
  traces().setSelectedForIndex(true, 0);
  guitest::processEventsFor(20);
  typeKey(&view, Qt::Key_Delete);
  EXPECT_TRUE(traces().allTraceShots().empty());
}

TEST_F(ShortcutTest, KeysTypedIntoTheDelayFieldStayThere) {
  settings().setAutoDelayOn(false);
  auto& view = shownView();
  QLineEdit* field = view.outlets().delayTextField;
  field->setFocus();
  ASSERT_TRUE(guitest::processEventsUntil([&] { return field->hasFocus(); }, 2000));
  field->setText("12");
  field->setCursorPosition(0);
  typeKey(&view, Qt::Key_C, "c");
  typeKey(&view, Qt::Key_Space, " ");
  typeKey(&view, Qt::Key_Delete);
  guitest::processEventsFor(50);
  EXPECT_EQ(field->text(), "2") << "Delete edited the field";
  EXPECT_TRUE(traces().allTraceShots().empty());
  EXPECT_FALSE(view.started());
}

TEST_F(ShortcutTest, TheCaptureActionIsWhatThePanelButtonTriggers) {
  auto& view = makeView();
  view.captureAction()->trigger();
  ASSERT_TRUE(
      guitest::processEventsUntil([] { return traces().allTraceShots().count() == 1; }, 5000));
  EXPECT_EQ(traces().allTraceShots()[0].name.value_or(""), "TF");
}

}  // namespace
}  // namespace qv::gui::test
