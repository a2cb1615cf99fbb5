// The exFAT parsers on hand-made and damaged bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/bytes.h"
#include "base/filetime.h"
#include "exfat/exfat_bitmap.h"
#include "exfat/exfat_boot_sector.h"
#include "exfat/exfat_dir_entry.h"
#include "exfat/exfat_fat.h"
#include "exfat/exfat_timestamps.h"
#include "exfat/exfat_upcase.h"
#include "fat/fat_boot_sector.h"
#include "ntfs/ntfs_boot_sector.h"
#include "tests/exfat/exfat_builder.h"

namespace dunmere {
namespace {

using test::ExfatBuilder;

ByteView View(const std::vector<uint8_t>& v) { return ByteView(v.data(), v.size()); }

// ---- boot sector ---------------------------------------------------------

TEST(ExfatBootSector, GeometryFromTheFields) {
  ExfatBuilder b;
  ExfatGeometry g;
  ASSERT_EQ(ParseExfatBootSector(View(b.BootSector()), g), kOk);
  EXPECT_EQ(g.bytesPerSector, 512u);
  EXPECT_EQ(g.sectorsPerCluster, 8u);
  EXPECT_EQ(g.ClusterBytes(), 4096u);
  EXPECT_EQ(g.fatOffset, 24u);
  EXPECT_EQ(g.clusterCount, 512u);
  EXPECT_EQ(g.rootCluster, 4u);
  EXPECT_EQ(g.numberOfFats, 1u);
  EXPECT_FALSE(g.secondFatActive);
  EXPECT_EQ(g.ClusterOffset(4), b.ClusterOffset(4));
  EXPECT_EQ(g.FatByteOffset(), 24u * 512);

  // 4 KiB sectors; the FAT and heap offsets count those.
  ExfatBuilder::Options o;
  o.bytesPerSector = 4096;
  o.clusterBytes = 32768;
  ExfatBuilder big(o);
  ASSERT_EQ(ParseExfatBootSector(View(big.BootSector()), g), kOk);
  EXPECT_EQ(g.bytesPerSector, 4096u);
  EXPECT_EQ(g.sectorsPerCluster, 8u);
  EXPECT_EQ(g.ClusterOffset(4), big.ClusterOffset(4));
}

TEST(ExfatBootSector, ClusterSizesUpTo32MiB) {
  ExfatBuilder b;
  ExfatGeometry g;
  auto boot = b.BootSector();
  // The FAT and heap as they stand fit any cluster size: only the size is judged.
  PutLe64(&boot[72], uint64_t(1) << 40);
  boot[108] = 9;
  boot[109] = 16;  // 2^25: 32 MiB
  ASSERT_EQ(ParseExfatBootSector(View(boot), g), kOk);
  EXPECT_EQ(g.ClusterBytes(), 32u << 20);
  boot[109] = 17;
  EXPECT_EQ(ParseExfatBootSector(View(boot), g), kInvalidData);
  boot[108] = 12;  // 4 KiB sectors, 8192 of them per cluster
  boot[109] = 13;
  ASSERT_EQ(ParseExfatBootSector(View(boot), g), kOk);
  EXPECT_EQ(g.ClusterBytes(), 32u << 20);
  boot[109] = 14;
  EXPECT_EQ(ParseExfatBootSector(View(boot), g), kInvalidData);
  for (uint8_t shift : {8, 13, 0, 255}) {
    boot[108] = shift;
    boot[109] = 0;
    EXPECT_EQ(ParseExfatBootSector(View(boot), g), kInvalidData) << int(shift);
  }
}

TEST(ExfatBootSector, DamagedFieldsAreRefused) {
  ExfatBuilder b;
  ExfatGeometry g;
  const std::vector<uint8_t> good = b.BootSector();
  auto damaged = [&](auto change) {
    std::vector<uint8_t> boot = good;
    change(boot);
    return ParseExfatBootSector(View(boot), g) == kInvalidData;
  };
  EXPECT_TRUE(damaged([](auto& v) { v[3] = 'F'; }));                     // name
  EXPECT_TRUE(damaged([](auto& v) { v[11] = 2; }));                      // where FAT keeps its sector size
  EXPECT_TRUE(damaged([](auto& v) { v[63] = 1; }));                      // last byte of the zero block
  EXPECT_TRUE(damaged([](auto& v) { v[511] = 0; }));                     // signature
  EXPECT_TRUE(damaged([](auto& v) { v[105] = 2; }));                     // a revision of another layout
  EXPECT_TRUE(damaged([](auto& v) { v[110] = 0; }));                     // no FAT
  EXPECT_TRUE(damaged([](auto& v) { v[110] = 3; }));                     // three FATs
  EXPECT_TRUE(damaged([](auto& v) { PutLe32(&v[80], 12); }));            // FAT inside the backup boot region
  EXPECT_TRUE(damaged([](auto& v) { PutLe32(&v[84], 0); }));             // FAT of no length
  EXPECT_TRUE(damaged([](auto& v) { PutLe32(&v[84], 1); }));             // FAT too short for the clusters
  EXPECT_TRUE(damaged([](auto& v) { PutLe32(&v[84], 0x7FFFFFFF); }));    // FAT running into the heap
  EXPECT_TRUE(damaged([](auto& v) { PutLe32(&v[88], 28); }));            // heap over the FAT
  EXPECT_TRUE(damaged([](auto& v) { PutLe32(&v[92], 0); }));             // no cluster
  EXPECT_TRUE(damaged([](auto& v) { PutLe32(&v[92], 0xFFFFFFFF); }));    // more clusters than numbers
  EXPECT_TRUE(damaged([](auto& v) { PutLe64(&v[72], 100); }));           // heap past the volume's end
  EXPECT_TRUE(damaged([](auto& v) { PutLe32(&v[96], 1); }));             // root before the heap
  EXPECT_TRUE(damaged([](auto& v) { PutLe32(&v[96], 514); }));           // root past the last cluster
  EXPECT_FALSE(damaged([](auto& v) { PutLe32(&v[96], 513); }));          // the last cluster is one
  EXPECT_FALSE(damaged([](auto& v) { v[112] = 99; }));                   // percentage in use: free to change
  // Two FATs, the second active: its copy is the one read.
  std::vector<uint8_t> two = good;
  two[110] = 2;
  PutLe32(&two[88], 24 + 2 * 5 + 6);
  PutLe64(&two[72], 24 + 16 + 512 * 8);
  PutLe16(&two[106], 1);
  ASSERT_EQ(ParseExfatBootSector(View(two), g), kOk);
  EXPECT_TRUE(g.secondFatActive);
  EXPECT_EQ(g.FatByteOffset(), (24u + g.fatLength) * 512);
  // Fewer than 512 bytes.
  EXPECT_EQ(ParseExfatBootSector(ByteView(good.data(), 511), g), kInvalidData);
  EXPECT_EQ(ParseExfatBootSector(ByteView(), g), kInvalidData);
}

TEST(ExfatBootSector, RegionChecksumLeavesOutFlagsAndPercentage) {
  for (uint32_t bps : {512u, 4096u}) {
    ExfatBuilder::Options o;
    o.bytesPerSector = bps;
    o.clusterBytes = 2 * bps;
    ExfatBuilder b(o);
    std::vector<uint8_t> img = b.Image();
    const size_t region = size_t(bps) * 12;
    EXPECT_TRUE(ExfatBootRegionChecksumOk(ByteView(img.data(), region), bps)) << bps;
    EXPECT_TRUE(ExfatBootRegionChecksumOk(ByteView(img.data() + region, region), bps)) << bps;
    // The flags (dirty, active FAT) and the percentage in use change
    // without the checksum being written again.
    img[106] ^= 0x02;
    img[107] ^= 0x01;
    img[112] = 42;
    EXPECT_TRUE(ExfatBootRegionChecksumOk(ByteView(img.data(), region), bps));
    // Anything else in the first eleven sectors counts, boot code and OEM sector too.
    for (size_t at : {size_t(100), size_t(113), size_t(bps) * 3 + 7, size_t(bps) * 11 - 1}) {
      std::vector<uint8_t> d(img.begin(), img.begin() + ptrdiff_t(region));
      d[at] ^= 0x40;
      EXPECT_FALSE(ExfatBootRegionChecksumOk(View(d), bps)) << bps << " byte " << at;
    }
    // One copy of the checksum in sector 11 that disagrees.
    std::vector<uint8_t> d(img.begin(), img.begin() + ptrdiff_t(region));
    d[size_t(bps) * 12 - 3] ^= 1;
    EXPECT_FALSE(ExfatBootRegionChecksumOk(View(d), bps));
    // A region cut short, or a sector size below 512.
    EXPECT_FALSE(ExfatBootRegionChecksumOk(ByteView(img.data(), region - 1), bps));
    EXPECT_FALSE(ExfatBootRegionChecksumOk(ByteView(img.data(), region), 0));
  }
}

TEST(ExfatBootSector, NotTakenForFatOrNtfsNorTheyForIt) {
  ExfatBuilder b;
  const std::vector<uint8_t> boot = b.BootSector();
  EXPECT_TRUE(IsExfatBootSector(View(boot)));
  EXPECT_FALSE(IsFatBootSector(View(boot)));
  EXPECT_FALSE(IsNtfsBootSector(View(boot)));
  // A FAT32 boot sector and an NTFS one.
  std::vector<uint8_t> fat(512, 0);
  std::memcpy(&fat[3], "MSDOS5.0", 8);
  PutLe16(&fat[11], 512);
  fat[13] = 8;
  PutLe16(&fat[14], 32);
  fat[16] = 2;
  PutLe32(&fat[32], 1 << 20);
  PutLe32(&fat[36], 1024);
  PutLe32(&fat[44], 2);
  std::memcpy(&fat[82], "FAT32   ", 8);
  fat[510] = 0x55;
  fat[511] = 0xAA;
  ASSERT_TRUE(IsFatBootSector(View(fat)));
  EXPECT_FALSE(IsExfatBootSector(View(fat)));
  std::vector<uint8_t> ntfs = fat;
  std::memcpy(&ntfs[3], "NTFS    ", 8);
  EXPECT_FALSE(IsExfatBootSector(View(ntfs)));
  // The name alone is not enough.
  std::vector<uint8_t> named = fat;
  std::memcpy(&named[3], "EXFAT   ", 8);
  EXPECT_FALSE(IsExfatBootSector(View(named)));
}

// ---- FAT chains ------------------------------------------------------------

struct Fat {
  std::vector<uint32_t> entries = std::vector<uint32_t>(64, 0);
  uint32_t failAt = 0;  // an entry that cannot be read
  ExfatFatReader Reader() {
    return [this](uint32_t c, uint32_t& v) {
      if (c == failAt || c >= entries.size()) return false;
      v = entries[c];
      return true;
    };
  }
};

TEST(ExfatFat, EntriesFromAViewAnywhereInTheTable) {
  // FAT bytes 8..23: entries 2 to 5.
  std::vector<uint8_t> bytes(16, 0);
  PutLe32(&bytes[0], 7);
  PutLe32(&bytes[12], kExfatEndOfChain);
  uint32_t v = 0;
  ASSERT_TRUE(DecodeExfatFatEntry(ByteView(bytes.data(), 16), 8, 2, v));
  EXPECT_EQ(v, 7u);
  ASSERT_TRUE(DecodeExfatFatEntry(ByteView(bytes.data(), 16), 8, 5, v));
  EXPECT_EQ(v, kExfatEndOfChain);
  EXPECT_FALSE(DecodeExfatFatEntry(ByteView(bytes.data(), 16), 8, 1, v));  // before the view
  EXPECT_FALSE(DecodeExfatFatEntry(ByteView(bytes.data(), 16), 8, 6, v));  // after it
  EXPECT_FALSE(DecodeExfatFatEntry(ByteView(bytes.data(), 15), 8, 5, v));  // cut inside the entry
}

TEST(ExfatFat, ChainsEndAsTheFatSays) {
  std::vector<uint32_t> out;
  Fat f;
  f.entries[5] = 9;
  f.entries[9] = 6;
  f.entries[6] = kExfatEndOfChain;
  EXPECT_EQ(FollowExfatChain(5, 3, 63, f.Reader(), out), ExfatChainEnd::kComplete);
  EXPECT_EQ(out, (std::vector<uint32_t>{5, 9, 6}));
  EXPECT_EQ(FollowExfatChain(5, 2, 63, f.Reader(), out), ExfatChainEnd::kLonger);
  EXPECT_EQ(out, (std::vector<uint32_t>{5, 9}));
  EXPECT_EQ(FollowExfatChain(5, 4, 63, f.Reader(), out), ExfatChainEnd::kShort);
  EXPECT_EQ(out.size(), 3u);
  // A cleared entry (a deleting driver's doing) names no cluster.
  f.entries[9] = 0;
  EXPECT_EQ(FollowExfatChain(5, 3, 63, f.Reader(), out), ExfatChainEnd::kOutOfRange);
  EXPECT_EQ(out, (std::vector<uint32_t>{5, 9}));
  f.entries[9] = 64;  // past the last cluster
  EXPECT_EQ(FollowExfatChain(5, 3, 63, f.Reader(), out), ExfatChainEnd::kOutOfRange);
  f.entries[9] = kExfatBadCluster;
  EXPECT_EQ(FollowExfatChain(5, 3, 63, f.Reader(), out), ExfatChainEnd::kBad);
  f.entries[9] = 6;
  f.failAt = 9;
  EXPECT_EQ(FollowExfatChain(5, 3, 63, f.Reader(), out), ExfatChainEnd::kUnreadable);
  // The first cluster itself outside the heap.
  for (uint32_t first : {0u, 1u, 64u}) {
    EXPECT_EQ(FollowExfatChain(first, 3, 63, f.Reader(), out), ExfatChainEnd::kOutOfRange);
    EXPECT_TRUE(out.empty());
  }
}

TEST(ExfatFat, LoopsEndTheChainWhateverItsLength) {
  std::vector<uint32_t> out;
  Fat f;
  f.entries[7] = 7;  // onto itself
  EXPECT_EQ(FollowExfatChain(7, UINT64_MAX, 63, f.Reader(), out), ExfatChainEnd::kLoop);
  EXPECT_EQ(out, (std::vector<uint32_t>{7}));
  f.entries[10] = 11;
  f.entries[11] = 12;
  f.entries[12] = 10;
  EXPECT_EQ(FollowExfatChain(10, UINT64_MAX, 63, f.Reader(), out), ExfatChainEnd::kLoop);
  EXPECT_EQ(out.size(), 3u);
  // A loop longer than the clusters wanted is never met.
  EXPECT_EQ(FollowExfatChain(10, 2, 63, f.Reader(), out), ExfatChainEnd::kLonger);
}

TEST(ExfatFat, LongChainsAreCheckedForLoopsToo) {
  // 200,000 clusters in a row, the last leading back into the middle.
  const uint32_t n = 200000;
  auto next = [n](uint32_t c, uint32_t& v) {
    v = c + 1 < n + 2 ? c + 1 : 100000;
    return true;
  };
  std::vector<uint32_t> out;
  EXPECT_EQ(FollowExfatChain(2, UINT64_MAX, n + 10, next, out), ExfatChainEnd::kLoop);
  ASSERT_EQ(out.size(), size_t(n));  // cut before the first cluster met twice
  EXPECT_EQ(out.back(), n + 1);
  EXPECT_EQ(FollowExfatChain(2, n, n + 10, next, out), ExfatChainEnd::kLonger);
  auto ends = [n](uint32_t c, uint32_t& v) {
    v = c + 1 < n + 2 ? c + 1 : kExfatEndOfChain;
    return true;
  };
  EXPECT_EQ(FollowExfatChain(2, n, n + 10, ends, out), ExfatChainEnd::kComplete);
  EXPECT_EQ(out.size(), size_t(n));
}

// ---- allocation bitmap -----------------------------------------------------

TEST(ExfatBitmap, BitsAreClustersFromTwo) {
  // Clusters 2, 3 in use, 4..19 free, 20..27 in use, 28..33 free.
  std::vector<uint8_t> bits{0x03, 0x00, 0xFC, 0x03};
  ExfatAllocationBitmap m(View(bits), 32);
  EXPECT_TRUE(m.InUse(2));
  EXPECT_TRUE(m.InUse(3));
  EXPECT_FALSE(m.InUse(4));
  EXPECT_FALSE(m.InUse(19));
  EXPECT_TRUE(m.InUse(20));
  EXPECT_TRUE(m.InUse(35));
  EXPECT_FALSE(m.InUse(33));
  // Outside the heap: never free.
  EXPECT_TRUE(m.InUse(0));
  EXPECT_TRUE(m.InUse(1));
  EXPECT_TRUE(m.InUse(34));
  EXPECT_FALSE(m.AnyInUse(4, 16));
  EXPECT_TRUE(m.AnyInUse(4, 17));
  EXPECT_FALSE(m.AnyInUse(28, 6));
  EXPECT_TRUE(m.AnyInUse(28, 7));  // runs past the heap
  EXPECT_TRUE(m.AnyInUse(33, UINT64_MAX));
  EXPECT_FALSE(m.AnyInUse(5, 0));
  EXPECT_EQ(m.NextFree(0), 4u);
  EXPECT_EQ(m.NextFree(20), 28u);
  EXPECT_EQ(m.NextFree(34), 0u);
  EXPECT_EQ(m.RunEnd(2), 4u);
  EXPECT_EQ(m.RunEnd(5), 20u);
  EXPECT_EQ(m.RunEnd(20), 28u);
  EXPECT_EQ(m.RunEnd(30), 34u);
  EXPECT_EQ(m.RunEnd(99), 34u);
  // A bitmap shorter than the heap leaves the rest in use.
  ExfatAllocationBitmap shortMap(ByteView(bits.data(), 1), 32);
  EXPECT_FALSE(shortMap.InUse(9));
  EXPECT_TRUE(shortMap.InUse(10));
  EXPECT_EQ(shortMap.NextFree(10), 0u);
}

// ---- up-case table and name hash ---------------------------------------------

TEST(ExfatUpcase, CompressedRunsExpand) {
  // 'a' identical units, then "ABC" for a, b, c, then the rest identical.
  std::vector<uint8_t> t;
  for (uint16_t u : {0xFFFF, 0x61, 0x41, 0x42, 0x43, 0xFFFF, 0x10000 - 0x64})
    t.insert(t.end(), {uint8_t(u), uint8_t(u >> 8)});
  ExfatUpcaseTable table;
  ASSERT_TRUE(table.Load(View(t)));
  EXPECT_EQ(table.Upper(u'a'), u'A');
  EXPECT_EQ(table.Upper(u'c'), u'C');
  EXPECT_EQ(table.Upper(u'd'), u'd');
  EXPECT_EQ(table.Upper(u'Z'), u'Z');
  EXPECT_EQ(table.Upper(0xFFFF), 0xFFFF);
  // Malformed: a run marker without its count, a run past the last unit,
  // an odd length, nothing at all.
  std::vector<uint8_t> cut(t.begin(), t.end() - 2);
  EXPECT_FALSE(table.Load(View(cut)));
  std::vector<uint8_t> over = t;
  PutLe16(&over[over.size() - 2], 0xFFFF);
  EXPECT_FALSE(table.Load(View(over)));
  EXPECT_FALSE(table.Load(ByteView(t.data(), 3)));
  EXPECT_FALSE(table.Load(ByteView()));
  EXPECT_FALSE(table.Loaded());
  // A full table ends with U+FFFF mapped to itself: that 0xFFFF is no run.
  std::vector<uint8_t> full;
  for (uint16_t u : {0xFFFF, 0xFFFF}) full.insert(full.end(), {uint8_t(u), uint8_t(u >> 8)});
  full.insert(full.end(), {0xFF, 0xFF});
  ASSERT_TRUE(table.Load(View(full)));
  EXPECT_EQ(table.Upper(0xFFFE), 0xFFFE);
  EXPECT_EQ(table.Upper(0xFFFF), 0xFFFF);
  ASSERT_FALSE(table.Load(ByteView()));
  EXPECT_EQ(table.Upper(u'a'), u'a');  // nothing loaded: names stay as they are
}

TEST(ExfatUpcase, ChecksumAndNameHashAsAVolumeWritesThem) {
  const uint8_t bytes[] = {1, 2, 3, 0xFF};
  // sum = ror(sum) + byte, bytes in order.
  EXPECT_EQ(ExfatTableChecksum(ByteView(bytes, 1)), 1u);
  EXPECT_EQ(ExfatTableChecksum(ByteView(bytes, 2)), 0x80000002u);
  EXPECT_EQ(ExfatTableChecksum(ByteView(bytes, 4)), 0x20000101u);
  std::vector<uint8_t> t;
  for (uint16_t u : {0xFFFF, 0x61})
    t.insert(t.end(), {uint8_t(u), uint8_t(u >> 8)});
  for (uint16_t u = 'A'; u <= 'Z'; ++u) t.insert(t.end(), {uint8_t(u), 0});
  ExfatUpcaseTable table;
  ASSERT_TRUE(table.Load(View(t)));
  // Hashes exfat-fuse wrote for these names.
  EXPECT_EQ(ExfatNameHash(u"p0", table), 0x0022);
  EXPECT_EQ(ExfatNameHash(u"p5", table), 0x8024);
  EXPECT_EQ(ExfatNameHash(u"frag.bin", table), 0xBAEE);
  EXPECT_EQ(ExfatNameHash(u"FRAG.BIN", table), 0xBAEE);
}

// ---- timestamps ------------------------------------------------------------

uint64_t Ft(int64_t unixSeconds, int64_t ms = 0) { return FileTimeFromUnix(unixSeconds, ms * 1000000); }

TEST(ExfatTimestamps, ZoneIncrementAndDamage) {
  // 2024-05-17 13:45:30 is 1715953530 seconds after 1970 as UTC.
  const uint32_t stamp = ExfatBuilder::kStamp;
  EXPECT_EQ(ExfatTimestampToFileTime(stamp, 0, 0), Ft(1715953530));          // no zone: as it stands
  EXPECT_EQ(ExfatTimestampToFileTime(stamp, 0, 0x80), Ft(1715953530));       // UTC itself
  EXPECT_EQ(ExfatTimestampToFileTime(stamp, 150, 0x80), Ft(1715953531, 500));  // +1.5 s
  EXPECT_EQ(ExfatTimestampToFileTime(stamp, 0, 0x80 | 8), Ft(1715953530 - 2 * 3600));   // UTC+2
  EXPECT_EQ(ExfatTimestampToFileTime(stamp, 0, 0x80 | 0x7C), Ft(1715953530 + 3600));   // UTC-1 (-4 quarters)
  EXPECT_EQ(ExfatTimestampToFileTime(stamp, 0, 0x80 | 0x40), Ft(1715953530 + 16 * 3600));  // -64 quarters
  EXPECT_EQ(ExfatTimestampToFileTime(stamp, 0, 0x08), Ft(1715953530));       // offset not valid: ignored
  // No real moment: month 0 or 13, day 0, 30 February, hour 24, minute 60,
  // second 60 (30 doubled), an increment past 1.99 s.
  EXPECT_EQ(ExfatTimestampToFileTime(stamp & ~(0xFu << 21), 0, 0x80), 0u);
  EXPECT_EQ(ExfatTimestampToFileTime((stamp & ~(0xFu << 21)) | (13u << 21), 0, 0x80), 0u);
  EXPECT_EQ(ExfatTimestampToFileTime(stamp & ~(0x1Fu << 16), 0, 0x80), 0u);
  const uint32_t feb30 = (stamp & ~((0xFu << 21) | (0x1Fu << 16))) | (2u << 21) | (30u << 16);
  EXPECT_EQ(ExfatTimestampToFileTime(feb30, 0, 0x80), 0u);
  EXPECT_EQ(ExfatTimestampToFileTime((stamp & ~(0x1Fu << 11)) | (24u << 11), 0, 0x80), 0u);
  EXPECT_EQ(ExfatTimestampToFileTime((stamp & ~(0x3Fu << 5)) | (60u << 5), 0, 0x80), 0u);
  EXPECT_EQ(ExfatTimestampToFileTime((stamp & ~0x1Fu) | 30u, 0, 0x80), 0u);
  EXPECT_EQ(ExfatTimestampToFileTime(stamp, 200, 0x80), 0u);
  // 29 February of a leap year is a day.
  const uint32_t feb29 = (stamp & ~((0xFu << 21) | (0x1Fu << 16))) | (2u << 21) | (29u << 16);
  EXPECT_NE(ExfatTimestampToFileTime(feb29, 0, 0x80), 0u);
}

TEST(ExfatTimestamps, TheThreeTimesOfAFileEntry) {
  ExfatBuilder::Set s;
  s.name = u"a";
  std::vector<uint8_t> set = ExfatBuilder::MakeSet(s);
  set[24] = 0;  // access time without a zone
  ExfatTimes t = DecodeExfatTimes(ByteView(set.data(), 32));
  EXPECT_EQ(t.created, Ft(1715953530 - 7200, 500));
  EXPECT_EQ(t.modified, Ft(1715953530 - 7200, 500));
  EXPECT_EQ(t.accessed, Ft(1715953530));  // no increment kept for access
}

// ---- directory entries and sets ----------------------------------------------

TEST(ExfatEntries, RootEntriesOfTheVolume) {
  std::vector<uint8_t> e(32, 0);
  e[0] = kExfatBitmapEntry;
  PutLe32(&e[20], 2);
  PutLe64(&e[24], 640);
  ExfatDataEntry d;
  ASSERT_TRUE(ParseBitmapEntry(View(e), d));
  EXPECT_EQ(d.firstCluster, 2u);
  EXPECT_EQ(d.dataLength, 640u);
  EXPECT_FALSE(ParseUpcaseEntry(View(e), d));
  e[0] = kExfatUpcaseEntry;
  PutLe32(&e[4], 0xE619D30D);
  ASSERT_TRUE(ParseUpcaseEntry(View(e), d));
  EXPECT_EQ(d.checksum, 0xE619D30Du);
  EXPECT_FALSE(ParseBitmapEntry(ByteView(e.data(), 31), d));

  std::vector<uint8_t> label(32, 0);
  label[0] = kExfatLabelEntry;
  label[1] = 4;
  const char16_t units[] = u"Kärt";
  for (int i = 0; i < 4; ++i) PutLe16(&label[2 + 2 * i], units[i]);
  std::string text;
  ASSERT_TRUE(ParseVolumeLabel(View(label), text));
  EXPECT_EQ(text, "Kärt");
  label[1] = 12;  // more than the entry holds
  EXPECT_FALSE(ParseVolumeLabel(View(label), text));
  label[1] = 0;  // a label removed
  ASSERT_TRUE(ParseVolumeLabel(View(label), text));
  EXPECT_EQ(text, "");
  label[0] = 0x03;  // deleted label entry
  EXPECT_FALSE(ParseVolumeLabel(View(label), text));
}

TEST(ExfatEntrySet, InUseAndDeletedSetsKeepTheirChecksum) {
  ExfatBuilder::Set s;
  s.name = u"holiday picture.jpg";
  s.firstCluster = 77;
  s.dataLength = 123456;
  s.validDataLength = 100000;
  s.noFatChain = false;
  std::vector<uint8_t> live = ExfatBuilder::MakeSet(s);
  ExfatFileSet f;
  ASSERT_EQ(ParseExfatFileSet(View(live), f), ExfatSetState::kValid);
  EXPECT_FALSE(f.deleted);
  EXPECT_EQ(f.entryCount, 4u);
  EXPECT_EQ(f.name, u"holiday picture.jpg");
  EXPECT_EQ(f.firstCluster, 77u);
  EXPECT_EQ(f.dataLength, 123456u);
  EXPECT_EQ(f.validDataLength, 100000u);
  EXPECT_FALSE(f.NoFatChain());
  EXPECT_TRUE(f.AllocationPossible());
  EXPECT_FALSE(f.IsDirectory());

  // Deleting clears bit 7 of each type and leaves the checksum as it was.
  s.deleted = true;
  std::vector<uint8_t> gone = ExfatBuilder::MakeSet(s);
  ASSERT_EQ(gone[0], 0x05);
  ASSERT_EQ(gone[32], 0x40);
  ASSERT_EQ(gone[64], 0x41);
  ASSERT_EQ(ParseExfatFileSet(View(gone), f), ExfatSetState::kValid);
  EXPECT_TRUE(f.deleted);
  EXPECT_EQ(f.name, u"holiday picture.jpg");
  // A writer that sums the set again as it deletes it.
  PutLe16(&gone[2], ExfatSetChecksum(View(gone), false));
  EXPECT_EQ(ParseExfatFileSet(View(gone), f), ExfatSetState::kValid);
  // Any other byte changed: the set is whole but its checksum disagrees.
  for (size_t at : {size_t(4), size_t(8), size_t(32 + 20), size_t(64 + 5), live.size() - 1}) {
    std::vector<uint8_t> d = live;
    d[at] ^= 0x10;
    EXPECT_EQ(ParseExfatFileSet(View(d), f), ExfatSetState::kBadChecksum) << at;
  }
}

TEST(ExfatEntrySet, NamesUpTo255UnitsInSeventeenEntries) {
  ExfatBuilder::Set s;
  for (int i = 0; i < 255; ++i) s.name.push_back(char16_t(i % 2 ? u'ß' : 0x65E5));
  std::vector<uint8_t> set = ExfatBuilder::MakeSet(s);
  ASSERT_EQ(set.size(), 19u * 32);
  ExfatFileSet f;
  ASSERT_EQ(ParseExfatFileSet(View(set), f), ExfatSetState::kValid);
  EXPECT_EQ(f.name.size(), 255u);
  EXPECT_EQ(ExfatNameToUtf8(f.name).size(), 128u * 3 + 127u * 2);
  // A set followed by other entries: only its own bytes count.
  std::vector<uint8_t> more = set;
  more.resize(set.size() + 64, 0xEE);
  ASSERT_EQ(ParseExfatFileSet(View(more), f), ExfatSetState::kValid);
  EXPECT_EQ(f.Bytes(), set.size());
  // Vendor entries after the names are part of the set.
  s.name = u"x";
  s.extraSecondaries = 2;
  set = ExfatBuilder::MakeSet(s);
  ASSERT_EQ(ParseExfatFileSet(View(set), f), ExfatSetState::kValid);
  EXPECT_EQ(f.entryCount, 5u);
}

TEST(ExfatEntrySet, DamagedSetsAreToldApart) {
  ExfatBuilder::Set s;
  s.name = u"a name of twenty units";
  const std::vector<uint8_t> good = ExfatBuilder::MakeSet(s);
  ExfatFileSet f;
  auto state = [&](auto change) {
    std::vector<uint8_t> d = good;
    change(d);
    return ParseExfatFileSet(View(d), f);
  };
  using S = ExfatSetState;
  EXPECT_EQ(state([](auto& d) { d[0] = 0x86; }), S::kMalformed);             // not a file entry
  EXPECT_EQ(state([](auto& d) { d[1] = 1; }), S::kMalformed);                // no room for a name
  EXPECT_EQ(state([](auto& d) { d[1] = 0; }), S::kMalformed);
  EXPECT_EQ(state([](auto& d) { d[32] = 0xC1; }), S::kMalformed);            // stream extension missing
  EXPECT_EQ(state([](auto& d) { d[32 + 3] = 0; }), S::kMalformed);           // a name of no units
  EXPECT_EQ(state([](auto& d) { d[32 + 3] = 31; }), S::kMalformed);          // needs three name entries
  EXPECT_EQ(state([](auto& d) { d[64] = 0xC0; }), S::kMalformed);            // a name entry of another type
  EXPECT_EQ(state([](auto& d) { d[96] = 0x85; }), S::kMalformed);            // a primary inside the set
  EXPECT_EQ(state([](auto& d) { d[96] = 0x41; }), S::kMalformed);            // in-use set, deleted name part
  EXPECT_EQ(state([](auto& d) { d[1] = 5; }), S::kTruncated);                // runs past the bytes given
  std::vector<uint8_t> cut(good.begin(), good.begin() + 40);
  EXPECT_EQ(ParseExfatFileSet(View(cut), f), S::kTruncated);
  EXPECT_EQ(ParseExfatFileSet(ByteView(good.data(), 31), f), S::kTruncated);
  // A deleted set may mix: what counts is that the checksum was summed in use.
  std::vector<uint8_t> mixed = good;
  mixed[0] = 0x05;
  mixed[64] = 0x41;
  EXPECT_EQ(ParseExfatFileSet(View(mixed), f), S::kValid);
}

TEST(ExfatEntrySet, NamesEndAtNulAndLoseTheirSeparators) {
  ExfatBuilder::Set s;
  s.name = std::u16string(u"ab\0cd", 5);
  std::vector<uint8_t> set = ExfatBuilder::MakeSet(s);
  ExfatFileSet f;
  ASSERT_EQ(ParseExfatFileSet(View(set), f), ExfatSetState::kValid);
  EXPECT_EQ(f.name, u"ab");
  s.name = u"../..\\evil/name";
  set = ExfatBuilder::MakeSet(s);
  ASSERT_EQ(ParseExfatFileSet(View(set), f), ExfatSetState::kValid);
  EXPECT_EQ(ExfatNameToUtf8(f.name), ".._.._evil_name");
  // An unpaired surrogate.
  EXPECT_EQ(ExfatNameToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  // A name length shorter than the units stored: the length decides.
  s.name = u"abcdef";
  s.nameLengthOverride = 3;
  set = ExfatBuilder::MakeSet(s);
  ASSERT_EQ(ParseExfatFileSet(View(set), f), ExfatSetState::kValid);
  EXPECT_EQ(f.name, u"abc");
}

}  // namespace
}  // namespace dunmere
