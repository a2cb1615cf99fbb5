// What ties a free cluster of entries to the deleted folder it goes on.
#include <gtest/gtest.h>

#include "fat/quick/deleted_folder_ends.h"
#include "fat/fat_dir_entry.h"
#include "tests/fat/dir_entry_builder.h"

using namespace dunmere;
using namespace dunmere::test;

namespace {

std::vector<uint8_t> Cluster(std::initializer_list<std::vector<uint8_t>> entries) {
  std::vector<uint8_t> c;
  for (const auto& e : entries) c.insert(c.end(), e.begin(), e.end());
  c.resize(512, 0);
  return c;
}

std::vector<uint8_t> Deleted(std::vector<uint8_t> e) {
  e[0] = kFatDeletedMark;
  return e;
}

OpenFolderEnd EndWithData(uint32_t dataEnd) {
  OpenFolderEnd end;
  end.hasData = true;
  end.dataEnd = dataEnd;
  return end;
}

}  // namespace

TEST(DeletedFolderEnds, ACandidateShowsItsFirstDataAndAnOpeningLongName) {
  EntrySpec empty{"EMPTY   TXT", 0x20};
  empty.cluster = 0;
  empty.size = 0;
  EntrySpec file{"DATA    BIN", 0x20};
  file.cluster = 0x12345;
  file.size = 9000;
  auto lfn = MakeLfn(0x41, u"data.bin", 0x5A);
  // An empty file owns no data: the first entry that does counts.
  FolderCandidate c = DescribeCandidate(7, ByteView(Cluster({Deleted(lfn), Deleted(MakeEntry(empty)),
                                                              Deleted(MakeEntry(file))})), true);
  EXPECT_TRUE(c.opensWithLongName);
  EXPECT_EQ(c.lfnChecksum, 0x5A);
  EXPECT_TRUE(c.hasData);
  EXPECT_EQ(c.firstData, 0x12345u);
  // On FAT16 the high word is not part of the cluster number.
  EXPECT_EQ(DescribeCandidate(7, ByteView(Cluster({MakeEntry(file)})), false).firstData, 0x2345u);
  // Entries after the end of the directory are not looked at.
  FolderCandidate none = DescribeCandidate(7, ByteView(Cluster({std::vector<uint8_t>(32, 0), MakeEntry(file)})), true);
  EXPECT_FALSE(none.hasData);
  EXPECT_FALSE(none.opensWithLongName);
}

TEST(DeletedFolderEnds, DataThatGoesOnThroughFreeClustersTiesACandidate) {
  auto allFree = [](uint32_t, uint32_t) { return true; };
  auto usedBetween = [](uint32_t a, uint32_t b) { return !(a <= 103 && 103 < b); };
  FolderCandidate c;
  c.hasData = true;
  c.firstData = 100;
  EXPECT_TRUE(ContinuesFolder(EndWithData(100), c, allFree));  // no gap (mtools)
  c.firstData = 104;
  EXPECT_TRUE(ContinuesFolder(EndWithData(100), c, allFree));  // a few free clusters between
  // Another file's data in between: it was written between the two.
  EXPECT_FALSE(ContinuesFolder(EndWithData(100), c, usedBetween));
  c.firstData = 105;
  EXPECT_FALSE(ContinuesFolder(EndWithData(100), c, allFree));  // too far
  c.firstData = 99;
  EXPECT_FALSE(ContinuesFolder(EndWithData(100), c, allFree));  // before the folder's data ended
  OpenFolderEnd noData;
  c.firstData = 100;
  EXPECT_FALSE(ContinuesFolder(noData, c, allFree));
}

TEST(DeletedFolderEnds, ALongNameCutAtTheClustersEndGoesOnWithTheSameChecksum) {
  auto allFree = [](uint32_t, uint32_t) { return true; };
  OpenFolderEnd end;
  end.inLongName = true;
  end.lfnChecksum = 0x33;
  FolderCandidate c;
  c.opensWithLongName = true;
  c.lfnChecksum = 0x33;
  EXPECT_TRUE(ContinuesFolder(end, c, allFree));
  c.lfnChecksum = 0x34;
  EXPECT_FALSE(ContinuesFolder(end, c, allFree));
  end.inLongName = false;
  c.lfnChecksum = 0x33;
  EXPECT_FALSE(ContinuesFolder(end, c, allFree));
}
