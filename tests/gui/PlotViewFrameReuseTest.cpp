// Frames that reuse what earlier frames drew (the kept layer of backgrounds, grid and
// steady charts; painting straight into the window) show exactly what a new view shows.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>
#include <cmath>
#include <functional>
#include <vector>

#include "gui/plot/PlotView.h"
#include "support/GuiTestSupport.h"
#include "support/PlotViewTestSupport.h"

using namespace qv::guitest;
using qv::gui::PlotView;

namespace {

constexpr int kPoints = 300;

std::vector<float> wave(double phase, double amplitude) {
  std::vector<float> v(kPoints);
  for (int i = 0; i < kPoints; ++i)
    v[i] = static_cast<float>(amplitude * std::sin(i * 0.05 + phase));
  return v;
}

// A grid, a captured trace and a zero line at the bottom, a live curve on top, labels
// inside the chart area on two sides and a cursor.
struct Scene {
  explicit Scene(int frames) {
    view->setGridStepX(10);
    view->setGridStepY(25);
    view->setGridColor(QColor(128, 128, 128));
    view->setScalesOverlaid(true);
    view->setScaleSideVisible(qv::gui::PlotSideLeft, true);
    view->setScaleSideVisible(qv::gui::PlotSideBottom, true);
    view->setLabelsForSide({"0", "10", "20", "30", "40", "50", "60", "70", "80", "90", "100"},
                           qv::gui::PlotSideBottom);
    view->addCursor();
    view->setCursorPosition({30, 20});
    trace = view->addLineChartWithName("trace", span(kPoints), 1.0f, kBlue);
    view->addLineChartWithName("zero", span(2), 10.0f, {1.0f, 1.0f, 1.0f, 0.15f});
    live = view->addLineChartWithName("live", span(kPoints), 2.0f, kWhite);
    setData(trace, wave(1.0, 40.0));
    for (int f = 0; f < frames; ++f) {
      setData(live, wave(0.3 * f, 70.0));
      (void)view->renderImage();
    }
  }
  void setData(const std::shared_ptr<qv::plot::Chart>& chart, const std::vector<float>& v) {
    view->setDataOfLengthForChart(v.data(), static_cast<int32_t>(v.size()), chart.get());
  }

  std::unique_ptr<PlotView> view = makeBareView(300, 160);
  std::shared_ptr<qv::plot::Chart> trace;
  std::shared_ptr<qv::plot::Chart> live;
};

struct Change {
  const char* name;
  std::function<void(Scene&)> apply;
};

void PrintTo(const Change& change, std::ostream* os) { *os << change.name; }

class PlotViewFrameReuseTest : public ::testing::TestWithParam<Change> {};

TEST_P(PlotViewFrameReuseTest, LongRunningViewDrawsWhatANewViewDraws) {
  Scene steady(8);  // the trace and the zero line have long been kept
  Scene fresh(1);
  for (Scene* s : {&steady, &fresh}) {
    GetParam().apply(*s);
    s->setData(s->live, wave(5.0, 70.0));
  }
  (void)fresh.view->renderImage();  // one frame in, as the steady view's next frame
  const QImage expected = fresh.view->renderImage();
  EXPECT_EQ(steady.view->renderImage(), expected);
  EXPECT_EQ(steady.view->renderImage(), expected) << "and the frame after";
}

INSTANTIATE_TEST_SUITE_P(
    Changes, PlotViewFrameReuseTest,
    ::testing::Values(
        Change{"Nothing", [](Scene&) {}},
        Change{"TraceData", [](Scene& s) { s.setData(s.trace, wave(2.5, 20.0)); }},
        Change{"TraceColour", [](Scene& s) { s.trace->setColor(255, 0, 0, 255); }},
        Change{"TraceDeleted", [](Scene& s) { s.view->deleteChartsWithID("trace"); }},
        Change{"TraceOnTop", [](Scene& s) { s.trace->MoveToTop(); }},
        Change{"LiveStoodStill",  // joins the kept layer, then moves again
               [](Scene& s) {
                 for (int f = 0; f < 6; ++f) (void)s.view->renderImage();
               }},
        Change{"NewTrace",
               [](Scene& s) {
                 auto t = s.view->addLineChartWithName("new", span(kPoints), 1.0f, kGreen);
                 s.setData(t, wave(0.0, 90.0));
               }},
        Change{"CursorMoved",
               [](Scene& s) {
                 s.view->setCursorPosition({70, -45});
               }},
        Change{"Panned",
               [](Scene& s) { s.view->setVisibleRangeMinXMaxXMinYMaxY(20, 80, -60, 90); }},
        Change{"GridColour", [](Scene& s) { s.view->setGridColor(QColor(200, 40, 40)); }},
        Change{"GridStep", [](Scene& s) { s.view->setGridStepY(10); }},
        Change{"Resized", [](Scene& s) { s.view->resize(280, 170); }}),
    [](const ::testing::TestParamInfo<Change>& info) { return std::string(info.param.name); });

// The window's own paint draws straight into its backing image, at the view's place in
// it, and leaves alone the strip where a neighbour laps over the view.
TEST(PlotViewInWindowTest, WindowShowsTheRenderedFrameAtTheViewsPlace) {
  // The view in the window, and a twin that is only ever rendered, for the expected frames.
  QWidget window;
  window.resize(360, 230);
  auto* view = new PlotView(&window);
  view->setGeometry(23, 17, 300, 160);
  PlotView twin;
  twin.resize(300, 160);
  std::vector<std::shared_ptr<qv::plot::Chart>> charts;
  for (PlotView* v : {view, &twin}) {
    v->setRangeMinXMaxXMinYMaxY(0, 100, -100, 100);
    v->setGridStepX(10);
    v->setGridStepY(25);
    v->setScalesOverlaid(true);
    v->setLabelsForSide({"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k"},
                        qv::gui::PlotSideBottom);
    v->addCursor();
    charts.push_back(v->addLineChartWithName("live", span(kPoints), 2.0f, kWhite));
  }
  auto show = [&](double phase, QPointF cursor) {
    const std::vector<float> v = wave(phase, 60.0 + 10.0 * phase);
    for (size_t i = 0; i < 2; ++i) charts[i]->setData(v.data(), kPoints);
    view->setCursorPosition(cursor);
    twin.setCursorPosition(cursor);
  };
  show(0.7, {30, 20});
  // Laps 3 pixels over the view's top edge and lies above it.
  auto* neighbour = new QWidget(&window);
  neighbour->setGeometry(0, 0, 360, 20);
  neighbour->setAutoFillBackground(true);
  QPalette palette = neighbour->palette();
  palette.setColor(QPalette::Window, QColor(200, 0, 0));
  neighbour->setPalette(palette);
  window.show();
  ASSERT_TRUE(processEventsUntil([&] { return view->paintCount() >= 1; }, 5000));

  // Several frames: after the first, each undoes only what the one before drew.
  for (int frame = 0; frame < 3; ++frame) {
    const uint64_t paints = view->paintCount();
    show(1.0 + frame, {20.0 + 25 * frame, 40.0 - 30 * frame});
    view->update();
    ASSERT_TRUE(processEventsUntil([&] { return view->paintCount() > paints; }, 5000));
    const QImage shown = window.screen()->grabWindow(window.winId()).toImage();
    ASSERT_FALSE(shown.isNull());
    const double ratio = shown.devicePixelRatio();
    const QImage placed = shown.copy(QRect(QPoint(23, 17) * ratio, view->size() * ratio))
                              .convertToFormat(QImage::Format_RGB32);
    const int lapped = static_cast<int>(3 * ratio);
    for (int x : {0, 150, 299}) {
      EXPECT_EQ(placed.pixel(static_cast<int>(x * ratio), 0), qRgb(200, 0, 0)) << x;
      EXPECT_EQ(placed.pixel(static_cast<int>(x * ratio), lapped - 1), qRgb(200, 0, 0)) << x;
    }
    const QImage expected = twin.renderImage(ratio).convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(placed.copy(0, lapped, placed.width(), placed.height() - lapped),
              expected.copy(0, lapped, expected.width(), expected.height() - lapped))
        << "frame " << frame;
  }
  EXPECT_TRUE(view->testAttribute(Qt::WA_OpaquePaintEvent));
}

}  // namespace
