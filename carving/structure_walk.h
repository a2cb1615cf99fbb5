#pragma once
// The common part of the walks that size a file by its own structure: a walk
// asks for a few bytes at a file offset (a chunk header, a length field), the
// pieces a size rule reads are fed to it in order, and once the bytes have
// arrived the walk tells where to look next, that the file ends at a given
// offset, or that the bytes cannot be what the format says (damage, another
// file). Every request must lie further on than the one before, so lengths
// however hostile can neither loop nor make the walk read outside the pieces.
#include <cstdint>

#include "base/bytes.h"
#include "carving/scan_frame.h"

namespace dunmere {

class StructureWalk {
 public:
  enum class State { kGoing, kEnded, kBroken };
  virtual ~StructureWalk() = default;
  // Feeds the file's bytes that lie at `fileOffset`; bytes before the walk's
  // position are skipped, a gap after it breaks the walk.
  virtual State Feed(ByteView bytes, uint64_t fileOffset);
  State GetState() const { return state_; }
  // The byte after the file (kEnded).
  uint64_t End() const { return end_; }
  // While going: every byte before this offset belongs to the file.
  virtual uint64_t Reach() const { return pos_; }
  // Whether a header the size rule meets is judged by feeding the walk the
  // header's own sector: right for a walk that checks every byte (a deflate
  // stream fails on another file's bytes), wrong for one that follows lengths
  // (it would take the next file's first bytes for more of its own).
  virtual bool ChecksEveryByte() const { return false; }
  // Whether the walk, asking for its next piece right where another file's
  // header begins, can tell that file's first bytes from a piece of its own
  // (a movie's boxes: a second file-type or movie box is another movie's).
  virtual bool TellsTheNextFileApart() const { return false; }
  // Whether the file's own structure closed: the walk reached an end the
  // format itself marks. Walks of formats without such an end never say so.
  virtual bool Closed() const { return false; }
  // While going: whether the bytes asked for next take in the header at file
  // offset `at`, so that its first bytes are the rest of a piece already
  // begun (a box header cut by a sector boundary), or begin right there for
  // a walk that tells the next file apart.
  bool AsksAcross(uint64_t at) const {
    return state_ == State::kGoing && pos_ <= at && at < pos_ + need_ && (pos_ < at || TellsTheNextFileApart());
  }
  // The offset after the bytes asked for next.
  uint64_t AskedEnd() const { return pos_ + need_; }

 protected:
  static constexpr uint32_t kMaxSpan = 64;
  // Asks for `n` (1..kMaxSpan) bytes at `pos`.
  void Want(uint64_t pos, uint32_t n);
  void Finish(uint64_t end);
  void Break() { state_ = State::kBroken; }
  // The bytes asked for have arrived; the walk answers with Want, Finish or
  // Break (no answer breaks it).
  virtual void OnSpan(const uint8_t* span, uint64_t pos, uint32_t n) = 0;

  State state_ = State::kGoing;
  uint64_t end_ = 0;

 private:
  uint64_t pos_ = 0;
  uint32_t need_ = 0;
  uint32_t have_ = 0;
  bool asked_ = false;
  uint8_t span_[kMaxSpan] = {};
};

// The end search of a size rule that walks the structure: the walk's end
// where it reaches one (and no further than `cap` past the first sector),
// the format's own marker search (or none: the next header) from the chunk
// where the walk breaks. Headers that lie inside what the walk has covered
// are the file's own and do not end it.
class WalkEnd : public EndSearch {
 public:
  WalkEnd(StructureWalk& walk, EndSearch* fallback, uint64_t cap) : walk_(walk), fallback_(fallback), cap_(cap) {}
  bool Search(CarveContext& ctx, ByteView bytes, uint64_t fileOffset, uint64_t& end) override;
  bool HoldsHeaderAt(CarveContext& ctx, ByteView bytes, uint64_t fileOffset, uint64_t headerAt) override;
  bool exact = false;  // the end came from the structure

 private:
  bool Usable(CarveContext& ctx);
  StructureWalk& walk_;
  EndSearch* fallback_;
  uint64_t cap_;
};

// Runs the scan frame with a structure walk and its fallback.
uint64_t SizeByWalk(CarveContext& ctx, ByteView first, uint64_t cap, StructureWalk& walk, EndSearch* fallback,
                    FileTypeCode own = kNoMatch);
// The same for a format whose structure shows that a file is whole: unless
// the walk closed where the carve ends, the file is marked partial.
uint64_t SizeByClosingWalk(CarveContext& ctx, ByteView first, uint64_t cap, StructureWalk& walk,
                           EndSearch* fallback, FileTypeCode own = kNoMatch);

}  // namespace dunmere
