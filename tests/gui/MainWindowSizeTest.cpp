// The main window on small screens: it cannot be made so small that controls overlap, and
// at 1280×720 and at 1366×768 with a 1.5 scale (910×512 device-independent pixels, less
// the title bar) every control of the bars is whole and on its own.
// clang-format off
#include "support/ShellTestSupport.h"
// clang-format on
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>

#include "gui/app/MainInterface.h"
#include "gui/app/MainViewOutlets.h"
#include "gui/app/QVMainViewController.h"
#include "support/GuiTestSupport.h"

namespace qv::gui {
namespace {

// The visible controls of a bar that show something of their own (not containers).
std::vector<QWidget*> controlsOf(QWidget* bar) {
  std::vector<QWidget*> controls;
  for (QWidget* w : bar->findChildren<QWidget*>()) {
    if (!w->isVisible()) continue;
    const bool leaf = qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) ||
                      qobject_cast<QLineEdit*>(w) || qobject_cast<QLabel*>(w) ||
                      w->objectName() == QStringLiteral("levelMeterView");
    if (leaf && w->parentWidget() != nullptr && !qobject_cast<QComboBox*>(w->parentWidget()) &&
        !qobject_cast<QLineEdit*>(w->parentWidget()))
      controls.push_back(w);
  }
  return controls;
}

// What is wrong with the bar's arrangement: a control outside the window, cut short of the
// size it asks for, or lying over another.
std::string faultsOf(QWidget* bar, QWidget* window) {
  std::string faults;
  const auto controls = controlsOf(bar);
  const QRect inside = window->rect();
  std::vector<QRect> rects;
  for (QWidget* w : controls) {
    const QRect r(w->mapTo(window, QPoint(0, 0)), w->size());
    rects.push_back(r);
    const std::string name = w->objectName().toStdString();
    if (!inside.contains(r)) faults += name + " lies outside the window; ";
    if (auto* label = qobject_cast<QLabel*>(w); label && !label->text().isEmpty()) {
      if (w->width() < label->minimumSizeHint().width())
        faults += name + " is cut short (" + std::to_string(w->width()) + " of " +
                  std::to_string(label->minimumSizeHint().width()) + "); ";
    }
  }
  for (size_t i = 0; i < rects.size(); ++i)
    for (size_t j = i + 1; j < rects.size(); ++j)
      if (rects[i].intersects(rects[j]))
        faults += controls[i]->objectName().toStdString() + " overlaps " +
                  controls[j]->objectName().toStdString() + "; ";
  return faults;
}

// The window as a screen with that scale shows it.
void saveScaled(QWidget& window, double scale, const QString& name) {
  QPixmap pixmap(window.size() * scale);
  pixmap.setDevicePixelRatio(scale);
  pixmap.fill(Qt::black);
  window.render(&pixmap);
  guitest::saveScreenshot(pixmap.toImage(), name);
}

TEST(MainWindowSize, NothingOverlapsAtTheSmallestSizeAndSmallScreensShowEveryControl) {
  MainInterface::Options options;
  options.sleepBus = QDBusConnection(QStringLiteral("no-bus"));
  MainInterface ui(std::move(options));
  ui.launch();
  QMainWindow* window = ui.window();
  QVMainViewController* view = ui.mainViewController();
  ASSERT_NE(view, nullptr);
  ASSERT_TRUE(guitest::processEventsUntil(
      [&] { return ui.coordinator()->deviceManager() != nullptr; }, 5000));
  // A long delay read-out, as the finder writes it while it works.
  view->outlets().delayDetailLabel->setText(
      QStringLiteral("found · 132.88 smp · 1.03 m · polarity normal · conf 2.5 · drift 0.0 ppm"));
  view->outlets().topLabel->setText(QStringLiteral("Dly: -1234.56 ms, Coh: 0.9"));

  // 1366×768 at a scale of 1.5 is 910×512, of which the title bar and a panel take some.
  const QSize smallest = window->minimumSize();
  EXPECT_LE(smallest.width(), 900);
  EXPECT_LE(smallest.height(), 460);
  window->resize(500, 300);
  guitest::processEventsFor(50);
  EXPECT_GE(window->width(), smallest.width()) << "the window shrinks below its minimum";
  EXPECT_GE(window->height(), smallest.height());

  struct Screen {
    QSize size;
    double scale;
    const char* name;
  };
  for (const Screen& s : {Screen{smallest, 1.0, "mainwindow-smallest"},
                          Screen{QSize(1280, 690), 1.0, "mainwindow-1280x720"},
                          Screen{QSize(910, 470), 1.5, "mainwindow-1366x768-at-1.5"},
                          Screen{QSize(1600, 1000), 1.0, "mainwindow-1600x1000"}}) {
    SCOPED_TRACE(s.name);
    window->resize(s.size);
    // The bars re-arrange through posted layout requests; a busy machine takes a while.
    guitest::processEventsUntil(
        [&] {
          return faultsOf(view->outlets().topView, window).empty() &&
                 faultsOf(view->outlets().bottomView, window).empty();
        },
        3000);
    EXPECT_EQ(faultsOf(view->outlets().topView, window), "");
    EXPECT_EQ(faultsOf(view->outlets().bottomView, window), "");
    EXPECT_GE(view->outlets().plotBaseView->height(), 200) << "the plots are squeezed out";
    saveScaled(*window, s.scale, QString::fromLatin1(s.name));
  }
  ui.terminate();
}

}  // namespace
}  // namespace qv::gui
