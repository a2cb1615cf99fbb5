// Which unfinished long name a directory sector goes on with, when several
// folders' names fit it: a wrong choice puts a folder's files, under a
// borrowed name, into another folder.
#include <gtest/gtest.h>

#include "fat/deep/name_tails.h"
#include "tests/fat/dir_entry_builder.h"

using namespace dunmere;
using namespace dunmere::test;

namespace {
constexpr uint8_t kSum = 0x5A;
constexpr uint32_t kSpc = 8;
constexpr uint64_t kDataStart = 1000;  // cluster 2
constexpr uint32_t kFolderA = 10, kFolderB = 20;
constexpr uint64_t kFar = 5000;  // many clusters past both folders

uint64_t SectorOf(uint32_t cluster) { return kDataStart + uint64_t(cluster - 2) * kSpc; }

struct Scan {
  DeepFatLimits limits;
  DeepFatStats stats;
  FatVolumeGuesses guesses{limits};
  FatFolderTree tree{guesses, stats, nullptr};
  FatNameTails tails{guesses, tree, limits, stats};

  Scan() {
    tree.Reset("");
    tails.Reset("");
    FatVolumeGuess g;
    g.sectorsPerCluster = kSpc;
    g.dataStart = uint32_t(kDataStart);
    guesses.Add(g);
  }
  // Folder `c`'s first sector ends in the first two parts of a three-part
  // long name: part 1 (and the short entry) is still to come.
  void CutNameIn(uint32_t c) {
    FatNameTail t;
    t.checksum = kSum;
    t.guess = 0;
    t.cluster = c;
    t.dirSector = t.sector = SectorOf(c);
    t.lastSeq = 2;
    Append(t.bytes, MakeLfn(0x43, u"a-long-folder", kSum));
    Append(t.bytes, MakeLfn(0x02, u"-name-that-ru", kSum));
    tails.Keep(std::move(t));
  }
};

// The last part of the name, its short entry (data at `firstData`), and,
// when `subfolder` is set, a subfolder listed after it.
std::vector<uint8_t> RestOfName(uint32_t firstData, uint32_t subfolder = 0) {
  std::vector<uint8_t> s;
  Append(s, MakeLfn(0x01, u"ns-on.txt", kSum));
  EntrySpec file;
  file.name11 = "ALONGF~1TXT";
  file.cluster = firstData;
  Append(s, MakeEntry(file));
  if (subfolder) {
    EntrySpec dir;
    dir.name11 = "SUB        ";
    dir.attr = 0x10;
    dir.cluster = subfolder;
    dir.size = 0;
    Append(s, MakeEntry(dir));
  }
  s.resize(512, 0);
  return s;
}

ByteView View(const std::vector<uint8_t>& v) { return ByteView(v.data(), v.size()); }
}  // namespace

TEST(FatNameTails, FarSectorGoesWithTheFolderItsSubfoldersNameNotByData) {
  Scan scan;
  scan.CutNameIn(kFolderA);
  scan.CutNameIn(kFolderB);
  // The data would say folder A; the subfolder's own ".." says B.
  scan.tree.Continuations().OnEntry(kFolderA, 0, 400, 5);
  scan.tree.LearnParent(300, kFolderB);
  auto sector = RestOfName(405, 300);
  auto t = scan.tails.TakeFor(View(sector), kFar);
  ASSERT_TRUE(t.has_value());
  EXPECT_EQ(t->cluster, kFolderB);
  EXPECT_EQ(scan.tails.Waiting(), 1u);

  // A subfolder naming a third folder: that folder's name is not waiting,
  // so neither waiting one may take the sector.
  Scan other;
  other.CutNameIn(kFolderA);
  other.CutNameIn(kFolderB);
  other.tree.Continuations().OnEntry(kFolderA, 0, 400, 5);
  other.tree.LearnParent(300, 30);
  EXPECT_FALSE(other.tails.TakeFor(View(sector), kFar).has_value());
  EXPECT_EQ(other.tails.Waiting(), 2u);
}

TEST(FatNameTails, FarSectorGoesWhereItsDataGoOnAndNowhereWhenThatIsUnknown) {
  Scan scan;
  scan.CutNameIn(kFolderA);
  scan.CutNameIn(kFolderB);
  scan.tree.Continuations().OnEntry(kFolderA, 0, 400, 5);  // A's data end at 405
  scan.tree.Continuations().OnEntry(kFolderB, 0, 700, 3);  // B's at 703
  auto sector = RestOfName(406);
  auto t = scan.tails.TakeFor(View(sector), kFar);
  ASSERT_TRUE(t.has_value());
  EXPECT_EQ(t->cluster, kFolderA);

  // Nothing known of either folder's data: two names fit alike, and a
  // guess would put the files in the wrong folder half the time.
  Scan blind;
  blind.CutNameIn(kFolderA);
  blind.CutNameIn(kFolderB);
  EXPECT_FALSE(blind.tails.TakeFor(View(sector), kFar).has_value());
  EXPECT_EQ(blind.tails.Waiting(), 2u);
}

TEST(FatNameTails, TheDirectorysOwnNextSectorWinsOverFarCandidates) {
  Scan scan;
  scan.CutNameIn(kFolderA);
  scan.CutNameIn(kFolderB);
  scan.tree.LearnParent(300, kFolderA);  // the far evidence says A
  auto sector = RestOfName(900, 300);
  auto t = scan.tails.TakeFor(View(sector), SectorOf(kFolderB) + 1);
  ASSERT_TRUE(t.has_value());
  EXPECT_EQ(t->cluster, kFolderB);
}

TEST(FatNameTails, AKeptSectorWhoseDataCannotGoOnIsPassedOverForOneThatDoes) {
  Scan scan;
  scan.tree.Continuations().OnEntry(kFolderA, 0, 400, 5);
  auto wrong = RestOfName(900);
  auto right = RestOfName(406);
  right[40] = 'X';  // told apart by a byte of the short name
  scan.tails.KeepSector(View(wrong), 3000);
  scan.tails.KeepSector(View(right), 4000);
  FatNameTail t;
  t.checksum = kSum;
  t.guess = 0;
  t.cluster = kFolderA;
  t.sector = SectorOf(kFolderA);
  t.lastSeq = 2;
  std::vector<uint8_t> out(512);
  uint64_t s = 0;
  ASSERT_TRUE(scan.tails.TakeKeptContinuation(t, s, out.data()));
  EXPECT_EQ(s, 4000u);
  EXPECT_EQ(out, right);
  // Handed out once only.
  EXPECT_FALSE(scan.tails.TakeKeptContinuation(t, s, out.data()));
}
