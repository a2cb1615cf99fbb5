#pragma once
// The reads of the deep pass on a thread of their own, so that the medium is
// read while the engines look at what came before. The reader reads pieces of
// one chunk each along a plan (the ranges the pass will read) into a small
// ring and waits while the ring is full; the pass takes its chunks from the
// ring. Only whole, plain reads are handed over: a piece that fails (a bad
// sector, the end of the medium) stops the reader, and the pass reads that
// chunk itself as it always did, so bad sectors are retried, counted and
// reported exactly as without the reader, and only for chunks the pass uses.
// Carving's size rules read the file they size from the ring too (SectorFeed),
// so what the reader read ahead over a carved file is not read twice.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "carving/carve_context.h"
#include "engine/sector_test.h"
#include "platform/large_buffer.h"
#include "storage/sector_source.h"

namespace dunmere {

class ReadAhead final : public SectorFeed {
 public:
  // A range of the pass (in sectors of the area), read from `offset` on.
  struct Stretch {
    uint64_t rangeStart = 0, rangeLength = 0, offset = 0;
  };
  enum class Take { kData, kReadItYourself, kNotAhead, kStopped };

  // Pieces of `pieceSectors` sectors, at most `depth` of them read ahead.
  ReadAhead(const SectorSource& source, uint64_t areaStart, uint32_t sectorSize, uint32_t pieceSectors,
            uint32_t depth);
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Drops what was read and reads the stretches from now on, in order.
  void Restart(std::vector<Stretch> plan);

  // The `count` sectors at `offset` of the range at `rangeStart`, which must
  // not lie before those taken last. kData: `data` points at them until the
  // next call. kReadItYourself: a read among them failed. kNotAhead: the
  // reader is not heading there (Restart it). kStopped: `stop` said so while
  // the reader was still busy. With kData, `plain` (when not null) is set to
  // the sectors' flags as Sectors gives them.
  Take TakeChunk(uint64_t rangeStart, uint64_t offset, uint32_t count, const uint8_t*& data,
                 const std::function<bool()>& stop, const uint8_t** plain = nullptr);

  // While a chunk is dispatched: sectors at and after it that the ring holds
  // or will hold without dropping it (a carved file's next window).
  const uint8_t* Sectors(uint64_t sector, uint32_t count, const uint8_t** plain) override;

  // The reader also judges the sectors it reads (PlainSector, with carving's
  // directory test) while the pass has at least `whenQueued` pieces queued,
  // so that the pass's forward scans pass over plain sectors without testing
  // them: the work goes to the thread that would wait otherwise. Before the
  // first Restart.
  void JudgeSectors(SectorTest directorySector, uint32_t whenQueued);

 private:
  struct Piece {
    uint64_t first = 0;  // absolute sector
    uint64_t rangeStart = 0, offset = 0;
    uint32_t sectors = 0;
    bool failed = false;
    bool judged = false;  // its sectors' flags are set
  };
  void Read();
  // Whether the reader may read the next piece; mutex_ held.
  bool HasRoom();
  // The pass waits for the reader (at most `most`); mutex_ held.
  std::cv_status WaitForPiece(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds most);
  uint8_t* Slot(uint64_t index) { return ring_.get() + (index % depth_) * pieceBytes_; }
  uint8_t* PlainSlot(uint64_t index) { return plain_.data() + (index % depth_) * pieceSectors_; }
  // The stretch and offset the reader goes on from, or past its plan.
  bool Next(uint64_t& rangeStart, uint64_t& offset, uint32_t& sectors) const;

  SectorSource source_;  // a handle of its own: a handle's end-of-file state is not shared
  const uint64_t areaStart_;
  const uint32_t sectorSize_, pieceSectors_, depth_;
  const size_t pieceBytes_;
  // Pieces `from` on, as long as they follow one another, up to `end`
  // (absolute): contiguous memory, or a copy into `spare`. With `plain`,
  // their sectors' flags alike (a copy into `plainSpare`), null unless judged.
  const uint8_t* Join(uint64_t from, uint64_t sector, uint64_t end, std::vector<uint8_t>& spare,
                      const uint8_t** plain = nullptr, std::vector<uint8_t>* plainSpare = nullptr);

  // Not cleared first: only pieces read whole are handed out, and clearing
  // 2 MiB before the first read cost a small scan a sixth of its time.
  LargeBuffer ring_;
  std::vector<uint8_t> bounce_, feedBounce_;
  std::vector<uint8_t> plain_;  // a flag per sector of the ring
  std::vector<uint8_t> plainBounce_, feedPlainBounce_;
  bool judge_ = false;
  uint32_t judgeWhenQueued_ = 0;
  SectorTest directorySector_ = nullptr;
  std::vector<Piece> pieces_;

  std::mutex mutex_;
  std::condition_variable room_, arrived_;
  uint64_t head_ = 0, tail_ = 0;  // pieces taken off the ring / put on it
  std::vector<Stretch> plan_;
  size_t planAt_ = 0;
  bool idle_ = true;  // the plan is read to its end, or a read failed
  bool reading_ = false;
  bool refillAtHalf_ = false;  // the ring was full: the reader waits until half of it is free
  bool passWaiting_ = false;   // the pass sleeps until a piece arrives
  uint64_t readingRange_ = 0, readingOffset_ = 0;
  std::atomic<uint64_t> generation_{0};
  std::atomic<bool> quit_{false};
  std::thread thread_;
};

}  // namespace dunmere
