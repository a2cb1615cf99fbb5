#pragma once
// Time left of a scan: speed = bytes done / whole seconds since the start (at
// least 1), recomputed at most every 5 seconds and only by the engine that
// owns the estimate; -1 until the first estimate.
#include <chrono>
#include <cstdint>

namespace dunmere {

class ProgressEstimator {
 public:
  using Clock = std::chrono::steady_clock;
  void Start(Clock::time_point now = Clock::now());
  // secondsLeft as last estimated; `estimate` false only keeps the last value.
  int64_t Update(uint64_t bytesDone, uint64_t bytesTotal, bool estimate, Clock::time_point now = Clock::now());
  // A quick engine owns the estimate when it owns the whole progress bar.
  int64_t Update(uint64_t bytesDone, uint64_t bytesTotal, int share, Clock::time_point now = Clock::now()) {
    return Update(bytesDone, bytesTotal, share == 100, now);
  }
  int64_t SecondsLeft() const { return secondsLeft_; }

 private:
  Clock::time_point start_{}, lastEstimate_{};
  int64_t secondsLeft_ = -1;
};

inline int PercentOf(uint64_t done, uint64_t total) {
  if (total == 0) return 100;
  return int((done >= total ? total : done) * 100 / total);
}

}  // namespace dunmere
