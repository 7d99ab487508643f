#include "gui/app/TelemetryClient.h"

#include <QDateTime>
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
    : folder_(std::move(folder)), log_(folder_ + "/" + kFileName, rotateBytes) {}

void TelemetryClient::start() { started_ = true; }

std::string TelemetryClient::path() const { return log_.path(); }
std::string TelemetryClient::rotatedPath() const { return log_.rotatedPath(); }

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
  const QByteArray bytes = QJsonDocument(line).toJson(QJsonDocument::Compact);

  std::string error;
  if (!TraceFolders::makeFolder(folder_, &error)) {
    if (!reportedFailure_) qv::log("Could not create the event log folder %s", folder_.c_str());
    reportedFailure_ = true;
    return false;
  }
  if (!log_.append(bytes.toStdString(), &error)) {
    if (!reportedFailure_) qv::log("Could not write the event log %s", error.c_str());
    reportedFailure_ = true;
    return false;
  }
  return true;
}

}  // namespace qv::gui
