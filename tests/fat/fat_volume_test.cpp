// Boot-sector geometry, FAT entry decoding and chain following, on boot
// sectors and FATs built byte by byte.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "base/bytes.h"
#include "fat/fat_boot_sector.h"
#include "fat/fat_entry_cache.h"
#include "storage/sector_source.h"
#include "tests/support/test_support.h"

using namespace dunmere;
using namespace dunmere::test;

namespace {

struct Bpb {
  uint16_t bps = 512;
  uint8_t spc = 4;
  uint16_t reserved = 1;
  uint8_t fats = 2;
  uint16_t rootEntries = 512;
  uint16_t total16 = 0;
  uint32_t total32 = 0;
  uint16_t fat16Size = 32;
  uint32_t fat32Size = 0;
  uint32_t rootCluster = 2;
};

std::vector<uint8_t> Boot(const Bpb& p) {
  std::vector<uint8_t> b(512, 0);
  b[0] = 0xEB;
  PutLe16(&b[11], p.bps);
  b[13] = p.spc;
  PutLe16(&b[14], p.reserved);
  b[16] = p.fats;
  PutLe16(&b[17], p.rootEntries);
  PutLe16(&b[19], p.total16);
  PutLe16(&b[22], p.fat16Size);
  PutLe32(&b[32], p.total32);
  PutLe32(&b[36], p.fat32Size);
  PutLe32(&b[44], p.rootCluster);
  b[510] = 0x55;
  b[511] = 0xAA;
  return b;
}

FatVolumeGeometry Geo(const Bpb& p, uint64_t areaSectors = 1u << 30, Status* status = nullptr) {
  auto b = Boot(p);
  FatVolumeGeometry g;
  Status s = ReadFatGeometry(ByteView(b.data(), b.size()), 0, areaSectors, 512, g);
  if (status) *status = s;
  else EXPECT_EQ(s, kOk);
  return g;
}

}  // namespace

TEST(FatGeometry, RootAreaFromTheEntryCount) {
  Bpb p;
  p.total16 = 40000;
  FatVolumeGeometry g = Geo(p);
  EXPECT_EQ(g.rootDirSectors, 32u);
  EXPECT_EQ(g.dataStart, 1u + 2 * 32 + 32);
  p.rootEntries = 224;  // a floppy-style root: 14 sectors
  g = Geo(p);
  EXPECT_EQ(g.rootDirSectors, 14u);
  EXPECT_EQ(g.dataStart, 1u + 64 + 14);
  p.rootEntries = 17;  // rounded up to whole sectors
  EXPECT_EQ(Geo(p).rootDirSectors, 2u);
  p.rootEntries = 0;  // no count at all: the customary 32 sectors
  EXPECT_EQ(Geo(p).rootDirSectors, 32u);
  p.rootEntries = 512;
  p.bps = 4096;
  EXPECT_EQ(Geo(p).rootDirSectors, 4u);
}

TEST(FatGeometry, TypeSizeAndClusterLimits) {
  Bpb p;
  p.total16 = 8000;  // small volumes keep the count in the 16-bit field
  p.fat16Size = 6;
  FatVolumeGeometry g = Geo(p);
  EXPECT_EQ(g.type, FatType::kFat12);
  EXPECT_EQ(g.volumeSectors, 8000u);
  EXPECT_EQ(g.clusterCount, (8000u - g.dataStart) / 4);
  p.total16 = 0;
  p.total32 = 80000;
  p.fat16Size = 80;
  EXPECT_EQ(Geo(p).type, FatType::kFat16);
  // The area given by the caller bounds the volume.
  g = Geo(p, 20000);
  EXPECT_EQ(g.volumeSectors, 20000u);
  EXPECT_EQ(g.clusterCount, (20000u - g.dataStart) / 4);
  // A FAT too small for the area bounds the cluster numbers.
  p.fat16Size = 2;  // 512 entries
  EXPECT_EQ(Geo(p).clusterCount, 510u);

  Bpb f32;
  f32.fat16Size = 0;
  f32.fat32Size = 600;
  f32.rootEntries = 0;
  f32.spc = 1;
  f32.reserved = 32;
  f32.total32 = 70000;
  g = Geo(f32);
  EXPECT_TRUE(g.fat32);
  EXPECT_EQ(g.type, FatType::kFat32);
  EXPECT_EQ(g.dataStart, 32u + 1200);
  EXPECT_EQ(g.RootId(), 2u);
}

TEST(FatGeometry, RefusesImpossibleValues) {
  Status s;
  Bpb p;
  p.total16 = 40000;
  for (uint16_t bps : {0, 256, 768, 8192}) {
    Bpb q = p;
    q.bps = bps;
    Geo(q, 1u << 30, &s);
    EXPECT_EQ(s, kInvalidData) << bps;
  }
  Bpb q = p;
  q.spc = 3;
  Geo(q, 1u << 30, &s);
  EXPECT_EQ(s, kInvalidData);
  q = p;
  q.fats = 0;
  Geo(q, 1u << 30, &s);
  EXPECT_EQ(s, kInvalidData);
  q = p;
  q.fat16Size = 30000;  // the FATs end past the volume
  Geo(q, 1u << 30, &s);
  EXPECT_EQ(s, kInvalidData);
  Bpb f32;
  f32.fat16Size = 0;
  f32.fat32Size = 600;
  f32.total32 = 70000;
  f32.spc = 1;
  f32.rootCluster = 0x0FFFFFF0;  // root outside the volume
  Geo(f32, 1u << 30, &s);
  EXPECT_EQ(s, kInvalidData);
  auto b = Boot(p);
  FatVolumeGeometry g;
  EXPECT_EQ(ReadFatGeometry(ByteView(b.data(), 100), 0, 100000, 512, g), kInvalidData);
}

TEST(FatEntries, DecodesPackedFat12AndMasksFat32) {
  // FAT12 entries 0..4 = 0xFF8, 0xFFF, 0x003, 0xABC, 0xFFF packed in 1.5 bytes each.
  const uint8_t fat12[] = {0xF8, 0xFF, 0xFF, 0x03, 0xC0, 0xAB, 0xFF, 0x0F};
  ByteView v(fat12, sizeof fat12);
  uint32_t x = 0;
  ASSERT_TRUE(DecodeFatEntry(FatType::kFat12, v, 0, 0, x));
  EXPECT_EQ(x, 0xFF8u);
  ASSERT_TRUE(DecodeFatEntry(FatType::kFat12, v, 0, 1, x));
  EXPECT_EQ(x, 0xFFFu);
  ASSERT_TRUE(DecodeFatEntry(FatType::kFat12, v, 0, 2, x));
  EXPECT_EQ(x, 0x003u);
  ASSERT_TRUE(DecodeFatEntry(FatType::kFat12, v, 0, 3, x));
  EXPECT_EQ(x, 0xABCu);
  ASSERT_TRUE(DecodeFatEntry(FatType::kFat12, v, 0, 4, x));
  EXPECT_EQ(x, 0xFFFu);
  EXPECT_FALSE(DecodeFatEntry(FatType::kFat12, v, 0, 5, x));  // would read past the view
  EXPECT_FALSE(DecodeFatEntry(FatType::kFat12, v, 3, 1, x));  // before the view
  EXPECT_TRUE(IsEndOfChain(FatType::kFat12, 0xFF8));
  EXPECT_FALSE(IsEndOfChain(FatType::kFat12, 0xFF7));

  const uint8_t fat32[] = {0, 0, 0, 0, 0xF7, 0xFF, 0xFF, 0xFF};
  ASSERT_TRUE(DecodeFatEntry(FatType::kFat32, ByteView(fat32, 8), 0, 1, x));
  EXPECT_EQ(x, 0x0FFFFFF7u);  // the top four bits are reserved
  EXPECT_FALSE(IsEndOfChain(FatType::kFat32, x));
}

namespace {

// A FAT16 volume (2 sectors per cluster) in a file: boot sector and the first
// FAT filled from `entries`.
struct SmallVolume {
  TempDir dir;
  std::string path;
  FatVolumeGeometry g;
  SectorSource source;
  FatEntryCache cache;

  SmallVolume(const std::vector<uint16_t>& entries, FatType type = FatType::kFat16) {
    Bpb p;
    p.spc = 2;
    p.total16 = type == FatType::kFat12 ? 4000 : 0;
    p.total32 = type == FatType::kFat12 ? 0 : 20000;
    p.fat16Size = type == FatType::kFat12 ? 6 : 40;
    auto boot = Boot(p);
    std::vector<uint8_t> image(size_t(p.total16 ? p.total16 : p.total32) * 512, 0);
    std::copy(boot.begin(), boot.end(), image.begin());
    uint8_t* fat = image.data() + 512;
    for (size_t i = 0; i < entries.size(); ++i) {
      if (type == FatType::kFat16) {
        PutLe16(fat + 2 * i, entries[i]);
      } else {
        size_t at = i + i / 2;
        uint16_t w = Le16(fat + at);
        w = (i & 1) ? uint16_t((w & 0x000F) | (entries[i] << 4)) : uint16_t((w & 0xF000) | (entries[i] & 0x0FFF));
        PutLe16(fat + at, w);
      }
    }
    path = dir / "vol.img";
    WriteBytes(path, image);
    EXPECT_EQ(ReadFatGeometry(ByteView(image.data(), 512), 0, image.size() / 512, 512, g), kOk);
    EXPECT_EQ(g.type, type);
    EXPECT_EQ(source.OpenImageFile(path), kOk);
    EXPECT_EQ(cache.Open(&source, g), kOk);
  }
};

}  // namespace

TEST(FatChains, LiveChainsEndAtMarksAndAtNumbersOutsideTheVolume) {
  //                     0       1       2  3  4       5  6       7       8
  SmallVolume v({0xFFF8, 0xFFFF, 3, 7, 0xFFF7, 6, 0xFFFF, 0x0001, 0xFFF0});
  EXPECT_EQ(v.cache.NextCluster(2), 3u);
  EXPECT_EQ(v.cache.NextCluster(3), 7u);
  EXPECT_EQ(v.cache.NextCluster(7), 0u);  // 1 is not a cluster
  EXPECT_EQ(v.cache.NextCluster(5), 6u);
  EXPECT_EQ(v.cache.NextCluster(6), 0u);  // end of chain
  EXPECT_EQ(v.cache.NextCluster(8), 0u);  // beyond the last cluster
  EXPECT_EQ(v.cache.NextCluster(4), 0u);  // 0xFFF7 as a number is outside this volume
  EXPECT_EQ(v.cache.NextCluster(0), 0u);
  EXPECT_EQ(v.cache.NextCluster(v.g.MaxCluster() + 1), 0u);
}

TEST(FatChains, DeletedDataSkipsClustersInUseAndStopsAtTheVolumeEnd) {
  // Clusters 2 and 3 free, 4 and 5 in use, 6 free, the rest free.
  SmallVolume v({0xFFF8, 0xFFFF, 0, 0, 0xFFFF, 0xFFFF, 0});
  EXPECT_EQ(v.cache.NextCluster(2), 3u);
  EXPECT_EQ(v.cache.NextCluster(3), 6u);  // never the FAT area, never clusters in use
  uint32_t last = v.g.MaxCluster();
  EXPECT_EQ(v.cache.NextCluster(last), 0u);
  EXPECT_EQ(v.cache.NextCluster(last - 1), last);
}

TEST(FatChains, Fat12ChainsAreDecodedAsTwelveBitValues) {
  SmallVolume v({0xFF8, 0xFFF, 5, 0, 0, 9, 0xFFF, 0, 0, 0xFF8}, FatType::kFat12);
  EXPECT_EQ(v.cache.NextCluster(2), 5u);
  EXPECT_EQ(v.cache.NextCluster(5), 9u);
  EXPECT_EQ(v.cache.NextCluster(9), 0u);
  EXPECT_EQ(v.cache.NextCluster(3), 4u);
  EXPECT_EQ(v.cache.NextCluster(4), 7u);  // 5 and 6 are in use
}

TEST(FatEntryCacheWindow, MovesToEntriesPastSixteenMebibytes) {
  // A FAT32 volume whose FAT is 20 MiB, in a sparse file.
  TempDir dir;
  Bpb p;
  p.fat16Size = 0;
  p.fat32Size = 40960;  // 20 MiB
  p.fats = 1;
  p.rootEntries = 0;
  p.spc = 1;
  p.reserved = 32;
  p.total32 = 6000000;
  auto boot = Boot(p);
  std::string path = dir / "big.img";
  WriteBytes(path, boot);
  ASSERT_EQ(truncate(path.c_str(), off_t(p.total32) * 512), 0);
  const uint32_t far = 4500000;  // FAT byte 18,000,000
  uint8_t entry[4];
  PutLe32(entry, far + 1);
  int fd = open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(pwrite(fd, entry, 4, off_t(32 * 512 + uint64_t(far) * 4)), 4);
  close(fd);
  FatVolumeGeometry g;
  ASSERT_EQ(ReadFatGeometry(ByteView(boot.data(), boot.size()), 0, p.total32, 512, g), kOk);
  SectorSource src;
  ASSERT_EQ(src.OpenImageFile(path), kOk);
  FatEntryCache cache;
  ASSERT_EQ(cache.Open(&src, g), kOk);
  EXPECT_EQ(cache.WindowSector(), 0u);
  uint32_t value = 0;
  ASSERT_EQ(cache.Read(far, value), kOk);
  EXPECT_EQ(value, far + 1);
  EXPECT_EQ(cache.WindowSector(), uint64_t(far) * 4 / 512);
  EXPECT_EQ(cache.NextCluster(far), far + 1);
  ASSERT_EQ(cache.Read(3, value), kOk);  // and back
  EXPECT_EQ(cache.WindowSector(), 0u);
}
