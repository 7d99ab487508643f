// The measurement view's microphone calibration and target, from the menu: a good file is
// applied (the legend names the calibration, a capture keeps it; the target's band is
// drawn), a damaged one is refused with its line and changes nothing, and the "No …" items
// remove them.
// clang-format off
#include "support/MainViewFixture.h"
#include "gui/display/QVPlotController.h"
#include "gui/display/QVPlotViewController.h"
#include "gui/display/TraceLegend.h"
#include "support/DisplayTestSupport.h"
#include "TracePanelTestSupport.h"
#include <QAction>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QTemporaryDir>
// clang-format on

namespace qv::gui::test {
namespace {

class WorkbenchMenuTest : public MainViewFixture {
 protected:
  QString write(const QString& name, const QByteArray& text) {
    return guitest::writeFile(dir_, name, text);
  }
  void choose(int tag, const QString& path) {
    chooser_->openAnswer = path;
    view_->actionForTag(tag)->trigger();
  }
  bool enabled(int tag) {
    QAction* item = view_->actionForTag(tag);
    view_->validateMenuItem(item);
    return item->isEnabled();
  }
  QVPlotController& plots() { return *view_->plotController(); }

  void makeWorkbenchView() {
    makeView();
    chooser_ = std::make_shared<guitest::ScriptedExportFileChooser>();
    view_->setFileChooser(chooser_);
  }

  QTemporaryDir dir_;
  std::shared_ptr<guitest::ScriptedExportFileChooser> chooser_;
};

TEST_F(WorkbenchMenuTest, CalibrationIsAppliedNamedAndKeptByACaptureAndADamagedOneChangesNothing) {
  makeWorkbenchView();
  EXPECT_FALSE(enabled(QVMainViewController::kTagNoMicCalibration));
  choose(QVMainViewController::kTagMicCalibration,
         write("mic.cal", "\"Sens Factor =-1.4dB\"\n20 0.5\n8000 3\n20000 1\n"));
  ASSERT_NE(plots().session().micCalibration(), nullptr);
  EXPECT_EQ(plots().session().micCalibration()->name(), "mic.cal");
  EXPECT_TRUE(enabled(QVMainViewController::kTagNoMicCalibration));
  EXPECT_EQ(plots().legend()->title(), QStringLiteral("Mic: mic.cal"));
  EXPECT_FALSE(plots().legend()->isHidden());

  // A capture made once the display shows corrected curves keeps the calibration's name.
  ASSERT_TRUE(guitest::processEventsUntil(
      [&] { return plots().session().latestDisplay()->calibration != nullptr; }, 5000));
  view_->captureAction()->trigger();
  ASSERT_TRUE(tracesBecome(1));
  EXPECT_EQ(traces().allTraceShots().firstObject()->calibration, "mic.cal");

  choose(QVMainViewController::kTagMicCalibration, write("torn.cal", "20 0.5\n8000 x3\n"));
  ASSERT_EQ(asker_->messages.size(), 1);
  EXPECT_TRUE(
      asker_->messages[0].startsWith("torn.cal could not be used as a calibration | Line 2"))
      << asker_->messages[0].toStdString();
  EXPECT_EQ(plots().session().micCalibration()->name(), "mic.cal");

  ASSERT_TRUE(enabled(QVMainViewController::kTagNoMicCalibration));  // as the menu opens
  view_->actionForTag(QVMainViewController::kTagNoMicCalibration)->trigger();
  EXPECT_EQ(plots().session().micCalibration(), nullptr);
  EXPECT_TRUE(plots().legend()->title().isEmpty());
  EXPECT_FALSE(enabled(QVMainViewController::kTagNoMicCalibration));
}

TEST_F(WorkbenchMenuTest, TargetIsDrawnRefusedWhenDamagedAndRemoved) {
  makeWorkbenchView();
  EXPECT_FALSE(enabled(QVMainViewController::kTagNoTargetCurve));
  choose(QVMainViewController::kTagTargetCurve, write("house.txt", "20 6 2 4\n200 0\n20000 -4\n"));
  ASSERT_TRUE(plots().target().has_value());
  // The view's default tolerance fills points that give none.
  EXPECT_EQ(plots().target()->points()[1].below, QVMainViewController::kDefaultTargetTolerance);
  auto* mag = view_->plotViewController()->magPlotView();
  EXPECT_EQ(guitest::chartsNamed(*mag, "target band"), 1u);

  choose(QVMainViewController::kTagTargetCurve, write("bad.txt", "20 6\n200 0 -1\n"));
  ASSERT_EQ(asker_->messages.size(), 1);
  EXPECT_TRUE(asker_->messages[0].startsWith("bad.txt could not be used as a target | Line 2"));
  EXPECT_EQ(plots().target()->points().size(), 3u) << "the target in force stays";

  ASSERT_TRUE(enabled(QVMainViewController::kTagNoTargetCurve));  // as the menu opens
  view_->actionForTag(QVMainViewController::kTagNoTargetCurve)->trigger();
  EXPECT_FALSE(plots().target().has_value());
  EXPECT_EQ(guitest::chartsNamed(*mag, "target band"), 0u);
}

TEST_F(WorkbenchMenuTest, CurveFilesFromTheMenuOrDroppedOnThePlotsBecomeTraces) {
  makeWorkbenchView();
  chooser_->openAnswer = write("sub.frd", "20 -3 0\n20000 -3 0\n");
  view_->importTraceAction()->trigger();
  ASSERT_TRUE(tracesBecome(1));
  EXPECT_EQ(traces().allTraceShots().firstObject()->name, "sub.frd");

  view_->show();
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(write("top.txt", "20 -1\n20000 -1\n")),
                QUrl::fromLocalFile(write("torn.txt", "20 -1\n1k -1\n"))});
  QDragEnterEvent enter(QPoint(40, 40), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(view_.get(), &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(40, 40), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(view_.get(), &drop);
  ASSERT_TRUE(tracesBecome(2));
  EXPECT_EQ(traces().allTraceShots().firstObject()->name, "top.txt");
  // The torn file is refused with its line; the good one beside it is kept.
  ASSERT_EQ(asker_->messages.size(), 1);
  EXPECT_TRUE(asker_->messages[0].startsWith("torn.txt could not be imported | Line 2"));
}

}  // namespace
}  // namespace qv::gui::test
