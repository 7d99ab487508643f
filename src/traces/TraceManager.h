#pragma once
// The trace store: captured traces in a SQLite file, newest first (until the user moves
// them), with their display state. Main thread only (the thread that made it); change notifications
// arrive on the main queue. Every write is one or more database transactions, as listed per
// operation. A write waits at most TraceDatabase::kBusyTimeoutMs for another process's write.
#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "curves/BandCurves.h"
#include "traces/CaptureRetryQueue.h"
#include "traces/ChartColorPalette.h"
#include "traces/TraceDatabase.h"
#include "traces/TraceDictionary.h"
#include "traces/TraceNotifier.h"
#include "traces/TraceShot.h"
#include "traces/TraceShotResults.h"
#include "traces/TraceStoreFailure.h"

namespace qv {

using TraceUserInfo = std::map<std::string, std::string>;

// Curves to store as a trace that was not captured live.
struct NewTrace {
  std::string name;
  std::string comment;
  curves::BandCurves curves;
  // Where they came from: an imported file's name, the names of the traces averaged.
  std::optional<std::string> source;
  std::optional<std::string> calibration;
};

class TraceManager {
 public:
  // The index a list shows when nothing is selected.
  static constexpr std::size_t kNotFound = std::numeric_limits<std::size_t>::max();
  static constexpr int kSchemaVersion = TraceDatabase::kSchemaVersion;

  using VisibilityChangedCallback = std::function<void(const TraceShot& shot)>;
  // values is valid during the call only; nullptr with count 0 for an empty curve.
  using TraceCurveCallback = std::function<void(const float* values, std::size_t count)>;

  // The store of this user, in TraceFolders::dataFolder().
  static TraceManager& shared();
  TraceManager();
  // A store in `folder` (created if needed), for tools and tests.
  explicit TraceManager(const std::string& folder);
  ~TraceManager();
  TraceManager(const TraceManager&) = delete;
  TraceManager& operator=(const TraceManager&) = delete;

  const ChartColorPalette& palette() const { return palette_; }
  TraceShotResults allTraceShots() const { return list_; }
  void setVisibilityChangedCallback(VisibilityChangedCallback callback);
  const std::string& documentPath() const { return documentPath_; }
  const std::string& databasePath() const { return database_.path(); }
  // True when captures cannot be stored (a newer schema, a read-only folder, no file).
  bool isReadOnly() const;

  void start();
  TraceShotRef traceShotForIndex(std::size_t index) const;
  std::vector<TraceShotRef> allSelectedTraces() const;
  std::vector<TraceShotRef> allVisibleTraces() const;
  bool hasSelectedTraces() const;
  std::optional<RGBAColor> colorForShot(const TraceShot& shot) const;

  void setNameForShot(const std::string& name, const TraceShot& shot);
  void setNameForIndex(const std::string& name, std::size_t index);
  // An explicit colour (any, for example one of ChartColorPalette::darkBackgroundColors());
  // no value returns the trace to its palette colour. A visible trace is reported to the
  // visibility callback, so that it is drawn again in its new colour.
  void setColorForShot(const std::optional<RGBAColor>& color, const TraceShot& shot);
  void setSelectedForIndex(bool selected, std::size_t index);
  void deselectAll();
  void toggleVisibilityForShot(const TraceShot& shot);
  void toggleVisibilityForIndex(std::size_t index);
  void setVisibilityForAllTraces(bool visible);
  void deleteShotAtIndex(std::size_t index);
  void deleteAllSelected();
  void clearAll();

  // Capturing. `buffer` holds `count` curves of `length` floats: magnitude, phase,
  // coherence. Returns the stored trace when it could be stored at once. Otherwise nullptr:
  // count is not 3 (logged), the store failed (logged), or the capture is pending
  // (capturePending() is true) because another process held the database or an earlier
  // capture is still pending. A pending capture keeps
  // its curves and is retried from the main queue until it is stored (then reported to the
  // visibility callback and the list observers like any capture) or, after
  // captureRetryWindow() seconds, logged as failed. `completion`, when given, runs exactly
  // once with the outcome: before the call returns when it is known at once, else from
  // the main queue; never after the store is destroyed.
  //
  // A capture that was not stored keeps its log line ("Error in Realm transaction: …") and
  // tells its completion why, for the user: outcome.failure.sentence() is one plain
  // sentence such as "The trace was not saved: the disk holding /home/ann/.local/share/
  // Quorvex is full." (kinds in TraceStoreFailure: full disk, quota, file size limit,
  // read-only folder, file or disk, a file where the data folder should be, a newer
  // database, another program holding it, damage). A window shows that sentence; the next
  // capture after the cause is gone is stored as usual (a store opened read-only because of
  // permissions opens again for writing once they allow it).
  //
  // `userInfo` may carry kUserInfoCalibration: the name of the microphone calibration the
  // curves were corrected with, kept with the trace.
  static constexpr const char* kUserInfoCalibration = "calibration";
  TraceShotRef newTraceWithNameFloatBufferLengthCountCommentUserInfo(
      const std::string& name, const float* buffer, std::int64_t length, std::int64_t count,
      const std::string& comment, const TraceUserInfo& userInfo = {},
      CaptureCompletion completion = {});
  TraceShotRef saveTFWithMagnitudePhaseCoherenceNameCommentUserInfo(
      const Bytes& magnitude, const Bytes& phase, const Bytes& coherence, const std::string& name,
      const std::string& comment, const TraceUserInfo& userInfo = {},
      CaptureCompletion completion = {});
  // For tools without a main queue (quorvex-analyze --save-trace): waits up to `wait` for
  // other writers, then either stores the trace or returns nullptr with the store's error
  // in *error (and, when given, the failure for the user in *failure). Never pending.
  TraceShotRef newTraceWaiting(const std::string& name, const float* buffer, std::int64_t length,
                               std::int64_t count, const std::string& comment,
                               std::chrono::milliseconds wait, std::string* error,
                               TraceStoreFailure* failure = nullptr);
  // Curves that were not captured live (an imported file, an average of traces): stored
  // like a capture — visible, at the top of the list, with the next colour — and with
  // their source. addTrace may be pending like a capture; addTraceWaiting never is.
  TraceShotRef addTrace(const NewTrace& trace, CaptureCompletion completion = {});
  CaptureOutcome addTraceWaiting(const NewTrace& trace, std::chrono::milliseconds wait);
  bool capturePending() const { return !retries_.empty(); }
  std::size_t pendingCaptureCount() const { return retries_.size(); }
  void setCaptureRetryWindow(double seconds) { retries_.setRetryWindow(seconds); }
  double captureRetryWindow() const { return retries_.retryWindow(); }
  // Why traces cannot be stored now (kind None when they can): the reason the store was
  // opened read-only, or could not be opened at all. For a notice before any capture.
  TraceStoreFailure storeFailure() const;

  // Display offsets of a trace (level in dB, delay in ms), kept with it; its stored curves
  // never change. TraceWorkbench::displayedCurves applies them. A visible trace is
  // reported to the visibility callback, so that it is drawn again.
  void setOffsetsForShot(double offsetDb, double delayMs, const TraceShot& shot);
  // Moves the trace at `from` to `to` (list positions; the others keep their order) and
  // keeps the order. Visible traces are then reported to the visibility callback from the
  // bottom of the list up, so that a plot adding each reported trace on top draws the
  // list's first trace topmost. Out-of-range positions change nothing.
  void moveShot(std::size_t from, std::size_t to);

  // Copies what the write-ahead log holds into the database file and closes it, so that
  // the file alone carries every trace; the next operation opens it again. The shared
  // store does this by itself when the program exits.
  void close();
  // For tests and tools: bounds the database file to `pages` pages (0: no bound of ours);
  // a write past it fails as on a full disk.
  void setPageLimit(std::int64_t pages) { database_.setPageLimit(pages); }

  // Observes allTraceShots; the first call carries no change set.
  [[nodiscard]] TraceNotificationToken addNotificationBlock(TraceResultsCallback callback);
  // Picks up what other processes committed since the last look and notifies observers.
  void refresh();

  // Trace files, read from documentPath() (known after getDocPath) by plain file name;
  // refused (and logged) when the folder is not known yet, the name would leave the
  // folder, or the file is not a regular file of at most TraceDictionary::kMaxFileBytes.
  void getDocPath();
  std::optional<TraceDictionary> readShotData(const TraceShot& shot) const;
  std::optional<TraceDictionary> loadTracesWithName(const std::string& fileName) const;
  void magnitudeFromDictionarySuccess(const TraceDictionary& dictionary,
                                      const TraceCurveCallback& success) const;
  void phaseFromDictionarySuccess(const TraceDictionary& dictionary,
                                  const TraceCurveCallback& success) const;
  void coherenceFromDictionarySuccess(const TraceDictionary& dictionary,
                                      const TraceCurveCallback& success) const;
  static void traceWithTypeFromDictionarySuccess(const std::string& type,
                                                 const TraceDictionary& dictionary,
                                                 const TraceCurveCallback& success);
  // Closes and deletes the database file with its companions; the next operation starts
  // a new, empty file.
  void removeRealmFiles();

 private:
  using Body = std::function<bool(std::vector<std::int64_t>& touched)>;
  bool ensureOpen();
  void adopt(std::vector<TraceShotRef> list);
  // One write transaction; afterwards the list is reread and observers notified.
  bool transaction(const Body& body, std::string* error = nullptr);
  // Reopens a store opened read-only because of permissions that allow writing now.
  void reopenIfWritable();
  void reloadAfterCommit(const std::vector<std::int64_t>& touched);
  void report(const TraceShot& shot);
  void reportInTransaction(const TraceShot& shot);
  TraceShotRef findById(std::int64_t id) const;
  // Stores now, or queues behind pending captures / when the database is busy.
  TraceShotRef submit(PendingCapture capture);
  // One try at storing a capture; reports the stored trace to the visibility callback.
  CaptureOutcome storeCapture(const PendingCapture& capture);
  // One try that waits up to `wait` for other writers.
  CaptureOutcome storeWaiting(const PendingCapture& capture, std::chrono::milliseconds wait);
  // The colour of a new trace: the palette's rotation, or, when another trace already
  // shows that colour, the first colour for dark backgrounds that none shows.
  bool chooseColor(TraceShot& shot);
  // Reports visible traces from the bottom of the list up.
  void reportVisibleBottomUp();
  void checkThread() const;

  ChartColorPalette palette_;
  TraceDatabase database_;
  TraceShotResults list_;
  TraceNotifier notifier_;
  VisibilityChangedCallback visibilityChangedCallback_;
  std::string documentPath_;
  std::int64_t dataVersion_ = -1;
  std::thread::id owner_;
  // Traces reported as hidden inside a transaction that may still fail.
  std::vector<std::int64_t> reportedInTransaction_;
  // Last, so that its final tries find the rest of the store still there.
  CaptureRetryQueue retries_;
};

}  // namespace qv
