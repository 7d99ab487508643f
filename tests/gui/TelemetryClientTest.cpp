#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "gui/app/TelemetryClient.h"

namespace qv::gui {
namespace {

QStringList linesOf(const std::string& path) {
  QFile f(QString::fromStdString(path));
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

TEST(TelemetryClient, EachEventIsOneJsonLineInTheDataFolder) {
  QTemporaryDir dir;
  const std::string folder = dir.filePath("not/yet/there").toStdString();
  TelemetryClient client(folder);
  EXPECT_FALSE(client.trackEvent("set-input-device", {{"name", "early"}}));  // before start
  client.start();
  ASSERT_TRUE(client.trackEvent("set-input-device", {{"name", "Scarlett \"2i2\" USB"}}));
  ASSERT_TRUE(client.trackEvent("set-output-device", {{"name", "Virtual Sound System"}}));

  const QStringList lines = linesOf(client.path());
  ASSERT_EQ(lines.size(), 2);
  const QJsonObject first = QJsonDocument::fromJson(lines[0].toUtf8()).object();
  EXPECT_EQ(first["event"].toString(), QStringLiteral("set-input-device"));
  EXPECT_EQ(first["properties"].toObject()["name"].toString(),
            QStringLiteral("Scarlett \"2i2\" USB"));  // quotes survive
  EXPECT_TRUE(first["time"].toString().endsWith('Z'));
  EXPECT_EQ(QJsonDocument::fromJson(lines[1].toUtf8()).object()["event"].toString(),
            QStringLiteral("set-output-device"));
}

TEST(TelemetryClient, TheLogMovesAsideBeforeItPassesTheLimitAndOnlyOneOldFileIsKept) {
  QTemporaryDir dir;
  TelemetryClient client(dir.path().toStdString(), 1000);
  client.start();
  const std::string name(100, 'x');
  int written = 0;
  while (!QFileInfo::exists(QString::fromStdString(client.rotatedPath()))) {
    ASSERT_TRUE(client.trackEvent("set-input-device", {{"name", name}}));
    ASSERT_LT(++written, 100);
  }
  // Never past the limit, and no line lost at the switch.
  EXPECT_LE(QFileInfo(QString::fromStdString(client.rotatedPath())).size(), 1000);
  const int old = static_cast<int>(linesOf(client.rotatedPath()).size());
  EXPECT_EQ(old + linesOf(client.path()).size(), written);

  for (int i = 0; i < 3 * old; ++i) client.trackEvent("set-input-device", {{"name", name}});
  EXPECT_LE(QFileInfo(QString::fromStdString(client.path())).size(), 1000);
  EXPECT_LE(QFileInfo(QString::fromStdString(client.rotatedPath())).size(), 1000);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2);
}

TEST(TelemetryClient, AnUnwritableFolderFailsWithoutThrowing) {
  TelemetryClient client("/proc/quorvex-cannot-be-here");
  client.start();
  EXPECT_FALSE(client.trackEvent("set-input-device", {{"name", "x"}}));
}

}  // namespace
}  // namespace qv::gui
