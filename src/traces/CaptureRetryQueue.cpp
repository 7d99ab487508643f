#include "traces/CaptureRetryQueue.h"

#include "platform/GCDTimer.h"
#include "platform/Log.h"

namespace qv {

CaptureRetryQueue::CaptureRetryQueue(Store store) : store_(std::move(store)) {}

CaptureRetryQueue::~CaptureRetryQueue() {
  if (timer_) timer_->invalidate();
  for (PendingCapture& capture : pending_) {
    capture.completion = nullptr;
    const CaptureOutcome outcome = store_(capture);
    if (!outcome.shot) fail(capture, outcome.error);
  }
}

void CaptureRetryQueue::add(PendingCapture capture) {
  capture.giveUpAt = std::chrono::steady_clock::now() +
                     std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                         std::chrono::duration<double>(window_));
  pending_.push_back(std::move(capture));
  schedule();
}

void CaptureRetryQueue::schedule() {
  if (timer_ && timer_->isValid()) return;
  // A fire posted before the store went away does not run: invalidation cancels it, and
  // both happen on the main thread.
  timer_ = GCDTimer::timerOnMainQueue(1'000'000, "trace.capture.retry");
  timer_->scheduleBlock([this] { retry(); }, interval_);
}

void CaptureRetryQueue::retry() {
  while (!pending_.empty()) {
    PendingCapture& capture = pending_.front();
    const CaptureOutcome outcome = store_(capture);
    if (outcome.shot) {
      const CaptureCompletion completion = std::move(capture.completion);
      pending_.pop_front();
      if (completion) completion(outcome);
      continue;
    }
    const bool busy = outcome.failure.kind() == TraceStoreFailure::Kind::Busy;
    if (busy && std::chrono::steady_clock::now() < capture.giveUpAt) {
      schedule();
      return;
    }
    const PendingCapture failed = std::move(capture);
    pending_.pop_front();
    fail(failed, outcome.error);
    if (failed.completion) failed.completion(outcome);
  }
}

void CaptureRetryQueue::fail(const PendingCapture& capture, const std::string& error) {
  qv::log("Error in Realm transaction: %s", error.c_str());
  qv::log("The trace '%s' was not stored", capture.name.c_str());
}

}  // namespace qv
