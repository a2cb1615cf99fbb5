#include "scan/read_ahead.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

#include "carving/scan_frame.h"
#include "storage/read_stop.h"

namespace dunmere {

namespace {
// While it waits on a slow read, the pass looks at its own stop this often.
constexpr auto kStopLook = std::chrono::milliseconds(20);
}  // namespace

ReadAhead::ReadAhead(const SectorSource& source, uint64_t areaStart, uint32_t sectorSize, uint32_t pieceSectors,
                     uint32_t depth)
    : source_(source.Share()), areaStart_(areaStart), sectorSize_(sectorSize),
      pieceSectors_(std::max<uint32_t>(1, pieceSectors)), depth_(std::max<uint32_t>(2, depth)),
      pieceBytes_(size_t(pieceSectors_) * sectorSize_),
      ring_(AllocateLargeBuffer(depth_ * pieceBytes_)), bounce_(pieceBytes_), pieces_(depth_) {
  // Without a ring the pass reads on its own thread (it catches this).
  if (!ring_) throw std::bad_alloc();
  thread_ = std::thread(&ReadAhead::Read, this);
}

void ReadAhead::JudgeSectors(SectorTest directorySector, uint32_t whenQueued) {
  std::lock_guard<std::mutex> hold(mutex_);
  plain_.assign(size_t(depth_) * pieceSectors_, 0);
  directorySector_ = directorySector;
  judgeWhenQueued_ = whenQueued;
  judge_ = true;
}

ReadAhead::~ReadAhead() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    quit_ = true;
  }
  room_.notify_all();
  // The read in flight, if any, finishes first: a single piece.
  thread_.join();
}

bool ReadAhead::Next(uint64_t& rangeStart, uint64_t& offset, uint32_t& sectors) const {
  if (idle_ || planAt_ >= plan_.size()) return false;
  const Stretch& s = plan_[planAt_];
  rangeStart = s.rangeStart;
  offset = s.offset;
  sectors = uint32_t(std::min<uint64_t>(pieceSectors_, s.rangeLength - s.offset));
  return true;
}

void ReadAhead::Restart(std::vector<Stretch> plan) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    ++generation_;
    head_ = tail_;
    refillAtHalf_ = false;
    plan_ = std::move(plan);
    planAt_ = 0;
    while (planAt_ < plan_.size() && plan_[planAt_].offset >= plan_[planAt_].rangeLength) ++planAt_;
    idle_ = planAt_ >= plan_.size();
  }
  room_.notify_one();
}

void ReadAhead::Read() {
  uint64_t mine = 0;
  // A restart or the end cuts a long read short between its pieces.
  ReadStopScope cut([this, &mine] { return quit_ || generation_ != mine; });
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    room_.wait(lock, [this] { return quit_ || (!idle_ && HasRoom()); });
    if (quit_) return;
    uint64_t range = 0, offset = 0;
    uint32_t n = 0;
    if (!Next(range, offset, n)) continue;
    mine = generation_;
    uint8_t* to = Slot(tail_);
    // Only while the pass has enough pieces queued: judging slows the
    // reader, and a pass waiting for this piece would wait longer. So the
    // work settles on whichever thread has time for it.
    const bool judge = judge_ && tail_ - head_ >= judgeWhenQueued_;
    uint8_t* flags = judge ? PlainSlot(tail_) : nullptr;
    lock.unlock();
    uint32_t got = 0;
    const Status s = source_.ReadSectors(n, to, areaStart_ + range + offset, sectorSize_, got);
    if (judge && s == kOk)
      for (uint32_t i = 0; i < n; ++i)
        flags[i] = PlainSector(ByteView(to + size_t(i) * sectorSize_, sectorSize_), directorySector_);
    lock.lock();
    if (generation_ != mine) continue;  // restarted meanwhile: the piece is of no use
    pieces_[tail_ % depth_] = Piece{areaStart_ + range + offset, range, offset, n, s != kOk, judge && s == kOk};
    ++tail_;
    // Full: the reader sleeps until half the ring is free, so that it and
    // the pass hand over pieces in batches. Woken for each piece taken, it
    // slept and woke thousands of times a pass, and waking a sleeping
    // thread costs far more than copying a piece (most on a virtual machine).
    if (tail_ - head_ >= depth_) refillAtHalf_ = true;
    if (s != kOk) {
      // The pass reads it again with its retries; reading on would only
      // double the slow reads of a failing stretch.
      idle_ = true;
    } else {
      Stretch& at = plan_[planAt_];
      at.offset += n;
      if (at.offset >= at.rangeLength) {
        while (++planAt_ < plan_.size() && plan_[planAt_].offset >= plan_[planAt_].rangeLength) {
        }
        idle_ = planAt_ >= plan_.size();
      }
    }
    arrived_.notify_one();
  }
}

ReadAhead::Take ReadAhead::TakeChunk(uint64_t rangeStart, uint64_t offset, uint32_t count, const uint8_t*& data,
                                     const std::function<bool()>& stop, const uint8_t** plain) {
  std::unique_lock<std::mutex> lock(mutex_);
  const uint64_t end = offset + count;
  for (;;) {
    // Pieces wholly before the chunk are done with.
    const uint64_t before = head_;
    while (head_ < tail_) {
      const Piece& p = pieces_[head_ % depth_];
      if (p.rangeStart > rangeStart || (p.rangeStart == rangeStart && p.offset + p.sectors > offset)) break;
      ++head_;
    }
    if (head_ != before && HasRoom()) room_.notify_one();

    if (head_ < tail_) {
      const Piece& first = pieces_[head_ % depth_];
      if (first.rangeStart != rangeStart || first.offset > offset) return Take::kNotAhead;
      uint64_t reached = first.offset;
      uint64_t k = head_;
      for (; k < tail_ && reached < end; ++k) {
        const Piece& p = pieces_[k % depth_];
        if (p.rangeStart != rangeStart || p.offset != reached) return Take::kNotAhead;
        if (p.failed) return Take::kReadItYourself;
        reached += p.sectors;
      }
      if (reached >= end) {
        data = Join(head_, areaStart_ + rangeStart + offset, areaStart_ + rangeStart + end, bounce_, plain,
                    &plainBounce_);
        return Take::kData;
      }
    } else {
      uint64_t range = 0, at = 0;
      uint32_t n = 0;
      if (!Next(range, at, n) || range != rangeStart || at > offset || offset >= at + n) return Take::kNotAhead;
    }
    if (idle_) return Take::kNotAhead;
    if (WaitForPiece(lock, kStopLook) == std::cv_status::timeout && stop) {
      lock.unlock();
      const bool stopped = stop();
      lock.lock();
      if (stopped) return Take::kStopped;
    }
  }
}

bool ReadAhead::HasRoom() {
  if (tail_ - head_ >= depth_) return false;
  if (refillAtHalf_ && !passWaiting_ && tail_ - head_ > depth_ / 2) return false;
  refillAtHalf_ = false;
  return true;
}

std::cv_status ReadAhead::WaitForPiece(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds most) {
  // A reader waiting for half the ring to empty reads on at once.
  passWaiting_ = true;
  if (HasRoom()) room_.notify_one();
  const std::cv_status s = arrived_.wait_for(lock, most);
  passWaiting_ = false;
  return s;
}

const uint8_t* ReadAhead::Join(uint64_t from, uint64_t sector, uint64_t end, std::vector<uint8_t>& spare,
                               const uint8_t** plain, std::vector<uint8_t>* plainSpare) {
  const size_t skipSectors = size_t(sector - pieces_[from % depth_].first);
  const size_t skip = skipSectors * sectorSize_;
  uint64_t last = from;
  bool whole = true;  // every piece before the last one full
  bool judged = pieces_[from % depth_].judged;
  for (uint64_t at = pieces_[from % depth_].first + pieces_[from % depth_].sectors; at < end; ++last) {
    whole = whole && pieces_[last % depth_].sectors == pieceSectors_;
    judged = judged && pieces_[(last + 1) % depth_].judged;
    at += pieces_[(last + 1) % depth_].sectors;
  }
  if (plain) *plain = nullptr;
  // Full pieces follow one another in the ring unless it wraps.
  if (whole && from % depth_ + (last - from) < depth_) {
    if (plain && judged) *plain = PlainSlot(from) + skipSectors;
    return Slot(from) + skip;
  }
  const size_t want = size_t(end - sector) * sectorSize_;
  if (spare.size() < want) spare.resize(want);
  if (plain && judged) plainSpare->resize(size_t(end - sector));
  size_t done = 0;
  for (uint64_t j = from; done < want; ++j) {
    const size_t start = j == from ? skip : 0;
    const size_t take = std::min(size_t(pieces_[j % depth_].sectors) * sectorSize_ - start, want - done);
    std::memcpy(spare.data() + done, Slot(j) + start, take);
    if (plain && judged)
      std::memcpy(plainSpare->data() + done / sectorSize_, PlainSlot(j) + start / sectorSize_, take / sectorSize_);
    done += take;
  }
  if (plain && judged) *plain = plainSpare->data();
  return spare.data();
}

const uint8_t* ReadAhead::Sectors(uint64_t sector, uint32_t count, const uint8_t** plain) {
  std::unique_lock<std::mutex> lock(mutex_);
  const uint64_t end = sector + count;
  for (;;) {
    uint64_t k = head_;
    while (k < tail_ && pieces_[k % depth_].first + pieces_[k % depth_].sectors <= sector) ++k;
    bool covering = false;  // queued pieces reach `sector`
    uint64_t reached = 0;
    if (k < tail_) {
      if (pieces_[k % depth_].first > sector) return nullptr;
      reached = pieces_[k % depth_].first;
      for (uint64_t j = k; j < tail_ && reached < end; ++j) {
        const Piece& p = pieces_[j % depth_];
        if (p.first != reached || p.failed) return nullptr;
        reached += p.sectors;
      }
      if (reached >= end) return Join(k, sector, end, feedBounce_, plain, &feedPlainBounce_);
      covering = true;
    } else if (tail_ > head_) {
      const Piece& p = pieces_[(tail_ - 1) % depth_];
      if (p.failed) return nullptr;
      reached = p.first + p.sectors;
    }
    // The reader must be heading there along its stretch, and the ring hold
    // it without dropping the chunk being dispatched.
    uint64_t range = 0, offset = 0;
    uint32_t n = 0;
    if (!Next(range, offset, n)) return nullptr;
    const Stretch& stretch = plan_[planAt_];
    const uint64_t next = areaStart_ + range + offset;
    if (tail_ == head_) reached = next;
    if (next != reached || (!covering && next > sector) ||
        end > areaStart_ + stretch.rangeStart + stretch.rangeLength)
      return nullptr;
    if ((tail_ - head_) + (end - next + pieceSectors_ - 1) / pieceSectors_ > depth_) return nullptr;
    WaitForPiece(lock, std::chrono::hours(1));
  }
}

}  // namespace dunmere
