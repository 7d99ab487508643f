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
class TraceExportTest : public TracePanelFixture {
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
    makePanel();
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

  const std::vector<std::size_t> blanked{0, 1, 2, 500, 1099};
  std::vector<float> buffer;
  QTemporaryDir out;
};

// The menu's two exports write the trace under its name made safe for a file; what the
// writers put in the files is checked with the command line's exports, which share them.
TEST_F(TraceExportTest, TheMenuWritesCsvAndFrdUnderTheTracesName) {
  const QString csv = out.filePath("trace.csv");
  exportFromMenu(TraceManagerViewController::kExportCsvItemTag, csv);
  ASSERT_EQ(chooser->suggested.size(), 1u);
  EXPECT_TRUE(chooser->suggested[0].endsWith("/Stage L_R.csv"))
      << chooser->suggested[0].toStdString();
  QStringList lines = readLines(csv);
  ASSERT_EQ(lines.size(), static_cast<int>(kBands + 1));
  EXPECT_EQ(lines[0], "frequency_hz,magnitude_db,phase_deg,coherence");
  EXPECT_EQ(lines[1].split(',').mid(1), (QStringList{"", "", ""})) << "band 0 is blank";

  const QString frd = out.filePath("trace.frd");
  exportFromMenu(TraceManagerViewController::kExportFrdItemTag, frd);
  ASSERT_EQ(chooser->suggested.size(), 2u);
  EXPECT_TRUE(chooser->suggested[1].endsWith("/Stage L_R.frd"));
  lines = readLines(frd);
  // Blank bands are left out of an FRD file.
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const QString& l) { return !l.startsWith('*'); }),
            static_cast<std::ptrdiff_t>(kBands - blanked.size()));
  EXPECT_TRUE(alerts->messages.empty());
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
