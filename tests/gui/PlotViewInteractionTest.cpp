// Pan, zoom, double-click and the cursor, driven by synthesised input events; and the
// coalescing of repaint requests.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QWheelEvent>

#include "gui/plot/PlotView.h"
#include "support/GuiTestSupport.h"
#include "support/PlotViewTestSupport.h"

using namespace qv::guitest;
using qv::gui::PlotRange;
using qv::gui::PlotView;

namespace {

class PlotViewInteractionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // x 0..100 of which 20..60 shows; y -100..100 of which -50..50 shows.
    view->setVisibleRangeMinXMaxXMinYMaxY(20, 60, -50, 50);
    view->setDelegate(&delegate);
    view->addCursor();
  }

  void mouse(QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent event(type, at, view->mapToGlobal(at), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(view.get(), &event);
  }
  void press(QPointF at) { mouse(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton); }
  void dragTo(QPointF at) { mouse(QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton); }
  void hover(QPointF at) { mouse(QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton); }
  void release(QPointF at) { mouse(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton); }
  void wheel(QPointF at, int notches, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWheelEvent event(at, view->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                      modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.get(), &event);
  }

  std::unique_ptr<PlotView> view = makeBareView(400, 200);
  RecordingDelegate delegate;
};

TEST_F(PlotViewInteractionTest, DragPansBothAxesAndTellsTheDelegate) {
  press({200, 100});
  dragTo({300, 60});  // a quarter of the width right, a fifth of the height up
  EXPECT_EQ(view->visibleRangeX(), (PlotRange{10, 50}));
  EXPECT_EQ(view->visibleRangeY(), (PlotRange{-70, 30}));
  EXPECT_EQ(delegate.panned, 1);
  release({300, 60});
  // A drag is not cursor movement.
  EXPECT_TRUE(delegate.moved.empty());
}

TEST_F(PlotViewInteractionTest, PanStopsAtTheFullRangeKeepingItsSize) {
  press({200, 100});
  dragTo({2000, -900});
  EXPECT_EQ(view->visibleRangeX(), (PlotRange{0, 40}));
  EXPECT_EQ(view->visibleRangeY(), (PlotRange{-100, 0}));
  const int panned = delegate.panned;
  dragTo({2100, -1000});  // already at the limit: nothing moves, nothing is reported
  EXPECT_EQ(delegate.panned, panned);
  release({2100, -1000});
}

TEST_F(PlotViewInteractionTest, SmallJitterOfAClickDoesNotPan) {
  press({200, 100});
  dragTo({201, 101});
  release({201, 101});
  EXPECT_EQ(view->visibleRangeX(), (PlotRange{20, 60}));
  EXPECT_EQ(delegate.panned, 0);
}

TEST_F(PlotViewInteractionTest, WheelZoomsVerticallyAroundThePointer) {
  const QPointF at(100, 50);  // x 30, y 25
  const QPointF before = view->valueForWidgetPoint(at);
  wheel(at, 1);
  EXPECT_EQ(view->visibleRangeX(), (PlotRange{20, 60}));
  const PlotRange y = view->visibleRangeY();
  EXPECT_LT(y.max - y.min, 100.0);
  const QPointF after = view->valueForWidgetPoint(at);
  EXPECT_NEAR(after.y(), before.y(), 1e-9);
  ASSERT_EQ(delegate.zooms.size(), 1u);
  EXPECT_FALSE(delegate.zooms[0]);
}

TEST_F(PlotViewInteractionTest, ShiftWheelZoomsHorizontallyAroundThePointer) {
  const QPointF at(100, 50);
  const double x = view->valueForWidgetPoint(at).x();
  wheel(at, 2, Qt::ShiftModifier);
  EXPECT_EQ(view->visibleRangeY(), (PlotRange{-50, 50}));
  const PlotRange r = view->visibleRangeX();
  EXPECT_LT(r.max - r.min, 40.0);
  EXPECT_NEAR(view->valueForWidgetPoint(at).x(), x, 1e-9);
  ASSERT_EQ(delegate.zooms.size(), 1u);
  EXPECT_TRUE(delegate.zooms[0]);
}

TEST_F(PlotViewInteractionTest, ZoomingOutEndsAtTheFullRange) {
  for (int i = 0; i < 30; ++i) wheel({380, 20}, -1, Qt::ShiftModifier);
  for (int i = 0; i < 30; ++i) wheel({380, 20}, -1);
  EXPECT_EQ(view->visibleRangeX(), (PlotRange{0, 100}));
  EXPECT_EQ(view->visibleRangeY(), (PlotRange{-100, 100}));
  // Zooming in as far as it goes still leaves a range to look at.
  for (int i = 0; i < 200; ++i) wheel({200, 100}, 1);
  const PlotRange y = view->visibleRangeY();
  EXPECT_GT(y.max - y.min, 0.0);
  EXPECT_GE(y.min, -100.0);
}

TEST_F(PlotViewInteractionTest, DoubleClickReturnsToTheFirstVisibleRange) {
  view->setVisibleRangeMinXMaxXMinYMaxY(40, 50, -10, 10);  // later ranges are not the start
  wheel({200, 100}, 3);
  press({200, 100});
  dragTo({250, 120});
  release({250, 120});
  mouse(QEvent::MouseButtonDblClick, {200, 100}, Qt::LeftButton, Qt::LeftButton);
  EXPECT_EQ(view->visibleRangeX(), (PlotRange{20, 60}));
  EXPECT_EQ(view->visibleRangeY(), (PlotRange{-50, 50}));
  EXPECT_FALSE(delegate.zooms.empty());
}

TEST_F(PlotViewInteractionTest, VisibleRangeIsClampedToTheFullRange) {
  view->setVisibleRangeMinXMaxXMinYMaxY(-50, 80, 90, 300);
  EXPECT_EQ(view->visibleRangeX(), (PlotRange{0, 80}));
  EXPECT_EQ(view->visibleRangeY(), (PlotRange{90, 100}));
  view->setRangeMinXMaxXMinYMaxY(10, 70, -100, 100);
  EXPECT_EQ(view->visibleRangeX(), (PlotRange{10, 70}));
}

TEST_F(PlotViewInteractionTest, CrossHairGoesWhereTheDelegateSnapsIt) {
  view->setCursorColor(QColor(255, 255, 0));
  view->setCursorThickness(1.0);
  const QPointF pointer(139, 77);  // x 33.9
  hover(pointer);
  ASSERT_EQ(delegate.moved.size(), 1u);
  EXPECT_NEAR(delegate.moved[0].x(), view->valueForWidgetPoint(pointer).x(), 1e-9);
  EXPECT_EQ(view->cursorPosition(), QPointF(30, 25));  // RecordingDelegate::snap

  const QImage image = view->renderImage();
  const QPointF drawn = view->widgetPointForValue({30, 25});  // (100, 50)
  const int column = static_cast<int>(drawn.x());
  const int row = static_cast<int>(drawn.y());
  EXPECT_EQ(image.pixel(column, 150), qRgb(255, 255, 0));
  EXPECT_EQ(image.pixel(300, row), qRgb(255, 255, 0));
  // Thin: one pixel each way, and nothing where the pointer itself was.
  EXPECT_EQ(countLit(image, column - 3, column - 1, 150, 150), 0);
  EXPECT_EQ(countLit(image, column + 1, column + 3, 150, 150), 0);
  EXPECT_EQ(countLit(image, 139, 139, 150, 150), 0);
}

TEST_F(PlotViewInteractionTest, PressAndReleaseReportTrackingOnce) {
  press({100, 100});
  dragTo({150, 100});
  dragTo({160, 100});
  release({160, 100});
  ASSERT_EQ(delegate.started.size(), 1u);
  ASSERT_EQ(delegate.finished.size(), 1u);
  EXPECT_NEAR(delegate.started[0].x(), 30.0, 1e-9);
  // A double-click's second press starts no tracking of its own.
  mouse(QEvent::MouseButtonDblClick, {100, 100}, Qt::LeftButton, Qt::LeftButton);
  release({100, 100});
  EXPECT_EQ(delegate.started.size(), 1u);
  EXPECT_EQ(delegate.finished.size(), 1u);
}

TEST_F(PlotViewInteractionTest, CursorSetFromCodeIsDrawn) {
  EXPECT_FALSE(view->isCursorShown());
  view->setCursorPosition({80, -75});  // outside the visible range: nothing drawn
  EXPECT_TRUE(view->isCursorShown());
  EXPECT_EQ(countLit(view->renderImage(), 0, 399, 0, 199), 0);
  view->setCursorPosition({50, 0});
  const QImage image = view->renderImage();
  EXPECT_GT(brightness(image.pixel(300, 100)), 200);
  EXPECT_GT(brightness(image.pixel(300, 10)), 200);
}

TEST_F(PlotViewInteractionTest, ManyRepaintRequestsMakeOnePaint) {
  view->show();
  ASSERT_TRUE(processEventsUntil([&] { return view->paintCount() > 0; }, 5000));
  processEventsFor(100);  // let the first show settle
  const uint64_t before = view->paintCount();
  for (int i = 0; i < 1000; ++i) {
    view->update(false);
    view->update();
    view->setNeedsDisplay(true);
  }
  ASSERT_TRUE(processEventsUntil([&] { return view->paintCount() > before; }, 5000));
  processEventsFor(100);
  EXPECT_EQ(view->paintCount(), before + 1);
}

}  // namespace
