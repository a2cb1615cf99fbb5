// The deep FAT scan, driven the way the deep-scan pass drives it: every sector
// of an image, read in 64 KiB chunks, goes to OnDotPairSector when it opens
// with "." and "..", else to OnDirectorySector when it holds directory entries.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include <map>
#include <set>

#include "scan/deep_scan_engine.h"
#include "engine/scan_log_folder.h"
#include "engine/store_engine.h"
#include "base/text.h"
#include "fat/dir_entry_tests.h"
#include "fat/deep/volume_guess.h"
#include "fat/deep/deep_fat_engine.h"
#include "storage/disk_table.h"
#include "scan/engine_factory.h"
#include "tests/fat/dir_entry_builder.h"
#include "tests/fat/fat_images.h"
#include "tests/support/engine_walk.h"
#include "tests/support/open_medium.h"
#include "tests/support/test_support.h"

using namespace dunmere;
using namespace dunmere::test;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t kSector = 512;

// The reformatted images, made once per build tree.
const std::string& DeepFatImageFolder(std::string* why = nullptr) {
  static const CachedFixture fixture = MakeCachedFixture("make_deepfat_images.sh", "deepfat-images");
  if (why) *why = fixture.message;
  if (!fixture.dir.empty() || fixture.missingTool) return fixture.dir;
  ADD_FAILURE() << fixture.message;  // a script that breaks is a failure, not a skip
  return fixture.dir;
}

// Hands every sector of the image to the engine as the deep-scan pass will.
void DriveImage(DeepFatEngine& e, const std::string& image) {
  std::ifstream in(image, std::ios::binary);
  std::vector<uint8_t> chunk(65536);
  uint64_t sector = 0;
  while (in) {
    in.read(reinterpret_cast<char*>(chunk.data()), std::streamsize(chunk.size()));
    size_t got = size_t(in.gcount());
    for (size_t off = 0; off + kSector <= got; off += kSector, ++sector) {
      ByteView v(chunk.data() + off, kSector);
      if (IsDotPair(v))
        e.OnDotPairSector(v, sector);
      else if (IsDirectoryCluster(v))
        e.OnDirectorySector(v, sector);
    }
  }
}

std::unique_ptr<DeepFatEngine> NewEngine(const std::string& image) {
  UsePrivateDataFolder();
  ScanLogFolder::Instance().BeginNewScanFolder();
  auto e = std::make_unique<DeepFatEngine>();
  EXPECT_EQ(test::OpenImageIn(*e, image, 'D'), 0);
  return e;
}

std::unique_ptr<DeepFatEngine> DeepScan(const std::string& image) {
  auto e = NewEngine(image);
  EXPECT_EQ(e->BeginFatLog(""), 0);
  EXPECT_EQ(e->SeedFromBootSector(), 0);
  DriveImage(*e, image);
  EXPECT_EQ(e->FinishFatScan(), 0);
  return e;
}

std::string Sha256OfRecord(DeepFatEngine& e, const FoundItemRecord& r, const std::string& tmpFile) {
  if (e.RecoverItem(r, tmpFile, 0) != 0) return "copy failed";
  return Sha256OfFile(tmpFile);
}

// A sector opening with "." (cluster `self`) and ".." (cluster `parent`),
// followed by `entries`.
std::vector<uint8_t> DotPairSector(uint32_t self, uint32_t parent, const std::vector<uint8_t>& entries = {}) {
  std::vector<uint8_t> s;
  Append(s, MakeEntry({".          ", 0x10, self, 0}));
  Append(s, MakeEntry({"..         ", 0x10, parent, 0}));
  Append(s, entries);
  s.resize(kSector, 0);
  return s;
}

std::vector<uint8_t> Padded(std::vector<uint8_t> s) {
  s.resize(kSector, 0);
  return s;
}

uint8_t Checksum(const std::string& name11) {
  return LfnChecksum(ByteView(reinterpret_cast<const uint8_t*>(name11.data()), 11));
}

// A sparse image of zeros with content placed at sectors, for hand-made volumes.
std::string MakeImage(const TempDir& tmp, uint64_t sectors, const std::map<uint64_t, std::vector<uint8_t>>& at = {}) {
  std::string path = tmp / "hand.img";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const auto& [s, bytes] : at) {
      out.seekp(std::streamoff(s * kSector));
      out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
  }
  fs::resize_file(path, sectors * kSector);
  return path;
}

void LearnVolumeOf10And14(DeepFatEngine& e) {
  auto x = DotPairSector(14, 0);
  auto y = DotPairSector(18, 0);
  // 14 at 2168 and 18 at 2200: the same volume as 10 at 2136.
  e.OnDotPairSector(ByteView(x.data(), x.size()), 2168);
  e.OnDotPairSector(ByteView(y.data(), y.size()), 2200);
}

bool AllInside(const std::string& root) {
  const std::string canon = fs::weakly_canonical(root).string();
  for (auto& p : fs::recursive_directory_iterator(root))
    if (fs::weakly_canonical(p.path()).string().rfind(canon, 0) != 0) return false;
  return true;
}

}  // namespace

// --- A real volume, filled and then formatted again --------------------------------

TEST(DeepFatReformatted, OldFilesComeBackWithLongNamesFoldersAndContent) {
  std::string why;
  if (DeepFatImageFolder(&why).empty()) GTEST_SKIP() << why;
  TempDir tmp;
  const std::string image = DeepFatImageFolder() + "/reformatted32.img";
  auto e = DeepScan(image);
  ASSERT_FALSE(e->Guesses().empty());
  EXPECT_TRUE(e->FirstGuessFromBootSector());
  EXPECT_EQ(e->Guesses()[0].sectorsPerCluster, 1u);
  EXPECT_EQ(e->RootCluster(), 2u);

  auto listed = ListAll(*e);
  // Short names are shown in lower case.
  auto findSuffix = [&](std::string suffix) -> const Listed* {
    suffix = AsciiLower(suffix);
    for (const auto& [p, item] : listed)
      if (std::string path = AsciiLower(p);
          path.size() >= suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0 &&
          (path.size() == suffix.size() || path[path.size() - suffix.size() - 1] == '/'))
        return &item;
    return nullptr;
  };
  size_t checked = 0;
  for (const ManifestEntry& m : ReadManifest(image)) {
    SCOPED_TRACE(m.folder + m.name);
    if (m.state == "root") {
      // Its entry was in the old root, which the format cleared.
      EXPECT_EQ(findSuffix(m.name), nullptr);
      continue;
    }
    // Top-level folders lost their entries with the old root: they come back
    // as LostFolder<cluster>, everything below them with its own name.
    std::string below = m.folder.substr(m.folder.find('/') + 1);
    const Listed* item = m.folder.rfind("Letters/", 0) == 0 ? findSuffix(m.name) : findSuffix(below + m.name);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(uint32_t(item->record.sourceKind), uint32_t(kSourceDeepFat));
    EXPECT_EQ(uint16_t(item->record.sourceTag), uint16_t('D'));
    EXPECT_EQ(uint32_t(item->record.clusterBytes), 512u);
    EXPECT_EQ(Sha256OfRecord(*e, item->record, tmp / "copy"), m.sha256);
    ++checked;
  }
  EXPECT_EQ(checked, 33u);
  // The folder of several clusters keeps all its files: a long name that
  // runs on into the folder's next cluster leads there.
  const Listed* first = findSuffix("letter number 10 to the bank.txt");
  const Listed* last = findSuffix("Ωmega résumé.txt");
  ASSERT_TRUE(first && last);
  std::string p1, p2;
  (void)e->GetFolderPath(&first->record, p1);
  (void)e->GetFolderPath(&last->record, p2);
  EXPECT_EQ(p1, p2);
  // The top folders, named after their first cluster, at the top level.
  size_t lost = 0;
  for (const auto& [path, item] : listed)
    if (item.level == 0 && item.record.isFolder) {
      EXPECT_EQ(path, "LostFolder" + std::to_string(item.record.itemId));
      ++lost;
    }
  EXPECT_GE(lost, 3u);
  // The folder path of a nested file names its real folders.
  const Listed* deep = findSuffix("a file name long enough to need three long name parts.dat");
  ASSERT_NE(deep, nullptr);
  std::string path;
  EXPECT_EQ(e->GetFolderPath(&deep->record, path), 0);
  EXPECT_NE(path.find("/src/deeply nested folder/"), std::string::npos) << path;
  EXPECT_EQ(path.rfind("LostFolder", 0), 0u) << path;

  // Copy-out of a lost folder writes its tree; preview reads like copy-out.
  const Listed* summer = findSuffix("Holiday Photos/2023 Summer at the Lake");
  (void)summer;
  const Listed* photo = findSuffix("2023 Summer at the Lake/kayak.png");
  ASSERT_NE(photo, nullptr);
  std::vector<uint8_t> buf(100);
  uint64_t n = buf.size();
  std::string previewPath;
  EXPECT_EQ(e->ReadForPreview(&photo->record, previewPath, buf.data(), n, nullptr, nullptr), 0);
  EXPECT_EQ(Sha256OfFile(previewPath), Sha256OfRecord(*e, photo->record, tmp / "kayak"));

  // The log is "Pro_Fat_<start>_..." in the scan folder, and nothing of the
  // scan's scratch files is left there.
  EXPECT_EQ(e->LogName().rfind("Pro_Fat_0_", 0), 0u);
  for (auto& f : fs::directory_iterator(ScanLogFolder::Instance().CurrentScanFolder()))
    EXPECT_NE(f.path().filename().string()[0], '.') << f.path();
}

TEST(DeepFatReformatted, FolderCopyOutKeepsNamesInsideTheDestination) {
  std::string why;
  if (DeepFatImageFolder(&why).empty()) GTEST_SKIP() << why;
  TempDir tmp;
  const std::string image = DeepFatImageFolder() + "/reformatted32.img";
  auto e = DeepScan(image);
  std::vector<FoundItemRecord> top;
  ASSERT_EQ(e->ListChildren(nullptr, 0, top), 0);
  const std::string dest = tmp / "out";
  for (const FoundItemRecord& r : top) {
    if (!r.isFolder) continue;
    std::string d = dest + "/" + SafePathComponent(RecordName(r));
    EXPECT_EQ(e->RecoverItem(r, d, CountSeparators(d) - 1), 0);
  }
  size_t files = 0;
  for (auto& p : fs::recursive_directory_iterator(dest)) files += p.is_regular_file();
  EXPECT_EQ(files, 33u);
  EXPECT_TRUE(AllInside(dest));
}

TEST(DeepFatReformatted, AnotherClusterSizeIsLearnedFromTheOldFolders) {
  std::string why;
  if (DeepFatImageFolder(&why).empty()) GTEST_SKIP() << why;
  TempDir tmp;
  const std::string image = DeepFatImageFolder() + "/recluster32.img";
  auto e = DeepScan(image);
  // The new boot sector's volume (8 sectors per cluster) first, then the old
  // one (1 sector per cluster) from pairs of its folders.
  ASSERT_GE(e->Guesses().size(), 2u);
  EXPECT_TRUE(e->FirstGuessFromBootSector());
  EXPECT_EQ(e->Guesses()[0].sectorsPerCluster, 8u);
  EXPECT_EQ(e->Guesses()[1].sectorsPerCluster, 1u);
  auto listed = ListAll(*e);
  std::map<std::string, const Listed*> byPath;
  for (const auto& [path, item] : listed) byPath[AsciiLower(path)] = &item;
  size_t checked = 0;
  for (const ManifestEntry& m : ReadManifest(image)) {
    if (m.state == "root") continue;
    SCOPED_TRACE(m.folder + m.name);
    // The old root's cluster lies outside the new volume's root: the top
    // folders keep their names this time.
    auto it = byPath.find(AsciiLower(m.folder + m.name));
    ASSERT_NE(it, byPath.end());
    EXPECT_EQ(uint32_t(it->second->record.clusterBytes), 512u);
    EXPECT_EQ(Sha256OfRecord(*e, it->second->record, tmp / "copy"), m.sha256);
    ++checked;
  }
  EXPECT_EQ(checked, 33u);
}

TEST(DeepFatReformatted, FoldersWhoseLaterClustersLieApartKeepAllTheirFiles) {
  std::string why;
  if (DeepFatImageFolder(&why).empty()) GTEST_SKIP() << why;
  TempDir tmp;
  const std::string image = DeepFatImageFolder() + "/bigdirs32.img";
  auto e = DeepScan(image);
  EXPECT_GT(e->GetStats().joinedClusters, 0u);
  auto listed = ListAll(*e);
  std::map<std::string, const Listed*> byPath;
  for (const auto& [path, item] : listed) byPath[AsciiLower(path)] = &item;
  // One top folder (its name was in the old root): every file sits below it
  // at its own folder path, the 8.3 names (no long name leads from one
  // cluster to the next) as well as the long ones.
  size_t top = 0;
  std::string lost;
  for (const auto& [path, item] : listed)
    if (item.level == 0) {
      ++top;
      lost = path;
    }
  EXPECT_EQ(top, 1u);
  size_t checked = 0;
  for (const ManifestEntry& m : ReadManifest(image)) {
    SCOPED_TRACE(m.folder + m.name);
    const std::string below = m.folder.substr(m.folder.find('/') + 1);
    auto it = byPath.find(AsciiLower(lost + "/" + below + m.name));
    ASSERT_NE(it, byPath.end());
    EXPECT_EQ(Sha256OfRecord(*e, it->second->record, tmp / "copy"), m.sha256);
    ++checked;
  }
  EXPECT_EQ(checked, 170u);
}

TEST(DeepFatLiveVolume, AFat16VolumeGivesLiveAndDeletedFilesInItsFolders) {
  DUNMERE_REQUIRE_FAT_IMAGES();
  TempDir tmp;
  const std::string image = FatImageFolder() + "/fat16.img";
  auto e = DeepScan(image);
  ASSERT_FALSE(e->Guesses().empty());
  EXPECT_TRUE(e->FirstGuessFromBootSector());
  EXPECT_EQ(e->RootCluster(), 0u);  // the fixed root area
  auto listed = ListAll(*e);
  std::map<std::string, const Listed*> byName;
  for (const auto& [path, item] : listed) byName[AsciiLower(RecordName(item.record))] = &item;
  // Sectors whose short names hold OEM characters do not pass as directory
  // sectors and are never handed over: not every file comes back, but every
  // one that does is whole.
  size_t found = 0;
  for (const ManifestEntry& m : ReadManifest(image)) {
    // Overwritten data is gone; a fragmented file is not contiguous.
    if (m.state == "overwritten" || m.name == "big fragmented.bin" || m.folder.empty()) continue;
    SCOPED_TRACE(m.folder + m.name);
    auto it = byName.find(AsciiLower(m.name));
    if (it == byName.end()) continue;
    EXPECT_EQ(Sha256OfRecord(*e, it->second->record, tmp / "copy"), m.sha256);
    ++found;
  }
  EXPECT_GE(found, 60u);
  // Live folders are found with their names, at their depth; the files of a
  // deleted folder too.
  EXPECT_TRUE(listed.count("LostFolder37/b/c/deep deleted.bin")) << listed.size();
  EXPECT_TRUE(byName.count("sub folder"));
  EXPECT_TRUE(byName.count("inner file.bin"));
}

TEST(DeepFatLiveVolume, TheFixedRootAreaOfAFat16VolumeIsTheRoot) {
  std::string why;
  if (DeepFatImageFolder(&why).empty()) GTEST_SKIP() << why;
  TempDir tmp;
  const std::string image = DeepFatImageFolder() + "/root16.img";
  auto e = DeepScan(image);
  auto listed = ListAll(*e);
  size_t checked = 0;
  for (const ManifestEntry& m : ReadManifest(image)) {
    SCOPED_TRACE(m.folder + m.name);
    std::string path = m.folder + m.name;
    ASSERT_TRUE(listed.count(path)) << listed.size();
    EXPECT_EQ(listed[path].level, uint32_t(CountSeparators(m.folder + "x")));
    EXPECT_EQ(Sha256OfRecord(*e, listed[path].record, tmp / "copy"), m.sha256);
    ++checked;
  }
  EXPECT_EQ(checked, 4u);
}

TEST(DeepFatLiveVolume, APartitionOfADiskIsScannedInAbsoluteSectors) {
  DUNMERE_REQUIRE_FAT_IMAGES();
  TempDir tmp;
  const std::string image = FatImageFolder() + "/disk.img";
  DiskTable::SetOverride({image});
  UsePrivateDataFolder();
  ScanLogFolder::Instance().BeginNewScanFolder();
  DeepFatEngine e;
  ASSERT_EQ(test::OpenDiskIn(e, 0, 2048, 12288, 'P'), 0);
  ASSERT_EQ(e.BeginFatLog(""), 0);
  EXPECT_EQ(e.LogName().rfind("Pro_Fat_2048_", 0), 0u);
  ASSERT_EQ(e.SeedFromBootSector(), 0);
  ASSERT_EQ(e.Guesses().size(), 1u);
  EXPECT_EQ(e.Guesses()[0].partitionStart, 2048u);
  DriveImage(e, image);
  ASSERT_EQ(e.FinishFatScan(), 0);
  DiskTable::SetOverride({});
  auto listed = ListAll(e);
  std::map<std::string, const Listed*> byName;
  for (const auto& [path, item] : listed) byName[RecordName(item.record)] = &item;
  size_t found = 0;
  for (const ManifestEntry& m : ReadManifest(image)) {
    if (m.state == "overwritten" || m.name == "big fragmented.bin" || m.folder.empty()) continue;
    auto it = byName.find(m.name);
    if (it == byName.end()) continue;
    SCOPED_TRACE(m.folder + m.name);
    EXPECT_EQ(uint64_t(it->second->record.partitionStart), 2048u);
    EXPECT_EQ(Sha256OfRecord(e, it->second->record, tmp / "copy"), m.sha256);
    ++found;
  }
  EXPECT_GE(found, 50u);
}

TEST(DeepFatGuess, AContentCheckHidesAPictureThatIsNoPicture) {
  auto e = NewEngine(MakeImage(TempDir(), 1 << 16));
  e->SetContentCheck([](const ContentSample& s) { return s.extension != "jpg" || s.firstBytes.U8(0) == 0xFF; });
  ASSERT_EQ(e->BeginFatLog(""), 0);
  LearnVolumeOf10And14(*e);
  std::vector<uint8_t> entries;
  Append(entries, MakeEntry({"PHOTO   JPG", 0x20, 40, 3000}));  // zeros where a JPEG should start
  Append(entries, MakeEntry({"EMPTY   TXT", 0x20, 0, 0}));
  auto s = DotPairSector(10, 0, entries);
  e->OnDotPairSector(ByteView(s.data(), s.size()), 2136);
  ASSERT_EQ(e->FinishFatScan(), 0);
  std::vector<FoundItemRecord> top, kids;
  ASSERT_EQ(e->ListChildren(nullptr, 0, top), 0);
  ASSERT_EQ(top.size(), 1u);
  ASSERT_EQ(e->ListChildren(&top[0], 1, kids), 0);
  ASSERT_EQ(kids.size(), 1u);  // the picture is hidden, the empty file is not
  EXPECT_EQ(RecordName(kids[0]), "empty.txt");
  uint32_t files = 0;
  EXPECT_EQ(e->CountFiles(&top[0], 1, files), 0);
  EXPECT_EQ(files, 2u);
  TempDir tmp;
  EXPECT_EQ(e->RecoverItem(kids[0], tmp / "empty.txt", 0), 0);
  EXPECT_TRUE(fs::exists(tmp / "empty.txt"));
  EXPECT_EQ(fs::file_size(tmp / "empty.txt"), 0u);
}

// --- Volumes learned from folders ---------------------------------------------

// A stop asked for when the folders are built after the last sector: the
// answer comes back at once with no further question, and every file found
// is still listed (folders hang where their entries were found, files are
// not read for the content check).
TEST(DeepFatStop, AStopWhileFoldersAreBuiltEndsAtOnceAndKeepsEveryFile) {
  std::string why;
  if (DeepFatImageFolder(&why).empty()) GTEST_SKIP() << why;
  const std::string image = DeepFatImageFolder() + "/reformatted32.img";
  auto fileNames = [](FoundItems& e) {
    std::multiset<std::string> names;
    for (const auto& [path, item] : ListAll(e))
      if (!item.record.isFolder) names.insert(RecordName(item.record));
    return names;
  };
  auto full = DeepScan(image);
  const auto expected = fileNames(*full);
  ASSERT_GE(expected.size(), 30u);

  struct Asked {
    int calls = 0;
  } asked;
  auto stop = [](void* u, int, int, int64_t, uint64_t, uint64_t, uint64_t, uint64_t) -> int {
    ++static_cast<Asked*>(u)->calls;
    return kStopRequested;
  };
  auto e = NewEngine(image);
  ASSERT_EQ(e->BeginFatLog(""), 0);
  ASSERT_EQ(e->SeedFromBootSector(), 0);
  (void)e->SetCallbacks(stop, nullptr, &asked, 90);
  DriveImage(*e, image);
  EXPECT_EQ(asked.calls, 0) << "the sectors themselves are the pass's to report";
  EXPECT_EQ(e->FinishFatScan(), kStopRequested);
  EXPECT_EQ(asked.calls, 1);
  EXPECT_EQ(e->GetStats().unclaimed, 0u);
  EXPECT_EQ(fileNames(*e), expected);
  uint32_t counted = 0;
  EXPECT_EQ(e->CountFiles(nullptr, 0, counted), 0);
  EXPECT_EQ(counted, expected.size());
}

TEST(DeepFatGuess, TwoFoldersGiveClusterSizeAndDataStart) {
  auto g = GuessFromDirectoryPair(10, 2136, 14, 2168, 0);
  ASSERT_TRUE(g.has_value());
  EXPECT_EQ(g->sectorsPerCluster, 8u);
  EXPECT_EQ(g->dataStart, 2072u);
  // The order of the two does not matter; the start sector is subtracted.
  auto h = GuessFromDirectoryPair(14, 2168 + 100, 10, 2136 + 100, 100);
  ASSERT_TRUE(h.has_value());
  EXPECT_EQ(h->dataStart, 2072u);
  EXPECT_EQ(h->partitionStart, 100u);
  // Not a multiple, 3 sectors per cluster, same cluster, larger cluster at a
  // smaller sector, a data area before the area start, or over 128.
  EXPECT_FALSE(GuessFromDirectoryPair(10, 2136, 13, 2170, 0));
  EXPECT_FALSE(GuessFromDirectoryPair(10, 2136, 12, 2142, 0));
  EXPECT_FALSE(GuessFromDirectoryPair(10, 2136, 10, 2168, 0));
  EXPECT_FALSE(GuessFromDirectoryPair(14, 2136, 10, 2168, 0));
  EXPECT_FALSE(GuessFromDirectoryPair(10, 2136, 14, 2168, 2100));
  EXPECT_FALSE(GuessFromDirectoryPair(3, 1000, 4, 1256, 0));
  // Sector of a cluster, and the cluster of a sector.
  EXPECT_EQ(g->ClusterSector(2), 2072u);
  uint32_t c = 0;
  uint64_t first = 0;
  ASSERT_TRUE(g->ClusterOf(2139, c, first));
  EXPECT_EQ(c, 10u);
  EXPECT_EQ(first, 2136u);
  ASSERT_TRUE(g->ClusterOf(2072 - 5, c, first));  // the fixed root area
  EXPECT_EQ(c, 0u);
  EXPECT_FALSE(g->ClusterOf(100, c, first));
}

TEST(DeepFatGuess, FilesBeforeTheVolumeIsKnownAndLostFoldersArePlaced) {
  TempDir tmp;
  // Cluster 10 at 2136 and 14 at 2168: 8 sectors per cluster, data at 2072.
  // A deleted file of three clusters in folder 10, its data at cluster 20.
  std::vector<uint8_t> data(3 * 8 * kSector - 100);
  std::mt19937 rng(7);
  for (auto& b : data) b = uint8_t(rng());
  std::vector<uint8_t> del = MakeEntry({"\xE5OST    BIN", 0x20, 20, uint32_t(data.size())});
  std::vector<uint8_t> kept = MakeEntry({"KEPT    TXT", 0x20, 30, 100});
  std::vector<uint8_t> sub = MakeEntry({"SUB        ", 0x10, 14, 0});
  std::vector<uint8_t> first10 = del;
  Append(first10, kept);
  Append(first10, sub);
  const uint64_t dataAt = 2072 + (20 - 2) * 8;
  std::map<uint64_t, std::vector<uint8_t>> at{{2136, DotPairSector(10, 0, first10)},
                                              {2168, DotPairSector(14, 10, MakeEntry({"INNER   DAT", 0x20, 40, 10}))},
                                              {dataAt, data}};
  const std::string image = MakeImage(tmp, 4096, at);
  auto e = NewEngine(image);
  ASSERT_EQ(e->BeginFatLog(""), 0);
  EXPECT_EQ(e->SeedFromBootSector(), 0);  // no boot sector: no guess, no error
  EXPECT_TRUE(e->Guesses().empty());
  DriveImage(*e, image);
  ASSERT_EQ(e->Guesses().size(), 1u);
  EXPECT_EQ(e->Guesses()[0].sectorsPerCluster, 8u);
  EXPECT_EQ(e->Guesses()[0].dataStart, 2072u);
  EXPECT_FALSE(e->FirstGuessFromBootSector());
  // Both files of folder 10 waited for the volume and were written then.
  EXPECT_EQ(e->GetStats().pending, 2u);
  EXPECT_EQ(e->GetFoundCount(), 3);
  ASSERT_EQ(e->FinishFatScan(), 0);

  auto listed = ListAll(*e);
  // Folder 10's own entry is nowhere: it is named after its cluster.
  ASSERT_TRUE(listed.count("LostFolder10")) << listed.size();
  EXPECT_EQ(listed["LostFolder10"].level, 0u);
  EXPECT_TRUE(listed.count("LostFolder10/sub/inner.dat"));
  EXPECT_TRUE(listed.count("LostFolder10/kept.txt"));
  ASSERT_TRUE(listed.count("LostFolder10/!ost.bin"));
  const FoundItemRecord& r = listed["LostFolder10/!ost.bin"].record;
  EXPECT_EQ(uint32_t(r.clusterBytes), 8 * kSector);
  EXPECT_EQ(uint64_t(r.dataAreaStart), 2072u);
  EXPECT_EQ(uint64_t(r.location), 2136u);
  // A deleted file is read from consecutive clusters.
  EXPECT_EQ(e->RecoverItem(r, tmp / "lost.bin", 0), 0);
  EXPECT_EQ(ReadBytes(tmp / "lost.bin"), data);
  uint32_t files = 0;
  EXPECT_EQ(e->CountFiles(nullptr, 0, files), 0);
  EXPECT_EQ(files, 3u);
}

TEST(DeepFatGuess, AFileWhoseVolumeIsNeverLearnedGoesToTheNearestVolumeAtTheEnd) {
  auto e = NewEngine(MakeImage(TempDir(), 1 << 16));
  ASSERT_EQ(e->BeginFatLog(""), 0);
  // A folder at 5000 that no pair explains, then a volume learned from two
  // other folders below it.
  auto lone = DotPairSector(1234, 0, MakeEntry({"LONE    TXT", 0x20, 90, 10}));
  e->OnDotPairSector(ByteView(lone.data(), lone.size()), 5000);
  EXPECT_EQ(e->GetFoundCount(), 0);
  auto a = DotPairSector(10, 0), b = DotPairSector(14, 0);
  e->OnDotPairSector(ByteView(a.data(), a.size()), 2136);
  e->OnDotPairSector(ByteView(b.data(), b.size()), 2168);
  // 1234 at 5000 does not fit 8 sectors per cluster from 2072.
  EXPECT_EQ(e->GetFoundCount(), 0);
  ASSERT_EQ(e->FinishFatScan(), 0);
  auto listed = ListAll(*e);
  ASSERT_TRUE(listed.count("LostFolder1234/lone.txt"));
  EXPECT_EQ(uint64_t(listed["LostFolder1234/lone.txt"].record.dataAreaStart), 2072u);
  // Without any store the folder path is refused.
  DeepFatEngine bare;
  std::string out;
  EXPECT_EQ(bare.GetFolderPath(&listed["LostFolder1234/lone.txt"].record, out), 87);
}

// --- Long names over two sectors ------------------------------------------------------

namespace {
// Sector A: "." and ".." of folder 10, 12 short files, then the last two
// parts of a 4-part long name; sector B: its first part and its short entry.
struct SplitName {
  std::vector<uint8_t> a, b;
  std::string name = "a long name that is split over two sectors.txt";
};
SplitName MakeSplit() {
  SplitName s;
  const std::string short11 = "ALONGN~1TXT";
  uint8_t sum = Checksum(short11);
  std::u16string n(s.name.begin(), s.name.end());
  std::vector<uint8_t> entries;
  for (int i = 0; i < 12; ++i) {
    char nm[24];
    std::snprintf(nm, sizeof nm, "F%02d     TXT", i % 100);
    Append(entries, MakeEntry({nm, 0x20, uint32_t(100 + i), 10}));
  }
  Append(entries, MakeLfn(0x44, n.substr(39), sum));
  Append(entries, MakeLfn(0x03, n.substr(26, 13), sum));
  s.a = DotPairSector(10, 0, entries);
  std::vector<uint8_t> rest;
  Append(rest, MakeLfn(0x02, n.substr(13, 13), sum));
  Append(rest, MakeLfn(0x01, n.substr(0, 13), sum));
  // Its data goes on where the folder's last file's data ended.
  Append(rest, MakeEntry({short11, 0x20, 112, 1000}));
  s.b = Padded(rest);
  return s;
}

}  // namespace

TEST(DeepFatLongNames, ASplitNameIsJoinedWhenItsSecondSectorComesLater) {
  SplitName s = MakeSplit();
  ASSERT_TRUE(IsDotPair(ByteView(s.a.data(), s.a.size())));
  ASSERT_TRUE(IsDirectoryCluster(ByteView(s.b.data(), s.b.size())));
  for (bool known : {true, false}) {
    SCOPED_TRACE(known ? "volume known" : "volume learned later");
    auto e = NewEngine(MakeImage(TempDir(), 1 << 16));
    ASSERT_EQ(e->BeginFatLog(""), 0);
    if (known) LearnVolumeOf10And14(*e);
    e->OnDotPairSector(ByteView(s.a.data(), s.a.size()), 2136);
    e->OnDirectorySector(ByteView(s.b.data(), s.b.size()), 2137);
    if (!known) LearnVolumeOf10And14(*e);
    ASSERT_EQ(e->FinishFatScan(), 0);
    auto listed = ListAll(*e);
    EXPECT_TRUE(listed.count("LostFolder10/" + s.name));
    EXPECT_TRUE(listed.count("LostFolder10/f11.txt"));
    EXPECT_EQ(e->GetStats().files, 13u);
  }
}

TEST(DeepFatLongNames, ASplitNameIsJoinedWithASectorKeptEarlier) {
  SplitName s = MakeSplit();
  auto e = NewEngine(MakeImage(TempDir(), 1 << 16));
  ASSERT_EQ(e->BeginFatLog(""), 0);
  LearnVolumeOf10And14(*e);
  // The second sector comes first (it is not a cluster's first sector, so no
  // volume places it) and waits among the kept sectors.
  e->OnDirectorySector(ByteView(s.b.data(), s.b.size()), 2137);
  EXPECT_EQ(e->GetStats().unclaimed, 1u);
  e->OnDotPairSector(ByteView(s.a.data(), s.a.size()), 2136);
  ASSERT_EQ(e->FinishFatScan(), 0);
  auto listed = ListAll(*e);
  EXPECT_TRUE(listed.count("LostFolder10/" + s.name));
  EXPECT_EQ(e->GetStats().files, 13u);  // the kept sector is not parsed twice
  const FoundItemRecord& r = listed["LostFolder10/" + s.name].record;
  EXPECT_EQ(uint64_t(r.location), 2137u);  // the sector of its short entry
  EXPECT_EQ(uint32_t(r.itemId), 112u);
}

TEST(DeepFatLongNames, TheRestOfANameIsFollowedToAnotherClusterButNotAWrongPart) {
  SplitName s = MakeSplit();
  auto e = NewEngine(MakeImage(TempDir(), 1 << 16));
  ASSERT_EQ(e->BeginFatLog(""), 0);
  LearnVolumeOf10And14(*e);
  e->OnDotPairSector(ByteView(s.a.data(), s.a.size()), 2136);
  // Folder 22 ends with the same parts: folders share short names such as
  // "ALONGN~1", and so checksums. Its files' data lie at clusters 500-511.
  std::vector<uint8_t> other = s.a;
  other[26] = 22;  // "." names cluster 22
  for (int i = 0; i < 12; ++i) {
    const size_t entry = size_t(2 + i) * 32;
    other[entry + 26] = uint8_t((500 + i) & 0xFF);
    other[entry + 27] = uint8_t((500 + i) >> 8);
  }
  e->OnDotPairSector(ByteView(other.data(), other.size()), 2232);
  // A sector far away that opens with part 1 of a name of the same checksum:
  // part 2 is missing, so it is not this name's rest.
  std::vector<uint8_t> wrong(s.b.begin() + 32, s.b.end());
  wrong = Padded(wrong);
  e->OnDirectorySector(ByteView(wrong.data(), wrong.size()), 2200);
  // Another cluster opening with the right parts, but its data go on from
  // neither folder's: both names fit, neither is taken.
  std::vector<uint8_t> decoy = s.b;
  decoy[64 + 26] = 0x84;  // first cluster 900
  decoy[64 + 27] = 0x03;
  e->OnDirectorySector(ByteView(decoy.data(), decoy.size()), 2304);
  // The real rest in a later cluster of folder 10 (folders grow into
  // whatever cluster is free), its data going on from folder 10's.
  e->OnDirectorySector(ByteView(s.b.data(), s.b.size()), 2400);
  ASSERT_EQ(e->FinishFatScan(), 0);
  auto listed = ListAll(*e);
  ASSERT_TRUE(listed.count("LostFolder10/" + s.name));
  EXPECT_EQ(uint32_t(listed["LostFolder10/" + s.name].record.itemId), 112u);
  // Without its first parts a long name is incomplete: the short name stands.
  EXPECT_TRUE(listed.count("LostFolder18/alongn~1.txt"));
  EXPECT_TRUE(listed.count("LostFolder31/alongn~1.txt"));
  for (const auto& [path, item] : listed)
    if (path.rfind("LostFolder10/", 0) != 0) {
      EXPECT_EQ(path.find("split"), std::string::npos) << path;
    }
  EXPECT_EQ(e->GetStats().files, 27u);
}

// Data need not go on where a subfolder says whose cluster this is: on a
// used volume new clusters fill old gaps, and folders get theirs anywhere.
TEST(DeepFatLongNames, ASubfolderListedInTheSectorNamesTheFolderItGoesOn) {
  SplitName s = MakeSplit();
  auto e = NewEngine(MakeImage(TempDir(), 1 << 16));
  ASSERT_EQ(e->BeginFatLog(""), 0);
  LearnVolumeOf10And14(*e);
  e->OnDotPairSector(ByteView(s.a.data(), s.a.size()), 2136);
  // The subfolder's own first sector: cluster 30, its ".." folder 10, a file in it.
  auto sub = DotPairSector(30, 10, MakeEntry({"INSIDE  TXT", 0x20, 40, 10}));
  e->OnDotPairSector(ByteView(sub.data(), sub.size()), 2296);
  // The rest of the name, whose short entry is that subfolder's.
  std::vector<uint8_t> rest = s.b;
  rest[64 + 11] = 0x10;
  rest[64 + 26] = 30;
  rest[64 + 27] = 0;
  rest[64 + 28] = 0;  // a folder's size is 0
  rest[64 + 29] = 0;
  e->OnDirectorySector(ByteView(rest.data(), rest.size()), 2400);
  ASSERT_EQ(e->FinishFatScan(), 0);
  auto listed = ListAll(*e);
  ASSERT_TRUE(listed.count("LostFolder10/" + s.name));
  EXPECT_TRUE(listed["LostFolder10/" + s.name].record.isFolder);
  EXPECT_EQ(uint32_t(listed["LostFolder10/" + s.name].record.itemId), 30u);
  EXPECT_TRUE(listed.count("LostFolder10/" + s.name + "/inside.txt"));
}

// All parts of a long name fill the end of a folder's first cluster; its
// short entry opens a later cluster far away. The data there going on from
// the folder's own leads the name there, and not into a cluster whose
// short entry merely has the same checksum.
TEST(DeepFatLongNames, AShortEntryOpeningAFarClusterEndsTheNameWhenItsDataGoesOn) {
  const std::string name = "a long name that is split over two sectors.txt";
  const std::string short11 = "ALONGN~1TXT";
  const uint8_t sum = Checksum(short11);
  std::u16string n(name.begin(), name.end());
  std::vector<uint8_t> entries;
  for (int i = 0; i < 10; ++i) {
    char nm[24];
    std::snprintf(nm, sizeof nm, "F%02d     TXT", i);
    Append(entries, MakeEntry({nm, 0x20, uint32_t(100 + i), 10}));  // data up to cluster 110
  }
  Append(entries, MakeLfn(0x44, n.substr(39), sum));
  Append(entries, MakeLfn(0x03, n.substr(26, 13), sum));
  Append(entries, MakeLfn(0x02, n.substr(13, 13), sum));
  Append(entries, MakeLfn(0x01, n.substr(0, 13), sum));
  std::vector<uint8_t> first = DotPairSector(10, 0, entries);
  ASSERT_EQ(first.size(), kSector);
  std::vector<uint8_t> far;
  Append(far, MakeEntry({short11, 0x20, 110, 1000}));
  far = Padded(far);
  std::vector<uint8_t> decoy;
  Append(decoy, MakeEntry({short11, 0x20, 900, 1000}));
  decoy = Padded(decoy);

  auto e = NewEngine(MakeImage(TempDir(), 1 << 16));
  ASSERT_EQ(e->BeginFatLog(""), 0);
  LearnVolumeOf10And14(*e);
  e->OnDotPairSector(ByteView(first.data(), first.size()), 2136);
  e->OnDirectorySector(ByteView(decoy.data(), decoy.size()), 2304);  // cluster 31
  e->OnDirectorySector(ByteView(far.data(), far.size()), 2376);      // cluster 40
  ASSERT_EQ(e->FinishFatScan(), 0);
  auto listed = ListAll(*e);
  ASSERT_TRUE(listed.count("LostFolder10/" + name));
  EXPECT_EQ(uint32_t(listed["LostFolder10/" + name].record.itemId), 110u);
  EXPECT_TRUE(listed.count("LostFolder31/alongn~1.txt"));
  EXPECT_FALSE(listed.count("LostFolder40/alongn~1.txt"));
}

TEST(DeepFatDamaged, RandomSectorsThatPassTheTestsNeitherCrashNorEscape) {
  TempDir tmp;
  SplitName split = MakeSplit();
  std::mt19937_64 rng(20261208);
  auto e = NewEngine(MakeImage(tmp, 4096));
  ASSERT_EQ(e->BeginFatLog(""), 0);
  LearnVolumeOf10And14(*e);
  // Names that would climb out of a destination, or carry separators.
  const uint8_t evilSum = Checksum("EVIL    TXT");
  std::vector<uint8_t> evil;
  Append(evil, MakeLfn(0x41, u"../../escape", evilSum));
  Append(evil, MakeEntry({"EVIL    TXT", 0x20, 200, 5}));
  Append(evil, MakeLfn(0x41, u"a/b\\c", Checksum("SLASH   TXT")));
  Append(evil, MakeEntry({"SLASH   TXT", 0x20, 201, 5}));
  Append(evil, MakeLfn(0x41, u"..", Checksum("DOTS    TXT")));
  Append(evil, MakeEntry({"DOTS    TXT", 0x20, 202, 5}));
  auto evilSector = DotPairSector(22, 0, evil);
  e->OnDotPairSector(ByteView(evilSector.data(), evilSector.size()), 2136 + 12 * 8);

  size_t handed = 0;
  std::uniform_int_distribution<int> pick(0, 4);
  for (int i = 0; i < 20000; ++i) {
    std::vector<uint8_t> s = (i % 2) ? split.a : split.b;
    // Damage: random bytes over random spans, sometimes a random dot pair.
    int hits = 1 + int(rng() % 40);
    for (int h = 0; h < hits; ++h) s[rng() % kSector] = uint8_t(rng());
    if (pick(rng) == 0) {
      PutLe32(&s[26], uint32_t(rng()));  // "." cluster words, and ".." below
      PutLe16(&s[20], uint16_t(rng()));
      PutLe16(&s[58], uint16_t(rng()));
    }
    uint64_t at = rng() % 3 == 0 ? rng() : 2000 + rng() % 3000;
    ByteView v(s.data(), s.size());
    if (IsDotPair(v)) {
      e->OnDotPairSector(v, at);
      ++handed;
    } else if (IsDirectoryCluster(v)) {
      e->OnDirectorySector(v, at);
      ++handed;
    }
  }
  EXPECT_GT(handed, 1000u);
  ASSERT_EQ(e->FinishFatScan(), 0);
  EXPECT_LE(e->Guesses().size(), DeepFatEngine::Limits{}.maxGuesses);
  // Files listed can be copied (or fail cleanly), and every copy stays inside.
  std::vector<FoundItemRecord> top;
  ASSERT_EQ(e->ListChildren(nullptr, 0, top), 0);
  const std::string dest = tmp / "out";
  fs::create_directories(dest);
  size_t copied = 0, tried = 0;
  for (const FoundItemRecord& folder : top) {
    std::vector<FoundItemRecord> kids;
    if (!folder.isFolder || e->ListChildren(&folder, 1, kids) != 0) continue;
    for (const FoundItemRecord& r : kids) {
      if (r.isFolder || ++tried > 150) continue;
      std::string d = dest + "/" + SafePathComponent(RecordName(r));
      copied += e->RecoverItem(r, d, 0) == 0;
    }
  }
  EXPECT_GT(copied, 0u);
  // The folder whose names try to climb out, copied whole.
  auto evilDir = std::find_if(top.begin(), top.end(), [](const FoundItemRecord& r) { return r.itemId == 22; });
  ASSERT_NE(evilDir, top.end());
  const std::string evilDest = dest + "/evil";
  EXPECT_EQ(e->RecoverItem(*evilDir, evilDest, CountSeparators(evilDest) - 1), 0);
  size_t evilFiles = 0;
  for (auto& p : fs::recursive_directory_iterator(evilDest)) evilFiles += p.is_regular_file();
  EXPECT_GE(evilFiles, 3u);
  EXPECT_TRUE(AllInside(dest));
  EXPECT_FALSE(fs::exists(tmp / "escape"));
  // A record that claims data beyond the medium fails, it does not read past it.
  FoundItemRecord far = top.front();
  far.isFolder = 0;
  far.itemId = 0xFFFFFFF0u;
  far.clusterBytes = 64 * 1024;
  far.size = 1 << 20;
  EXPECT_NE(e->RecoverItem(far, tmp / "far.bin", 0), 0);
  far.clusterBytes = 200u << 20;
  EXPECT_EQ(e->RecoverItem(far, tmp / "far.bin", 0), 29);
  EXPECT_FALSE(fs::exists(tmp / "far.bin"));
}

TEST(DeepFatDamaged, FoldersWhoseParentsLoopAreCutOffUnderTheRoot) {
  auto e = NewEngine(MakeImage(TempDir(), 1 << 16));
  ASSERT_EQ(e->BeginFatLog(""), 0);
  LearnVolumeOf10And14(*e);
  // 30's ".." names 31 and 31's names 30; 32 sits in 30.
  auto a = DotPairSector(30, 31, MakeEntry({"LOOPA   TXT", 0x20, 90, 5}));
  auto b = DotPairSector(31, 30, MakeEntry({"LOOPB   TXT", 0x20, 91, 5}));
  auto c = DotPairSector(32, 30, MakeEntry({"INNER   TXT", 0x20, 92, 5}));
  e->OnDotPairSector(ByteView(c.data(), c.size()), 2072 + 30 * 8);
  e->OnDotPairSector(ByteView(a.data(), a.size()), 2072 + 28 * 8);
  e->OnDotPairSector(ByteView(b.data(), b.size()), 2072 + 29 * 8);
  ASSERT_EQ(e->FinishFatScan(), 0);
  auto listed = ListAll(*e);
  // Every file is reachable from the root, each folder's children one level
  // below it.
  size_t files = 0;
  for (const auto& [path, item] : listed) files += !item.record.isFolder;
  EXPECT_EQ(files, 3u);
  uint32_t count = 0;
  EXPECT_EQ(e->CountFiles(nullptr, 0, count), 0);
  EXPECT_EQ(count, 3u);
}

// --- Memory on a large disk ----------------------------------------------------------

TEST(DeepFatMemory, KeptSectorsAndWaitingFilesStayWithinTheirBounds) {
  auto e = NewEngine(MakeImage(TempDir(), 3000000));
  DeepFatEngine::Limits limits;
  limits.unclaimedInMemory = 64;
  limits.unclaimedMax = 3000;
  limits.pendingInMemory = 32;
  limits.pendingMax = 500;
  e->SetLimits(limits);
  ASSERT_EQ(e->BeginFatLog(""), 0);
  // 60,000 directory sectors no volume places (no volume known yet), each
  // with one file: without a bound they would hold 30 MiB.
  const int kSectors = 60000;
  for (int i = 0; i < kSectors; ++i) {
    auto s = Padded(MakeEntry({"KEPT    TXT", 0x20, uint32_t(1000 + i), 10}));
    e->OnDirectorySector(ByteView(s.data(), s.size()), 100000 + uint64_t(i) * 4);
  }
  // And folders that no pair explains (1000 sectors from one cluster to the
  // next), each with a file that must wait for its volume.
  for (int i = 0; i < 2000; ++i) {
    auto s = DotPairSector(uint32_t(5000 + i), 0, MakeEntry({"WAIT    TXT", 0x20, 60, 10}));
    e->OnDotPairSector(ByteView(s.data(), s.size()), 900000 + uint64_t(i) * 1000);
  }
  EXPECT_TRUE(e->Guesses().empty());
  const auto& st = e->GetStats();
  EXPECT_EQ(st.unclaimed, 3000u);
  EXPECT_EQ(st.droppedUnclaimed, uint64_t(kSectors - 3000));
  EXPECT_EQ(st.pending + st.droppedPending, 2000u);
  EXPECT_LE(st.pending, 500u);
  // Sector copies beyond the first 64 and records beyond the first 32 went to
  // the scan folder; memory holds a few bytes of index per item.
  EXPECT_LT(e->ResidentBytes(), size_t(64 * kSector + 32 * kRecordSize + 3000 * 64 + 500 * 64));
  size_t hidden = 0;
  for (auto& f : fs::directory_iterator(ScanLogFolder::Instance().CurrentScanFolder()))
    hidden += f.path().filename().string()[0] == '.';
  EXPECT_GE(hidden, 2u);

  // A volume with one sector per cluster from 100000 places every kept
  // sector at the end, also those read back from the scan folder.
  auto a = DotPairSector(10, 0), b = DotPairSector(20, 0);
  e->OnDotPairSector(ByteView(a.data(), a.size()), 99000 + 8);
  e->OnDotPairSector(ByteView(b.data(), b.size()), 99000 + 18);
  ASSERT_EQ(e->FinishFatScan(), 0);
  EXPECT_EQ(e->GetStats().files, 3000u + st.pending);
  for (auto& f : fs::directory_iterator(ScanLogFolder::Instance().CurrentScanFolder()))
    EXPECT_NE(f.path().filename().string()[0], '.') << f.path();
}

TEST(DeepFatLog, ANamedLogIsReopenedAndANewOneReplacesItsNamesake) {
  auto e = NewEngine(MakeImage(TempDir(), 1 << 16));
  ASSERT_EQ(e->BeginFatLog(""), 0);
  const std::string name = e->LogName();
  EXPECT_EQ(name.rfind("Pro_Fat_0_", 0), 0u);
  LearnVolumeOf10And14(*e);
  auto s = DotPairSector(10, 0, MakeEntry({"ONE     TXT", 0x20, 90, 10}));
  e->OnDotPairSector(ByteView(s.data(), s.size()), 2136);
  ASSERT_EQ(e->FinishFatScan(), 0);
  EXPECT_EQ(e->GetFoundCount(), 2);
  ASSERT_EQ(e->FinishFatScan(), 0);  // nothing is written twice
  EXPECT_EQ(e->GetFoundCount(), 2);
  // Resuming reopens the log with its records.
  ASSERT_EQ(e->BeginFatLog(name), 0);
  EXPECT_EQ(e->GetFoundCount(), 2);
  EXPECT_TRUE(e->Guesses().empty());
}

// --- The whole deep scan, as the factory gives it -------------------------------------

namespace dunmere::test {
namespace {

TEST(DeepScanOfAFormattedVolume, FactoryEngineBringsBackNamesAndContent) {
  std::string why;
  if (DeepFatImageFolder(&why).empty()) GTEST_SKIP() << why;
  UsePrivateDataFolder();
  const std::string image = DeepFatImageFolder() + "/reformatted32.img";
  auto e = CreateEngineForImage(image, 1, true);
  ASSERT_NE(dynamic_cast<DeepScanEngine*>(e.get()), nullptr);
  static_cast<DeepScanEngine*>(e.get())->DeclineResume();
  ASSERT_EQ(e->Scan(nullptr), kOk);
  TempDir tmp;
  auto found = CopyOutEverything(*e, tmp.path());
  size_t checked = 0;
  for (const ManifestEntry& m : ReadManifest(image)) {
    if (m.state != "sub") continue;
    auto range = found.equal_range(m.sha256);
    ASSERT_NE(range.first, range.second) << m.folder << m.name << " not recovered byte-exact";
    bool named = false;
    for (auto it = range.first; it != range.second; ++it)
      named |= AsciiLower(RecordName(it->second)) == AsciiLower(m.name);
    EXPECT_TRUE(named) << m.folder << m.name << " came back without its name";
    ++checked;
  }
  EXPECT_GT(checked, 20u);
  // Pictures of the old volume are found by the file system and by carving,
  // but a search by type lists each once.
  std::vector<FoundItemRecord> pngs;
  ASSERT_EQ(e->SearchByType("*.png", pngs), 1);
  EXPECT_EQ(pngs.size(), 1u);
}

}  // namespace
}  // namespace dunmere::test
