// The NTFS parsers on hand-made and damaged bytes.
#include <gtest/gtest.h>

#include <cstring>

#include "base/bytes.h"
#include "ntfs/attribute_list.h"
#include "ntfs/cluster_bitmap.h"
#include "ntfs/data_layout.h"
#include "ntfs/file_name_attr.h"
#include "ntfs/lznt1.h"
#include "ntfs/quick/mft_geometry.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs_boot_sector.h"
#include "ntfs/run_list.h"
#include "tests/ntfs/synthetic_volume.h"

namespace dunmere {
namespace {

using test::SyntheticVolume;

std::vector<uint8_t> BootSector(uint16_t bps, uint8_t spc, int8_t cpr) {
  std::vector<uint8_t> b(512, 0);
  std::memcpy(b.data() + 3, "NTFS    ", 8);
  PutLe16(b.data() + 11, bps);
  b[13] = spc;
  PutLe64(b.data() + 40, 1000000);
  PutLe64(b.data() + 48, 4);
  b[64] = uint8_t(cpr);
  return b;
}

TEST(NtfsBootSector, ClusterAndRecordSizes) {
  NtfsBootInfo info;
  auto b = BootSector(512, 8, -10);
  ASSERT_EQ(ParseNtfsBootSector(ByteView(b.data(), b.size()), info), kOk);
  EXPECT_EQ(info.clusterBytes, 4096u);
  EXPECT_EQ(info.recordBytes, 1024u);
  // 64 KiB clusters on 512-byte sectors: 128 sectors, stored as 0x80.
  b = BootSector(512, 0x80, -10);
  ASSERT_EQ(ParseNtfsBootSector(ByteView(b.data(), b.size()), info), kOk);
  EXPECT_EQ(info.clusterBytes, 65536u);
  // Larger clusters are written as a negative power of two.
  b = BootSector(512, 0xF7, -10);  // 2^9 sectors
  ASSERT_EQ(ParseNtfsBootSector(ByteView(b.data(), b.size()), info), kOk);
  EXPECT_EQ(info.clusterBytes, 512u * 512u);
  // 4 KiB sectors: the record is one sector even when the field says 1 KiB.
  b = BootSector(4096, 1, -10);
  ASSERT_EQ(ParseNtfsBootSector(ByteView(b.data(), b.size()), info), kOk);
  EXPECT_EQ(info.recordBytes, 4096u);
  b = BootSector(512, 0, -10);
  EXPECT_EQ(ParseNtfsBootSector(ByteView(b.data(), b.size()), info), kBadClusterSize);
  b = BootSector(1000, 1, -10);
  EXPECT_EQ(ParseNtfsBootSector(ByteView(b.data(), b.size()), info), kInvalidData);
  b = BootSector(512, 8, -10);
  PutLe64(b.data() + 48, 1ull << 60);  // $MFT beyond the volume
  EXPECT_EQ(ParseNtfsBootSector(ByteView(b.data(), b.size()), info), kInvalidData);
}

class RecordFixture : public ::testing::Test {
 protected:
  std::vector<uint8_t> Record(const std::vector<std::vector<uint8_t>>& attrs) {
    vol.PutRecord(20, 0, attrs);
    return std::vector<uint8_t>(vol.RecordBytes(20), vol.RecordBytes(20) + 1024);
  }
  SyntheticVolume vol;
};

TEST_F(RecordFixture, FixupRestoresTailsAndRejectsTornRecords) {
  std::vector<uint8_t> value(900, 0xAB);
  auto rec = Record({SyntheticVolume::ResidentData(value)});
  EXPECT_EQ(Le16(rec.data() + 510), 7);  // the tail carries the sequence number on disk
  auto torn = rec;
  ASSERT_EQ(ApplyFixup(rec), kOk);
  EXPECT_EQ(rec[510], 0xAB);
  EXPECT_EQ(rec[1022], 0);  // the second tail, saved as zeros
  EXPECT_EQ(rec[1023], 0);
  // A second sector written without the first: its tail does not match.
  PutLe16(torn.data() + 1022, 0x1234);
  auto before = torn;
  EXPECT_EQ(ApplyFixup(torn), kCrcError);
  EXPECT_EQ(torn, before);
  // An update sequence array that does not fit the record.
  PutLe16(before.data() + 4, 1020);
  EXPECT_EQ(ApplyFixup(before), kInvalidData);
  PutLe16(before.data() + 4, 48);
  PutLe16(before.data() + 6, 40);  // more sectors than the record holds
  EXPECT_EQ(ApplyFixup(before), kInvalidData);
}

TEST_F(RecordFixture, AttributeWalkStopsAtDamage) {
  auto rec = Record({SyntheticVolume::FileName(5, u"a.txt"), SyntheticVolume::ResidentData({1, 2, 3})});
  ASSERT_EQ(ApplyFixup(rec), kOk);
  ByteView v(rec.data(), rec.size());
  {
    AttributeWalker w(v);
    AttributeView a;
    int n = 0;
    while (w.Next(a)) ++n;
    EXPECT_EQ(n, 2);
    EXPECT_FALSE(w.malformed());
  }
  uint32_t second = 56 + Le32(rec.data() + 56 + 4);
  for (uint32_t badLength : {0u, 4u, 2000u, 0xFFFFFFF8u}) {
    auto r = rec;
    PutLe32(r.data() + second + 4, badLength);
    AttributeWalker w(ByteView(r.data(), r.size()));
    AttributeView a;
    int n = 0;
    while (w.Next(a)) ++n;
    EXPECT_EQ(n, 1) << badLength;
    EXPECT_TRUE(w.malformed()) << badLength;
  }
  // A resident value said to run past its attribute.
  auto r = rec;
  PutLe32(r.data() + second + 16, 500);
  AttributeWalker w(ByteView(r.data(), r.size()));
  AttributeView a;
  EXPECT_TRUE(w.Next(a));
  EXPECT_FALSE(w.Next(a));
  EXPECT_TRUE(w.malformed());
  // A first-attribute offset past the bytes in use walks nothing.
  r = rec;
  PutLe16(r.data() + 20, 1016);
  AttributeWalker w2(ByteView(r.data(), r.size()));
  EXPECT_FALSE(w2.Next(a));
}

TEST(NtfsFileName, ParsesNameAndRejectsShortValues) {
  auto attr = SyntheticVolume::FileName(77, u"\u00dcber.txt", 1);
  ByteView value(attr.data() + 24, Le32(attr.data() + 16));
  FileNameInfo fn;
  ASSERT_TRUE(ParseFileName(value, fn));
  EXPECT_EQ(fn.parentRecord, 77u);
  EXPECT_EQ(fn.name, "\xc3\x9c" "ber.txt");
  EXPECT_FALSE(ParseFileName(value.Sub(0, value.size() - 2), fn));  // name cut short
  EXPECT_FALSE(ParseFileName(value.Sub(0, 40), fn));
}

TEST(NtfsRunList, DecodesSignedDeltasSparseRunsAndLongLists) {
  // 3-byte offset 0x00 0x00 0xFF is -65,536.
  std::vector<uint8_t> b = {0x31, 0x10, 0x00, 0x00, 0x01, 0x31, 0x05, 0x00, 0x00, 0xFF, 0x01, 0x08, 0x00};
  std::vector<DataRun> runs;
  ASSERT_EQ(DecodeRunList(ByteView(b.data(), b.size()), runs), kOk);
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].lcnDelta, 65536);
  EXPECT_EQ(runs[1].lcnDelta, -65536);
  EXPECT_TRUE(runs[2].sparse);
  std::vector<Extent> ext;
  ASSERT_EQ(PlaceRuns(runs, 0, 0, ext), kOk);
  EXPECT_EQ(ext[1].lcn, 0u);
  EXPECT_EQ(ext[2].vcn, 0x15u);

  // A list far longer than a sector decodes whole.
  std::vector<uint8_t> longList;
  for (int i = 0; i < 300; ++i) longList.insert(longList.end(), {0x11, 0x02, 0x04});
  longList.push_back(0);
  runs.clear();
  ASSERT_EQ(DecodeRunList(ByteView(longList.data(), longList.size()), runs), kOk);
  EXPECT_EQ(runs.size(), 300u);
}

TEST(NtfsRunList, RejectsOverflowAndRunsOffTheVolume) {
  std::vector<DataRun> runs;
  std::vector<uint8_t> noEnd = {0x11, 0x02, 0x04};
  EXPECT_EQ(DecodeRunList(ByteView(noEnd.data(), noEnd.size()), runs), kInvalidData);
  std::vector<uint8_t> cut = {0x44, 0x01, 0x02};  // fields past the attribute
  EXPECT_EQ(DecodeRunList(ByteView(cut.data(), cut.size()), runs), kInvalidData);
  std::vector<uint8_t> wide = {0x19, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(DecodeRunList(ByteView(wide.data(), wide.size()), runs), kInvalidData);
  std::vector<uint8_t> zeroCount = {0x11, 0x00, 0x04, 0x00};
  EXPECT_EQ(DecodeRunList(ByteView(zeroCount.data(), zeroCount.size()), runs), kInvalidData);

  std::vector<Extent> ext;
  EXPECT_EQ(PlaceRuns({{10, 100, false}}, 0, 105, ext), kDataPastEnd);  // ends past the volume: said as such
  ext.clear();
  EXPECT_EQ(PlaceRuns({{10, 5, false}, {1, -10, false}}, 0, 0, ext), kInvalidData);  // before cluster 0
  ext.clear();
  EXPECT_EQ(PlaceRuns({{1, INT64_MAX, false}, {1, INT64_MAX, false}}, 0, 0, ext), kInvalidData);
  ext.clear();
  EXPECT_EQ(PlaceRuns({{10, 1, false}}, ~0ull - 5, 0, ext), kInvalidData);  // VCNs wrap
}

TEST(NtfsDataLayout, JoinsPiecesAndRefusesGapsAndShortCoverage) {
  auto p0 = SyntheticVolume::NonResident(0x80, {0x11, 0x02, 0x10}, 2000, 0, 1);
  auto p1 = SyntheticVolume::NonResident(0x80, {0x11, 0x02, 0x20}, 0, 2, 3);
  auto view = [](const std::vector<uint8_t>& a) {
    std::vector<uint8_t> rec(1024, 0);
    AttributeView v;
    v.nonResident = true;
    ByteView b(a.data(), a.size());
    v.lowestVcn = b.U64(16);
    v.highestVcn = b.U64(24);
    v.realSize = b.U64(48);
    v.initializedSize = b.U64(56);
    v.runList = b.Sub(64, a.size() - 64);
    return v;
  };
  DataLayout L;
  ASSERT_EQ(BuildDataLayout({view(p1), view(p0), view(p0)}, 1000, 512, L), kOk);
  ASSERT_EQ(L.extents.size(), 2u);
  EXPECT_EQ(L.extents[1].vcn, 2u);
  EXPECT_EQ(L.extents[1].lcn, 0x20u);  // each piece's deltas start afresh
  EXPECT_EQ(BuildDataLayout({view(p1)}, 1000, 512, L), kInvalidData);          // no VCN 0
  EXPECT_EQ(BuildDataLayout({view(p0)}, 1000, 512, L), kInvalidData);          // 1 KiB for 2,000 bytes
  auto p2 = SyntheticVolume::NonResident(0x80, {0x11, 0x02, 0x20}, 0, 3, 4);  // leaves VCN 2 out
  EXPECT_EQ(BuildDataLayout({view(p0), view(p2)}, 1000, 512, L), kInvalidData);
}

TEST(NtfsAttributeList, StopsAtShortOrOverlongEntries) {
  auto attr = SyntheticVolume::AttributeList({{0x10, 0, 40}, {0x80, 0, 41}, {0x80, 8, 42}});
  ByteView value(attr.data() + 24, Le32(attr.data() + 16));
  auto entries = ParseAttributeList(value);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[2].record, 42u);
  EXPECT_EQ(entries[2].lowestVcn, 8u);
  std::vector<uint8_t> bad(value.data(), value.data() + value.size());
  PutLe16(bad.data() + 32 + 4, 0);  // second entry of length 0
  EXPECT_EQ(ParseAttributeList(ByteView(bad.data(), bad.size())).size(), 1u);
  PutLe16(bad.data() + 32 + 4, 4000);  // runs past the value
  EXPECT_EQ(ParseAttributeList(ByteView(bad.data(), bad.size())).size(), 1u);
}

TEST(NtfsLznt1, DecompressesLiteralsBackReferencesAndPlainChunks) {
  // "abcabcabcabc" + "X": literals a b c, then a back-reference of 9 bytes at
  // distance 3, then literal X.
  std::vector<uint8_t> chunk = {0x08, 'a', 'b', 'c'};
  // At position 3: 12 length bits; offset 3 -> 2, length 9 -> 6.
  uint16_t token = uint16_t((2 << 12) | 6);
  chunk.push_back(uint8_t(token));
  chunk.push_back(uint8_t(token >> 8));
  chunk.push_back('X');
  uint16_t header = uint16_t(0xB000 | (chunk.size() - 1));
  std::vector<uint8_t> in = {uint8_t(header), uint8_t(header >> 8)};
  for (uint8_t c : chunk) in.push_back(c);
  std::vector<uint8_t> out(100, 0xEE);
  size_t got = 0;
  ASSERT_EQ(Lznt1Decompress(ByteView(in.data(), in.size()), out.data(), out.size(), got), kOk);
  ASSERT_EQ(got, 13u);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 13), "abcabcabcabcX");

  // A back-reference before the start of the chunk is refused.
  std::vector<uint8_t> bad = {0x01, 0xB0, 0x01, 0x00, 0xF0};
  PutLe16(bad.data(), uint16_t(0xB000 | 2));
  EXPECT_EQ(Lznt1Decompress(ByteView(bad.data(), bad.size()), out.data(), out.size(), got), kInvalidData);
  // A chunk longer than its input is refused; output is cut at the capacity.
  std::vector<uint8_t> overlong = {0xFF, 0x3F, 'a'};
  EXPECT_EQ(Lznt1Decompress(ByteView(overlong.data(), overlong.size()), out.data(), out.size(), got), kInvalidData);
  std::vector<uint8_t> plain = {0x03, 0x30, 'w', 'x', 'y', 'z'};
  ASSERT_EQ(Lznt1Decompress(ByteView(plain.data(), plain.size()), out.data(), 2, got), kOk);
  EXPECT_EQ(got, 2u);
}

TEST(NtfsClusterBitmap, FindsFreeStretchesAndStopsAtTheEnd) {
  // Clusters 0-9 allocated, 10-29 free, 30-39 allocated, 40-63 free.
  std::vector<uint8_t> bits(8, 0);
  auto set = [&](int c) { bits[c / 8] |= uint8_t(1 << (c % 8)); };
  for (int c = 0; c < 10; ++c) set(c);
  for (int c = 30; c < 40; ++c) set(c);
  ClusterBitmap bm(bits, 8, 60 * 8);
  uint64_t s = 0, n = 0;
  bm.NextFreeExtent(s, n);
  EXPECT_EQ(s, 80u);
  EXPECT_EQ(n, 160u);
  s = 30 * 8 + 3;
  bm.NextFreeExtent(s, n);
  EXPECT_EQ(s, 40u * 8 + 3);
  EXPECT_EQ(n, 480u - (40 * 8 + 3));  // cut at the volume's end
  s = 1000;
  bm.NextFreeExtent(s, n);
  EXPECT_EQ(s, 480u);
  EXPECT_EQ(n, 0u);
  std::vector<uint8_t> full(4, 0xFF);
  ClusterBitmap fullBm(full, 1, 32);
  s = 5;
  fullBm.NextFreeExtent(s, n);
  EXPECT_EQ(s, 5u);
  EXPECT_EQ(n, 0u);
}

TEST(NtfsClusterBitmap, TellsWhetherAStretchHoldsAnAllocatedCluster) {
  // Clusters 13 and 40 allocated, of 64.
  std::vector<uint8_t> bits(8, 0);
  bits[1] |= 1 << 5;
  bits[5] |= 1 << 0;
  ClusterBitmap bm(bits, 8, 64 * 8);
  EXPECT_FALSE(bm.AnyAllocated(0, 13));
  EXPECT_TRUE(bm.AnyAllocated(0, 14));
  EXPECT_TRUE(bm.AnyAllocated(13, 1));
  EXPECT_FALSE(bm.AnyAllocated(14, 26));  // 14..39, across whole free bytes
  EXPECT_TRUE(bm.AnyAllocated(14, 27));
  EXPECT_TRUE(bm.AnyAllocated(33, 8));    // starts mid-byte, ends in the next
  EXPECT_FALSE(bm.AnyAllocated(41, 1000));  // runs past the bitmap
  EXPECT_FALSE(bm.AnyAllocated(64, 10));
  EXPECT_FALSE(bm.AnyAllocated(20, 0));
}

TEST(NtfsMftGeometry, RecordAtTheEndOfARunMapsToTheNextRun) {
  NtfsBootInfo boot;
  boot.bytesPerSector = 512;
  boot.sectorsPerCluster = 1;
  boot.clusterBytes = 512;
  boot.recordBytes = 1024;
  boot.totalSectors = 10000;
  boot.mftLcn = 100;
  MftGeometry g = MftGeometry::FromBoot(boot, 2048 * 512);
  g.mftRuns = {{0, 100, 4, false}, {4, 500, 4, false}};
  EXPECT_EQ(g.SectorOfRecord(1), 2048u + 102);
  EXPECT_EQ(g.SectorOfRecord(2), 2048u + 500);  // records 0-1 fill the first run
  EXPECT_EQ(g.SectorOfRecord(4), 2048u);         // beyond the table: the boot sector
  EXPECT_EQ(g.RecordCount(), 4u);
}

}  // namespace
}  // namespace dunmere
