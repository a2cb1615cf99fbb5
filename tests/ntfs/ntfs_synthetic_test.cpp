// The quick NTFS engine on a hand-made volume: damaged records, loops and
// lists that point to themselves must cost only the records concerned.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "engine/store_engine.h"
#include "engine/scan_log_folder.h"
#include "base/text.h"
#include <set>
#include "carving/content_check_factory.h"
#include "ntfs/quick/quick_ntfs_engine.h"
#include "tests/ntfs/synthetic_volume.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

namespace fs = std::filesystem;
using test::SyntheticVolume;
using V = SyntheticVolume;

std::vector<uint8_t> Bytes(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(seed + i * 7);
  return v;
}

class SyntheticNtfs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::UsePrivateDataFolder(); }

  // Scans the volume and returns every record by name.
  std::map<std::string, FoundItemRecord> Scan(SyntheticVolume& vol) {
    path = dir / "vol.img";
    vol.Save(path);
    ScanLogFolder::Instance().BeginNewScanFolder();
    EXPECT_EQ(engine.OpenImage(path, 'S'), kOk);
    EXPECT_EQ(engine.Scan(nullptr), kOk);
    std::map<std::string, FoundItemRecord> byName;
    for (uint32_t i = 1; i <= engine.Store()->Count(); ++i) {
      FoundItemRecord r;
      EXPECT_EQ(engine.Store()->Read(i, r), kOk);
      byName[RecordName(r)] = r;
    }
    return byName;
  }
  Status Content(const FoundItemRecord& r, std::vector<uint8_t>& out) {
    out.clear();
    return engine.ReadContent(r, [&](const uint8_t* d, size_t n) {
      out.insert(out.end(), d, d + n);
      return 0;
    });
  }

  test::TempDir dir;
  std::string path;
  QuickNtfsEngine engine;
};

TEST_F(SyntheticNtfs, DataAcrossRecordsSparseRunsAndUnwrittenTail) {
  V vol;
  auto a = Bytes(1024, 1), b = Bytes(1024, 2);
  vol.PutCluster(300, std::vector<uint8_t>(a.begin(), a.begin() + 512));
  vol.PutCluster(301, std::vector<uint8_t>(a.begin() + 512, a.end()));
  vol.PutCluster(310, std::vector<uint8_t>(b.begin(), b.begin() + 512));
  vol.PutCluster(311, std::vector<uint8_t>(b.begin() + 512, b.end()));
  // Record 20: VCN 0-1 here, a sparse VCN 2, VCN 3-4 in extension record 21.
  vol.PutRecord(20, 0,
                {V::AttributeList({{0x30, 0, 20}, {0x80, 0, 20}, {0x80, 3, 21}}), V::FileName(5, u"joined.bin"),
                 V::NonResident(0x80, {0x21, 0x02, 0x2C, 0x01, 0x01, 0x01}, 2500, 0, 2)});
  vol.PutRecord(21, 0, {V::NonResident(0x80, {0x21, 0x02, 0x36, 0x01}, 0, 3, 4)}, 20);
  // Record 22: 1,000 bytes of which only 600 were ever written.
  vol.PutRecord(22, 0, {V::FileName(5, u"short.bin"), V::NonResident(0x80, {0x21, 0x02, 0x2C, 0x01}, 1000, 0, 1, 600)});
  auto items = Scan(vol);
  ASSERT_TRUE(items.count("joined.bin"));
  EXPECT_EQ(+items["joined.bin"].size, 2500u);
  std::vector<uint8_t> got;
  ASSERT_EQ(Content(items["joined.bin"], got), kOk);
  std::vector<uint8_t> want = a;
  want.resize(1536, 0);
  want.insert(want.end(), b.begin(), b.begin() + (2500 - 1536));
  EXPECT_EQ(got, want);
  ASSERT_EQ(Content(items["short.bin"], got), kOk);
  want.assign(a.begin(), a.begin() + 600);
  want.resize(1000, 0);
  EXPECT_EQ(got, want);
}

TEST_F(SyntheticNtfs, DamagedDataIsAFailureNeverAnEmptySuccess) {
  V vol;
  // A list that names only the record itself for the data it lacks.
  vol.PutRecord(20, 0, {V::AttributeList({{0x80, 0, 20}, {0x80, 0, 20}}), V::FileName(5, u"self.bin")});
  // Data said to lie beyond the volume.
  vol.PutRecord(21, 0, {V::FileName(5, u"outside.bin"), V::NonResident(0x80, {0x31, 0x02, 0x00, 0x00, 0x10}, 1000, 0, 1)});
  // An extension record that now belongs to another file.
  vol.PutRecord(22, 0, {V::AttributeList({{0x80, 0, 23}}), V::FileName(5, u"stolen.bin")});
  vol.PutRecord(23, 0, {V::NonResident(0x80, {0x21, 0x02, 0x2C, 0x01}, 1000, 0, 1)}, 40);
  // No data attribute at all, and a run list without its end.
  vol.PutRecord(24, 0, {V::FileName(5, u"nodata.bin")});
  auto open = V::NonResident(0x80, {0x21, 0x02, 0x2C, 0x01}, 1000, 0, 1);
  for (size_t i = 68; i < open.size(); ++i) open[i] = 0x11;
  vol.PutRecord(25, 0, {V::FileName(5, u"endless.bin"), open});
  auto items = Scan(vol);
  for (const char* name : {"self.bin", "outside.bin", "stolen.bin", "nodata.bin", "endless.bin"}) {
    ASSERT_TRUE(items.count(name)) << name;
    std::vector<uint8_t> got;
    EXPECT_NE(Content(items[name], got), kOk) << name;
    test::TempDir out;
    EXPECT_NE(engine.RecoverItem(items[name], out / name, 0), kOk) << name;
    EXPECT_FALSE(fs::exists(out / name)) << name;
  }
}

TEST_F(SyntheticNtfs, DamagedRecordsAreSkippedAlone) {
  V vol;
  vol.PutRecord(20, 0, {V::FileName(5, u"good.txt"), V::ResidentData({'o', 'k'})});
  vol.PutRecord(21, 0, {V::FileName(5, u"torn.txt"), V::ResidentData({'x'})});
  PutLe16(vol.RecordBytes(21) + 1022, 0x4444);
  vol.PutRecord(22, 0, {V::FileName(5, u"zero-length.txt"), V::ResidentData({'x'})});
  PutLe32(vol.RecordBytes(22) + 56 + 4, 0);  // first attribute of length 0
  vol.PutRecord(23, 0, {V::ResidentData({'y'}), V::FileName(5, u"late-damage.txt")});
  PutLe32(vol.RecordBytes(23) + 56 + 4, 0x7FFFFFF8);  // length past the record
  PutLe16(vol.RecordBytes(24), 0);  // no record at all
  auto items = Scan(vol);
  EXPECT_TRUE(items.count("good.txt"));
  EXPECT_FALSE(items.count("torn.txt"));
  EXPECT_FALSE(items.count("zero-length.txt"));
  EXPECT_FALSE(items.count("late-damage.txt"));
  std::vector<uint8_t> got;
  ASSERT_EQ(Content(items["good.txt"], got), kOk);
  EXPECT_EQ(got, std::vector<uint8_t>({'o', 'k'}));
}

TEST_F(SyntheticNtfs, LongNameWinsOverTheShortName) {
  V vol;
  vol.PutRecord(20, 0, {V::FileName(5, u"LONGFI~1.TXT", 2), V::FileName(5, u"long file name.txt", 1),
                        V::ResidentData({'1'})});
  vol.PutRecord(21, 0, {V::FileName(5, u"another long name.txt", 1), V::FileName(5, u"ANOTHE~1.TXT", 2),
                        V::ResidentData({'2'})});
  // A deleted folder alone is no item; it appears only above a deleted file.
  vol.PutRecord(30, V::kDir, {V::FileName(5, u"EmptyGone")});
  auto items = Scan(vol);
  EXPECT_TRUE(items.count("long file name.txt"));
  EXPECT_TRUE(items.count("another long name.txt"));
  EXPECT_FALSE(items.count("LONGFI~1.TXT"));
  EXPECT_FALSE(items.count("ANOTHE~1.TXT"));
  EXPECT_FALSE(items.count("EmptyGone"));
}

TEST_F(SyntheticNtfs, UnreadableRecordsCostOnlyThemselves) {
  V vol;
  vol.PutRecord(16, 0, {V::FileName(5, u"early.txt"), V::ResidentData({'e'})});
  vol.PutRecord(40, 0, {V::FileName(5, u"late.txt"), V::ResidentData({'l'})});
  path = dir / "partial.img";
  vol.Save(path);
  // The image ends inside the $MFT: records from 18 on are gone.
  fs::resize_file(path, (V::kMftLcn + 36) * V::kSector);
  ScanLogFolder::Instance().BeginNewScanFolder();
  ASSERT_EQ(engine.OpenImage(path, 'S'), kOk);
  ASSERT_EQ(engine.Scan(nullptr), kOk);
  ASSERT_EQ(engine.GetFoundCount(), 1);
  FoundItemRecord r;
  ASSERT_EQ(engine.Store()->Read(1, r), kOk);
  EXPECT_EQ(RecordName(r), "early.txt");
  // A source with nothing readable left fails the scan.
  fs::resize_file(path, V::kMftLcn * V::kSector);
  ScanLogFolder::Instance().BeginNewScanFolder();
  EXPECT_NE(engine.Scan(nullptr), kOk);
}

TEST_F(SyntheticNtfs, ParentLoopsEndAndEveryItemStaysReachable) {
  V vol;
  // Folders 30 and 31 name each other as parent; 32 names itself.
  vol.PutRecord(30, V::kDir, {V::FileName(31, u"A")});
  vol.PutRecord(31, V::kDir, {V::FileName(30, u"B")});
  vol.PutRecord(32, V::kDir, {V::FileName(32, u"Self")});
  vol.PutRecord(20, 0, {V::FileName(30, u"in-a.txt"), V::ResidentData({'a'})});
  vol.PutRecord(21, 0, {V::FileName(32, u"in-self.txt"), V::ResidentData({'s'})});
  Scan(vol);
  // Every file is found by walking down from the top level.
  std::vector<std::pair<FoundItemRecord, uint32_t>> stack;
  std::vector<FoundItemRecord> kids;
  ASSERT_EQ(engine.ListChildren(nullptr, 0, kids), kOk);
  for (auto& k : kids) stack.push_back({k, 1});
  std::set<std::string> files;
  while (!stack.empty()) {
    auto [r, level] = stack.back();
    stack.pop_back();
    if (!r.isFolder) {
      files.insert(RecordName(r));
      continue;
    }
    ASSERT_LT(level, 10u);
    ASSERT_EQ(engine.ListChildren(&r, level, kids), kOk);
    for (auto& k : kids) stack.push_back({k, level + 1});
  }
  EXPECT_EQ(files, (std::set<std::string>{"in-a.txt", "in-self.txt"}));
  uint32_t count = 0;
  ASSERT_EQ(engine.CountFiles(nullptr, 0, count), kOk);
  EXPECT_EQ(count, 2u);
}

TEST_F(SyntheticNtfs, NamesFromDiskStayInsideTheDestination) {
  V vol;
  vol.PutRecord(30, V::kDir, {V::FileName(5, u"..")});
  vol.PutRecord(20, 0, {V::FileName(30, u"../../escape.txt"), V::ResidentData({'e'})});
  vol.PutRecord(21, 0, {V::FileName(30, u".."), V::ResidentData({'d'})});
  Scan(vol);
  std::vector<FoundItemRecord> top;
  ASSERT_EQ(engine.ListChildren(nullptr, 0, top), kOk);
  ASSERT_EQ(top.size(), 1u);
  test::TempDir out;
  std::string root = out / "dest";
  fs::create_directories(root);
  std::string dest = root + "/" + SafePathComponent(RecordName(top[0]));
  ASSERT_EQ(engine.RecoverItem(top[0], dest, CountSeparators(root)), kOk);
  size_t files = 0;
  for (auto& e : fs::recursive_directory_iterator(out.path())) {
    if (!e.is_regular_file()) continue;
    ++files;
    std::string p = fs::weakly_canonical(e.path()).string();
    EXPECT_EQ(p.rfind(fs::weakly_canonical(root).string() + "/", 0), 0u) << p;
  }
  EXPECT_EQ(files, 2u);
}

TEST_F(SyntheticNtfs, AllocationBitmapGivesTheFreeExtents) {
  V vol;
  Scan(vol);
  uint64_t s = 0, n = 0;
  EXPECT_EQ(engine.NextFreeExtent(s, n), kInvalidArg);  // not loaded yet
  ASSERT_EQ(engine.LoadAllocationBitmap(), kOk);
  EXPECT_EQ(engine.NextFreeExtent(s, n), 1);
  EXPECT_EQ(s, 256u);
  EXPECT_EQ(n, V::kSectors - 256);
}

}  // namespace
}  // namespace dunmere

namespace dunmere {
namespace {

// ntfs-3g takes the names of a file whose record has an attribute list when
// it deletes it; Windows leaves them. Such a file's streams may stand in its
// base record, in extension records, or in pieces across both.
TEST_F(SyntheticNtfs, StreamsOfAFileWithAnAttributeListComeFromEveryRecordOfIt) {
  V vol;
  auto split = Bytes(1800, 3);
  vol.PutCluster(320, std::vector<uint8_t>(split.begin(), split.begin() + 512));
  vol.PutCluster(321, std::vector<uint8_t>(split.begin() + 512, split.begin() + 1024));
  vol.PutCluster(336, std::vector<uint8_t>(split.begin() + 1024, split.begin() + 1536));
  std::vector<uint8_t> tail(split.begin() + 1536, split.end());
  tail.resize(512, 0);
  vol.PutCluster(337, tail);
  const std::vector<uint8_t> own = Bytes(40, 9), inBase = Bytes(100, 4);
  std::vector<uint8_t> picture = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x01};
  picture.resize(300, 0x55);
  vol.PutRecord(30, 0,
                {V::AttributeList({{0x30, 0, 30},
                                   {0x80, 0, 30},
                                   {0x80, 0, 30, u"inbase"},
                                   {0x80, 0, 30, u"split"},
                                   {0x80, 0, 31, u"moved"},
                                   {0x80, 2, 32, u"split"},
                                   {0x80, 0, 31, u"$Tag"},
                                   {0x80, 0, 32, u"empty"}}),
                 V::FileName(5, u"multi.bin"), V::ResidentData(own), V::Named(V::ResidentData(inBase), u"inbase"),
                 V::Named(V::NonResident(0x80, {0x21, 0x02, 0x40, 0x01}, 1800, 0, 1), u"split")});
  vol.PutRecord(31, 0, {V::Named(V::ResidentData(picture), u"moved"), V::Named(V::ResidentData({1, 2}), u"$Tag")},
                30);
  vol.PutRecord(32, 0,
                {V::Named(V::NonResident(0x80, {0x21, 0x02, 0x50, 0x01}, 0, 2, 3), u"split"),
                 V::Named(V::ResidentData({}), u"empty")},
                30);
  engine.SetContentCheck(MakeSignatureContentCheck());
  auto items = Scan(vol);
  std::vector<uint8_t> got;
  const std::pair<const char*, std::vector<uint8_t>> want[] = {
      {"multi.bin", own}, {"multi.bin:inbase", inBase}, {"multi.bin:split", split}, {"multi.bin:moved.jpg", picture}};
  for (const auto& [name, bytes] : want) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(items.count(name));
    EXPECT_EQ(+items[name].size, bytes.size());
    ASSERT_EQ(Content(items[name], got), kOk);
    EXPECT_EQ(got, bytes);
  }
  EXPECT_EQ(items.size(), 4u) << "NTFS's own streams and empty ones are no rows";
  // The streams stand beside their file, in its folder.
  EXPECT_EQ(engine.Store()->Children(MakeRelationKey(5, 0))->size(), 4u);
}

}  // namespace
}  // namespace dunmere
