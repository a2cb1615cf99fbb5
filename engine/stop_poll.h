#pragma once
// The stop question asked during work that has no progress of its own to
// report (building folders after the sectors are read): the progress
// callback is asked at the first Stopped() and then at most every
// kIntervalMs, so a stop is seen within that time of the work between two
// Stopped() calls, without a callback for every item. Once the callback
// answers non-zero, every later Stopped() is true without asking again.
#include <algorithm>
#include <chrono>
#include <cstdint>

#include "engine/callbacks.h"

namespace dunmere {

class StopPoll {
 public:
  static constexpr int kIntervalMs = 100;

  // callback null: never stops. percent and share go out with each question
  // (percent: how far the work is, 0 to 100, when it can tell).
  StopPoll(ScanProgressCallback callback, void* user, int percent, int share)
      : callback_(callback), user_(user), percent_(percent), share_(share) {}

  bool Stopped() {
    if (answer_) return true;
    if (!callback_) return false;
    const auto now = Clock::now();
    if (asked_ && now - last_ < std::chrono::milliseconds(kIntervalMs)) return false;
    asked_ = true;
    last_ = now;
    answer_ = callback_(user_, percent_, share_, 0, 0, 0, 0, 0);
    return answer_ != 0;
  }
  // How far the work has got, for the next question.
  void SetProgress(uint64_t done, uint64_t total) {
    percent_ = total ? int(std::min(done, total) * 100 / total) : 0;
  }
  // The callback's answer (0 until it asked to stop).
  int Answer() const { return answer_; }

 private:
  using Clock = std::chrono::steady_clock;
  ScanProgressCallback callback_;
  void* user_;
  int percent_, share_;
  bool asked_ = false;
  Clock::time_point last_{};
  int answer_ = 0;
};

// The quick engines' folder walk: how many folders there are is not known up
// front, so the bar creeps on a step every kStepMs while the stop question
// is asked every StopPoll::kIntervalMs. Asks only between Begin and End (the
// scan's walk, not a later listing that walks folders too).
class WalkStopPoll {
 public:
  static constexpr int kStepMs = 5000;

  void Begin(ScanProgressCallback callback, void* user, int share) {
    callback_ = callback;
    user_ = user;
    share_ = share;
    start_ = last_ = Clock::now();
    answer_ = 0;
    walking_ = true;
  }
  // The callback's answer (0 unless it asked to stop); no question after it.
  int End() {
    walking_ = false;
    return answer_;
  }
  bool Stopped() {
    if (!walking_) return false;
    if (answer_) return true;
    if (!callback_) return false;
    const auto now = Clock::now();
    if (now - last_ < std::chrono::milliseconds(StopPoll::kIntervalMs)) return false;
    last_ = now;
    const int step = int(std::chrono::duration_cast<std::chrono::milliseconds>(now - start_).count() / kStepMs);
    // Share 9: the quick pass in front of a deep scan, its bar from 20 on.
    answer_ = share_ == 9 ? callback_(user_, std::min(79, 20 + step), share_, -1, 0, 0, 0, 0)
                          : callback_(user_, std::min(79, 1 + step), share_, std::max(1, 100 - step), 0, 0, 0, 0);
    return answer_ != 0;
  }

 private:
  using Clock = std::chrono::steady_clock;
  ScanProgressCallback callback_ = nullptr;
  void* user_ = nullptr;
  int share_ = 0;
  Clock::time_point start_{}, last_{};
  int answer_ = 0;
  bool walking_ = false;
};

}  // namespace dunmere
