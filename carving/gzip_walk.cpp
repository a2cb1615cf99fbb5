#include "carving/gzip_walk.h"

#include <zlib.h>

namespace dunmere {

struct GzipWalk::Inflater {
  z_stream s{};
  bool ready = false;
  uint8_t out[32768];
};

GzipWalk::GzipWalk() : z_(std::make_unique<Inflater>()) {
  z_->ready = inflateInit2(&z_->s, -15) == Z_OK;  // raw deflate: the gzip wrapper is read here
  if (!z_->ready) Break();
}

GzipWalk::~GzipWalk() {
  if (z_->ready) inflateEnd(&z_->s);
}

bool GzipWalk::ParseHeader(ByteView b) {
  // The header lies in the first piece (the first sector) or the walk gives up.
  if (!b.Has(0, 10) || b.U8(0) != 0x1F || b.U8(1) != 0x8B || b.U8(2) != 8) return false;
  const uint8_t flags = b.U8(3);
  if (flags & 0xE0) return false;
  size_t at = 10;
  if (flags & 4) {  // extra field
    if (!b.Has(at, 2)) return false;
    at += 2 + b.U16(at);
  }
  for (uint8_t bit : {uint8_t(8), uint8_t(16)}) {  // name, comment: zero-terminated
    if (!(flags & bit)) continue;
    while (b.Has(at, 1) && b.U8(at) != 0) ++at;
    if (!b.Has(at, 1)) return false;
    ++at;
  }
  if (flags & 2) at += 2;  // header CRC
  if (!b.Has(at, 1)) return false;
  consumed_ = at;
  return true;
}

StructureWalk::State GzipWalk::Feed(ByteView b, uint64_t off) {
  if (state_ != State::kGoing) return state_;
  if (!started_) {
    if (off != 0 || !ParseHeader(b)) {
      Break();
      return state_;
    }
    started_ = true;
  }
  const uint64_t limit = off + b.size();
  if (consumed_ >= limit) return state_;
  if (off > consumed_) {
    Break();
    return state_;
  }
  z_stream& s = z_->s;
  s.next_in = const_cast<Bytef*>(b.data() + (consumed_ - off));
  const uInt given = uInt(limit - consumed_);
  s.avail_in = given;
  while (true) {
    s.next_out = z_->out;
    s.avail_out = sizeof z_->out;
    const int r = inflate(&s, Z_NO_FLUSH);
    if (r == Z_STREAM_END) {
      consumed_ += given - s.avail_in;
      Finish(consumed_ + 8);  // CRC-32 and length
      return state_;
    }
    if (r == Z_BUF_ERROR || (r == Z_OK && s.avail_in == 0 && s.avail_out != 0)) break;
    if (r != Z_OK) {
      Break();
      return state_;
    }
  }
  consumed_ += given - s.avail_in;
  if (s.avail_in != 0) Break();  // input left that inflate would not take
  return state_;
}

}  // namespace dunmere
