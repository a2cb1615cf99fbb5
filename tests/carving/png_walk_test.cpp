// Following a PNG's chunks piece by piece, on hand-made files with damage no
// encoder writes.
#include "carving/png_walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace dunmere {
namespace {

using Bytes = std::vector<uint8_t>;

void Chunk(Bytes& b, const std::string& type, size_t length, uint8_t fill = 0x49) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(length >> s));
  b.insert(b.end(), type.begin(), type.end());
  b.insert(b.end(), length, fill);
  b.insert(b.end(), 4, 0xCC);  // CRC (not checked)
}
// Signature, IHDR, a data chunk holding the IEND marker's bytes, IEND.
Bytes Png() {
  Bytes b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Chunk(b, "IHDR", 13);
  Chunk(b, "IDAT", 3000);
  const uint8_t fake[] = {'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  std::copy(fake, fake + 8, b.begin() + 100);
  Chunk(b, "tEXt", 0);
  Chunk(b, "IEND", 0);
  return b;
}

PngWalk::State FeedInPieces(PngWalk& w, const Bytes& b, size_t piece) {
  PngWalk::State s = PngWalk::State::kGoing;
  for (size_t off = 0; off < b.size() && s == PngWalk::State::kGoing; off += piece) {
    s = w.Feed(ByteView(b.data() + off, std::min(piece, b.size() - off)), off);
  }
  return s;
}

TEST(PngWalkTest, EndsAfterIendWhateverThePiecesAndIgnoresMarkersInData) {
  const Bytes png = Png();
  Bytes more = png;
  more.resize(png.size() + 900, 0x5A);
  for (size_t piece : {1u, 5u, 512u, 65536u}) {
    SCOPED_TRACE(piece);
    PngWalk w;
    ASSERT_EQ(FeedInPieces(w, more, piece), PngWalk::State::kEnded);
    EXPECT_EQ(w.End(), png.size());
  }
}

TEST(PngWalkTest, DamagedChunksBreakTheWalkAndTruncationKeepsItGoing) {
  const Bytes png = Png();
  const size_t idat = 8 + 25;  // the second chunk's header
  auto broken = [&](Bytes b) {
    PngWalk w;
    return FeedInPieces(w, b, 512) == PngWalk::State::kBroken;
  };
  Bytes badType = png;
  badType[idat + 5] = '#';
  EXPECT_TRUE(broken(badType));
  Bytes hugeLength = png;
  hugeLength[idat] = 0x80;
  EXPECT_TRUE(broken(hugeLength));
  Bytes iendWithData = png;
  iendWithData[png.size() - 12 + 3] = 4;
  EXPECT_TRUE(broken(iendWithData));
  // Cut inside IEND's header: no end yet. (Once its header is there the end
  // is known, CRC or not.)
  PngWalk cut;
  EXPECT_EQ(cut.Feed(ByteView(png.data(), png.size() - 6), 0), PngWalk::State::kGoing);
  PngWalk gap;
  gap.Feed(ByteView(png.data(), 20), 0);
  EXPECT_EQ(gap.Feed(ByteView(png.data() + 40, 20), 40), PngWalk::State::kBroken);
}

}  // namespace
}  // namespace dunmere
