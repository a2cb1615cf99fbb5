#include "cli/progress_display.h"

#include "app/core/results/text_formats.h"

namespace dunmere::cli {

std::string ProgressDisplay::Details(int percent, uint64_t done, uint64_t total, uint64_t found, int64_t secondsLeft) {
  std::string s = std::to_string(percent) + "%";
  if (total) s += "  sectors " + std::to_string(done) + "/" + std::to_string(total);
  if (found) s += "  files " + std::to_string(found);
  if (secondsLeft >= 0) s += "  " + FormatDuration(secondsLeft) + " left";
  return s;
}

void ProgressDisplay::Update(int percent, uint64_t done, uint64_t total, uint64_t found, int64_t secondsLeft) {
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;
  auto now = std::chrono::steady_clock::now();
  if (terminal_) {
    // Redraw at most ten times a second, and always at the end.
    if (drawn_ && percent != 100 && now - lastLine_ < std::chrono::milliseconds(100)) return;
    constexpr int kWidth = 30;
    int fill = percent * kWidth / 100;
    std::string bar = "[" + std::string(size_t(fill), '#') + std::string(size_t(kWidth - fill), '-') + "]";
    err_ << "\r\x1b[K" << what_ << " " << bar << " " << Details(percent, done, total, found, secondsLeft)
         << std::flush;
    drawn_ = true;
    lastLine_ = now;
    return;
  }
  bool due = percent >= lastPercent_ + 10 || (percent == 100 && lastPercent_ != 100) ||
             now - lastLine_ >= std::chrono::seconds(5);
  if (!due) return;
  err_ << what_ << ": " << Details(percent, done, total, found, secondsLeft) << "\n" << std::flush;
  lastPercent_ = percent;
  lastLine_ = now;
}

void ProgressDisplay::Finish() {
  if (terminal_ && drawn_) err_ << "\n" << std::flush;
  drawn_ = false;
}

}  // namespace dunmere::cli
