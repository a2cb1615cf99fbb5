#pragma once
// A stop request that the reads on one thread honour between reads. A medium
// whose reads stall (a failing disk can take many seconds per read) would
// otherwise keep a stopped scan or copy going until its engine's next
// progress report, which may be thousands of reads away. Once the request
// is seen, every read not yet started on that thread fails at once with
// kStopRequested; the read in flight finishes first.
#include <functional>

namespace dunmere {

class ReadStopScope {
 public:
  // `requested` is asked before each read piece on this thread while the
  // scope lives; scopes nest, the innermost one counts.
  explicit ReadStopScope(std::function<bool()> requested);
  ~ReadStopScope();
  ReadStopScope(const ReadStopScope&) = delete;
  ReadStopScope& operator=(const ReadStopScope&) = delete;

 private:
  std::function<bool()> requested_;
  ReadStopScope* outer_;
};

// True when this thread's innermost scope says stop.
bool ReadStopRequested();

}  // namespace dunmere
