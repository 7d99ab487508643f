#include "gui/app/TelemetryClient.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include "platform/Log.h"
#include "traces/TraceFolders.h"

namespace qv::gui {

TelemetryClient& TelemetryClient::shared() {
  static TelemetryClient client(TraceFolders::dataFolder());
  return client;
}

TelemetryClient::TelemetryClient(std::string folder, std::uint64_t rotateBytes)
    : folder_(std::move(folder)), rotateBytes_(rotateBytes) {}

void TelemetryClient::start() { started_ = true; }

std::string TelemetryClient::path() const { return folder_ + "/" + kFileName; }
std::string TelemetryClient::rotatedPath() const { return path() + ".1"; }

bool TelemetryClient::trackEvent(const std::string& name,
                                 const std::map<std::string, std::string>& properties) {
  if (!started_) return false;
  QJsonObject props;
  for (const auto& [key, value] : properties) {
    props.insert(QString::fromStdString(key), QString::fromStdString(value));
  }
  QJsonObject line;
  line.insert(QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
  line.insert(QStringLiteral("event"), QString::fromStdString(name));
  line.insert(QStringLiteral("properties"), props);
  QByteArray bytes = QJsonDocument(line).toJson(QJsonDocument::Compact);
  bytes.append('\n');

  const QString file = QString::fromStdString(path());
  if (!QDir().mkpath(QString::fromStdString(folder_))) {
    if (!reportedFailure_) qv::log("Could not create the event log folder %s", folder_.c_str());
    reportedFailure_ = true;
    return false;
  }
  const QFileInfo info(file);
  if (info.exists() &&
      static_cast<std::uint64_t>(info.size()) + static_cast<std::uint64_t>(bytes.size()) >
          rotateBytes_) {
    const QString old = QString::fromStdString(rotatedPath());
    QFile::remove(old);
    QFile::rename(file, old);
  }
  QFile out(file);
  if (!out.open(QIODevice::WriteOnly | QIODevice::Append) || out.write(bytes) != bytes.size()) {
    if (!reportedFailure_) qv::log("Could not write the event log %s", path().c_str());
    reportedFailure_ = true;
    return false;
  }
  return true;
}

}  // namespace qv::gui
