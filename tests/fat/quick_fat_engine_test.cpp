// The quick FAT engine on real images: damaged bytes, the used-cluster map and
// free extents, preview, stop, search, reload of a log and progress.
#include <gtest/gtest.h>
#include <unistd.h>

#include <dirent.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "base/bytes.h"
#include "engine/scan_log_folder.h"
#include "base/text.h"
#include "fat/quick/quick_fat_engine.h"
#include "fat/fat_entry_cache.h"
#include "scan/engine_factory.h"
#include "tests/fat/fat_images.h"
#include "tests/support/test_support.h"

using namespace dunmere;
using namespace dunmere::test;
namespace fs = std::filesystem;

namespace {

std::unique_ptr<QuickFatEngine> Open(const std::string& image) {
  UsePrivateDataFolder();
  ScanLogFolder::Instance().BeginNewScanFolder();
  auto e = std::make_unique<QuickFatEngine>();
  EXPECT_EQ(e->OpenImage(image, 'Z'), 0);
  return e;
}

std::unique_ptr<QuickFatEngine> ScanCopy(const std::string& image) {
  auto e = Open(image);
  EXPECT_EQ(e->Scan(nullptr), 0);
  return e;
}

// Byte offset of a found file's short entry in the image.
size_t ShortEntryOffset(const std::vector<uint8_t>& img, const QuickFatEngine& e, const FoundItemRecord& r) {
  size_t bps = e.Geometry().bytesPerSector;
  size_t base = size_t(r.location) * bps;
  for (size_t off = base; off + 32 <= base + bps && off + 32 <= img.size(); off += 32) {
    ByteView v(&img[off], 32);
    if (v.U8(11) != 0x0F && v.U16(26) == uint16_t(r.itemId) && v.U32(28) == uint32_t(r.size)) return off;
  }
  ADD_FAILURE() << "entry not found for " << RecordName(r);
  return 0;
}

// Replaces the first UTF-16LE occurrence of `from` by `to` (same length).
bool PatchUtf16(std::vector<uint8_t>& img, const std::u16string& from, const std::u16string& to) {
  std::vector<uint8_t> a, b;
  for (char16_t c : from) a.insert(a.end(), {uint8_t(c), uint8_t(c >> 8)});
  for (char16_t c : to) b.insert(b.end(), {uint8_t(c), uint8_t(c >> 8)});
  auto it = std::search(img.begin(), img.end(), a.begin(), a.end());
  if (it == img.end()) return false;
  std::copy(b.begin(), b.end(), it);
  return true;
}

// The level base that makes a folder copied to `dest` list its children at
// `childLevel`.
int LevelBase(const std::string& dest, int childLevel) { return CountSeparators(dest) - childLevel; }

bool AllInside(const std::string& root) {
  for (auto& p : fs::recursive_directory_iterator(root)) {
    std::string s = fs::weakly_canonical(p.path()).string();
    if (s.rfind(fs::weakly_canonical(root).string(), 0) != 0) return false;
  }
  return true;
}

}  // namespace

TEST(FatDamaged, NamesFromDiskStayInsideTheDestination) {
  DUNMERE_REQUIRE_FAT_IMAGES();
  TempDir tmp;
  auto img = ReadBytes(FatImageFolder() + "/fat16.img");
  // "Evilname.txt" gets a separator, "Zq" becomes "..".
  ASSERT_TRUE(PatchUtf16(img, u"Evil", u"E/il"));
  ASSERT_TRUE(PatchUtf16(img, std::u16string(u"Zq\0", 3), std::u16string(u"..\0", 3)));
  WriteBytes(tmp / "evil.img", img);
  auto e = ScanCopy(tmp / "evil.img");
  auto listed = ListAll(*e);
  ASSERT_TRUE(listed.count("docs/E_ilname.txt"));
  ASSERT_TRUE(listed.count("docs/.."));
  std::string dest = tmp / "out";
  fs::create_directories(dest);
  EXPECT_EQ(e->RecoverItem(listed["docs"].record, dest + "/docs", LevelBase(dest + "/docs", 1)), 0);
  EXPECT_TRUE(fs::exists(dest + "/docs/E_ilname.txt"));
  EXPECT_TRUE(AllInside(dest));
  EXPECT_FALSE(fs::exists(tmp / "Zq"));
  size_t files = 0;
  for (auto& p : fs::recursive_directory_iterator(dest)) files += p.is_regular_file();
  EXPECT_GE(files, 14u);
}

TEST(FatDamaged, ImpossibleSizesClustersAndLoopsLoseOnlyTheirEntry) {
  DUNMERE_REQUIRE_FAT_IMAGES();
  TempDir tmp;
  std::string original = FatImageFolder() + "/fat16.img";
  auto clean = ScanCopy(original);
  auto listed = ListAll(*clean);
  auto img = ReadBytes(original);
  const auto& g = clean->Geometry();

  // A size larger than the volume, a first cluster past its end.
  size_t big = ShortEntryOffset(img, *clean, listed["docs/Résumé naïve.txt"].record);
  PutLe32(&img[big + 28], 0xFFFFFF00u);
  size_t far = ShortEntryOffset(img, *clean, listed["docs/No Archive.bin"].record);
  PutLe16(&img[far + 26], uint16_t(g.MaxCluster() + 5));
  // The live folder "docs/many" chained into a loop: its last cluster links
  // back to its first.
  uint32_t many = listed["docs/many/entry number 44 with a long name.txt"].record.location;
  (void)many;
  uint32_t first = 0;
  for (auto& [path, item] : listed)
    if (path == "docs/many") first = item.record.itemId;
  ASSERT_NE(first, 0u);
  size_t fat = size_t(g.FatOffset());
  uint32_t c = first, last = first;
  for (int i = 0; i < 100; ++i) {
    uint16_t v = Le16(&img[fat + 2 * c]);
    if (v >= 0xFFF8) {
      last = c;
      break;
    }
    c = v;
  }
  ASSERT_NE(last, first);
  PutLe16(&img[fat + 2 * last], uint16_t(first));
  // A subfolder entry that names its own parent's cluster (a folder loop).
  size_t aEntry = 0;
  for (size_t off = size_t(g.RootAreaOffset()); off < size_t(g.DataOffset()); off += 32)
    if (std::memcmp(&img[off], "A          ", 11) == 0) aEntry = off;
  ASSERT_NE(aEntry, 0u);
  uint16_t aCluster = Le16(&img[aEntry + 26]);
  size_t aData = size_t(g.DataOffset()) + (aCluster - 2) * g.ClusterBytes();
  for (size_t off = aData + 64; off < aData + g.ClusterBytes(); off += 32)
    if (std::memcmp(&img[off], "B          ", 11) == 0) PutLe16(&img[off + 26], aCluster);
  WriteBytes(tmp / "bad.img", img);

  auto e = ScanCopy(tmp / "bad.img");
  auto found = ListAll(*e);
  EXPECT_EQ(found.count("docs/Résumé naïve.txt"), 0u);
  EXPECT_EQ(found.count("docs/No Archive.bin"), 0u);
  EXPECT_EQ(found.count("a/b/c/deep deleted.bin"), 0u);  // the folder loop is not walked
  EXPECT_TRUE(found.count("docs/deleted from live folder.txt"));
  // Every entry of the looping folder is reported once.
  int fromMany = 0;
  for (auto& [path, item] : found) fromMany += path.rfind("docs/many/", 0) == 0;
  EXPECT_EQ(fromMany, 7);
  TempDir out;
  EXPECT_EQ(e->RecoverItem(found["Trash Bin"].record, out / "t", LevelBase(out / "t", 1)), 0);
  size_t copied = 0;
  for (auto& p : fs::recursive_directory_iterator(out.path())) copied += p.is_regular_file();
  EXPECT_EQ(copied, 24u);
}

TEST(FatDamaged, RandomDamageNeverCrashesOrHangs) {
  DUNMERE_REQUIRE_FAT_IMAGES();
  TempDir tmp;
  for (const char* name : {"fat12.img", "fat32.img"}) {
    auto original = ReadBytes(FatImageFolder() + "/" + name);
    std::mt19937 rng(7);
    for (int round = 0; round < 6; ++round) {
      auto img = original;
      // Metadata lies in the first 300 KiB of these images.
      size_t span = std::min<size_t>(img.size(), 300 * 1024);
      for (int i = 0; i < 3000; ++i) img[512 + rng() % (span - 512)] = uint8_t(rng());
      std::string path = tmp / ("r" + std::to_string(round) + name);
      WriteBytes(path, img);
      auto e = std::make_unique<QuickFatEngine>();
      if (e->OpenImage(path, 'Z') != 0) continue;
      UsePrivateDataFolder();
      ScanLogFolder::Instance().BeginNewScanFolder();
      ASSERT_EQ(e->Scan(nullptr), 0);
      auto listed = ListAll(*e);
      for (auto& [p, item] : listed)
        if (item.level == 0) (void)e->RecoverItem(item.record, tmp / ("o" + std::to_string(round)), 0);
      EXPECT_TRUE(AllInside(tmp.path()));
      EXPECT_EQ(e->LoadAllocationBitmap(), 0);
    }
  }
}

TEST(FatDamaged, BadBootSectorIsRefused) {
  DUNMERE_REQUIRE_FAT_IMAGES();
  TempDir tmp;
  auto img = ReadBytes(FatImageFolder() + "/fat16.img");
  img[13] = 3;  // sectors per cluster not a power of two
  WriteBytes(tmp / "b.img", img);
  QuickFatEngine e;
  EXPECT_NE(e.OpenImage(tmp / "b.img", 'Z'), 0);
  EXPECT_NE(e.Scan(nullptr), 0);
  img.resize(1024);
  WriteBytes(tmp / "short.img", img);
  QuickFatEngine s;
  EXPECT_NE(s.OpenImage(tmp / "short.img", 'Z'), 0);
}

class FatFreeSpace : public ::testing::TestWithParam<const char*> {};

TEST_P(FatFreeSpace, ExtentsCoverExactlyTheFreeClusters) {
  DUNMERE_REQUIRE_FAT_IMAGES();
  DUNMERE_REQUIRE_TOOL("fsck.fat");
  std::string image = FatImageFolder() + "/" + GetParam();
  auto e = Open(image);
  uint64_t pos = 0, len = 0;
  EXPECT_NE(e->NextFreeExtent(pos, len), 1);  // the map is not loaded yet
  ASSERT_EQ(e->LoadAllocationBitmap(), 0);
  const auto& g = e->Geometry();
  // fsck.fat (dosfstools) counts the clusters in use.
  std::string out;
  ASSERT_EQ(RunCommand("fsck.fat -n '" + image + "'", &out), 0) << out;
  auto slash = out.rfind('/');
  auto start = out.rfind(' ', slash);
  uint64_t usedByFsck = std::stoull(out.substr(start + 1, slash - start - 1));
  uint64_t clustersByFsck = std::stoull(out.substr(slash + 1));
  EXPECT_EQ(clustersByFsck, g.clusterCount);

  auto img = ReadBytes(image);
  ByteView fat(&img[size_t(g.FatOffset())], size_t(g.FatBytes()));
  uint64_t freeSectors = 0, extents = 0;
  uint64_t unit = g.deviceSectorSize, cb = g.ClusterBytes();
  pos = 0;
  for (;;) {
    ASSERT_EQ(e->NextFreeExtent(pos, len), 1);
    if (len == 0) break;
    ++extents;
    freeSectors += len;
    for (uint64_t s = pos; s < pos + len; s += cb / unit) {
      uint64_t byte = s * unit - uint64_t(g.dataStart) * g.bytesPerSector;
      uint32_t c = uint32_t(2 + byte / cb), v = 1;
      ASSERT_TRUE(DecodeFatEntry(g.type, fat, 0, c, v));
      ASSERT_EQ(v, 0u) << "cluster " << c << " is in use";
    }
    pos += len;
    ASSERT_LT(extents, 100000u);
  }
  EXPECT_EQ(freeSectors * unit / cb, g.clusterCount - usedByFsck);
  pos = g.totalSectors + 5;
  EXPECT_EQ(e->NextFreeExtent(pos, len), 1);
  EXPECT_EQ(pos, g.totalSectors);
  EXPECT_EQ(len, 0u);
}

INSTANTIATE_TEST_SUITE_P(Images, FatFreeSpace, ::testing::Values("fat12.img", "fat16.img", "fat32.img", "fat16_4k.img"),
                         [](const auto& info) {
                           std::string n = info.param;
                           return n.substr(0, n.find('.'));
                         });

namespace {
int StopAtThird(void* user, int, int, Status error, const std::string&) {
  int* n = static_cast<int*>(user);
  return (++*n >= 3 && error == 0) ? kStopRequested : 0;
}
int CountCalls(void* user, int percent, int, int64_t, uint64_t, uint64_t, uint64_t, uint64_t) {
  static_cast<std::vector<int>*>(user)->push_back(percent);
  return 0;
}
int Refuse(void*, int, int, int64_t, uint64_t, uint64_t, uint64_t, uint64_t) { return kStopRequested; }
}  // namespace

TEST(FatEngine, PreviewStopSearchReloadAndProgress) {
  DUNMERE_REQUIRE_FAT_IMAGES();
  std::string image = FatImageFolder() + "/fat32.img";
  auto manifest = ReadManifest(image);
  auto hashOf = [&](const std::string& name) {
    for (auto& m : manifest)
      if (m.name == name) return m.sha256;
    return std::string();
  };
  auto e = Open(image);
  std::vector<int> percents;
  (void)e->SetCallbacks(CountCalls, nullptr, &percents, 100);
  ASSERT_EQ(e->Scan(nullptr), 0);
  ASSERT_GE(percents.size(), 3u);
  EXPECT_EQ(percents.front(), 1);
  EXPECT_EQ(percents.back(), 100);
  auto listed = ListAll(*e);

  // Preview of a picture goes to tmp.jpg; of an unknown type into the buffer.
  std::string path;
  uint64_t n = 0;
  ASSERT_EQ(e->ReadForPreview(&listed["!ootdel.jpg"].record, path, nullptr, n, nullptr, nullptr), 0);
  EXPECT_EQ(fs::path(path).filename(), "tmp.jpg");
  EXPECT_EQ(Sha256OfFile(path), hashOf("ROOTDEL.JPG"));
  std::vector<uint8_t> buf(100);
  n = buf.size();
  const FoundItemRecord& inner = listed["Trash Bin/Sub Folder/Inner file.bin"].record;
  ASSERT_EQ(e->ReadForPreview(&inner, path, buf.data(), n, nullptr, nullptr), 0);
  EXPECT_EQ(n, 100u);
  EXPECT_TRUE(path.empty());
  EXPECT_EQ(e->ReadForPreview(nullptr, path, buf.data(), n, nullptr, nullptr), kInvalidArg);

  // A stop during the third file of a folder copy.
  TempDir out;
  int calls = 0;
  (void)e->SetCallbacks(nullptr, StopAtThird, &calls, 100);
  EXPECT_EQ(e->RecoverItem(listed["Trash Bin"].record, out / "t", LevelBase(out / "t", 1)), kStopRequested);
  size_t copied = 0;
  for (auto& p : fs::recursive_directory_iterator(out.path())) copied += p.is_regular_file();
  EXPECT_EQ(copied, 2u);
  (void)e->SetCallbacks(nullptr, nullptr, nullptr, 100);

  std::vector<FoundItemRecord> found;
  EXPECT_EQ(e->SearchByType("*.bin", found), 1);
  size_t bins = 0;
  for (auto& [p, item] : listed) bins += !item.record.isFolder && ExtensionOf(p) == "bin";
  EXPECT_EQ(found.size(), bins);

  // Reload of the written log by a fresh engine.
  std::string folder = ScanLogFolder::Instance().CurrentScanFolder();
  std::string log;
  ASSERT_EQ(ScanLogFolder::Instance().FindLogFile("Fast_", log, folder), 0);
  int64_t count = e->GetFoundCount();
  e.reset();
  QuickFatEngine again;
  ASSERT_EQ(again.OpenImage(image, 'Z'), 0);
  ASSERT_EQ(again.Scan(&log), 0);
  EXPECT_EQ(again.GetFoundCount(), count);
  auto relisted = ListAll(again);
  EXPECT_EQ(relisted.size(), listed.size());
  ASSERT_EQ(again.RecoverItem(relisted["docs/Zq"].record, out / "zq", 0), 0);
  EXPECT_EQ(Sha256OfFile(out / "zq"), hashOf("Zq"));

  // A second scan in the same folder and minute replaces the log.
  (void)again.SetCallbacks(nullptr, nullptr, nullptr, 100);
  ASSERT_EQ(again.Scan(nullptr), 0);
  EXPECT_EQ(again.GetFoundCount(), count);
  EXPECT_EQ(ListAll(again).size(), listed.size());

  // A progress callback that answers "stop" ends the scan with its answer.
  auto s = Open(image);
  (void)s->SetCallbacks(Refuse, nullptr, nullptr, 100);
  EXPECT_EQ(s->Scan(nullptr), kStopRequested);

  // Stopped once the folders are walked: no question after, and the files
  // found keep their folders, so every one of them is listed.
  struct StopAt80 {
    int calls = 0, after = 0;
  } at80;
  (void)s->SetCallbacks(
      [](void* u, int percent, int, int64_t, uint64_t, uint64_t, uint64_t, uint64_t) -> int {
        auto* a = static_cast<StopAt80*>(u);
        if (a->calls) ++a->after;
        if (percent == 80) ++a->calls;
        return a->calls ? kStopRequested : 0;
      },
      nullptr, &at80, 100);
  ScanLogFolder::Instance().BeginNewScanFolder();
  EXPECT_EQ(s->Scan(nullptr), kStopRequested);
  EXPECT_EQ(at80.calls, 1);
  EXPECT_EQ(at80.after, 0);
  auto stopped = ListAll(*s);
  EXPECT_EQ(stopped.size(), listed.size());
  EXPECT_TRUE(stopped.count("Trash Bin/Sub Folder/Inner file.bin"));
}

// Files slow to check (a slow disk, here a content check that takes its
// time): the stop question is asked between entries, so the walk ends at the
// next entry instead of at the end of the folder, and what was found stays
// listed.
TEST(FatEngine, AStopIsSeenBetweenTheEntriesOfAFolder) {
  DUNMERE_REQUIRE_FAT_IMAGES();
  const std::string image = FatImageFolder() + "/fat32.img";
  int fullChecks = 0;
  {
    auto e = Open(image);
    e->SetContentCheck([&](const ContentSample&) { return ++fullChecks > 0; });
    ASSERT_EQ(e->Scan(nullptr), 0);
  }
  ASSERT_GE(fullChecks, 3);
  struct Seen {
    int checks = 0, asked = 0, askedAfterSlow = 0, checksWhenStopped = 0, slow = 0;
  } seen;
  auto e = Open(image);
  // The first ".txt" checked lies in "docs", with more deleted files to
  // check after it in the same folder.
  e->SetContentCheck([&](const ContentSample& sample) {
    ++seen.checks;
    // Longer than the stop question's interval: the next question is due.
    if (sample.extension == "txt" && !seen.slow) {
      seen.slow = seen.checks;
      usleep(150 * 1000);
    }
    return true;
  });
  (void)e->SetCallbacks(
      [](void* u, int, int, int64_t, uint64_t, uint64_t, uint64_t, uint64_t) -> int {
        auto* s = static_cast<Seen*>(u);
        ++s->asked;
        if (s->slow == 0) return 0;
        ++s->askedAfterSlow;
        s->checksWhenStopped = s->checks;
        return kStopRequested;
      },
      nullptr, &seen, 100);
  EXPECT_EQ(e->Scan(nullptr), kStopRequested);
  EXPECT_EQ(seen.askedAfterSlow, 1);
  EXPECT_EQ(seen.checks, seen.checksWhenStopped) << "no file checked after the stop";
  EXPECT_LE(seen.checks, seen.slow + 1) << "the slow file's own checks, nothing more";
  size_t files = 0;
  for (const auto& [path, item] : ListAll(*e)) files += item.record.isFolder ? 0 : 1;
  EXPECT_GE(files, 1u);
}

TEST(FatEngine, ContentCheckHookAndRecordFields) {
  DUNMERE_REQUIRE_FAT_IMAGES();
  auto e = Open(FatImageFolder() + "/fat16.img");
  int asked = 0;
  e->SetContentCheck([&](const ContentSample& s) {
    ++asked;
    EXPECT_EQ(s.firstBytes.size(), 512u);
    return s.extension != "jpg";  // random bytes are no JPEG
  });
  ASSERT_EQ(e->Scan(nullptr), 0);
  EXPECT_GT(asked, 5);
  auto listed = ListAll(*e);
  // A picture that fails the check is hidden from listings.
  EXPECT_EQ(listed.count("!ootdel.jpg"), 0u);
  const FoundItemRecord& r = listed["docs/deleted from live folder.txt"].record;
  EXPECT_EQ(+r.contentOk, 1u);
  EXPECT_EQ(+r.clusterBytes, 2048u);
  EXPECT_EQ(+r.dataAreaStart, e->Geometry().dataStart);
  EXPECT_EQ(r.sourceTag, uint16_t('Z'));
  EXPECT_NE(+r.modified, 0u);
  EXPECT_NE(+r.created, 0u);
  const FoundItemRecord& folder = listed["docs"].record;
  EXPECT_EQ(+folder.isFolder, 1u);
  EXPECT_EQ(+folder.deletedFlag, 0u);
  EXPECT_EQ(+folder.contentOk, 1u);
  EXPECT_EQ(+folder.size, 0u);
}

TEST(FatDamaged, DeletedFat32FolderWithoutItsHighWordIsFound) {
  DUNMERE_REQUIRE_FAT_IMAGES();
  TempDir tmp;
  std::string original = FatImageFolder() + "/fat32.img";
  auto clean = ScanCopy(original);
  auto listed = ListAll(*clean);
  const auto& g = clean->Geometry();
  auto img = ReadBytes(original);
  const FoundItemRecord& trash = listed["Trash Bin"].record;
  const FoundItemRecord& sub = listed["Trash Bin/Sub Folder"].record;
  const uint32_t low = trash.itemId;
  const uint32_t moved = 0x10000 | low;
  ASSERT_LT(low, 0x10000u);
  ASSERT_LE(moved, g.MaxCluster());
  auto at = [&](uint32_t c) { return size_t(ClusterToOffset(g, c)); };
  // The folder's first cluster now lies above 65,535, and its deleted entry
  // lost the high word of its cluster (as some systems clear it on deletion).
  std::copy_n(&img[at(low)], g.ClusterBytes(), &img[at(moved)]);
  std::fill_n(&img[at(low)], g.ClusterBytes(), 0);
  PutLe16(&img[at(moved) + 20], 1);  // "." names its own cluster
  PutLe16(&img[at(sub.itemId) + 32 + 20], 1);  // the subfolder's ".." its parent
  for (size_t off = at(g.rootCluster); off < at(g.rootCluster) + g.ClusterBytes(); off += 32)
    if (img[off] == 0xE5 && img[off + 11] == 0x10 && Le16(&img[off + 26]) == low) {
      ASSERT_EQ(Le16(&img[off + 20]), 0);
    }
  WriteBytes(tmp / "hw.img", img);
  auto e = ScanCopy(tmp / "hw.img");
  auto found = ListAll(*e);
  ASSERT_TRUE(found.count("Trash Bin/Sub Folder"));
  EXPECT_EQ(+found["Trash Bin"].record.itemId, moved);
  const FoundItemRecord& omega = found["Trash Bin/Sub Folder/Ωmega.bin"].record;
  ASSERT_EQ(e->RecoverItem(omega, tmp / "omega", 0), 0);
  for (auto& m : ReadManifest(original))
    if (m.name == "Ωmega.bin") {
      EXPECT_EQ(Sha256OfFile(tmp / "omega"), m.sha256);
    }
}
