#pragma once
// Follows a gzip member: its header (with the optional extra field, name,
// comment and header CRC), then the deflate stream, inflated as the pieces
// come, then the 8-byte trailer, after which the file ends. A deflate stream
// that does not decode breaks the walk.
#include <memory>

#include "carving/structure_walk.h"

namespace dunmere {

class GzipWalk : public StructureWalk {
 public:
  GzipWalk();
  ~GzipWalk() override;
  GzipWalk(const GzipWalk&) = delete;
  GzipWalk& operator=(const GzipWalk&) = delete;
  State Feed(ByteView bytes, uint64_t fileOffset) override;
  uint64_t Reach() const override { return consumed_; }
  bool ChecksEveryByte() const override { return true; }
  // The trailer after the stream's last block was reached.
  bool Closed() const override { return state_ == State::kEnded; }

 protected:
  void OnSpan(const uint8_t*, uint64_t, uint32_t) override {}

 private:
  bool ParseHeader(ByteView bytes);
  struct Inflater;
  std::unique_ptr<Inflater> z_;
  uint64_t consumed_ = 0;  // file offset of the next byte to inflate
  bool started_ = false;
};

}  // namespace dunmere
