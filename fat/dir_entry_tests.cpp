#include "fat/dir_entry_tests.h"

#include <cstring>

#include "fat/fat_dir_entry.h"
#include "fat/fat_timestamps.h"

namespace dunmere {
namespace {

// 1990-01-01 00:00:00 and 2050-01-01 00:00:00 as FILETIME.
constexpr uint64_t kEarliestPlausible = 0x01B41E2A18D64000ULL;
constexpr uint64_t kLatestPlausible = 0x01F7630BE39D8000ULL;

bool PlausibleTime(uint64_t ft) {
  if (ft >> 63) return false;
  return ft >= kEarliestPlausible && ft <= kLatestPlausible;
}

bool ForbiddenShortNameByte(uint8_t c) {
  if (c < 0x20) return true;
  if (c >= 'a' && c <= 'z') return true;
  return std::strchr("\"*.:<>?\\|", c) != nullptr && c != 0;
}

}  // namespace

bool IsDotPair(ByteView e) {
  if (!e.Has(0, 2 * kFatDirEntrySize)) return false;
  FatDirEntry first(e);
  FatDirEntry second(e.Sub(kFatDirEntrySize, kFatDirEntrySize));
  return first.First() == '.' && first.IsDirectory() && first.Size() == 0 && second.b.Equals(0, "..") &&
         second.IsDirectory() && second.Size() == 0;
}

bool IsPlausibleDirEntry(ByteView raw) {
  if (!raw.Has(0, kFatDirEntrySize)) return false;
  if (IsDotPair(raw)) return true;
  FatDirEntry e(raw);
  const uint8_t a = e.Attributes();
  const uint8_t f = e.First();
  const uint32_t size = e.Size();
  if (size == 0 && !(a & kFatAttrDirectory) && (e.ClusterHigh() != 0 || e.ClusterLow() != 0)) return false;
  if (a == kFatAttrVolumeLabel) {
    if (size != 0 || e.ClusterHigh() != 0 || e.ClusterLow() != 0) return false;
  } else if (a != kFatAttrLongName && (a & kFatAttrVolumeLabel)) {
    return false;
  }
  if (((a & kFatAttrDirectory) && (a & kFatAttrReadOnly)) || a >= 0x40) return false;
  // The cheap tests first: this runs on every sector carving looks over.
  const bool sizeRuleOk = f == kFatDeletedMark || !(a & kFatAttrDirectory) || size == 0;
  const bool lfnClusterOk = a != kFatAttrLongName || e.ClusterLow() == 0;
  const bool kindOk = a == kFatAttrVolumeLabel || a == kFatAttrLongName || (a & kFatAttrDirectory) ||
                      (a & kFatAttrArchive);
  if (!sizeRuleOk || !lfnClusterOk || !kindOk) return false;
  if (a == kFatAttrLongName) return f == kFatDeletedMark || (f & ~0x40) <= 0x12;
  if (a != kFatAttrVolumeLabel) {
    for (size_t i = 0; i < 11; ++i)
      if (ForbiddenShortNameByte(raw.U8(i))) return false;
  }
  if (f != kFatDeletedMark && !(a & kFatAttrDirectory)) {
    FatTimestamps t = DecodeFatTimestamps(raw);
    if (!PlausibleTime(t.created) || !PlausibleTime(t.accessed) || !PlausibleTime(t.modified)) return false;
  }
  return true;
}

namespace {

// The 8.3 name bytes of a short entry: printable, no '.', no inner spaces, and
// double-byte characters complete.
bool ShortNameBytesValid(ByteView e) {
  for (size_t i = 0; i < 11; ++i) {
    uint8_t c = e.U8(i);
    if (c < 0x20 || c == '.') return false;
  }
  auto noInnerSpace = [&](size_t from, size_t to) {
    bool space = false;
    for (size_t i = from; i < to; ++i) {
      if (e.U8(i) == ' ')
        space = true;
      else if (space)
        return false;
    }
    return true;
  };
  if (!noInnerSpace(0, 8) || !noInnerSpace(8, 11)) return false;
  for (size_t i = e.U8(0) == kFatDeletedMark ? 1 : 0; i < 10; ++i) {
    if (e.U8(i) >= 0x80) {
      if (e.U8(i + 1) < 0x80) return false;
      ++i;  // the trail byte of the pair
    }
  }
  return true;
}

}  // namespace

bool IsDirectoryCluster(ByteView buf) {
  const size_t len = buf.size();
  if (len < kFatDirEntrySize) return true;
  const size_t count = len / kFatDirEntrySize;
  for (size_t i = 0; i < count; ++i) {
    const size_t off = i * kFatDirEntrySize;
    ByteView rest = buf.Sub(off, len - off);
    FatDirEntry e(rest);
    if (e.First() == 0) {
      if (i == 0) return false;
      for (size_t k = off; k < len; ++k)
        if (buf.U8(k) != 0) return false;
      return true;
    }
    if (!IsPlausibleDirEntry(rest)) return false;
    if (std::memcmp(rest.data() + 1, rest.data() + 17, 14) == 0) return false;
    if (e.IsLongName()) {
      const uint8_t sum = e.LfnChecksumByte();
      for (size_t j = i + 1; j < count && j <= i + 18; ++j) {
        const size_t o2 = j * kFatDirEntrySize;
        ByteView next = buf.Sub(o2, len - o2);
        FatDirEntry n(next);
        if (!IsPlausibleDirEntry(next)) return false;
        if (n.IsLongName()) {
          if (n.LfnChecksumByte() != sum) return false;
          continue;
        }
        if (n.First() != kFatDeletedMark && LfnChecksum(next.Sub(0, 11)) != sum) return false;
        break;
      }
    } else {
      if (e.Attributes() != kFatAttrVolumeLabel && DecodeFatTimestamps(rest).created == 0) return false;
      if (!ShortNameBytesValid(rest)) return false;
    }
  }
  return true;
}

bool IsPlausibleFileWithoutArchive(ByteView e) {
  if (!e.Has(0, kFatDirEntrySize)) return false;
  uint8_t a = e.U8(11);
  if (a & (kFatAttrDirectory | kFatAttrVolumeLabel | kFatAttrArchive | 0xC0)) return false;
  uint8_t copy[kFatDirEntrySize];
  std::memcpy(copy, e.data(), kFatDirEntrySize);
  copy[11] = uint8_t(a | kFatAttrArchive);
  return IsPlausibleDirEntry(ByteView(copy, kFatDirEntrySize));
}

uint8_t LfnChecksum(ByteView n) {
  uint8_t sum = 0;
  for (size_t i = 0; i < 11; ++i) sum = uint8_t(((sum >> 1) | (sum << 7)) + n.U8(i));
  return sum;
}

}  // namespace dunmere
