#include <gtest/gtest.h>
#include <sqlite3.h>

#include "TracePanelTestSupport.h"
#include "gui/traces/TraceListModel.h"

namespace qv::guitest {
namespace {

using test::capture;

// The model's rows must always be the store's list, reached only through change sets.
class TraceListModelTest : public TraceStoreFixture {
 protected:
  void SetUp() override {
    model = std::make_unique<gui::TraceListModel>(*store);
    QObject::connect(model.get(), &QAbstractItemModel::modelReset, [this] { ++resets; });
    QObject::connect(
        model.get(), &QAbstractItemModel::rowsInserted,
        [this](const QModelIndex&, int first, int last) { inserted.emplace_back(first, last); });
    QObject::connect(
        model.get(), &QAbstractItemModel::rowsRemoved,
        [this](const QModelIndex&, int first, int last) { removed.emplace_back(first, last); });
  }

  std::vector<std::int64_t> modelIds() const {
    std::vector<std::int64_t> ids;
    for (int row = 0; row < model->rowCount(); ++row) ids.push_back(model->shotAt(row)->id);
    return ids;
  }
  void expectMirrorsStore() {
    ASSERT_EQ(modelIds(), storeIds());
    for (int row = 0; row < model->rowCount(); ++row) {
      EXPECT_EQ(*model->shotAt(row), store->allTraceShots()[static_cast<std::size_t>(row)]);
    }
  }

  test::LogCapture log;
  std::unique_ptr<gui::TraceListModel> model;
  int resets = 0;
  std::vector<std::pair<int, int>> inserted;
  std::vector<std::pair<int, int>> removed;
};

TEST_F(TraceListModelTest, FirstNotificationAppliesNothing) {
  // A model made over a filled store shows the rows at once; the first delivery, which
  // carries no change set, must not add them a second time.
  model.reset();
  capture(*store, "a");
  capture(*store, "b");
  SetUp();
  EXPECT_EQ(model->rowCount(), 2);
  settle();
  EXPECT_EQ(model->rowCount(), 2);
  EXPECT_TRUE(inserted.empty());
  EXPECT_EQ(resets, 0);
  // Even a first call carrying another list leaves the rows alone.
  model->applyNotification(TraceShotResults(), std::nullopt, std::nullopt);
  EXPECT_EQ(model->rowCount(), 2);
}

TEST_F(TraceListModelTest, AMixOfOperationsIsMirroredRowByRow) {
  for (int i = 0; i < 6; ++i) capture(*store, test::nameOf(i));
  settle();
  expectMirrorsStore();
  store->setNameForIndex("renamed", 2);
  store->toggleVisibilityForIndex(4);
  store->setSelectedForIndex(true, 1);
  store->deleteShotAtIndex(3);
  capture(*store, "late");
  store->setSelectedForIndex(true, 5);
  store->deleteAllSelected();
  store->setVisibilityForAllTraces(false);
  capture(*store, "later");
  store->deleteShotAtIndex(0);
  store->deleteShotAtIndex(2);
  settle();
  expectMirrorsStore();
  EXPECT_EQ(resets, 0);
  EXPECT_EQ(model->data(model->index(model->rowForId(store->traceShotForIndex(0)->id))).toString(),
            QString::fromStdString(*store->traceShotForIndex(0)->name));
}

TEST_F(TraceListModelTest, ScatteredDeletionsAndInsertionsInOneChangeSetLandRowByRow) {
  for (int i = 0; i < 6; ++i) capture(*store, test::nameOf(i));
  settle();
  const TraceShotResults before = store->allTraceShots();
  auto fresh = [](std::int64_t id, const char* name) {
    auto shot = std::make_shared<TraceShot>();
    shot->id = id;
    shot->name = name;
    shot->dateCreated = TraceDate(std::chrono::microseconds(id));
    return TraceShotRef(shot);
  };
  auto renamed = std::make_shared<TraceShot>(before[5]);
  renamed->name = "renamed";
  // Rows 1, 3 and 4 go; two traces arrive at rows 0 and 2; the last one is renamed.
  const TraceShotResults after(
      {fresh(100, "x"), before.at(0), fresh(101, "y"), before.at(2), TraceShotRef(renamed)});
  const TraceChangeSet changes = TraceChangeSet::between(before, after);
  ASSERT_EQ(changes, (TraceChangeSet{{1, 3, 4}, {0, 2}, {4}}));
  inserted.clear();
  model->applyNotification(after, changes, std::nullopt);
  EXPECT_EQ(resets, 0);
  EXPECT_EQ(removed, (std::vector<std::pair<int, int>>{{3, 4}, {1, 1}}));
  EXPECT_EQ(inserted, (std::vector<std::pair<int, int>>{{0, 0}, {2, 2}}));
  ASSERT_EQ(model->rowCount(), 5);
  for (int row = 0; row < 5; ++row) EXPECT_EQ(model->shotAt(row), after.at(row));
}

TEST_F(TraceListModelTest, ModifiedRowsAreAnnouncedWithTheirNewValues) {
  for (int i = 0; i < 3; ++i) capture(*store, test::nameOf(i));
  settle();
  std::vector<int> changedRows;
  QObject::connect(model.get(), &QAbstractItemModel::dataChanged,
                   [&](const QModelIndex& top, const QModelIndex& bottom) {
                     for (int r = top.row(); r <= bottom.row(); ++r) {
                       changedRows.push_back(r);
                       // The new values are in place when the view hears of them.
                       EXPECT_EQ(*model->shotAt(r), store->allTraceShots()[r]);
                     }
                   });
  store->toggleVisibilityForIndex(2);
  store->setNameForIndex("", 0);
  settle();
  EXPECT_EQ(changedRows, (std::vector<int>{2, 0}));
  EXPECT_FALSE(model->shotAt(2)->visible);
}

TEST_F(TraceListModelTest, AnErrorIsLoggedAndTheRowsStay) {
  capture(*store, "a");
  settle();
  {
    // Another program wrecks the table; the store cannot read its list any more.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(store->databasePath().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "DROP TABLE TraceShot", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  store->refresh();
  settle();
  EXPECT_TRUE(log.contains("Error while receiving Realm change notification: no such table"));
  EXPECT_EQ(model->rowCount(), 1);
  EXPECT_EQ(model->data(model->index(0)).toString(), "a");
}

TEST_F(TraceListModelTest, AChangeSetThatDoesNotFitReloadsTheTruth) {
  capture(*store, "a");
  settle();
  const TraceShotResults truth = store->allTraceShots();
  model->applyNotification(truth, TraceChangeSet{{4}, {}, {}}, std::nullopt);
  EXPECT_EQ(resets, 1);
  expectMirrorsStore();
}

}  // namespace
}  // namespace qv::guitest
