// The trace store's captures: live curves and curves from elsewhere, stored at once,
// queued while another process writes, or refused with a reason for the user. Main thread,
// like the rest of the store.
#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>

#include "platform/Log.h"
#include "traces/ChartColorPalette.h"
#include "traces/TraceManager.h"

namespace qv {
namespace {

// Seconds from 1970-01-01 to 2001-01-01 UTC, the reference date of trace identifiers.
constexpr std::int64_t kReferenceDateMicros = 978307200LL * 1000000LL;

// "%f" of the seconds since the reference date, printed from integers so that no
// rounding of a double shows in the last digit.
std::string identifierFor(std::int64_t unixMicros) {
  const std::int64_t micros = unixMicros - kReferenceDateMicros;
  char text[48];
  if (micros >= 0) {
    std::snprintf(text, sizeof text, "%" PRId64 ".%06" PRId64, micros / 1000000, micros % 1000000);
  } else {
    std::snprintf(text, sizeof text, "%f", static_cast<double>(micros) / 1e6);
  }
  return text;
}

constexpr const char* kWrongBuffer = "Wrong trace buffer for saving!";

// Magnitude, phase and coherence blobs of a capture buffer; no value for a wrong one.
std::optional<std::array<Bytes, 3>> curveBlobs(const float* buffer, std::int64_t length,
                                               std::int64_t count) {
  if (count != 3 || length < 0 || (length > 0 && !buffer)) return std::nullopt;
  const auto n = static_cast<std::size_t>(length);
  return std::array<Bytes, 3>{TraceShot::blobFromFloats(buffer, n),
                              TraceShot::blobFromFloats(buffer ? buffer + n : nullptr, n),
                              TraceShot::blobFromFloats(buffer ? buffer + 2 * n : nullptr, n)};
}

CaptureOutcome wrongBuffer() {
  return {nullptr, kWrongBuffer, {TraceStoreFailure::Kind::WrongCurves, {}, kWrongBuffer}};
}

std::optional<PendingCapture> pendingFrom(const NewTrace& trace) {
  const curves::BandCurves& c = trace.curves;
  if (!c.consistent()) return std::nullopt;
  PendingCapture capture;
  capture.magnitude = TraceShot::blobFromFloats(c.magnitude.data(), c.size());
  capture.phase = TraceShot::blobFromFloats(c.phase.data(), c.size());
  capture.coherence = TraceShot::blobFromFloats(c.coherence.data(), c.size());
  capture.name = trace.name;
  capture.comment = trace.comment;
  capture.source = trace.source;
  capture.calibration = trace.calibration;
  return capture;
}

std::int64_t nowMicros() {
  using namespace std::chrono;
  return time_point_cast<microseconds>(system_clock::now()).time_since_epoch().count();
}

}  // namespace

TraceShotRef TraceManager::newTraceWithNameFloatBufferLengthCountCommentUserInfo(
    const std::string& name, const float* buffer, std::int64_t length, std::int64_t count,
    const std::string& comment, const TraceUserInfo& userInfo, CaptureCompletion completion) {
  const auto blobs = curveBlobs(buffer, length, count);
  if (!blobs) {
    qv::log("%s", kWrongBuffer);
    if (completion) completion(wrongBuffer());
    return nullptr;
  }
  return saveTFWithMagnitudePhaseCoherenceNameCommentUserInfo(
      (*blobs)[0], (*blobs)[1], (*blobs)[2], name, comment, userInfo, std::move(completion));
}

TraceShotRef TraceManager::saveTFWithMagnitudePhaseCoherenceNameCommentUserInfo(
    const Bytes& magnitude, const Bytes& phase, const Bytes& coherence, const std::string& name,
    const std::string& comment, const TraceUserInfo& userInfo, CaptureCompletion completion) {
  PendingCapture capture{magnitude, phase, coherence, name, comment, std::move(completion),
                         {},        {},    {}};
  if (const auto found = userInfo.find(kUserInfoCalibration); found != userInfo.end()) {
    capture.calibration = found->second;
  }
  return submit(std::move(capture));
}

TraceShotRef TraceManager::addTrace(const NewTrace& trace, CaptureCompletion completion) {
  auto capture = pendingFrom(trace);
  if (!capture) {
    qv::log("%s", kWrongBuffer);
    if (completion) completion(wrongBuffer());
    return nullptr;
  }
  capture->completion = std::move(completion);
  return submit(std::move(*capture));
}

TraceShotRef TraceManager::submit(PendingCapture capture) {
  checkThread();
  // Behind captures still waiting, so that traces are stored in the order they were taken.
  if (!retries_.empty()) {
    retries_.add(std::move(capture));
    return nullptr;
  }
  const CaptureOutcome outcome = storeCapture(capture);
  if (!outcome.shot && outcome.failure.kind() == TraceStoreFailure::Kind::Busy) {
    retries_.add(std::move(capture));
    return nullptr;
  }
  if (!outcome.shot) qv::log("Error in Realm transaction: %s", outcome.error.c_str());
  if (capture.completion) capture.completion(outcome);
  return outcome.shot;
}

TraceShotRef TraceManager::newTraceWaiting(const std::string& name, const float* buffer,
                                           std::int64_t length, std::int64_t count,
                                           const std::string& comment,
                                           std::chrono::milliseconds wait, std::string* error,
                                           TraceStoreFailure* failure) {
  const auto blobs = curveBlobs(buffer, length, count);
  CaptureOutcome outcome = wrongBuffer();
  if (blobs) {
    PendingCapture capture;
    capture.magnitude = (*blobs)[0];
    capture.phase = (*blobs)[1];
    capture.coherence = (*blobs)[2];
    capture.name = name;
    capture.comment = comment;
    outcome = storeWaiting(capture, wait);
  }
  *error = outcome.error;
  if (failure) *failure = outcome.failure;
  return outcome.shot;
}

CaptureOutcome TraceManager::addTraceWaiting(const NewTrace& trace,
                                             std::chrono::milliseconds wait) {
  const auto capture = pendingFrom(trace);
  return capture ? storeWaiting(*capture, wait) : wrongBuffer();
}

CaptureOutcome TraceManager::storeWaiting(const PendingCapture& capture,
                                          std::chrono::milliseconds wait) {
  checkThread();
  const int previous = database_.busyTimeout();
  database_.setBusyTimeout(static_cast<int>(wait.count()));
  CaptureOutcome outcome = storeCapture(capture);
  database_.setBusyTimeout(previous);
  return outcome;
}

TraceStoreFailure TraceManager::storeFailure() const {
  if (!database_.isOpen()) return database_.lastFailure();
  if (database_.isReadOnly()) {
    return database_.readOnlyFailure();
  }
  return {};
}

bool TraceManager::chooseColor(TraceShot& shot) {
  bool ok = true;
  const auto newest = database_.newestColorIndex(&ok);
  if (!ok) return false;
  const auto& colors = palette_.colors();
  const auto count = static_cast<std::int64_t>(colors.size());
  shot.colorIndex = newest ? ((*newest + 1) % count + count) % count : 0;
  // The rotation passes over colours a new trace would hide in the live curves.
  for (std::int64_t tries = 0;
       tries < count &&
       ChartColorPalette::nearLiveCurve(colors[static_cast<std::size_t>(shot.colorIndex)]);
       ++tries)
    shot.colorIndex = (shot.colorIndex + 1) % count;

  std::vector<std::pair<std::int64_t, std::optional<RGBAColor>>> stored;
  if (!database_.colorsInUse(stored)) return false;
  std::vector<RGBAColor> shown;
  for (const auto& [index, explicitColor] : stored) {
    if (explicitColor) {
      shown.push_back(*explicitColor);
    } else if (index >= 0 && index < count) {
      shown.push_back(colors[static_cast<std::size_t>(index)]);
    }
  }
  const auto isShown = [&](const RGBAColor& color) {
    return std::find(shown.begin(), shown.end(), color) != shown.end();
  };
  if (!isShown(colors[static_cast<std::size_t>(shot.colorIndex)])) return true;
  for (const RGBAColor& color : ChartColorPalette::darkBackgroundColors()) {
    if (!isShown(color) && !ChartColorPalette::nearLiveCurve(color)) {
      shot.setColor(color);
      return true;
    }
  }
  return true;  // every colour is taken: the rotation's, shared
}

CaptureOutcome TraceManager::storeCapture(const PendingCapture& capture) {
  TraceShot shot;
  std::string error;
  const bool ok = transaction(
      [&](std::vector<std::int64_t>& touched) {
        // Taken while holding the write lock, so that capture times follow the order in
        // which traces are stored, also with another process writing.
        std::int64_t date = nowMicros();
        if (!chooseColor(shot)) return false;
        // Identifiers name the trace's charts, so two traces never share a capture time.
        bool readOk = true;
        while (database_.dateInUse(date, &readOk) && readOk) ++date;
        if (!readOk) return false;
        shot.name = capture.name;
        shot.dateCreated = shot.dateModified = TraceDate(std::chrono::microseconds(date));
        shot.coherenceData = capture.coherence;
        shot.magnitudeData = capture.magnitude;
        shot.phaseData = capture.phase;
        shot.comment = capture.comment;
        shot.uuid = identifierFor(date);
        shot.visible = true;
        shot.zOrder = 1;
        shot.source = capture.source;
        shot.calibration = capture.calibration;
        if (!database_.insert(shot)) return false;
        touched.push_back(shot.id);
        return true;
      },
      &error);
  if (!ok) {
    TraceStoreFailure failure = database_.lastFailure();
    if (!failure) failure = {TraceStoreFailure::Kind::Other, database_.path(), error};
    return {nullptr, error, failure};
  }
  // So that a copy of the file alone carries this trace (and every change before it). Best
  // effort: while another connection reads, the log keeps the rest until a later one.
  database_.checkpoint();
  TraceShotRef stored = findById(shot.id);
  if (!stored) stored = std::make_shared<const TraceShot>(shot);
  report(*stored);
  return {stored, {}, {}};
}

}  // namespace qv
