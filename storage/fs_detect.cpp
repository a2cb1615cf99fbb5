#include "storage/fs_detect.h"

namespace dunmere {

namespace {
bool IsPow2Upto(uint32_t v, uint32_t max) { return v != 0 && v <= max && (v & (v - 1)) == 0; }
bool HasBootSignature(ByteView b) { return b.U8(510) == 0x55 && b.U8(511) == 0xAA; }
}  // namespace

bool IsNtfsBootSector(ByteView b) {
  if (!b.Has(0, 512) || !b.Equals(3, "NTFS    ")) return false;
  uint16_t bps = b.U16(11);
  if (bps == 0 || bps % 512 != 0) return false;
  if (b.U16(14) != 0) return false;
  if (!IsPow2Upto(b.U8(13), 64)) return false;
  if (b.U64(40) == 0) return false;
  for (size_t off : {16, 17, 18, 19, 20, 22, 23, 32, 33, 34, 35})
    if (b.U8(off) != 0) return false;
  return HasBootSignature(b);
}

namespace {
bool IsEncryptedVolume(ByteView b) {
  if (b.Equals(3, "-FVE-FS-")) return true;
  if (!b.Equals(480, "xxxxxxxx")) return false;
  for (size_t i = 0; i < 19; ++i)
    if (b.U8(488 + i) != 0xFF) return false;
  return b.U8(507) == 0x00 && b.U8(508) == 0x1F && b.U8(509) == 0x2C;
}

bool Fat1216Test(ByteView b) {
  return b.U8(16) != 0 && (b.U16(19) != 0 || b.U32(32) != 0) && IsPow2Upto(b.U8(13), 128) && b.U16(22) >= 1 &&
         HasBootSignature(b);
}

bool Fat32Test(ByteView b) {
  return b.Equals(82, "FAT32   ") && b.U8(16) != 0 && b.U32(32) != 0 && IsPow2Upto(b.U8(13), 128) &&
         b.U32(36) >= 1 && HasBootSignature(b);
}
}  // namespace

bool IsFatBootSector(ByteView b) {
  if (!b.Has(0, 512) || IsEncryptedVolume(b)) return false;
  uint32_t sectorsPerFat = b.U16(22) ? b.U16(22) : b.U32(36);
  uint32_t total = b.U32(32) ? b.U32(32) : b.U16(19);
  uint32_t bps = b.U16(11), spc = b.U8(13);
  if (bps == 0 || spc == 0 || bps % 512 != 0) return false;
  // Unsigned 32-bit arithmetic as the detector has always done it: an
  // underflow gives a huge count, which falls in the "not FAT" band.
  uint32_t clusters =
      (total - uint32_t(b.U16(17)) * 32u / bps - uint32_t(b.U8(16)) * sectorsPerFat - b.U16(14)) / spc;
  if (clusters < 65525) return Fat1216Test(b) || Fat32Test(b);
  if (clusters < 0x0FFFFFF0u) return Fat32Test(b) || Fat1216Test(b);
  return false;
}

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
