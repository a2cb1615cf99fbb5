// Deep scans of FAT volumes that were never formatted: the quick pass lists
// deleted folders with their paths, and the deep FAT engine must not list
// the same files again under lost folders, while keeping what only it finds.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <set>
#include <utility>

#include "base/text.h"
#include "engine/scan_log_folder.h"
#include "scan/engine_factory.h"
#include "scan/deep_scan_engine.h"
#include "tests/support/engine_walk.h"
#include "tests/support/test_support.h"

using namespace dunmere;
using namespace dunmere::test;

namespace {

using Found = test::ListedFile;

std::vector<Found> DeepScanFiles(const std::string& image) {
  UsePrivateDataFolder();
  auto e = CreateEngineForImage(image, 'Z', true);
  EXPECT_NE(dynamic_cast<DeepScanEngine*>(e.get()), nullptr);
  if (!e) return {};
  e->DeclineResume();
  EXPECT_EQ(e->Scan(nullptr), 0);
  return test::ListEveryFile(*e);
}

// Deep FAT files that repeat a quick-pass file of the same name and size.
std::vector<std::string> Copies(const std::vector<Found>& files) {
  std::set<std::pair<std::string, uint64_t>> quick;
  for (const Found& f : files)
    if (f.record.sourceKind == kSourceQuickFat) quick.insert({RecordName(f.record), uint64_t(f.record.size)});
  std::vector<std::string> copies;
  for (const Found& f : files)
    if (f.record.sourceKind == kSourceDeepFat && quick.count({RecordName(f.record), uint64_t(f.record.size)}))
      copies.push_back(f.path);
  return copies;
}

size_t CountKind(const std::vector<Found>& files, uint32_t kind) {
  size_t n = 0;
  for (const Found& f : files) n += f.record.sourceKind == kind;
  return n;
}

}  // namespace

TEST(DeepScanOfLiveFat, DeletedFoldersTheQuickPassWalkedAreListedOnce) {
  const CachedFixture small = MakeCachedFixture("make_fat_images.sh", "fat-images");
  const CachedFixture spread = MakeCachedFixture("make_fat_spread_images.sh", "fat-spread-images");
  if (small.missingTool || spread.missingTool) GTEST_SKIP() << small.message << spread.message;
  ASSERT_FALSE(small.dir.empty()) << small.message;
  ASSERT_FALSE(spread.dir.empty()) << spread.message;
  for (const std::string& image : {small.dir + "/fat16.img", spread.dir + "/spread32_4k.img"}) {
    SCOPED_TRACE(image);
    auto files = DeepScanFiles(image);
    auto copies = Copies(files);
    EXPECT_TRUE(copies.empty()) << copies.size() << " listed twice, first " << copies.front();
    // The quick pass keeps its files, with their folders.
    EXPECT_GT(CountKind(files, kSourceQuickFat), 20u);
  }
}

TEST(DeepScanOfLiveFat, AFolderNoEntryNamesIsListedOnce) {
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  DUNMERE_REQUIRE_TOOL("mdeltree");
  TempDir dir;
  const std::string img = dir / "lost16.img";
  // "Lost Parent" is deleted and its root slots are taken by two empty files:
  // only its clusters are left, which no walk from the root reaches. The
  // deep pass finds them among the free clusters (as a LostFolder), and the
  // quick pass leaves that look to it: the files are listed once.
  std::string cmd = "cd '" + dir.path() + "' && export MTOOLS_SKIP_CHECK=1 && truncate -s 12M lost16.img && "
                    "mkfs.fat -F 16 -s 4 lost16.img >/dev/null && "
                    "mmd -i lost16.img '::/Lost Parent' '::/Known Folder' && "
                    "for i in 1 2 3; do head -c 5000 /dev/urandom > l$i; "
                    "mcopy -i lost16.img l$i \"::/Lost Parent/Lost file $i.bin\"; done && "
                    "for i in 1 2; do head -c 3000 /dev/urandom > k$i; "
                    "mcopy -i lost16.img k$i \"::/Known Folder/Known file $i.bin\"; done && "
                    "mdeltree -i lost16.img '::/Lost Parent' '::/Known Folder' && : > A.TXT && : > B.TXT && "
                    "mcopy -i lost16.img A.TXT B.TXT ::/";
  std::string out;
  ASSERT_EQ(RunCommand(cmd, &out), 0) << out;
  auto files = DeepScanFiles(img);
  std::map<std::string, std::vector<uint32_t>> kinds;  // file name -> kinds of the engines that listed it
  for (const Found& f : files) kinds[RecordName(f.record)].push_back(f.record.sourceKind);
  for (int i = 1; i <= 2; ++i)
    EXPECT_EQ(kinds["Known file " + std::to_string(i) + ".bin"], std::vector<uint32_t>{kSourceQuickFat});
  for (int i = 1; i <= 3; ++i)
    EXPECT_EQ(kinds["Lost file " + std::to_string(i) + ".bin"], std::vector<uint32_t>{kSourceDeepFat});
}

TEST(DeepScanOfLiveFat, AFormattedVolumesFolderKeepsTheSubfolderNamedInItsLaterCluster) {
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  DUNMERE_REQUIRE_TOOL("mmd");
  TempDir dir;
  // "Top Folder" outgrows its first cluster (512 bytes) before "Sub Folder
  // Named Here" is made, so the subfolder's entry, and its name, lie in a
  // later cluster that only the FAT linked. The format clears FAT and root;
  // the deep pass joins that cluster to its folder by the subfolder's "..".
  std::string cmd = "cd '" + dir.path() + "' && export MTOOLS_SKIP_CHECK=1 && truncate -s 40M f32.img && "
                    "mkfs.fat -F 32 -s 1 f32.img >/dev/null && mmd -i f32.img '::/Top Folder' && "
                    "for i in 1 2 3 4 5 6 7 8; do head -c 3000 /dev/urandom > t$i; "
                    "mcopy -i f32.img t$i \"::/Top Folder/A file with a long name $i.bin\"; done && "
                    "mmd -i f32.img '::/Top Folder/Sub Folder Named Here' && "
                    "for i in 1 2 3; do head -c 2000 /dev/urandom > s$i; "
                    "mcopy -i f32.img s$i \"::/Top Folder/Sub Folder Named Here/Sub file $i.bin\"; done && "
                    "mkfs.fat -F 32 -s 1 f32.img >/dev/null";
  std::string out;
  ASSERT_EQ(RunCommand(cmd, &out), 0) << out;
  auto files = DeepScanFiles(dir / "f32.img");
  // Listed by the deep FAT engine: a look through free space in the quick
  // pass, which joins later clusters by their data alone, put a larger
  // volume's files under the wrong lost folders.
  std::map<std::string, std::string> pathOf;
  std::map<std::string, uint32_t> kindOf;
  for (const Found& f : files) {
    pathOf[RecordName(f.record)] = f.path;
    kindOf[RecordName(f.record)] = f.record.sourceKind;
  }
  for (int i = 1; i <= 3; ++i) {
    const std::string name = "Sub file " + std::to_string(i) + ".bin";
    ASSERT_TRUE(pathOf.count(name)) << name;
    EXPECT_EQ(kindOf[name], uint32_t(kSourceDeepFat)) << name;
    // The top folder's own name lived in the old root: a lost folder's name stands there.
    const std::string tail = "/Sub Folder Named Here/" + name;
    const std::string& path = pathOf[name];
    EXPECT_TRUE(path.size() > tail.size() && path.compare(path.size() - tail.size(), tail.size(), tail) == 0)
        << path;
  }
}
