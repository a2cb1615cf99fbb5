#include "engine/progress_estimator.h"

namespace dunmere {

void ProgressEstimator::Start(Clock::time_point now) {
  start_ = now;
  lastEstimate_ = now;
  secondsLeft_ = -1;
}

int64_t ProgressEstimator::Update(uint64_t done, uint64_t total, bool estimate, Clock::time_point now) {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  using std::chrono::seconds;
  if (estimate && duration_cast<milliseconds>(now - lastEstimate_).count() > 4999) {
    lastEstimate_ = now;
    int64_t secs = duration_cast<seconds>(now - start_).count();
    uint64_t speed = secs > 0 ? done / uint64_t(secs) : done;
    if (speed < 1) speed = 1;
    secondsLeft_ = int64_t((total > done ? total - done : 0) / speed);
  }
  return secondsLeft_;
}

}  // namespace dunmere
