// Following a JPEG's structure chunk by chunk, on hand-made streams whose
// damage real encoders never write.
#include "carving/jpeg_walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <vector>

namespace dunmere {
namespace {

using Bytes = std::vector<uint8_t>;

void Add(Bytes& b, std::initializer_list<uint8_t> v) { b.insert(b.end(), v); }
// A segment of `payload` bytes (each `fill`) after marker FF `code`.
void Segment(Bytes& b, uint8_t code, size_t payload, uint8_t fill = 0x11) {
  Add(b, {0xFF, code, uint8_t((payload + 2) >> 8), uint8_t(payload + 2)});
  b.insert(b.end(), payload, fill);
}
// SOI, an APP1 holding a whole thumbnail (its own SOI..EOI), tables, one scan
// with stuffed bytes and restart markers, a second scan, EOI.
Bytes Picture() {
  Bytes b;
  Add(b, {0xFF, 0xD8});
  Segment(b, 0xE1, 300, 0x00);
  b[10] = 0xFF;  // the thumbnail's markers inside APP1 are payload
  b[11] = 0xD9;
  Segment(b, 0xDB, 67);
  Add(b, {0xFF, 0xFF});  // fill bytes before a marker
  Segment(b, 0xC4, 30);
  Segment(b, 0xDA, 10);
  for (int i = 0; i < 2000; ++i) b.push_back(uint8_t(i * 7 % 255));  // no FF in it
  Add(b, {0xFF, 0x00, 0x12, 0xFF, 0xD3, 0x44});
  Segment(b, 0xC4, 20);  // progressive: tables between scans
  Segment(b, 0xDA, 10);
  Add(b, {0x55, 0xFF, 0x00, 0x66});
  Add(b, {0xFF, 0xD9});
  return b;
}

JpegWalk::State FeedInPieces(JpegWalk& w, const Bytes& b, size_t piece) {
  JpegWalk::State s = JpegWalk::State::kGoing;
  for (size_t off = 0; off < b.size() && s == JpegWalk::State::kGoing; off += piece) {
    size_t n = std::min(piece, b.size() - off);
    s = w.Feed(ByteView(b.data() + off, n), off);
  }
  return s;
}

TEST(JpegWalkTest, EndsAfterTheEndMarkerWhateverThePieces) {
  Bytes pic = Picture();
  Bytes withTail = pic;
  withTail.resize(pic.size() + 700, 0xAB);  // what follows is not looked at
  for (size_t piece : {1u, 2u, 3u, 512u, 4096u, 65536u}) {
    SCOPED_TRACE(piece);
    JpegWalk w;
    ASSERT_EQ(FeedInPieces(w, withTail, piece), JpegWalk::State::kEnded);
    EXPECT_EQ(w.End(), pic.size());
    // Fed again: the answer stays.
    EXPECT_EQ(w.Feed(ByteView(withTail.data(), withTail.size()), 0), JpegWalk::State::kEnded);
  }
  // Overlapping pieces: bytes already seen are skipped.
  JpegWalk w;
  EXPECT_EQ(w.Feed(ByteView(pic.data(), 1000), 0), JpegWalk::State::kGoing);
  EXPECT_EQ(w.Feed(ByteView(pic.data() + 500, pic.size() - 500), 500), JpegWalk::State::kEnded);
  EXPECT_EQ(w.End(), pic.size());
}

TEST(JpegWalkTest, DamageBreaksTheWalkAndTruncationKeepsItGoing) {
  Bytes pic = Picture();
  // Offsets in Picture(): APP1 payload 6..305, DQT at 306 (length 308..309),
  // the first scan's data from 427.
  struct Case {
    const char* what;
    size_t at;
    std::vector<uint8_t> bytes;
  };
  const std::vector<Case> cases = {{"no start marker", 1, {0xE0}},
                                   {"no marker after a segment", 306, {0x12}},
                                   {"a length below 2", 308, {0x00, 0x01}},
                                   {"a reserved marker in the data", 527, {0xFF, 0x45}},
                                   {"a start marker in the data", 527, {0xFF, 0xD8}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes bad = pic;
    std::copy(c.bytes.begin(), c.bytes.end(), bad.begin() + long(c.at));
    JpegWalk w;
    EXPECT_EQ(FeedInPieces(w, bad, 512), JpegWalk::State::kBroken);
  }
  // Cut short: still going, never an end.
  JpegWalk w;
  EXPECT_EQ(w.Feed(ByteView(pic.data(), pic.size() - 1), 0), JpegWalk::State::kGoing);
  // A gap in what is fed is no JPEG any more.
  JpegWalk gap;
  gap.Feed(ByteView(pic.data(), 100), 0);
  EXPECT_EQ(gap.Feed(ByteView(pic.data() + 200, 100), 200), JpegWalk::State::kBroken);
}

}  // namespace
}  // namespace dunmere
