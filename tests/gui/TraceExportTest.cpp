#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <cmath>
#include <limits>

#include "TracePanelTestSupport.h"
#include "export/TraceExporter.h"
#include "gui/traces/TraceManagerViewController.h"

namespace qv::guitest {
namespace {

using gui::TraceManagerViewController;
using qv::TraceExporter;

constexpr std::size_t kBands = 1100;  // the live analysis at 44.1 kHz
const float kNaN = std::numeric_limits<float>::quiet_NaN();

// A stored trace as the live program captures it: magnitude in dB, phase in degrees and
// coherence x 180, with a few blanked (NaN) bands.
class TraceExportTest : public TraceStoreFixture {
 protected:
  void SetUp() override {
    buffer.resize(3 * kBands);
    for (std::size_t b = 0; b < kBands; ++b) {
      buffer[b] = -6.0f + 0.01f * static_cast<float>(b);
      buffer[kBands + b] = std::remainder(0.37f * static_cast<float>(b), 360.0f);
      buffer[2 * kBands + b] = 180.0f * (0.5f + 0.4f * std::sin(0.01f * static_cast<float>(b)));
    }
    for (std::size_t b : blanked) {
      buffer[b] = kNaN;
      buffer[kBands + b] = kNaN;
      buffer[2 * kBands + b] = kNaN;
    }
    store->newTraceWithNameFloatBufferLengthCountCommentUserInfo(
        "Stage L/R", buffer.data(), kBands, 3, "Smoothing: 1/24 oct, averaging: 100.000000");
    panel = std::make_unique<TraceManagerViewController>(*store, *settings);
    alerts = std::make_shared<ScriptedAlertAsker>();
    chooser = std::make_shared<ScriptedExportFileChooser>();
    panel->setAlertAsker(alerts);
    panel->setExportFileChooser(chooser);
    settle();
  }

  void exportFromMenu(int tag, const QString& path) {
    chooser->answer = path;
    ASSERT_TRUE(panel->validateMenuForRow(0));
    panel->menuItemWithTag(tag)->trigger();
  }

  static QStringList readLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
  }

  bool isBlanked(std::size_t b) const {
    return std::find(blanked.begin(), blanked.end(), b) != blanked.end();
  }

  const std::vector<std::size_t> blanked{0, 1, 2, 500, 1099};
  std::vector<float> buffer;
  QTemporaryDir out;
  std::unique_ptr<TraceManagerViewController> panel;
  std::shared_ptr<ScriptedAlertAsker> alerts;
  std::shared_ptr<ScriptedExportFileChooser> chooser;
};

TEST_F(TraceExportTest, CsvReadBackEqualsTheStoredCurves) {
  const QString path = out.filePath("trace.csv");
  exportFromMenu(TraceManagerViewController::kExportCsvItemTag, path);
  ASSERT_EQ(chooser->suggested.size(), 1u);
  EXPECT_TRUE(chooser->suggested[0].endsWith("/Stage L_R.csv"))
      << chooser->suggested[0].toStdString();
  EXPECT_TRUE(alerts->messages.empty());

  const QStringList lines = readLines(path);
  ASSERT_EQ(lines.size(), static_cast<int>(kBands + 1));
  EXPECT_EQ(lines[0], "frequency_hz,magnitude_db,phase_deg,coherence");
  const std::vector<float> frequency = TraceExporter::bandFrequenciesForCount(kBands);
  for (std::size_t b = 0; b < kBands; ++b) {
    const QStringList f = lines[static_cast<int>(b + 1)].split(',');
    ASSERT_EQ(f.size(), 4) << "band " << b;
    EXPECT_NEAR(f[0].toDouble(), frequency[b], 1e-4);
    if (isBlanked(b)) {
      EXPECT_TRUE(f[1].isEmpty() && f[2].isEmpty() && f[3].isEmpty()) << "band " << b;
      continue;
    }
    EXPECT_NEAR(f[1].toDouble(), buffer[b], 1e-4) << "band " << b;
    EXPECT_NEAR(f[2].toDouble(), buffer[kBands + b], 1e-3) << "band " << b;
    // Coherence from 0 to 1, not the stored 0 to 180.
    EXPECT_NEAR(f[3].toDouble(), buffer[2 * kBands + b] / 180.0f, 1e-5) << "band " << b;
  }
  // The points lie on the analysis' frequency axis: 8 Hz up to just below Nyquist.
  EXPECT_FLOAT_EQ(frequency.front(), 8.0f);
  EXPECT_LT(frequency.back(), 22050.0f / 1.005f);
  EXPECT_TRUE(std::is_sorted(frequency.begin(), frequency.end()));
}

TEST_F(TraceExportTest, FrdReadBackLeavesBlankedBandsOut) {
  const QString path = out.filePath("trace.frd");
  exportFromMenu(TraceManagerViewController::kExportFrdItemTag, path);
  const QStringList lines = readLines(path);
  const std::vector<float> frequency = TraceExporter::bandFrequenciesForCount(kBands);
  std::size_t b = 0;
  int dataLines = 0;
  for (const QString& line : lines) {
    if (line.startsWith('*')) continue;
    while (isBlanked(b)) ++b;
    ASSERT_LT(b, kBands);
    const QStringList f = line.split(' ', Qt::SkipEmptyParts);
    ASSERT_EQ(f.size(), 3) << line.toStdString();
    EXPECT_NEAR(f[0].toDouble(), frequency[b], 1e-4);
    EXPECT_NEAR(f[1].toDouble(), buffer[b], 1e-4);
    EXPECT_NEAR(f[2].toDouble(), buffer[kBands + b], 1e-3);
    ++b;
    ++dataLines;
  }
  EXPECT_EQ(dataLines, static_cast<int>(kBands - blanked.size()));
}

TEST_F(TraceExportTest, AFailedExportLeavesNoFileAndSaysWhy) {
  // A folder that does not exist, and a name taken by a folder: neither leaves a file.
  const QString missing = out.filePath("no/such/folder/trace.csv");
  QDir(out.path()).mkdir("taken.csv");
  const QString taken = out.filePath("taken.csv");
  for (const QString& path : {missing, taken}) {
    alerts->messages.clear();
    exportFromMenu(TraceManagerViewController::kExportCsvItemTag, path);
    ASSERT_EQ(alerts->messages.size(), 1u) << path.toStdString();
    EXPECT_TRUE(alerts->messages[0].second.contains(path))
        << alerts->messages[0].second.toStdString();
  }
  EXPECT_EQ(QDir(out.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList{"taken.csv"});
  EXPECT_TRUE(QDir(taken).isEmpty());

  if (::geteuid() != 0) {  // permissions do not stop root
    const QString locked = out.filePath("locked");
    QDir(out.path()).mkdir("locked");
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    alerts->messages.clear();
    exportFromMenu(TraceManagerViewController::kExportCsvItemTag, locked + "/trace.csv");
    ASSERT_EQ(alerts->messages.size(), 1u);
    EXPECT_TRUE(alerts->messages[0].second.contains("Permission denied"));
    EXPECT_TRUE(QDir(locked).isEmpty());
    QFile::setPermissions(locked,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  }
}

TEST_F(TraceExportTest, CurvesThatFitNoFrequencyAxisAreReportedNotGuessed) {
  test::capture(*store, "short", 8);  // 8 points: no analysis has 8 bands
  settle();
  exportFromMenu(TraceManagerViewController::kExportCsvItemTag, out.filePath("short.csv"));
  ASSERT_EQ(alerts->messages.size(), 1u);
  EXPECT_TRUE(alerts->messages[0].second.contains("8 points"));
  EXPECT_TRUE(QDir(out.path()).isEmpty());

  // Curves of unequal length cannot be read either.
  TraceShot damaged = *store->traceShotForIndex(1);
  damaged.phaseData->resize(damaged.phaseData->size() - 4);
  std::string text, error;
  EXPECT_FALSE(TraceExporter::formatShot(damaged, TraceExportFormat::Csv, &text, &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace qv::guitest
