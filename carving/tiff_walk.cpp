#include "carving/tiff_walk.h"

#include <algorithm>
#include <vector>

namespace dunmere {

namespace {

constexpr uint32_t kMaxDirectories = 256;
constexpr uint32_t kMaxEntries = 4096;
constexpr uint32_t kMaxArray = 1u << 20;  // strips or tiles of one image

uint32_t TypeSize(uint16_t type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
  }
}

class TiffReader {
 public:
  TiffReader(CarveContext& ctx, uint64_t cap, bool big) : ctx_(ctx), cap_(cap), big_(big) {}

  uint16_t U16(const uint8_t* p) const { return big_ ? Be16(p) : Le16(p); }
  uint32_t U32(const uint8_t* p) const { return big_ ? Be32(p) : Le32(p); }

  // Reads `length` bytes at file offset `at` into `out`; false when they lie past the cap or cannot be read.
  bool Read(uint64_t at, uint32_t length, std::vector<uint8_t>& out) {
    if (at + length > cap_) return false;
    ByteView v = ctx_.ReadFileBytes(ctx_.candidateStart, at, length);
    if (v.size() != length) return false;
    out.assign(v.data(), v.data() + length);
    return true;
  }

  // The values of an array entry (SHORT or LONG), `count` of them.
  bool Values(uint16_t type, uint32_t count, const uint8_t* inlineValue, std::vector<uint32_t>& out) {
    const uint32_t size = TypeSize(type);
    if ((size != 2 && size != 4) || count > kMaxArray) return false;
    out.clear();
    if (uint64_t(count) * size <= 4) {
      for (uint32_t i = 0; i < count; ++i) out.push_back(size == 2 ? U16(inlineValue + 2 * i) : U32(inlineValue));
      return true;
    }
    const uint64_t at = U32(inlineValue);
    std::vector<uint8_t> piece;
    constexpr uint32_t kPiece = 32768;
    for (uint64_t done = 0; done < uint64_t(count) * size; done += kPiece) {
      const uint32_t n = uint32_t(std::min<uint64_t>(kPiece, uint64_t(count) * size - done));
      if (!Read(at + done, n, piece)) return false;
      for (uint32_t i = 0; i + size <= n; i += size) out.push_back(size == 2 ? U16(&piece[i]) : U32(&piece[i]));
    }
    return true;
  }

 private:
  CarveContext& ctx_;
  uint64_t cap_;
  bool big_;
};

struct Entry {
  uint16_t type = 0;
  uint32_t count = 0;
  uint8_t value[4] = {};
  bool present = false;
};

}  // namespace

uint64_t TiffExtent(CarveContext& ctx, uint64_t cap) {
  if (!ctx.UsableSectorSize()) return 0;
  ByteView head = ctx.ReadFileBytes(ctx.candidateStart, 0, 8);
  if (head.size() != 8) return 0;
  const bool big = head.U8(0) == 'M';
  TiffReader r(ctx, cap, big);
  if (r.U16(head.data() + 2) != 42) return 0;  // 43 is a big TIFF, not walked
  std::vector<uint64_t> pending{r.U32(head.data() + 4)};
  std::vector<uint64_t> seen;
  uint64_t extent = 8;
  std::vector<uint8_t> buf;
  std::vector<uint32_t> offsets, lengths;
  while (!pending.empty()) {
    const uint64_t at = pending.back();
    pending.pop_back();
    if (at == 0) continue;
    if (at < 8 || std::find(seen.begin(), seen.end(), at) != seen.end()) return 0;  // a loop
    if (seen.size() >= kMaxDirectories || pending.size() > kMaxDirectories) return 0;
    seen.push_back(at);
    if (!r.Read(at, 2, buf)) return 0;
    const uint32_t n = r.U16(buf.data());
    if (n == 0 || n > kMaxEntries) return 0;
    if (!r.Read(at + 2, 12 * n + 4, buf)) return 0;
    extent = std::max<uint64_t>(extent, at + 2 + 12ull * n + 4);
    // Strips, tiles and the old-style JPEG stream: offset and length arrays by tag.
    Entry strip[2], tile[2], jpeg[2];
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t* e = &buf[12 * i];
      const uint16_t tag = r.U16(e), type = r.U16(e + 2);
      const uint32_t count = r.U32(e + 4);
      const uint32_t size = TypeSize(type);
      const uint64_t bytes = uint64_t(count) * size;
      if (bytes > 4) {
        const uint64_t valueAt = r.U32(e + 8);
        if (valueAt + bytes > cap) return 0;
        extent = std::max(extent, valueAt + bytes);
      }
      Entry* slot = nullptr;
      switch (tag) {
        case 273: slot = &strip[0]; break;
        case 279: slot = &strip[1]; break;
        case 324: slot = &tile[0]; break;
        case 325: slot = &tile[1]; break;
        case 513: slot = &jpeg[0]; break;
        case 514: slot = &jpeg[1]; break;
        case 330: case 34665: case 34853: case 40965:  // sub-IFDs, Exif, GPS, interoperability
          if (r.Values(type == 13 ? 4 : type, count, e + 8, offsets))
            pending.insert(pending.end(), offsets.begin(), offsets.end());
          break;
        default: break;
      }
      if (slot) {
        slot->present = true;
        slot->type = type;
        slot->count = count;
        std::copy_n(e + 8, 4, slot->value);
      }
    }
    for (Entry* pair : {strip, tile, jpeg}) {
      if (!pair[0].present || !pair[1].present) continue;
      if (!r.Values(pair[0].type, pair[0].count, pair[0].value, offsets) ||
          !r.Values(pair[1].type, pair[1].count, pair[1].value, lengths) || offsets.size() != lengths.size())
        return 0;
      for (size_t i = 0; i < offsets.size(); ++i) extent = std::max(extent, uint64_t(offsets[i]) + lengths[i]);
    }
    pending.push_back(r.U32(&buf[12 * n]));  // the next directory
  }
  return extent <= cap ? extent : 0;
}

}  // namespace dunmere
