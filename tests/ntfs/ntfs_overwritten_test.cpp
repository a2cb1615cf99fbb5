// A deleted NTFS file whose clusters the volume has since given to another
// file: its record still names them, but what they hold is the other file's
// data. The quick scan must say the data was overwritten, not copy the other
// file out under the deleted one's name. Volume made with mkntfs + ntfs-3g.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "engine/scan_log_folder.h"
#include "ntfs/quick/quick_ntfs_engine.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace dunmere {
namespace {

TEST(NtfsOverwritten, ClustersTakenByALaterFileAreNotCopiedAsTheDeletedOne) {
  DUNMERE_REQUIRE_TOOL("mkntfs");
  DUNMERE_REQUIRE_TOOL("ntfs-3g");
  if (!fs::exists("/dev/fuse")) GTEST_SKIP() << "needs /dev/fuse for ntfs-3g";
  test::UsePrivateDataFolder();
  test::TempDir dir;
  // A volume filled to the brim, so that new.bin can only take the clusters
  // old.bin gave back; intact.bin is deleted last and nothing takes its own.
  const std::string cmd =
      "cd '" + dir.path() + "' && truncate -s 8M v.img && mkntfs -F -q -Q -s 512 -c 4096 v.img >/dev/null 2>&1 && "
      "mkdir m && ntfs-3g v.img m && "
      "head -c 600000 /dev/urandom > m/old.bin && head -c 300000 /dev/urandom > intact.bin && "
      "cp intact.bin m/intact.bin && (dd if=/dev/urandom of=m/fill.bin bs=4096 2>/dev/null; true) && "
      "rm m/old.bin && head -c 500000 /dev/urandom > new.bin && cp new.bin m/new.bin && rm m/intact.bin && "
      "umount m";
  std::string out;
  if (test::RunCommand(cmd, &out) != 0) {
    (void)test::RunCommand("umount '" + dir.path() + "/m' 2>/dev/null");
    GTEST_SKIP() << "cannot build the volume through ntfs-3g (FUSE unavailable?): " << out;
  }

  ScanLogFolder::Instance().BeginNewScanFolder();
  QuickNtfsEngine e;
  ASSERT_EQ(e.OpenImage(dir / "v.img", 'O'), kOk);
  ASSERT_EQ(e.Scan(nullptr), kOk);
  std::vector<FoundItemRecord> kids;
  ASSERT_EQ(e.ListChildren(nullptr, 0, kids), kOk);
  std::map<std::string, FoundItemRecord> found;
  for (const FoundItemRecord& r : kids) found[RecordName(r)] = r;
  ASSERT_TRUE(found.count("old.bin"));
  ASSERT_TRUE(found.count("intact.bin"));

  // Before, new.bin's bytes came out under old.bin's name, reported as done.
  const std::string copy = dir / "copy.bin";
  EXPECT_EQ(e.RecoverItem(found["old.bin"], copy, 0), kDataOverwritten);
  EXPECT_FALSE(fs::exists(copy));
  // A deleted file whose clusters are still free comes back whole.
  ASSERT_EQ(e.RecoverItem(found["intact.bin"], copy, 0), kOk);
  EXPECT_EQ(test::Sha256OfFile(copy), test::Sha256OfFile(dir / "intact.bin"));
}

}  // namespace
}  // namespace dunmere
