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

}  // namespace dunmere
