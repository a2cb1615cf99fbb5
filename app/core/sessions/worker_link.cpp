#include "app/core/sessions/worker_link.h"

namespace dunmere {

WorkerLink::WorkerLink(Wake wake, std::chrono::milliseconds interval, Clock now)
    : wake_(std::move(wake)), interval_(interval), now_(std::move(now)) {}

void WorkerLink::WakeLocked(std::unique_lock<std::mutex>& lock) {
  handedOver_ = true;
  pending_ = true;
  lastWake_ = now_();
  ++wakes_;
  lock.unlock();
  if (wake_) wake_();
  lock.lock();
}

int WorkerLink::Report(const ScanProgress& p) {
  std::unique_lock lock(mutex_);
  // While the cancel question is open the worker waits here, so the answer
  // is seen by this very report.
  held_ = true;
  changed_.wait(lock, [&] { return !paused_ || cancelled_; });
  held_ = false;
  if (cancelled_) return kStopRequested;
  latest_ = p;
  handedOver_ = false;
  // The UI takes the latest progress whenever it gets to it; a wake that is
  // still waiting to be taken covers this one too.
  if (!pending_ && now_() - lastWake_ >= interval_) WakeLocked(lock);
  return 0;
}

void WorkerLink::Flush() {
  std::unique_lock lock(mutex_);
  if (!handedOver_ && !pending_) WakeLocked(lock);
}

int WorkerLink::Ask(const std::function<void()>& ask, int onCancel) {
  std::unique_lock lock(mutex_);
  if (cancelled_) return onCancel;
  asking_ = true;
  answered_ = false;
  lock.unlock();
  ask();
  lock.lock();
  changed_.wait(lock, [&] { return answered_ || cancelled_; });
  asking_ = false;
  return answered_ ? answer_ : onCancel;
}

void WorkerLink::MarkFinished() {
  std::lock_guard lock(mutex_);
  finished_ = true;
  changed_.notify_all();
}

bool WorkerLink::Take(ScanProgress& out) {
  std::lock_guard lock(mutex_);
  const bool had = pending_;
  pending_ = false;
  // A progress reported after the wake was announced is taken along with it.
  handedOver_ = true;
  out = latest_;
  return had;
}

void WorkerLink::Pause() {
  std::lock_guard lock(mutex_);
  paused_ = true;
}

void WorkerLink::Resume() {
  std::lock_guard lock(mutex_);
  paused_ = false;
  changed_.notify_all();
}

void WorkerLink::Cancel() {
  std::lock_guard lock(mutex_);
  cancelled_ = true;
  paused_ = false;
  changed_.notify_all();
}

void WorkerLink::Answer(int answer) {
  std::lock_guard lock(mutex_);
  if (!asking_) return;
  answer_ = answer;
  answered_ = true;
  changed_.notify_all();
}

bool WorkerLink::Cancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

bool WorkerLink::Paused() const {
  std::lock_guard lock(mutex_);
  return paused_;
}

bool WorkerLink::WorkerHeld() const {
  std::lock_guard lock(mutex_);
  return held_ && paused_ && !cancelled_;
}

bool WorkerLink::Finished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

uint64_t WorkerLink::Wakes() const {
  std::lock_guard lock(mutex_);
  return wakes_;
}

}  // namespace dunmere
