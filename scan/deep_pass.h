#pragma once
// The one read of the area in a deep scan: chunk after chunk over the current
// range and, when the quick engine supplied free extents, every later one;
// each chunk goes to the sector dispatcher, progress goes out with time left.
// The medium is read ahead on a thread of its own (ReadAhead) unless the pass
// is told to read on its own thread; both give the same records in the same
// order, and the position saved is always that of the chunks dispatched.
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/callbacks.h"
#include "engine/scan_resume_entry.h"
#include "scan/free_ranges.h"
#include "scan/read_ahead.h"
#include "scan/sector_dispatch.h"
#include "storage/sector_source.h"

namespace dunmere {

struct PassReport {
  ScanProgressCallback callback = nullptr;
  void* user = nullptr;
  int share = 90;  // the pass owns the estimate only with the deep share of the bar
};

class DeepPass {
 public:
  static constexpr uint32_t kChunkBytes = 65536;
  // Chunks read ahead of the one being dispatched (0: the pass reads them itself).
  static constexpr uint32_t kReadAheadChunks = 32;
  // The reader judges sectors for the pass while this many pieces wait for
  // it (ReadAhead::JudgeSectors): half the ring, where the reader, once the
  // ring was full, starts reading again, balanced the two threads best on
  // cached images (a quarter: 0.63-0.69 of dd's speed, half: 0.68-0.81).
  static constexpr uint32_t kJudgeWhenQueued = kReadAheadChunks / 2;

  // foundCount: files found so far, including those of an earlier run.
  DeepPass(const SectorSource& source, uint64_t areaStart, uint32_t sectorSize, SectorDispatcher& dispatch,
           std::function<uint64_t()> foundCount)
      : source_(source), areaStart_(areaStart), sectorSize_(sectorSize), dispatch_(dispatch),
        foundCount_(std::move(foundCount)) {}

  // Reads on from `pos` (its range, offset and sectors done) until the ranges
  // end, a stop (kStopRequested, or the callback's non-zero answer) or an
  // error; `pos` then holds where the pass got to. `ranges` null: one range.
  Status Run(ResumeProgress& pos, uint64_t totalSectors, FreeRanges* ranges, const PassReport& report);

  // `judgeWhenQueued`: see kJudgeWhenQueued.
  void SetReadAhead(uint32_t chunks, uint32_t judgeWhenQueued) {
    aheadChunks_ = chunks;
    judgeWhenQueued_ = judgeWhenQueued;
  }

 private:
  // What the reader is to read from `pos` on: the rest of its range and,
  // with free ranges, a few of the next ones.
  std::vector<ReadAhead::Stretch> Plan(const ResumeProgress& pos, FreeRanges* ranges) const;

  const SectorSource& source_;
  uint64_t areaStart_;
  uint32_t sectorSize_;
  SectorDispatcher& dispatch_;
  std::function<uint64_t()> foundCount_;
  uint32_t aheadChunks_ = kReadAheadChunks;
  uint32_t judgeWhenQueued_ = kJudgeWhenQueued;
};

}  // namespace dunmere
