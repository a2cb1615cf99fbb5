#include "carving/structure_walk.h"

#include <algorithm>

namespace dunmere {

void StructureWalk::Want(uint64_t pos, uint32_t n) {
  // Only forward: the same place again only for more bytes than before.
  const bool forward = pos > pos_ || (pos == pos_ && n > need_);
  if (!forward || n == 0 || n > kMaxSpan) {
    Break();
    return;
  }
  // More bytes at the same place: those already gathered stay (they may lie
  // in a piece that has gone by).
  have_ = pos == pos_ ? need_ : 0;
  pos_ = pos;
  need_ = n;
  asked_ = true;
}

void StructureWalk::Finish(uint64_t end) {
  if (end < pos_) {  // a walk never ends before what it has already covered
    Break();
    return;
  }
  end_ = end;
  state_ = State::kEnded;
}

StructureWalk::State StructureWalk::Feed(ByteView bytes, uint64_t off) {
  const uint64_t limit = off + bytes.size();
  while (state_ == State::kGoing) {
    const uint64_t at = pos_ + have_;
    if (at >= limit) break;
    if (off > at) {  // a gap: what lies between is unknown
      Break();
      break;
    }
    const uint32_t take = uint32_t(std::min<uint64_t>(need_ - have_, limit - at));
    std::copy_n(bytes.data() + (at - off), take, span_ + have_);
    have_ += take;
    if (have_ < need_) break;
    asked_ = false;
    uint8_t copy[kMaxSpan];
    std::copy_n(span_, need_, copy);
    OnSpan(copy, pos_, need_);
    if (state_ == State::kGoing && !asked_) Break();
  }
  return state_;
}

bool WalkEnd::Usable(CarveContext& ctx) {
  // An end past the cap is not believed.
  if (walk_.GetState() == StructureWalk::State::kEnded && walk_.End() > cap_ + ctx.sectorSize) return false;
  return walk_.GetState() != StructureWalk::State::kBroken;
}

bool WalkEnd::Search(CarveContext& ctx, ByteView b, uint64_t off, uint64_t& end) {
  if (!exact && walk_.GetState() != StructureWalk::State::kBroken) {
    walk_.Feed(b, off);
    if (Usable(ctx) && walk_.GetState() == StructureWalk::State::kEnded) {
      end = walk_.End();
      exact = true;
      return true;
    }
    if (walk_.GetState() == StructureWalk::State::kGoing) return false;
  }
  return fallback_ && fallback_->Search(ctx, b, off, end);
}

bool WalkEnd::HoldsHeaderAt(CarveContext& ctx, ByteView b, uint64_t off, uint64_t at) {
  if (walk_.GetState() != StructureWalk::State::kBroken && at >= off) {
    // Fed up to the header only, unless the walk checks every byte: a file
    // that ends right before it must not take the next file's first bytes
    // for more of its own.
    uint64_t upTo = at - off;
    if (walk_.ChecksEveryByte()) upTo = std::min<uint64_t>(upTo + ctx.sectorSize, b.size());
    walk_.Feed(b.Sub(0, size_t(upTo)), off);
    // A piece the header's first bytes complete (a box header whose size
    // field ended the sector before, or a 64-bit size after it) is read to
    // its end: the walk then says whether the header is its own. Fed no
    // further, it would end the file inside its own header.
    for (int i = 0; i < 4 && !walk_.ChecksEveryByte() && walk_.AsksAcross(at); ++i) {
      const uint64_t before = walk_.AskedEnd();
      walk_.Feed(b.Sub(0, size_t(std::min<uint64_t>(before - off, b.size()))), off);
      if (walk_.GetState() == StructureWalk::State::kGoing && walk_.AskedEnd() == before) break;
    }
    if (!Usable(ctx)) return false;
    if (walk_.GetState() == StructureWalk::State::kEnded) return walk_.End() > at;
    if (walk_.GetState() == StructureWalk::State::kGoing) return walk_.Reach() > at;
  }
  return fallback_ && fallback_->HoldsHeaderAt(ctx, b, off, at);
}

uint64_t SizeByWalk(CarveContext& ctx, ByteView first, uint64_t cap, StructureWalk& walk, EndSearch* fallback,
                    FileTypeCode own) {
  WalkEnd search(walk, fallback, cap);
  return RunScanFrame(ctx, first, cap, &search, own);
}

uint64_t SizeByClosingWalk(CarveContext& ctx, ByteView first, uint64_t cap, StructureWalk& walk,
                           EndSearch* fallback, FileTypeCode own) {
  const uint64_t size = SizeByWalk(ctx, first, cap, walk, fallback, own);
  // An end the walk reached but the carve did not take (past the cap) is
  // no close either.
  const bool reached = walk.GetState() != StructureWalk::State::kEnded || walk.End() <= size;
  if (!walk.Closed() || !reached) ctx.partial = true;
  return size;
}

}  // namespace dunmere
