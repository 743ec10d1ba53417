#include "platform/operation_queue.h"

#include <stdexcept>
#include <utility>

namespace qb {

bool TOperationQueue::Submit(TOperation op) {
  const bool busy = Busy();
  queue_.push_back(std::move(op));
  if (busy) {
    WaitingChanged();
    return false;
  }
  DrainThenIdle();
  return true;
}

void TOperationQueue::DrainThenIdle() {
  Drain();
  if (OnIdle && !Busy() && queue_.empty()) OnIdle();
}

void TOperationQueue::Drain() {
  // Cleared on every way out, so an escaping error cannot leave the queue jammed.
  struct TRunning {
    bool& flag;
    explicit TRunning(bool& f) : flag(f) { flag = true; }
    ~TRunning() { flag = false; }
  } running(running_);
  bool first = true;
  while (!queue_.empty() && !retry_pending_) {
    if (!first && BetweenOperations) {
      BetweenOperations();
      if (queue_.empty() || retry_pending_) break;
    }
    first = false;
    TOperation op = std::move(queue_.front());
    queue_.pop_front();
    WaitingChanged();
    RunOne(op);
  }
}

void TOperationQueue::RunOne(TOperation& op) {
  try {
    op.Run();
    retries_ = 0;
  } catch (const std::exception& e) {
    const bool retry = op.RetryWhenCabinetBusy && IsCabinetBusy && ScheduleRetry && retries_ < kMaxRetries &&
                       IsCabinetBusy(e);
    if (!retry) {
      retries_ = 0;
      Report(e);
      return;
    }
    ++retries_;
    queue_.push_front(std::move(op));
    retry_pending_ = true;
    WaitingChanged();
    ScheduleRetry(kRetryDelayMs, [this] {
      retry_pending_ = false;
      if (!running_) DrainThenIdle();
    });
  } catch (...) {
    retries_ = 0;
    Report(std::runtime_error("An unexpected error occurred"));
  }
}

void TOperationQueue::Report(const std::exception& e) {
  if (!ReportError) return;
  try {
    ReportError(e);
  } catch (...) {
    // The report itself failed; the next operation still runs.
  }
}

void TOperationQueue::WaitingChanged() {
  if (OnWaitingChanged) OnWaitingChanged(queue_.size());
}

}  // namespace qb
