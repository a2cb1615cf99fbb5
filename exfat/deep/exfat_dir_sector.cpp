#include "exfat/deep/exfat_dir_sector.h"

#include <algorithm>
#include <array>
#include <vector>

#include "exfat/exfat_dir_entry.h"

namespace dunmere {

bool IsExfatEntryType(uint8_t t) {
  switch (t & 0x7F) {
    case 0x00:  // end mark, or an unused slot's cleared type
      return t == 0x00;
    case 0x01:  // bitmap
    case 0x02:  // up-case table
    case 0x03:  // volume label
    case 0x05:  // file
    case 0x20:  // volume GUID
    case 0x21:  // padding
    case 0x22:  // access control table
    case 0x40:  // stream extension
    case 0x41:  // file name
    case 0x60:  // vendor extension
    case 0x61:  // vendor allocation
      return true;
    default:
      return false;
  }
}

namespace {
// 1 for a byte that is no entry type: every sector a deep pass reads, and
// every sector of a file carving sizes, is tested, so the test is a lookup.
const std::array<uint8_t, 256> kNotEntryType = [] {
  std::array<uint8_t, 256> t{};
  for (size_t v = 0; v < t.size(); ++v) t[v] = IsExfatEntryType(uint8_t(v)) ? 0 : 1;
  return t;
}();
// 1 for the types a set (a file entry, in use or deleted) or the root's
// bitmap and up-case entries start with.
const std::array<uint8_t, 256> kStartType = [] {
  std::array<uint8_t, 256> t{};
  for (uint8_t v : {kExfatFileEntry, uint8_t(kExfatFileEntry & ~kExfatInUse), kExfatBitmapEntry, kExfatUpcaseEntry})
    t[v] = 1;
  return t;
}();
}  // namespace

ExfatSlotTypes ReadExfatSlotTypes(ByteView sector) {
  ExfatSlotTypes out;
  const size_t slots = sector.size() / kExfatEntrySize;
  if (slots == 0) return out;
  const size_t allowedMisses = slots / 4;
  const uint8_t* p = sector.data();
  size_t misses = 0;
  uint8_t starts = 0;
  // Most sectors of other data fail within the first few slots: counted a
  // few slots at a time, without a branch on each.
  constexpr size_t kStep = 8;
  for (size_t i = 0; i < slots; i += kStep) {
    const size_t stop = std::min(slots, i + kStep);
    for (size_t j = i; j < stop; ++j) {
      const uint8_t type = p[j * kExfatEntrySize];
      misses += kNotEntryType[type];
      starts |= kStartType[type];
    }
    if (misses > allowedMisses) return out;
  }
  out.mostAreEntries = true;
  out.anyStart = starts != 0;
  return out;
}

bool FindRootEntries(ByteView sector, ExfatDataEntry& bitmap, ExfatDataEntry& upcase) {
  bool haveBitmap = false, haveUpcase = false;
  for (size_t at = 0; at + kExfatEntrySize <= sector.size(); at += kExfatEntrySize) {
    // Zeroed sectors reach this from every deep pass: most slots are
    // passed over by their type alone.
    const uint8_t type = sector.U8(at);
    if (type != kExfatBitmapEntry && type != kExfatUpcaseEntry) continue;
    ByteView e = sector.Sub(at, kExfatEntrySize);
    // The first bitmap entry is the first FAT's (a second FAT has a second one).
    if (!haveBitmap && ParseBitmapEntry(e, bitmap) && (bitmap.flags & 1) == 0) haveBitmap = true;
    if (!haveUpcase && ParseUpcaseEntry(e, upcase)) haveUpcase = true;
  }
  return haveBitmap && haveUpcase && bitmap.dataLength > 0 && upcase.dataLength > 0;
}

bool IsExfatDirectorySector(ByteView sector) {
  return ScanExfatSector(sector, sector.size(), 0, 0, nullptr, nullptr).taken;
}

ExfatSectorScan ScanExfatSector(ByteView run, size_t sectorBytes, uint64_t at, uint64_t coveredUntil,
                                const ExfatByteReader& readMore, ExfatSectorSink* sink) {
  ExfatSectorScan out;
  if (sectorBytes < kExfatEntrySize || run.size() < sectorBytes) return out;
  ByteView sector = run.Sub(0, sectorBytes);
  const ExfatSlotTypes types = ReadExfatSlotTypes(sector);
  if (!types.mostAreEntries) return out;
  // Zeroed sectors, a good part of most media, pass that test too: when no
  // slot's type can start a set or be a root entry, only a set of an
  // earlier sector can make the sector a directory's.
  if (!types.anyStart) {
    out.taken = at < coveredUntil;
    return out;
  }

  const size_t slots = sectorBytes / kExfatEntrySize;

  std::vector<uint8_t> more;
  for (size_t slot = 0; slot < slots; ++slot) {
    const size_t off = slot * kExfatEntrySize;
    if ((sector.U8(off) | kExfatInUse) != kExfatFileEntry) continue;
    ByteView from = run.Sub(off, kExfatMaxSetBytes);
    ExfatFileSet set;
    ExfatSetState state = ParseExfatFileSet(from, set);
    if (state == ExfatSetState::kTruncated && readMore) {
      // The set runs past the bytes at hand: read it from the medium.
      more.assign(kExfatMaxSetBytes, 0);
      const size_t got = readMore(at + off, more.data(), more.size());
      from = ByteView(more.data(), got);
      state = ParseExfatFileSet(from, set);
    }
    if (state == ExfatSetState::kValid) {
      ++out.sets;
      out.setsEnd = at + off + set.Bytes();
      if (sink) sink->OnSet(at + off, from.Sub(0, set.Bytes()));
      // The set's own entries start no other set.
      slot += set.entryCount - 1;
    } else if (sink && off + (size_t(sector.U8(off + 1)) + 1) * kExfatEntrySize > sectorBytes) {
      // Read on past the sector the entries no longer hold together: the
      // set may go on in its folder's next cluster, elsewhere on the medium.
      ExfatFileSet head;
      if (ParseExfatFileSet(sector.Sub(off, sectorBytes - off), head) == ExfatSetState::kTruncated)
        sink->OnCutSet(at + off);
    }
  }
  ExfatDataEntry bitmap, upcase;
  out.root = FindRootEntries(sector, bitmap, upcase);
  if (out.root && sink) sink->OnRootSector(at, sector);
  out.taken = out.sets > 0 || out.root || at < coveredUntil;
  return out;
}

}  // namespace dunmere
