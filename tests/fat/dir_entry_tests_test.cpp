#include "fat/dir_entry_tests.h"

#include <gtest/gtest.h>

#include "fat/fat_timestamps.h"
#include "tests/fat/dir_entry_builder.h"

using namespace dunmere;
using namespace dunmere::test;

namespace {

ByteView V(const std::vector<uint8_t>& v) { return ByteView(v.data(), v.size()); }

std::vector<uint8_t> DotPair(uint32_t self = 7, uint32_t parent = 0) {
  std::vector<uint8_t> b;
  Append(b, MakeEntry({".          ", 0x10, self, 0}));
  Append(b, MakeEntry({"..         ", 0x10, parent, 0}));
  return b;
}

}  // namespace

TEST(LfnChecksum, MatchesKnownShortNames) {
  // Values as mkfs/mtools and the Linux vfat driver compute them.
  const char* name = "FILE    TXT";
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = uint8_t(((sum & 1) << 7) + (sum >> 1) + uint8_t(name[i]));
  EXPECT_EQ(LfnChecksum(ByteView(reinterpret_cast<const uint8_t*>(name), 11)), sum);
  EXPECT_EQ(LfnChecksum(ByteView(reinterpret_cast<const uint8_t*>("           "), 11)), 0xF7);
  EXPECT_EQ(LfnChecksum(ByteView(reinterpret_cast<const uint8_t*>("LONGNA~1TXT"), 11)), 0xF4);
  // A short view reads zeros rather than past its end.
  EXPECT_EQ(LfnChecksum(ByteView()), 0);
}

TEST(IsDotPair, RecognisesOnlyTheDirectoryPair) {
  auto b = DotPair();
  EXPECT_TRUE(IsDotPair(V(b)));
  EXPECT_FALSE(IsDotPair(ByteView(b.data(), 63)));  // the second entry incomplete
  auto notDir = b;
  notDir[32 + 11] = 0x20;
  EXPECT_FALSE(IsDotPair(V(notDir)));
  auto sized = b;
  PutLe32(&sized[28], 1);
  EXPECT_FALSE(IsDotPair(V(sized)));
  auto single = b;
  single[33] = 'X';
  EXPECT_FALSE(IsDotPair(V(single)));
}

TEST(IsPlausibleDirEntry, AcceptsOrdinaryEntries) {
  EXPECT_TRUE(IsPlausibleDirEntry(V(MakeEntry({}))));
  EXPECT_TRUE(IsPlausibleDirEntry(V(MakeEntry({"SUBDIR     ", 0x10, 9, 0}))));
  EXPECT_TRUE(IsPlausibleDirEntry(V(MakeEntry({"VOLUME     ", 0x08, 0, 0}))));
  EXPECT_TRUE(IsPlausibleDirEntry(V(MakeEntry({"EMPTY   TXT", 0x20, 0, 0}))));
  EXPECT_TRUE(IsPlausibleDirEntry(V(MakeLfn(0x41, u"long name", 0x12))));
  EXPECT_TRUE(IsPlausibleDirEntry(V(DotPair())));
  // High bytes (code page characters) are allowed in short names.
  EXPECT_TRUE(IsPlausibleDirEntry(V(MakeEntry({"\x8E\x9AMLAUT TXT"}))));
  EXPECT_FALSE(IsPlausibleDirEntry(ByteView(MakeEntry({}).data(), 31)));
}

TEST(IsPlausibleDirEntry, RefusesImpossibleCombinations) {
  EXPECT_FALSE(IsPlausibleDirEntry(V(MakeEntry({"EMPTY   TXT", 0x20, 4, 0}))));   // empty file with a cluster
  EXPECT_FALSE(IsPlausibleDirEntry(V(MakeEntry({"VOLUME     ", 0x08, 3, 0}))));  // label with a cluster
  EXPECT_FALSE(IsPlausibleDirEntry(V(MakeEntry({"SYS     TXT", 0x28}))));        // label bit on a file
  EXPECT_FALSE(IsPlausibleDirEntry(V(MakeEntry({"SUBDIR     ", 0x11, 9, 0}))));  // read-only directory
  EXPECT_FALSE(IsPlausibleDirEntry(V(MakeEntry({"FILE    TXT", 0x40}))));
  EXPECT_FALSE(IsPlausibleDirEntry(V(MakeEntry({"FILE    TXT", 0x01}))));        // no archive, no directory
  EXPECT_FALSE(IsPlausibleDirEntry(V(MakeEntry({"SUBDIR     ", 0x10, 9, 4096}))));  // live directory with a size
  EXPECT_TRUE(IsPlausibleDirEntry(V(MakeEntry({"\xE5UBDIR     ", 0x10, 9, 4096}))));
  EXPECT_FALSE(IsPlausibleDirEntry(V(MakeLfn(0x53, u"x", 1))));  // sequence 19
  EXPECT_TRUE(IsPlausibleDirEntry(V(MakeLfn(0xE5, u"x", 1))));
  auto lfnCluster = MakeLfn(0x41, u"x", 1);
  lfnCluster[26] = 1;
  EXPECT_FALSE(IsPlausibleDirEntry(V(lfnCluster)));
  EXPECT_FALSE(IsPlausibleDirEntry(V(MakeEntry({"..         ", 0x10, 0, 0}))));  // ".." alone
  for (const char* bad : {"file    txt", "FI*E    TXT", "FI?E    TXT", "FI\x01E    TXT", "FI|E    TXT"})
    EXPECT_FALSE(IsPlausibleDirEntry(V(MakeEntry({bad})))) << bad;
}

TEST(IsPlausibleDirEntry, DateWindowAppliesToLiveFilesOnly) {
  EntrySpec old{"OLD     TXT"};
  old.date = FatDate(1989, 12, 31);
  EXPECT_FALSE(IsPlausibleDirEntry(V(MakeEntry(old))));
  old.name11 = "\xE5OLD    TXT";
  EXPECT_TRUE(IsPlausibleDirEntry(V(MakeEntry(old))));
  EntrySpec dir{"OLDDIR     ", 0x10, 3, 0};
  dir.date = FatDate(1989, 12, 31);
  EXPECT_TRUE(IsPlausibleDirEntry(V(MakeEntry(dir))));
  EntrySpec edge{"EDGE    TXT"};
  edge.date = FatDate(1990, 1, 1);
  edge.time = 0;
  EXPECT_TRUE(IsPlausibleDirEntry(V(MakeEntry(edge))));
  edge.date = FatDate(2050, 1, 1);
  EXPECT_TRUE(IsPlausibleDirEntry(V(MakeEntry(edge))));
  edge.time = FatTime(0, 0, 2);
  EXPECT_FALSE(IsPlausibleDirEntry(V(MakeEntry(edge))));
  EntrySpec badDay{"BAD     TXT"};
  badDay.date = FatDate(2020, 2, 30);  // not a calendar day
  EXPECT_FALSE(IsPlausibleDirEntry(V(MakeEntry(badDay))));
}

TEST(IsDirectoryCluster, EntriesThenZeros) {
  std::vector<uint8_t> buf;
  Append(buf, MakeEntry({"ONE     TXT"}));
  Append(buf, MakeEntry({"TWO     BIN", 0x20, 9, 2000}));
  buf.resize(512, 0);
  EXPECT_TRUE(IsDirectoryCluster(V(buf)));
  auto junk = buf;
  junk[300] = 7;  // bytes after the end marker
  EXPECT_FALSE(IsDirectoryCluster(V(junk)));
  std::vector<uint8_t> zeros(512, 0);
  EXPECT_FALSE(IsDirectoryCluster(V(zeros)));
  EXPECT_TRUE(IsDirectoryCluster(ByteView(zeros.data(), 31)));
  auto dots = DotPair();
  dots.resize(512, 0);
  EXPECT_FALSE(IsDirectoryCluster(V(dots)));
}

TEST(IsDirectoryCluster, LongNamesMustMatchTheirShortEntry) {
  auto shortE = MakeEntry({"LONGNA~1TXT"});
  uint8_t sum = LfnChecksum(ByteView(shortE.data(), 11));
  std::vector<uint8_t> buf;
  Append(buf, MakeLfn(0x42, u"e.txt", sum));
  Append(buf, MakeLfn(0x01, u"a long file n", sum));
  Append(buf, shortE);
  buf.resize(256, 0);
  EXPECT_TRUE(IsDirectoryCluster(V(buf)));
  auto wrongSum = buf;
  wrongSum[32 + 13] ^= 1;
  EXPECT_FALSE(IsDirectoryCluster(V(wrongSum)));
  auto orphan = buf;
  orphan[64 + 1] = 'X';  // short name changed: checksum no longer matches
  EXPECT_FALSE(IsDirectoryCluster(V(orphan)));
  auto deletedShort = orphan;
  deletedShort[64] = 0xE5;  // a deleted short entry is not compared
  EXPECT_TRUE(IsDirectoryCluster(V(deletedShort)));
}

TEST(IsDirectoryCluster, RefusesMalformedShortNames) {
  auto check = [](const std::string& name) {
    std::vector<uint8_t> buf;
    Append(buf, MakeEntry({name}));
    return IsDirectoryCluster(V(buf));
  };
  EXPECT_TRUE(check("GOOD    TXT"));
  EXPECT_FALSE(check("GO OD   TXT"));   // non-space after a space
  EXPECT_FALSE(check("GOOD    T X"));
  EXPECT_FALSE(check("\x81OOD    TXT"));  // lead byte without trail byte
  EXPECT_TRUE(check("\x81\x82OOD   TXT"));
  // A repeating pattern that happens to look like an entry.
  std::vector<uint8_t> fill;
  auto e = MakeEntry({"AAAAAAAAAAA"});
  std::memcpy(&e[17], &e[1], 14);
  Append(fill, e);
  EXPECT_FALSE(IsDirectoryCluster(V(fill)));
  // A live entry whose creation date is not a calendar date.
  auto badCreate = MakeEntry({"GOOD    TXT"});
  badCreate[16] = 0;
  badCreate[17] = 0;
  EXPECT_FALSE(IsDirectoryCluster(V(badCreate)));
}

TEST(FatTimestamps, HundredthsAndCalendar) {
  EntrySpec s;
  s.date = FatDate(2021, 3, 4);
  s.time = FatTime(5, 6, 8);
  s.hundredths = 150;
  auto t = DecodeFatTimestamps(V(MakeEntry(s)));
  EXPECT_EQ(t.created, FatDateTimeToFileTime(s.date, s.time, 0) + 10000000ULL + 500000ULL);
  s.hundredths = 100;
  t = DecodeFatTimestamps(V(MakeEntry(s)));
  EXPECT_EQ(t.created, FatDateTimeToFileTime(s.date, s.time, 100));
  EXPECT_EQ(t.accessed, FatDateTimeToFileTime(s.date, 0, 0));
  EXPECT_EQ(FatDateTimeToFileTime(FatDate(1990, 1, 1), 0, 0), 0x01B41E2A18D64000ULL);
  EXPECT_EQ(FatDateTimeToFileTime(FatDate(2050, 1, 1), 0, 0), 0x01F7630BE39D8000ULL);
  EXPECT_EQ(FatDateTimeToFileTime(FatDate(2020, 13, 1), 0, 0), 0u);
  EXPECT_EQ(FatDateTimeToFileTime(FatDate(2020, 4, 31), 0, 0), 0u);
  EXPECT_EQ(FatDateTimeToFileTime(FatDate(2024, 2, 29), 0, 0) != 0, true);
  EXPECT_EQ(FatDateTimeToFileTime(FatDate(2020, 1, 1), uint16_t(24 << 11), 0), 0u);
}
