#pragma once
// Captures that lost the race for the trace database's write lock to another process.
// Each keeps its curves and is tried again from the main queue a moment later, in capture
// order, until it is stored or its retry window has passed; then its failure is logged
// and reported to its completion. Main thread only (the trace store's thread).
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "traces/TraceShot.h"
#include "traces/TraceStoreFailure.h"

namespace qv {

class GCDTimer;

// The outcome of a capture: the stored trace, or no trace with the store's error (the text
// its log line carries) and the failure for the user (failure.sentence(), for example
// "The trace was not saved: the disk is full.").
struct CaptureOutcome {
  TraceShotRef shot;
  std::string error;
  TraceStoreFailure failure;
};
using CaptureCompletion = std::function<void(const CaptureOutcome& outcome)>;

struct PendingCapture {
  Bytes magnitude;
  Bytes phase;
  Bytes coherence;
  std::string name;
  std::string comment;
  CaptureCompletion completion;
  std::chrono::steady_clock::time_point giveUpAt;
  std::optional<std::string> source;
  std::optional<std::string> calibration;
};

class CaptureRetryQueue {
 public:
  // One try at storing a capture; a failure of kind Busy means another writer held the
  // database.
  using Store = std::function<CaptureOutcome(const PendingCapture& capture)>;

  static constexpr double kDefaultRetryWindow = 5.0;    // seconds from the capture
  static constexpr double kDefaultRetryInterval = 0.1;  // seconds between tries

  explicit CaptureRetryQueue(Store store);
  // Makes one last try at each capture still waiting and logs those that fail; their
  // completions do not run (their owners may be gone).
  ~CaptureRetryQueue();
  CaptureRetryQueue(const CaptureRetryQueue&) = delete;
  CaptureRetryQueue& operator=(const CaptureRetryQueue&) = delete;

  // Queues a capture whose first try found the database busy, and schedules a retry.
  void add(PendingCapture capture);
  bool empty() const { return pending_.empty(); }
  std::size_t size() const { return pending_.size(); }

  void setRetryWindow(double seconds) { window_ = seconds; }
  double retryWindow() const { return window_; }
  void setRetryInterval(double seconds) { interval_ = seconds; }

  // Runs from the main queue: stores what it can, oldest first, and stops at the first
  // capture that still finds the database busy, so one pass waits at most one busy timeout.
  void retry();

 private:
  void schedule();
  static void fail(const PendingCapture& capture, const std::string& error);

  Store store_;
  std::deque<PendingCapture> pending_;
  std::unique_ptr<GCDTimer> timer_;
  double window_ = kDefaultRetryWindow;
  double interval_ = kDefaultRetryInterval;
};

}  // namespace qv
