#include "fat/deep/dir_buffer.h"

#include "fat/dir_entry_tests.h"
#include "fat/fat_dir_entry.h"
#include "fat/fat_names.h"

namespace dunmere {

namespace {
bool IsDotEntry(ByteView e) { return e.U8(0) == '.' && e.U8(1) == ' '; }
bool IsDotDotEntry(ByteView e) { return e.U8(0) == '.' && e.U8(1) == '.'; }
}  // namespace

FatDirParseOutcome ParseFatDirBuffer(ByteView buf, const FatBufferPlace& p, uint32_t sectorSize, uint32_t rootCluster,
                                     FatDirEntrySink& sink) {
  FatDirParseOutcome out;
  auto normalize = [&](uint32_t c) { return c == 0 ? rootCluster : c; };
  uint32_t curDir = normalize(p.cluster);
  const size_t n = buf.size() / kFatDirEntrySize * kFatDirEntrySize;
  auto sectorOf = [&](size_t off) {
    return off < p.joinAt ? p.firstSector + off / sectorSize : p.joinSector + (off - p.joinAt) / sectorSize;
  };
  LongNameAssembler lfn;
  size_t lfnStart = 0;
  uint8_t lfnSum = 0;
  // Whether the long name began with its last part (stored first, flag
  // 0x40); a deleted one has lost that flag and is taken as it is.
  bool lfnWhole = false;
  uint8_t lfnSeq = 0;
  for (size_t off = 0; off < n; off += kFatDirEntrySize) {
    ByteView rest = buf.Sub(off, n - off);
    ByteView raw = rest.Sub(0, kFatDirEntrySize);
    FatDirEntry e(raw);
    if (e.First() == 0) {
      out.ended = true;
      sink.OnDirEnd(curDir);
      return out;
    }
    bool plainFile = false;
    if (!IsPlausibleDirEntry(rest)) {
      plainFile = IsPlausibleFileWithoutArchive(raw);
      if (!plainFile) {
        lfn.Reset();
        continue;
      }
    }
    const uint8_t a = e.Attributes();
    if (a == kFatAttrLongName) {
      if (lfn.Empty()) {
        lfnStart = off;
        lfnSum = e.LfnChecksumByte();
        lfnWhole = e.IsDeleted() || (e.First() & 0x40);
      }
      // More than 19 parts: nothing sane follows in this buffer.
      if (!lfn.Add(raw)) return out;
      lfnSeq = e.IsDeleted() ? 0 : uint8_t(e.First() & 0x3F);
      continue;
    }
    std::string longName = lfn.Take();
    // Another entry's long name (the checksum disagrees) is not this one's;
    // a deleted entry's first byte is gone, so it cannot be compared.
    if (!longName.empty() && !e.IsDeleted() && LfnChecksum(raw.Sub(0, 11)) != lfnSum) longName.clear();
    // Parts without their beginning (the sector before them was lost) would
    // name the file after a fragment: its short name is better.
    if (!lfnWhole) longName.clear();
    if (a & kFatAttrDirectory) {
      if (IsDotEntry(raw)) {
        if (IsDotPair(rest)) curDir = normalize(e.FirstCluster(true));
        continue;
      }
      if (IsDotDotEntry(raw)) continue;
      sink.OnFolderEntry(raw, longName.empty() ? FormatShortName(raw, true) : longName, curDir, sectorOf(off));
    } else if ((a & kFatAttrArchive) || plainFile) {
      sink.OnFileEntry(raw, longName.empty() ? FormatShortName(raw, false) : longName, curDir, sectorOf(off));
    }
  }
  if (!lfn.Empty() && lfnStart < n) {
    out.hasTail = true;
    out.tail.checksum = lfnSum;
    out.tail.guess = p.guess;
    out.tail.cluster = curDir;
    out.tail.dirSector = p.dirSector;
    out.tail.sector = sectorOf(n - 1);
    out.tail.lastSeq = lfnSeq;
    out.tail.bytes.assign(buf.data() + lfnStart, buf.data() + n);
  }
  return out;
}

}  // namespace dunmere
