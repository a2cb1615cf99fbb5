#include "scan/deep_pass.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <vector>

#include "engine/progress_estimator.h"
#include "storage/read_stop.h"

namespace dunmere {

namespace {
// The reader plans this many ranges ahead at most: free extents can be
// many and small.
constexpr size_t kPlanRanges = 64;
}  // namespace

std::vector<ReadAhead::Stretch> DeepPass::Plan(const ResumeProgress& pos, FreeRanges* ranges) const {
  std::vector<ReadAhead::Stretch> plan{{pos.rangeStart, pos.rangeLength, pos.rangeOffset}};
  if (!ranges) return plan;
  const uint64_t want = uint64_t(aheadChunks_) * 4 * (kChunkBytes / sectorSize_);
  uint64_t ahead = pos.rangeLength - std::min(pos.rangeOffset, pos.rangeLength);
  for (uint64_t start = pos.rangeStart + pos.rangeLength, length = 0; plan.size() < kPlanRanges && ahead < want;
       start += length) {
    ranges->Next(start, length);
    if (length == 0) break;
    plan.push_back({start, length, 0});
    ahead += length;
  }
  return plan;
}

Status DeepPass::Run(ResumeProgress& pos, uint64_t total, FreeRanges* ranges, const PassReport& report) {
  Status result = kOk;
  std::vector<uint8_t> chunk(kChunkBytes);
  const uint32_t perChunk = std::max<uint32_t>(1, kChunkBytes / sectorSize_);
  std::optional<ReadAhead> ahead;
  try {
    if (aheadChunks_ > 0) ahead.emplace(source_, areaStart_, sectorSize_, perChunk, aheadChunks_);
  } catch (const std::exception&) {
    // No thread or no memory for the ring: the pass reads on its own thread.
  }
  struct FeedScope {
    SectorDispatcher& dispatch;
    ~FeedScope() { dispatch.FeedCarvingFrom(nullptr); }
  } feedScope{dispatch_};
  if (ahead) {
    ahead->JudgeSectors(dispatch_.CarvingDirectoryTest(), judgeWhenQueued_);
    dispatch_.FeedCarvingFrom(&*ahead);
  }
  const std::function<bool()> stopAsked = [] { return ReadStopRequested(); };
  ProgressEstimator estimate;
  estimate.Start();
  int64_t secondsLeft = -1;
  CarveScanProgress cp;
  while (result == kOk && pos.rangeLength > 0) {
    uint64_t remaining = pos.rangeOffset < pos.rangeLength ? pos.rangeLength - pos.rangeOffset : 0;
    while (remaining > 0) {
      const uint64_t at = areaStart_ + pos.rangeStart + pos.rangeOffset;
      uint32_t n = uint32_t(std::min<uint64_t>(perChunk, remaining));
      // Sectors that cannot be read arrive as zeros (and are counted by the
      // source); the pass goes on past them. Only a read past the medium's
      // end delivers nothing.
      uint32_t bad = 0;
      const uint8_t* data = chunk.data();
      const uint8_t* plain = nullptr;  // the reader's judgement of the chunk's sectors
      Status rs = kOk;
      ReadAhead::Take took = ReadAhead::Take::kReadItYourself;
      if (ahead) {
        // As the pass's own read would, a stop asked for before the chunk
        // keeps the position before it.
        took = ReadStopRequested() ? ReadAhead::Take::kStopped : ReadAhead::Take::kNotAhead;
        for (int tries = 0; took == ReadAhead::Take::kNotAhead && tries < 2; ++tries) {
          // A carved file moved the pass past what was read ahead: the
          // reader starts again where the pass goes on.
          if (tries > 0) ahead->Restart(Plan(pos, ranges));
          took = ahead->TakeChunk(pos.rangeStart, pos.rangeOffset, n, data, stopAsked, &plain);
        }
        if (took == ReadAhead::Take::kStopped) rs = kStopRequested;
        if (took == ReadAhead::Take::kNotAhead) took = ReadAhead::Take::kReadItYourself;
      }
      if (took == ReadAhead::Take::kReadItYourself) {
        data = chunk.data();
        plain = nullptr;
        rs = source_.ReadSectorsSkippingBad(n, chunk.data(), at, sectorSize_, bad);
      }
      if (rs == kStopRequested) {
        // Stopped before this chunk was read: the position stays before it.
        result = rs;
        break;
      }
      uint32_t got = rs == kOk ? n : 0;
      uint64_t consumed = n;
      bool stopped = false;
      cp.sectorsDone = pos.sectorsDone;
      cp.sectorsTotal = total;
      cp.secondsLeft = secondsLeft;
      cp.filesFound = foundCount_();
      if (got > 0) {
        // A chunk is dispatched whole or not at all: its records and the
        // position after it are saved together, so the engines' own reads
        // (carving's look-ahead) are not cut short by a stop; the stop is
        // taken at the report after the chunk.
        ReadStopScope wholeChunk({});
        try {
          uint64_t reached = dispatch_.DispatchChunk(data, got, at, cp, stopped, plain);
          consumed = stopped ? reached : std::max<uint64_t>(reached, n);
        } catch (...) {
          // A sector that broke a parser costs its chunk, not the scan.
        }
      }
      pos.rangeOffset += consumed;
      pos.sectorsDone += std::min(consumed, remaining);
      remaining = consumed >= remaining ? 0 : remaining - consumed;

      secondsLeft = estimate.Update(pos.sectorsDone * sectorSize_, total * sectorSize_, report.share == 90);
      if (stopped) {
        result = kStopRequested;
        break;
      }
      if (report.callback) {
        uint64_t done = pos.sectorsDone;
        int percent = int((total ? std::min(done, total) * 100 / total : 100) * 90 / 100 + 10);
        if (int answer = report.callback(report.user, std::min(percent, 100), report.share, secondsLeft, done, total,
                                         foundCount_(), ranges ? kStageReadingFreeSectors : kStageReadingSectors)) {
          result = answer;
          break;
        }
      }
    }
    if (result != kOk || !ranges) break;
    pos.rangeStart += pos.rangeLength;
    pos.rangeOffset = 0;
    ranges->Next(pos.rangeStart, pos.rangeLength);
  }
  return result;
}

}  // namespace dunmere
