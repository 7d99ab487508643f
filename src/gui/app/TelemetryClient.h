#pragma once
// The program's telemetry: a local event log only. Each usage event is one JSON line
// ({"time", "event", "properties"}) appended to usage-events.jsonl in the data folder;
// when a line would take the file past the limit (1 MiB) the file moves to
// usage-events.jsonl.1 (replacing the previous one) and a new file begins. A line is
// written whole or not at all, even on a full disk. Nothing is ever sent anywhere.
// Main thread.
#include <cstdint>
#include <map>
#include <string>

#include "platform/LineLog.h"

namespace qv::gui {

class TelemetryClient {
 public:
  static constexpr const char* kFileName = "usage-events.jsonl";
  static constexpr std::uint64_t kRotateBytes = 1024 * 1024;

  // The program's log, in the trace store's data folder.
  static TelemetryClient& shared();
  explicit TelemetryClient(std::string folder, std::uint64_t rotateBytes = kRotateBytes);

  // Called first at launch; events before it are dropped.
  void start();
  bool isStarted() const { return started_; }
  // False when the line could not be written (logged once per failure kind).
  bool trackEvent(const std::string& name, const std::map<std::string, std::string>& properties);

  std::string path() const;
  std::string rotatedPath() const;

 private:
  std::string folder_;
  LineLog log_;
  bool started_ = false;
  bool reportedFailure_ = false;
};

}  // namespace qv::gui
