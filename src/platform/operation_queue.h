// TOperationQueue: the main window's commands, one at a time, in the order they
// came.
//
// The archive engine dispatches pending window messages while it reads and writes
// a cabinet, so that the window repaints during long work. A message handled then
// - a clipboard change with AutoSave on, a menu or tool bar command, an explorer
// click, a drop - must not start a second operation on the archive object that is
// in the middle of one (the engine is not re-entrant), nor change the tree under a
// command that still holds its nodes. So every command of the main window is an
// operation submitted here:
//
// - When nothing runs, the operation runs at once, and Submit returns after it.
// - While one runs (its archive work, and the modal questions it asks, count as
//   running), a new operation waits; it runs as soon as the running one and every
//   one submitted before it have ended, in arrival order. Nothing is refused and
//   nothing is dropped; the host shows that work is waiting (OnWaitingChanged).
// - An operation that throws is reported (ReportError) and the next one runs.
// - An operation marked RetryWhenCabinetBusy that fails because another program
//   holds the cabinet (IsCabinetBusy says so) goes back to the head of the queue
//   and is tried again after kRetryDelayMs, at most kMaxRetries times in a row,
//   before its error is reported. The operations behind it wait meanwhile, so the
//   order holds. Without ScheduleRetry (a host timer) nothing is retried.
//
// What an operation needs of the moment it was asked for (the clipboard's content
// at a copy, the tag of a menu item) it captures when it is submitted; what it
// finds in the cabinet and the tree it reads when it runs, so a queued command acts
// on the state the commands before it left.
//
// All members are called on the user-interface thread. The queue does not care
// where an operation spends its time: an operation that later hands its archive
// work to another thread and ends when that work ends keeps every guarantee above.
#pragma once

#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <string>

namespace qb {

struct TOperation {
  std::string Name;  // the handler's name ("SaveToFCMiClick", "AutoSave", ...), for reports
  std::function<void()> Run;
  // A store that met a cabinet held by another program is tried again later.
  bool RetryWhenCabinetBusy = false;
};

class TOperationQueue {
 public:
  static constexpr int kRetryDelayMs = 250;
  // Each try also waits (in the engine) for the other writer; some half a minute in all.
  static constexpr int kMaxRetries = 8;

  TOperationQueue() = default;
  TOperationQueue(const TOperationQueue&) = delete;
  TOperationQueue& operator=(const TOperationQueue&) = delete;

  // Shows an error an operation raised (the program's error box). Without one the
  // error is dropped.
  std::function<void(const std::exception&)> ReportError;
  // True when an error means that another program holds the cabinet right now.
  std::function<bool(const std::exception&)> IsCabinetBusy;
  // Calls resume once, delay_ms from now, from the event loop. The host must not
  // call it after the queue is gone.
  std::function<void(int delay_ms, std::function<void()> resume)> ScheduleRetry;
  // Told the number of waiting operations whenever it changes.
  std::function<void(size_t waiting)> OnWaitingChanged;
  // Dispatches pending window messages between two operations that run back to
  // back, as the engine does during its work (so a clipboard change is taken
  // before the next copy can replace it). May be empty.
  std::function<void()> BetweenOperations;
  // Told when the last operation has ended and none waits (the window shows what
  // they changed). May be empty.
  std::function<void()> OnIdle;

  // Runs op now when the queue is idle, then every operation submitted meanwhile;
  // otherwise queues it. Returns true when op ran (or failed) before returning.
  bool Submit(TOperation op);
  // An operation runs, or one waits for its retry.
  bool Busy() const { return running_ || retry_pending_; }
  size_t Waiting() const { return queue_.size(); }

 private:
  void Drain();
  void DrainThenIdle();
  void RunOne(TOperation& op);
  void Report(const std::exception& e);
  void WaitingChanged();

  std::deque<TOperation> queue_;
  bool running_ = false;
  bool retry_pending_ = false;
  int retries_ = 0;  // of the operation at the head, in a row
};

}  // namespace qb
