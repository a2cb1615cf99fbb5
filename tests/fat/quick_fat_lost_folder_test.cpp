// A deleted folder whose own entry a new file has taken: no walk from the
// root reaches it any more, yet its clusters still open with "." and "..".
// The quick scan finds it among the free clusters and lists what it holds
// under "LostFolder<first cluster>", as the deep scan names such folders.
// Image from mkfs.fat and mtools (which gives the new file the freed slot).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "engine/scan_log_folder.h"
#include "fat/quick/quick_fat_engine.h"
#include "storage/read_stop.h"
#include "tests/fat/fat_images.h"
#include "tests/support/open_medium.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

using test::RunCommand;
using test::TempDir;

std::string LostFileData() {
  std::string data(3000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = char((i * 131 + 7) & 0xFF);
  return data;
}

// f.img in `dir`: the folder Old with "Lost file.bin" deleted, its entry
// taken by NEW1.TXT. False with the reason in `out` when a tool failed.
bool MakeLostFolderImage(const TempDir& dir, std::string& out) {
  { std::ofstream(dir / "a.bin", std::ios::binary) << LostFileData(); }
  { std::ofstream(dir / "empty"); }
  return RunCommand("cd '" + dir.path() +
                        "' && export MTOOLS_SKIP_CHECK=1 && mkfs.fat -F 32 -s 1 -C f.img 40000 >/dev/null"
                        " && mmd -i f.img ::/Old && mcopy -i f.img a.bin '::/Old/Lost file.bin'"
                        " && mdeltree -i f.img ::/Old"
                        " && mcopy -i f.img empty ::/NEW1.TXT && mcopy -i f.img empty ::/NEW2.TXT",
                    &out) == 0;
}

// `engine` on `image`, its records in a scan folder of their own.
::testing::AssertionResult OpenInNewScanFolder(QuickFatEngine& engine, const std::string& image) {
  ScanLogFolder::Instance().BeginNewScanFolder();
  if (engine.OpenImage(image, 'Z') == kOk) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "cannot open " << image;
}

bool ListsALostFolder(QuickFatEngine& engine) {
  for (const auto& item : test::ListAll(engine))
    if (item.first.rfind("LostFolder", 0) == 0) return true;
  return false;
}

TEST(QuickFatLostFolder, AFolderWhoseEntryWasReusedIsListedAsLostFolder) {
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  DUNMERE_REQUIRE_TOOL("mcopy");
  DUNMERE_REQUIRE_TOOL("mdeltree");
  test::UsePrivateDataFolder();
  TempDir dir;
  const std::string data = LostFileData();
  std::string out;
  ASSERT_TRUE(MakeLostFolderImage(dir, out)) << out;
  QuickFatEngine engine;
  ASSERT_TRUE(OpenInNewScanFolder(engine, dir / "f.img"));
  ASSERT_EQ(engine.Scan(nullptr), kOk);
  auto listed = test::ListAll(engine);
  std::string found;
  for (const auto& item : listed)
    if (item.first.rfind("LostFolder", 0) == 0 && item.first.size() > 14 &&
        item.first.compare(item.first.size() - 14, 14, "/Lost file.bin") == 0)
      found = item.first;
  ASSERT_FALSE(found.empty()) << listed.size();
  const FoundItemRecord folder = listed.at(found.substr(0, found.find('/'))).record;
  EXPECT_TRUE(folder.isFolder);
  EXPECT_EQ(found.substr(0, found.find('/')), "LostFolder" + std::to_string(folder.itemId));
  std::string copied;
  ASSERT_EQ(engine.ReadContent(listed.at(found).record,
                               [&](const uint8_t* d, size_t n) {
                                 copied.append(reinterpret_cast<const char*>(d), n);
                                 return 0;
                               }),
            kOk);
  EXPECT_EQ(copied, data);
  // The whole free space was looked at: nothing is left for a deep scan.
  EXPECT_FALSE(engine.LeftMoreForDeepScan());
}

// The look through free clusters reads at most its limit, so that a quick
// scan of a large card stays quick; a scan that stopped short says a deep
// scan may find more.
TEST(QuickFatLostFolder, TheLookForLostFoldersReadsNoMoreThanItsLimitAndSaysSo) {
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  DUNMERE_REQUIRE_TOOL("mcopy");
  DUNMERE_REQUIRE_TOOL("mdeltree");
  test::UsePrivateDataFolder();
  TempDir dir;
  std::string out;
  ASSERT_TRUE(MakeLostFolderImage(dir, out)) << out;
  QuickFatEngine engine;
  ASSERT_TRUE(OpenInNewScanFolder(engine, dir / "f.img"));
  // Less than the first sector of the first free cluster: nothing is read.
  engine.SetLostFolderReadLimit(511);
  ASSERT_EQ(engine.Scan(nullptr), kOk);
  EXPECT_FALSE(ListsALostFolder(engine));
  EXPECT_TRUE(engine.LeftMoreForDeepScan());

  // A limit that takes the lost folder's run in: found, nothing left over
  // when the free space ends within it (20 MiB volume, runs of 4 MiB).
  QuickFatEngine whole;
  ASSERT_TRUE(OpenInNewScanFolder(whole, dir / "f.img"));
  whole.SetLostFolderReadLimit(64ull << 20);
  ASSERT_EQ(whole.Scan(nullptr), kOk);
  EXPECT_TRUE(ListsALostFolder(whole));
  EXPECT_FALSE(whole.LeftMoreForDeepScan());
}

// A stop the look meets in its reads (the window's cancel reaches every read
// through the thread's ReadStopScope) ends it there: not one more read is
// asked for, where the run's clusters used to be tried one by one after a
// read that did not arrive whole.
TEST(QuickFatLostFolder, TheLookAsksForNoReadAfterAStop) {
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  test::UsePrivateDataFolder();
  TempDir dir;
  std::string out;
  ASSERT_EQ(RunCommand("cd '" + dir.path() + "' && truncate -s 1G card.img && mkfs.fat -F 32 card.img >/dev/null", &out),
            0)
      << out;
  // The walk alone: how many read pieces it asks for.
  uint64_t walkPieces = 0;
  {
    QuickFatEngine engine;
    ASSERT_TRUE(OpenInNewScanFolder(engine, dir / "card.img"));
    engine.SetLostFolderReadLimit(0);
    ReadStopScope count([&] { return ++walkPieces, false; });
    ASSERT_EQ(engine.Scan(nullptr), kOk);
  }
  ASSERT_GT(walkPieces, 0u);
  // Then the look's first piece is let through and the next one is refused.
  uint64_t asked = 0;
  QuickFatEngine engine;
  ASSERT_TRUE(OpenInNewScanFolder(engine, dir / "card.img"));
  {
    ReadStopScope stop([&] { return ++asked > walkPieces + 1; });
    (void)engine.Scan(nullptr);
  }
  EXPECT_EQ(asked, walkPieces + 2);
  EXPECT_LT(engine.LostFolderBytesRead(), 64ull << 20);
}

}  // namespace
}  // namespace dunmere

namespace dunmere {
namespace {

// A volume filled by mcopy -s, then formatted again: every old folder is
// lost, and a folder that outgrew its first cluster goes on in clusters only
// the old FAT linked. Each file's name starts with its folder's name.
bool MakeFormattedTreeImage(const TempDir& dir, std::string& out) {
  return RunCommand("cd '" + dir.path() +
                        "' && export MTOOLS_SKIP_CHECK=1 && mkdir src && for t in 'Top One' 'Top Two'; do "
                        "mkdir -p \"src/$t\"; for i in $(seq 1 10); do head -c $((2000 + i * 150)) /dev/urandom "
                        "> \"src/$t/$t file $i with a rather long name.bin\"; done; for s in 1 2 3; do "
                        "mkdir -p \"src/$t/$t sub $s\"; for i in $(seq 1 8); do head -c $((1500 + i * 100)) "
                        "/dev/urandom > \"src/$t/$t sub $s/$t sub $s file $i with a long name.bin\"; done; done; "
                        "done && mkfs.fat -F 32 -s 1 -C f.img 40000 >/dev/null && mcopy -s -i f.img src/* ::/ && "
                        "mkfs.fat -F 32 -s 1 f.img >/dev/null",
                    &out) == 0;
}

}  // namespace

// The later clusters of the lost folders are joined to them by what they
// list (subfolders whose ".." names the folder, data going on where the
// folder's stopped), not by nearness alone: every file is listed once, in a
// folder holding only its own folder's files, and subfolders keep their names.
TEST(QuickFatLostFolder, AFormattedVolumesFoldersHoldOnlyTheirOwnFiles) {
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  DUNMERE_REQUIRE_TOOL("mcopy");
  test::UsePrivateDataFolder();
  TempDir dir;
  std::string out;
  ASSERT_TRUE(MakeFormattedTreeImage(dir, out)) << out;
  QuickFatEngine engine;
  ASSERT_TRUE(OpenInNewScanFolder(engine, dir / "f.img"));
  ASSERT_EQ(engine.Scan(nullptr), kOk);
  std::map<std::string, std::set<std::string>> owners;  // listed folder -> the folders its files came from
  size_t files = 0;
  for (const auto& [path, item] : test::ListAll(engine)) {
    if (item.record.isFolder) continue;
    ++files;
    const std::string folder = path.substr(0, path.rfind('/'));
    const std::string name = path.substr(path.rfind('/') + 1);
    const std::string own = name.substr(0, name.find(" file "));
    owners[folder].insert(own);
    // The top folders' names lived in the old root; their subfolders' did not.
    if (own.find(" sub ") != std::string::npos) {
      const std::string tail = "/" + own;
      EXPECT_TRUE(folder.size() > tail.size() && folder.compare(folder.size() - tail.size(), tail.size(), tail) == 0)
          << path;
    }
  }
  EXPECT_EQ(files, 68u);
  for (const auto& [folder, from] : owners) EXPECT_EQ(from.size(), 1u) << folder << " holds files of " << *from.begin()
                                                                         << " and " << *from.rbegin();
}

}  // namespace dunmere
