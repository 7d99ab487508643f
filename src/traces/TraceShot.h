#pragma once
// One captured trace as a value: the stored fields plus the row id that ties it to the
// trace database. Copies are independent; change a stored trace through TraceManager.
// A plain value, usable from any thread.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "traces/RGBAColor.h"

namespace qv {

using Bytes = std::vector<std::uint8_t>;
// Microseconds keep the capture time exact through the database's integer column.
using TraceDate = std::chrono::sys_time<std::chrono::microseconds>;

class TraceShot {
 public:
  // Row id in the trace database; 0 while the trace is not stored.
  std::int64_t id = 0;

  bool selected = false;
  bool visible = false;
  std::int64_t zOrder = 0;
  std::int64_t colorIndex = 0;
  float coherenceThreshold = 0.0f;
  std::optional<std::string> name;
  std::optional<std::string> comment;
  std::optional<std::string> filepath;
  std::optional<std::string> uuid;
  std::optional<Bytes> colorData;
  std::optional<Bytes> coherenceData;
  std::optional<Bytes> magnitudeData;
  std::optional<Bytes> phaseData;
  std::optional<TraceDate> dateCreated;
  std::optional<TraceDate> dateModified;

  // Kept in columns that builds before them ignore.
  // The trace's place in the list; none for traces never moved, which are listed first,
  // newest first.
  std::optional<std::int64_t> listOrder;
  // Applied where the trace is drawn or compared; the stored curves never change.
  double offsetDb = 0.0;
  double offsetDelayMs = 0.0;
  // Where curves not captured live came from: an imported file's name, the traces averaged.
  std::optional<std::string> source;
  // The name of the microphone calibration the captured curves were corrected with.
  std::optional<std::string> calibration;

  // The explicit colour decoded from colorData; no value when absent or unreadable.
  std::optional<RGBAColor> color() const;
  // Sets colorData on this value only; TraceManager::setColorForShot stores it.
  void setColor(const std::optional<RGBAColor>& color);
  // The last path component of filepath ("" without one).
  std::string filename() const;

  // Curve blobs: little-endian 32-bit floats, no header.
  static Bytes blobFromFloats(const float* values, std::size_t count);
  static std::vector<float> floatsFromBlob(const Bytes& blob);

  bool operator==(const TraceShot&) const = default;
};

using TraceShotRef = std::shared_ptr<const TraceShot>;

}  // namespace qv
