#include "scan/fs_detect.h"

#include "fat/fat_boot_sector.h"
#include "ntfs/ntfs_boot_sector.h"

namespace dunmere {

bool IsExtSuperblock(ByteView b) {
  ByteView s = b.Sub(1024, 1024);
  if (s.size() < 1024 || s.U16(56) != 0xEF53) return false;
  uint32_t inodes = s.U32(0), blocks = s.U32(4), blocksPerGroup = s.U32(32), inodesPerGroup = s.U32(40);
  if (!inodes || !blocks || !blocksPerGroup || !inodesPerGroup) return false;
  uint32_t firstIno = s.U32(84);
  if (firstIno <= 2) return false;
  uint32_t firstDataBlock = s.U32(20);
  if (blocks <= firstDataBlock) return false;
  if ((blocks - firstDataBlock - 1) / blocksPerGroup + 1 != (inodes - 1) / inodesPerGroup + 1) return false;
  uint32_t logBlock = s.U32(24);
  bool oneK = logBlock == 0;
  if ((firstDataBlock == 1) != oneK || firstDataBlock > 1) return false;
  return inodes > firstIno;
}

FsKind DetectFileSystem(ByteView b) {
  if (IsNtfsBootSector(b)) return FsKind::kNtfs;
  if (IsFatBootSector(b)) return FsKind::kFat;
  if (IsExtSuperblock(b)) return FsKind::kExt;
  return FsKind::kOther;
}

}  // namespace dunmere
