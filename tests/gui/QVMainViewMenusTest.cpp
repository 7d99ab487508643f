// The measurement view's menu items (by tag), their validation, the smoothing combo box
// and the single-key shortcuts.
// clang-format off
#include "engine/AveragingChoice.h"
#include "engine/TransferFunctionModel.h"
#include "support/MainViewFixture.h"
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
  QAction* validated(int tag) {
    QAction* item = view_->actionForTag(tag);
    if (item) view_->validateMenuItem(item);
    return item;
  }
};

TEST_F(MenuTest, ItemsAreTitledTickedAndEnabledFromSettingsAndStore) {
  settings().setSmoothingFactor(12);
  settings().setAveraging(100);
  storeTrace();
  makeView();
  settings().setRunningOnStart(true);
  EXPECT_EQ(validated(1000)->text(), "Pause");
  settings().setRunningOnStart(false);
  EXPECT_EQ(validated(1000)->text(), "Start");
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
  }
  EXPECT_EQ(validated(5001)->text(), "1");
  EXPECT_EQ(validated(5012)->text(), "1/12");
  EXPECT_TRUE(validated(5012)->isChecked());
  EXPECT_FALSE(validated(5024)->isChecked());
  EXPECT_TRUE(validated(7100)->isChecked());
  EXPECT_FALSE(validated(7050)->isChecked());
  // Averaging choices read by what they do at the display's own tick rate, not as indices.
  const double tick = view_->session().displayInterval();
  EXPECT_EQ(validated(7100)->text().toStdString(), AveragingChoice::label(100, tick));
  EXPECT_TRUE(validated(7001)->toolTip().contains("time constant of"));
  EXPECT_FALSE(validated(4003)->isEnabled());
  EXPECT_FALSE(view_->outlets().deleteButton->isEnabled());
  traces().setSelectedForIndex(true, 0);
  EXPECT_TRUE(validated(4003)->isEnabled());
  EXPECT_TRUE(
      guitest::processEventsUntil([&] { return view_->outlets().deleteButton->isEnabled(); }, 2000))
      << "the button follows the store without a menu being opened";
}

TEST_F(MenuTest, SmoothingFromMenuOrComboReachesPlotsSettingsAndReadouts) {
  auto& view = makeView();
  view.actionForTag(5003)->trigger();
  EXPECT_EQ(settings().smoothingFactor(), 3);
  EXPECT_EQ(view.plotController()->smoothing(), 3);
  EXPECT_EQ(view.outlets().smoothingLabel->text(), "1/3");
  EXPECT_EQ(view.outlets().smoothingCombo->currentText(), "1/3");
  view.onSmoothingMenu(5005);  // not in the catalogue
  EXPECT_EQ(settings().smoothingFactor(), 3);
  QComboBox* combo = view.outlets().smoothingCombo;
  EXPECT_EQ(combo->itemText(0), "1 oct");
  combo->setFocus();
  emit combo->activated(combo->findText("1/48"));
  EXPECT_EQ(settings().smoothingFactor(), 48);
  EXPECT_EQ(view.plotController()->smoothing(), 48);
  EXPECT_FALSE(combo->hasFocus()) << "Space must start and pause again";
}

TEST_F(MenuTest, AveragingSetsModelAndSettingsAndResetLeavesSettingsAlone) {
  auto& view = makeView();
  TransferFunctionModel& model = view.session().model();
  view.actionForTag(7050)->trigger();
  EXPECT_EQ(settings().averaging(), 50);
  view.actionForTag(7100)->trigger();
  EXPECT_EQ(model.averagingIndex(), 100.0f);
  view.actionForTag(8001)->trigger();
  view.onAveragingMenu(7000);  // K = 0 and K = 1001 are out of range
  view.onAveragingMenu(8002);
  EXPECT_EQ(settings().averaging(), 100);
  EXPECT_EQ(model.averagingIndex(), 100.0f);
}

TEST_F(MenuTest, ImpulseAndTraceManagerItems) {
  auto& view = makeView();
  view.actionForTag(6000)->trigger();
  EXPECT_TRUE(view.plotViewController()->showImpulsePlot());
  EXPECT_TRUE(settings().showImpulseView());
  EXPECT_TRUE(view.actionForTag(6000)->isChecked());
  int toggles = 0;
  view.setToggleTraceManagerCallback([&] { ++toggles; });
  view.actionForTag(6100)->trigger();
  EXPECT_EQ(toggles, 1);
}

class ShortcutTest : public MainViewFixture {
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

// With automatic delay off the delay field is enabled; it must not take the keys.
TEST_F(ShortcutTest, SpaceStartsAndPausesCCapturesDeleteDeletes) {
  settings().setAutoDelayOn(false);
  auto& view = shownView();
  typeKey(&view, Qt::Key_Space, " ");
  EXPECT_TRUE(view.started());
  typeKey(&view, Qt::Key_Space, " ");
  EXPECT_FALSE(view.started());
  typeKey(&view, Qt::Key_C, "c");
  ASSERT_TRUE(tracesBecome(1));
  traces().setSelectedForIndex(true, 0);
  guitest::processEventsFor(20);
  typeKey(&view, Qt::Key_Delete);
  EXPECT_TRUE(tracesBecome(0));
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

}  // namespace
}  // namespace qv::gui::test
