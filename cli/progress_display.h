#pragma once
// Progress on stderr: a bar redrawn in place on a terminal, plain lines every
// few seconds (or every tenth of the way) otherwise.
#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

namespace dunmere::cli {

class ProgressDisplay {
 public:
  ProgressDisplay(std::ostream& err, bool terminal, std::string what) : err_(err), terminal_(terminal), what_(what) {}
  // done/total are sector counts (0 = not known), found a file count (0 = not known).
  void Update(int percent, uint64_t done, uint64_t total, uint64_t found, int64_t secondsLeft);
  // Ends the bar's line.
  void Finish();
  // The text of one update (without the bar), for both forms.
  static std::string Details(int percent, uint64_t done, uint64_t total, uint64_t found, int64_t secondsLeft);

 private:
  std::ostream& err_;
  bool terminal_;
  std::string what_;
  bool drawn_ = false;
  int lastPercent_ = -100;
  std::chrono::steady_clock::time_point lastLine_{};
};

}  // namespace dunmere::cli
