#pragma once
// What a progress window and its worker thread share: the cancel and finished
// flags, the latest progress (handed to the UI thread at most every interval,
// so a fast engine is not slowed by drawing), a pause that holds the worker at
// its next progress report while the window asks a question, and questions the
// worker puts to the UI thread without ever blocking on it.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "app/core/sessions/scan_session.h"

namespace dunmere {

class WorkerLink {
 public:
  // Called on the worker thread when a progress is ready to be taken; it must
  // only post (never wait for the UI thread).
  using Wake = std::function<void()>;
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  // now: the clock the interval is measured on (tests hand in their own).
  explicit WorkerLink(Wake wake = {}, std::chrono::milliseconds interval = std::chrono::milliseconds(50),
                      Clock now = &std::chrono::steady_clock::now);

  // ---- worker side ----
  // Keeps p as the latest progress, wakes the UI when the interval has passed,
  // waits while paused; kStopRequested once cancelled, else 0.
  int Report(const ScanProgress& p);
  // Wakes the UI for a progress not handed over yet (the last one of a
  // source); the UI thread may call it too, for a worker that has stalled.
  void Flush();
  // Puts a question to the UI thread: `ask` posts it, the UI answers with
  // Answer(). Returns the answer, or `onCancel` when cancelled before.
  int Ask(const std::function<void()>& ask, int onCancel);
  void MarkFinished();

  // ---- UI side ----
  // The progress not taken yet; false when there is none.
  bool Take(ScanProgress& out);
  void Pause();
  void Resume();
  // Also ends a pause and an open question.
  void Cancel();
  void Answer(int answer);

  bool Cancelled() const;
  bool Paused() const;
  bool Finished() const;
  // True while the worker waits in Report() for a paused link.
  bool WorkerHeld() const;
  // How often the UI was woken (for the tests of the coalescing).
  uint64_t Wakes() const;

 private:
  void WakeLocked(std::unique_lock<std::mutex>& lock);

  Wake wake_;
  const std::chrono::milliseconds interval_;
  const Clock now_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool cancelled_ = false, paused_ = false, finished_ = false, held_ = false;
  bool pending_ = false;   // a progress waits to be taken
  bool handedOver_ = true;  // the latest progress was announced to the UI
  ScanProgress latest_;
  std::chrono::steady_clock::time_point lastWake_{};
  uint64_t wakes_ = 0;
  bool asking_ = false, answered_ = false;
  int answer_ = 0;
};

}  // namespace dunmere
