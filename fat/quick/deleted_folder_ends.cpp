#include "fat/quick/deleted_folder_ends.h"

#include "fat/fat_dir_entry.h"
#include "fat/continuations.h"

namespace dunmere {

FolderCandidate DescribeCandidate(uint32_t cluster, ByteView entries, bool fat32) {
  FolderCandidate c;
  c.cluster = cluster;
  if (entries.size() < kFatDirEntrySize) return c;
  FatDirEntry first(entries.Sub(0, kFatDirEntrySize));
  if (first.Attributes() == kFatAttrLongName) {
    c.opensWithLongName = true;
    c.lfnChecksum = first.LfnChecksumByte();
  }
  for (size_t off = 0; off + kFatDirEntrySize <= entries.size(); off += kFatDirEntrySize) {
    FatDirEntry e(entries.Sub(off, kFatDirEntrySize));
    if (e.First() == 0) break;
    const uint8_t a = e.Attributes();
    if (a == kFatAttrLongName || (a & kFatAttrVolumeLabel)) continue;
    const uint32_t fc = e.FirstCluster(fat32);
    if (fc < 2 || (!(a & kFatAttrDirectory) && e.Size() == 0)) continue;
    c.hasData = true;
    c.firstData = fc;
    break;
  }
  return c;
}

bool ContinuesFolder(const OpenFolderEnd& end, const FolderCandidate& c,
                     const std::function<bool(uint32_t, uint32_t)>& allFree) {
  if (end.inLongName && c.opensWithLongName && c.lfnChecksum == end.lfnChecksum) return true;
  if (!end.hasData || !c.hasData || c.firstData < end.dataEnd) return false;
  return c.firstData - end.dataEnd <= kMaxFatContinuationGap && allFree(end.dataEnd, c.firstData);
}

}  // namespace dunmere
