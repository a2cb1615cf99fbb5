#pragma once
// Time left for the quick engines: speed = bytes done / whole seconds since the
// start (at least 1), recomputed at most every 5 seconds and only when the
// engine owns the whole progress bar; -1 until the first estimate.
#include <chrono>
#include <cstdint>

namespace dunmere {

class ProgressEstimator {
 public:
  using Clock = std::chrono::steady_clock;
  void Start(Clock::time_point now = Clock::now());
  // Percent of sectors; secondsLeft as last estimated.
  int64_t Update(uint64_t bytesDone, uint64_t bytesTotal, int share, Clock::time_point now = Clock::now());
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
