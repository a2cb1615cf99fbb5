// The deep exFAT scan: the whole deep scan on the committed images (a volume
// formatted over, deleted files in their folders, a card with its partition
// at 4 MiB, 4 KiB sectors, 1 MiB clusters), a stopped scan resumed, a volume
// whose boot regions are gone, and damaged entry sets made byte by byte.
#include "exfat/deep/deep_exfat_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <set>

#include "engine/scan_log_folder.h"
#include "exfat/deep/exfat_dir_sector.h"
#include "exfat/deep/exfat_placement.h"
#include "exfat/deep/exfat_volumes.h"
#include "scan/deep_scan_engine.h"
#include "scan/engine_factory.h"
#include "tests/exfat/exfat_builder.h"
#include "tests/exfat/exfat_images.h"
#include "tests/support/engine_walk.h"
#include "tests/support/test_support.h"

namespace dunmere::test {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kCardPartition = 8192;  // 4 MiB in 512-byte sectors

// The deep scan as the factory gives it, run to its end.
std::unique_ptr<ScanEngine> DeepScan(const std::string& image) {
  Medium medium;
  if (OpenImageMedium(image, medium)) return nullptr;
  auto e = CreateEngineFor(medium, 1, true);
  if (!e) return nullptr;
  static_cast<DeepScanEngine*>(e.get())->DeclineResume();
  if (e->Scan(nullptr) != kOk) return nullptr;
  return e;
}

// The exFAT engine alone over the image, fed chunk by chunk as the pass
// does; `reads` (when given) says which sectors the pass reads.
Status RunPass(DeepExfatEngine& e, const std::string& image, const std::function<bool(uint64_t)>& reads = nullptr) {
  ScanLogFolder::Instance().BeginNewScanFolder();
  Medium m;
  if (Status s = OpenImageMedium(image, m)) return s;
  if (Status s = e.Open(m, 1)) return s;
  if (Status s = e.BeginPass(nullptr)) return s;
  std::vector<uint8_t> chunk(65536);
  const uint64_t sectors = m.source.SectorCount();
  for (uint64_t first = 0; first < sectors;) {
    const uint32_t n = uint32_t(std::min<uint64_t>(128, sectors - first));
    uint32_t got = 0;
    (void)m.source.ReadSectors(n, chunk.data(), first, 512, got);
    const DeepChunk c{chunk.data(), got, first, 512, &m.source, nullptr};
    for (uint32_t i = 0; i < got; ++i)
      if (!reads || reads(first + i)) (void)e.TakeSector(c, i);
    first += n;
  }
  return e.FinishPass();
}

// Every listed file by its folder path and name.
std::map<std::string, FoundItemRecord> FilesByPath(FoundItems& e) {
  std::map<std::string, FoundItemRecord> out;
  for (const ListedFile& f : ListEveryFile(e)) out.emplace(f.path, f.record);
  return out;
}

// Copies a record out; the sha256 of the copy, empty when the copy failed
// (its status in `s`).
std::string CopySha(FoundItems& e, const FoundItemRecord& r, Status& s) {
  TempDir to;
  const std::string dest = to / "copy";
  s = e.RecoverItem(r, dest, 0);
  return s == kOk ? Sha256OfFile(dest) : std::string();
}

// Where a file of a volume formatted over may be listed: at its folder, or
// with its top folders (whose entries the new root overwrote) replaced by
// one lost folder.
bool AtItsPlace(const std::string& listed, const std::string& folder, const std::string& name) {
  if (listed == folder + name) return true;
  if (listed.rfind("LostFolder", 0) != 0 || listed.find('/') == std::string::npos) return false;
  const std::string rest = listed.substr(listed.find('/') + 1);
  for (size_t at = folder.find('/'); at != std::string::npos; at = folder.find('/', at + 1))
    if (rest == folder.substr(at + 1) + name) return true;
  return false;
}

class DeepExfatScan : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { UsePrivateDataFolder(); }
  void SetUp() override { DUNMERE_REQUIRE_EXFAT_IMAGES(); }
  static const ExfatImage& Image(const std::string& name) { return *CommittedExfatImage(name); }
};

TEST_F(DeepExfatScan, FilesOfAVolumeFormattedOverComeBackWithNamesAndFolders) {
  const ExfatImage& image = Image("exfat-formatted");
  auto e = DeepScan(image.path);
  ASSERT_NE(e, nullptr);
  const auto files = FilesByPath(*e);
  int formatted = 0, back = 0;
  for (const ManifestEntry& m : image.manifest) {
    if (m.state != "formatted" && m.state != "overwritten") continue;
    auto it = std::find_if(files.begin(), files.end(),
                           [&](const auto& kv) { return AtItsPlace(kv.first, m.folder, m.name); });
    Status s = kOk;
    const std::string sha = it == files.end() ? "" : CopySha(*e, it->second, s);
    if (m.state == "overwritten") {
      EXPECT_NE(sha, m.sha256) << "overwritten, yet back intact: " << m.folder << m.name;
      continue;
    }
    ++formatted;
    if (sha == m.sha256) {
      ++back;
    } else {
      ADD_FAILURE() << m.folder << m.name << (it == files.end() ? " not listed" : " not back byte-exact");
    }
  }
  std::cout << "[ exFAT deep ] exfat-formatted: " << back << " of " << formatted
            << " formatted files back byte-exact with name and folder\n";
  EXPECT_GT(formatted, 20);
  EXPECT_GE(back * 10, formatted * 9);
}

TEST_F(DeepExfatScan, DeletedFilesComeBackInTheirFoldersOrAreSaidToBeOverwritten) {
  for (const char* name : {"exfat-basic", "exfat-4k", "exfat-bigcluster"}) {
    SCOPED_TRACE(name);
    const ExfatImage& image = Image(name);
    auto e = DeepScan(image.path);
    ASSERT_NE(e, nullptr);
    const auto files = FilesByPath(*e);
    int deleted = 0, exact = 0, overwritten = 0;
    for (const ManifestEntry& m : image.manifest) {
      if (m.state != "deleted" && m.state != "overwritten") continue;
      auto it = files.find(m.folder + m.name);
      if (m.state == "deleted") ++deleted;
      if (it == files.end()) {
        ADD_FAILURE() << m.state << " file not listed at " << m.folder << m.name;
        continue;
      }
      Status s = kOk;
      const std::string sha = CopySha(*e, it->second, s);
      if (m.state == "overwritten") {
        EXPECT_EQ(s, kDataOverwritten) << m.folder << m.name;
        continue;
      }
      // Never silently wrong: byte-exact, or said to be overwritten (the file
      // fragmented on purpose, whose chain was cleared when it was deleted,
      // runs into the clusters of the live file written between its pieces).
      if (sha == m.sha256)
        ++exact;
      else if (s == kDataOverwritten)
        ++overwritten;
      else
        ADD_FAILURE() << m.folder << m.name << " came back wrong, status " << s;
    }
    EXPECT_GT(deleted, 0);
    EXPECT_LE(overwritten, 1);
    EXPECT_EQ(exact + overwritten, deleted);
  }
}

TEST_F(DeepExfatScan, CardPhotosAreFoundUnderDcimInTheirPartition) {
  const ExfatImage& image = Image("exfat-card");
  auto e = DeepScan(image.path);
  ASSERT_NE(e, nullptr);
  const auto files = FilesByPath(*e);
  int photos = 0;
  for (const ManifestEntry& m : image.manifest) {
    if (m.folder != "DCIM/100DUNMR/") continue;
    ++photos;
    auto it = files.find(m.folder + m.name);
    ASSERT_NE(it, files.end()) << m.name;
    EXPECT_EQ(uint64_t(it->second.partitionStart), kCardPartition);
    Status s = kOk;
    EXPECT_EQ(CopySha(*e, it->second, s), m.sha256) << m.state << " " << m.name << " status " << s;
  }
  EXPECT_GE(photos, 10);
  // Carving finds the same pictures; a search lists each once.
  std::vector<FoundItemRecord> jpgs;
  ASSERT_EQ(e->SearchByType("*.jpg", jpgs), 1);
  std::multiset<std::string> names;
  for (const FoundItemRecord& r : jpgs) names.insert(RecordName(r));
  for (const ManifestEntry& m : image.manifest) {
    if (m.name.size() > 4 && m.name.compare(m.name.size() - 4, 4, ".JPG") == 0) {
      EXPECT_EQ(names.count(m.name), 1u) << m.name;
    }
  }
  for (const std::string& n : names) EXPECT_EQ(n.rfind("DSC_", 0), 0u) << "a carved copy listed besides: " << n;
}

// Stops the pass once it has read past `stopAt` sectors; like the scan
// window, every later question gets the stop too.
struct StopAt {
  uint64_t stopAt = 0;
  bool stopped = false;
  static int Ask(void* u, int, int share, int64_t, uint64_t done, uint64_t, uint64_t, uint64_t) {
    auto* s = static_cast<StopAt*>(u);
    if (share == 90 && done >= s->stopAt) s->stopped = true;
    return s->stopped ? kStopRequested : 0;
  }
};

std::map<std::string, std::string> PathsAndContent(FoundItems& e) {
  std::map<std::string, std::string> out;
  for (const auto& [path, r] : FilesByPath(e)) {
    Status s = kOk;
    const std::string sha = CopySha(e, r, s);
    out[path] = sha.empty() ? "status " + std::to_string(s) : sha;
  }
  return out;
}

// The card: a whole disk, so no quick pass; the pass reads every sector.
TEST_F(DeepExfatScan, AStoppedScanResumedGivesWhatAnUnbrokenOneGives) {
  const std::string path = Image("exfat-card").path;
  std::map<std::string, std::string> full;
  int64_t fullCount = 0;
  {
    auto e = DeepScan(path);
    ASSERT_NE(e, nullptr);
    full = PathsAndContent(*e);
    fullCount = e->GetFoundCount();
  }
  ASSERT_GT(full.size(), 20u);
  {
    auto first = CreateEngineForImage(path, 1, true);
    static_cast<DeepScanEngine*>(first.get())->DeclineResume();
    // Between the volume's top folders (from sector 12416 on) and the
    // entries of DCIM/100DUNMR (sector 12544).
    StopAt stop{12544};
    (void)first->SetCallbacks(&StopAt::Ask, nullptr, &stop, 100);
    ASSERT_EQ(first->Scan(nullptr), kStopRequested);
    EXPECT_LT(PathsAndContent(*first).size(), full.size());
    std::vector<FoundItemRecord> top;
    ASSERT_EQ(first->ListChildren(nullptr, 0, top), kOk);
    EXPECT_TRUE(std::any_of(top.begin(), top.end(), [](const FoundItemRecord& r) { return RecordName(r) == "DCIM"; }))
        << "what the stopped scan found is listed";
  }
  auto second = CreateEngineForImage(path, 1, true);
  auto* again = static_cast<DeepScanEngine*>(second.get());
  ASSERT_TRUE(again->CanResume());
  EXPECT_FALSE(EntryScanEnded(again->ResumeEntry()));
  ASSERT_EQ(second->Scan(nullptr), kOk);
  EXPECT_EQ(PathsAndContent(*second), full);
  EXPECT_EQ(second->GetFoundCount(), fullCount);
}

// --- The engine alone -------------------------------------------------------------------

class DeepExfatEngineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { UsePrivateDataFolder(); }
};

TEST_F(DeepExfatEngineTest, AVolumeWhoseBootRegionsAreGoneIsLearnedFromItsRoot) {
  DUNMERE_REQUIRE_EXFAT_IMAGES();
  const ExfatImage& image = *CommittedExfatImage("exfat-basic");
  TempDir dir;
  const std::string path = dir / "no-boot.img";
  std::vector<uint8_t> bytes = ReadBytes(image.path);
  std::fill(bytes.begin(), bytes.begin() + 24 * 512, 0);  // both boot regions
  WriteBytes(path, bytes);
  DeepExfatEngine e;
  ASSERT_EQ(RunPass(e, path), kOk);
  EXPECT_EQ(e.GetStats().inferredVolumes, 1u);
  ASSERT_EQ(e.Volumes().size(), 1u);
  EXPECT_EQ(e.Volumes()[0].g.ClusterBytes(), 4096u);
  const auto files = FilesByPath(e);
  int checked = 0;
  for (const ManifestEntry& m : image.manifest) {
    // A chained folder's later clusters need the FAT, which nothing locates now.
    if (m.state != "deleted" || m.folder == "Docs/many/") continue;
    auto it = files.find(m.folder + m.name);
    ASSERT_NE(it, files.end()) << m.folder << m.name;
    Status s = kOk;
    const std::string sha = CopySha(e, it->second, s);
    EXPECT_TRUE(sha == m.sha256 || s == kDataOverwritten) << m.folder << m.name;
    ++checked;
  }
  EXPECT_GT(checked, 20);
}

// Every sector read, with the volume's FAT at hand: a live file written in
// pieces follows its chain; a deleted one whose chain was cleared is read as
// one run, which the bitmap shows taken by the live file between its pieces.
TEST_F(DeepExfatEngineTest, AFullPassFollowsTheFatAndSaysWhereDataWasTaken) {
  DUNMERE_REQUIRE_EXFAT_IMAGES();
  const ExfatImage& image = *CommittedExfatImage("exfat-basic");
  DeepExfatEngine e;
  ASSERT_EQ(RunPass(e, image.path), kOk);
  EXPECT_EQ(e.GetStats().inferredVolumes, 0u);
  EXPECT_GE(e.GetStats().repaired, 2u) << "the sets cut by Docs/many's cluster ends";
  const auto files = FilesByPath(e);
  int live = 0;
  for (const ManifestEntry& m : image.manifest) {
    auto it = files.find(m.folder + m.name);
    ASSERT_NE(it, files.end()) << m.state << " " << m.folder << m.name;
    Status s = kOk;
    const std::string sha = CopySha(e, it->second, s);
    if (m.state == "live") {
      ++live;
      EXPECT_EQ(sha, m.sha256) << m.folder << m.name;
      EXPECT_EQ(+it->second.deletedFlag, 0u) << m.folder << m.name;
    } else if (m.state == "overwritten" || m.name == "fragmented deleted.bin") {
      EXPECT_EQ(s, kDataOverwritten) << m.folder << m.name;
    } else {
      EXPECT_EQ(sha, m.sha256) << m.folder << m.name;
      EXPECT_EQ(+it->second.deletedFlag, 1u) << m.folder << m.name;
    }
  }
  EXPECT_GT(live, 40);
}

// A small volume with sets no writer makes.
class DamagedSets : public DeepExfatEngineTest {
 protected:
  void AddRaw(ExfatBuilder::Set s, bool badChecksum = false) {
    std::vector<uint8_t> set = ExfatBuilder::MakeSet(s);
    if (badChecksum) set[2 * 32 + 2] ^= 0x20;  // a name unit changed, the checksum left
    b_.AddEntries(b_.RootCluster(), set);
  }
  ExfatBuilder b_;
  TempDir dir_;
};

TEST_F(DamagedSets, ArePassedOverAndTheRestIsFound) {
  const std::vector<uint8_t> good = PatternBytes(9000, 1);
  b_.AddFile(b_.RootCluster(), u"good.bin", good, true);
  const uint32_t spare = b_.Allocate(2);
  AddRaw({.name = u"bad sum.bin", .firstCluster = spare, .dataLength = 5000}, true);
  AddRaw({.name = u"outside.bin", .firstCluster = b_.ClusterCount() + 40, .dataLength = 5000});
  AddRaw({.name = u"huge.bin", .firstCluster = spare, .dataLength = uint64_t(1) << 50});
  AddRaw({.name = u"runs off.bin", .firstCluster = b_.ClusterCount(), .dataLength = 5 * 4096});
  AddRaw({.name = u"more valid.bin", .firstCluster = spare, .dataLength = 10, .validDataLength = 4000});
  AddRaw({.name = u"far folder", .directory = true, .firstCluster = 0xFFFFFF00u, .dataLength = 4096});
  AddRaw({.name = u"no cluster", .directory = true, .firstCluster = 0, .dataLength = 4096});
  std::vector<uint8_t> image = b_.Image();
  // A set whose file entry and stream lie in the last 64 bytes: its names
  // would be past the medium's end.
  std::vector<uint8_t> cut = ExfatBuilder::MakeSet({.name = u"past the end of the medium.bin", .firstCluster = spare,
                                                   .dataLength = 100});
  std::copy(cut.begin(), cut.begin() + 64, image.end() - 64);
  const std::string path = dir_ / "damaged.img";
  WriteBytes(path, image);

  DeepExfatEngine e;
  ASSERT_EQ(RunPass(e, path), kOk);
  const auto files = FilesByPath(e);
  ASSERT_EQ(files.size(), 1u);
  ASSERT_TRUE(files.count("good.bin"));
  Status s = kOk;
  EXPECT_EQ(CopySha(e, files.at("good.bin"), s), Sha256OfFile([&] {
              const std::string p = dir_ / "good";
              WriteBytes(p, good);
              return p;
            }()));
  EXPECT_EQ(e.GetStats().damaged, 6u);
  std::vector<FoundItemRecord> top;
  ASSERT_EQ(e.ListChildren(nullptr, 0, top), kOk);
  EXPECT_EQ(top.size(), 1u) << "no folder of the damaged sets is listed";
}

TEST_F(DamagedSets, AFolderWhoseEntryIsGoneIsALostFolderAtTheTop) {
  const uint64_t parentSet = b_.NextEntryOffset(b_.RootCluster());
  const uint32_t parent = b_.AddFolder(b_.RootCluster(), u"Parent");
  const uint32_t child = b_.AddFolder(parent, u"Child");
  const std::vector<uint8_t> content = PatternBytes(5000, 2);
  b_.AddFile(child, u"inside.bin", content);
  b_.AddFile(parent, u"beside.txt", PatternBytes(100, 3), true);
  b_.Put(parentSet, std::vector<uint8_t>(3 * 32, 0));  // the parent's own set, wiped
  const std::string path = dir_ / "lost.img";
  b_.Save(path);

  DeepExfatEngine e;
  ASSERT_EQ(RunPass(e, path), kOk);
  const std::string lost = "LostFolder" + std::to_string(parent);
  const auto files = FilesByPath(e);
  ASSERT_TRUE(files.count(lost + "/Child/inside.bin"));
  ASSERT_TRUE(files.count(lost + "/beside.txt"));
  const FoundItemRecord& inside = files.at(lost + "/Child/inside.bin");
  std::string folder;
  ASSERT_EQ(e.GetFolderPath(&inside, folder), kOk);
  EXPECT_EQ(folder, lost + "/Child/");
  // Live data under a lost folder is copied, whatever the bitmap says of it.
  Status s = kOk;
  EXPECT_FALSE(CopySha(e, inside, s).empty()) << s;
  EXPECT_EQ(e.GetStats().lostFolders, 1u);
}

// With both boot regions and the root gone nothing tells where the heap
// lies: the sets are listed by where they were found, without data.
TEST_F(DamagedSets, SetsNoVolumeHoldsAreListedWithoutData) {
  const uint32_t folder = b_.AddFolder(b_.RootCluster(), u"Folder");
  b_.AddFile(folder, u"orphan.txt", PatternBytes(700, 5), true);
  std::vector<uint8_t> image = b_.Image();
  std::fill(image.begin(), image.begin() + 24 * 512, 0);
  const uint64_t root = b_.ClusterOffset(b_.RootCluster());
  std::fill(image.begin() + ptrdiff_t(root), image.begin() + ptrdiff_t(root + b_.ClusterBytes()), 0);
  const std::string path = dir_ / "nothing.img";
  WriteBytes(path, image);
  DeepExfatEngine e;
  ASSERT_EQ(RunPass(e, path), kOk);
  EXPECT_TRUE(e.Volumes().empty());
  const auto files = FilesByPath(e);
  const uint64_t sector = b_.ClusterOffset(folder) / 512;
  ASSERT_TRUE(files.count("LostFolder" + std::to_string(sector) + "/orphan.txt"));
  const FoundItemRecord& r = files.begin()->second;
  EXPECT_EQ(r.clusterBytes, kNoClusterSize);
  Status s = kOk;
  EXPECT_TRUE(CopySha(e, r, s).empty());
  EXPECT_EQ(s, kNoContent);
  uint64_t first = 0;
  EXPECT_FALSE(e.FirstDataSector(r, first));
}

// A pass over free clusters only (as the deep scan makes after a quick pass
// that knows the bitmap) meets a deleted folder's files but not the live
// folders above it: their entries are read from the clusters in use.
TEST_F(DamagedSets, EntriesOfLostFoldersAreLookedForInTheClustersInUse) {
  const uint32_t top = b_.AddFolder(b_.RootCluster(), u"Top");
  const uint32_t old = b_.AddFolder(top, u"Old", true);
  const std::vector<uint8_t> content = PatternBytes(3000, 4);
  b_.AddFile(old, u"gone.bin", content, true);
  const std::string path = dir_ / "free.img";
  b_.Save(path);
  const std::vector<uint8_t> image = ReadBytes(path);
  const uint64_t heap = b_.ClusterOffset(2) / 512;
  auto inUse = [&](uint64_t sector) {
    if (sector < heap) return true;
    const uint64_t c = (sector - heap) / 8 + 2;
    return ((image[size_t(b_.ClusterOffset(2) + (c - 2) / 8)] >> ((c - 2) % 8)) & 1) != 0;
  };
  DeepExfatEngine e;
  ASSERT_EQ(RunPass(e, path, [&](uint64_t s) { return !inUse(s); }), kOk);
  const auto files = FilesByPath(e);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files.begin()->first, "Top/Old/gone.bin");
  EXPECT_EQ(e.GetStats().foundInUsedClusters, 2u);
  Status s = kOk;
  const std::string want = dir_ / "want";
  WriteBytes(want, content);
  EXPECT_EQ(CopySha(e, files.begin()->second, s), Sha256OfFile(want));
  EXPECT_EQ(+files.begin()->second.deletedFlag, 1u);
}

// --- The pieces ---------------------------------------------------------------------------

TEST(ExfatDirectorySector, OnlyPlainDirectoryDataIsTaken) {
  std::vector<uint8_t> sector(512, 0);
  EXPECT_FALSE(IsExfatDirectorySector(ByteView(sector.data(), 512))) << "zeros";
  // A FAT directory sector: 8.3 names and a long-name entry.
  for (size_t i = 0; i < 16; ++i) {
    std::memcpy(&sector[i * 32], i % 2 ? "README  TXT" : "\x41R\0E\0A\0D\0M\0", 11);
    sector[i * 32 + 11] = i % 2 ? 0x20 : 0x0F;
  }
  EXPECT_FALSE(IsExfatDirectorySector(ByteView(sector.data(), 512))) << "FAT entries";
  const std::vector<uint8_t> noise = PatternBytes(512, 9);
  EXPECT_FALSE(IsExfatDirectorySector(ByteView(noise.data(), 512)));

  std::fill(sector.begin(), sector.end(), 0);
  const std::vector<uint8_t> set = ExfatBuilder::MakeSet({.name = u"a.txt", .firstCluster = 9, .dataLength = 10});
  std::copy(set.begin(), set.end(), sector.begin() + 64);
  EXPECT_TRUE(IsExfatDirectorySector(ByteView(sector.data(), 512)));
  sector[64 + 2 * 32 + 2] ^= 1;  // the checksum no longer agrees
  EXPECT_FALSE(IsExfatDirectorySector(ByteView(sector.data(), 512)));
}

// The slots' types at a glance: up to a quarter of them may be no entry
// type, wherever they lie; zeros are entries that start nothing.
TEST(ExfatDirectorySector, SlotTypesAreReadInOnePass) {
  std::vector<uint8_t> sector(512, 0);
  ExfatSlotTypes t = ReadExfatSlotTypes(ByteView(sector.data(), 512));
  EXPECT_TRUE(t.mostAreEntries);
  EXPECT_FALSE(t.anyStart);
  for (size_t slot : {3u, 12u, 13u, 15u}) sector[slot * 32] = 0x07;  // no entry type
  EXPECT_TRUE(ReadExfatSlotTypes(ByteView(sector.data(), 512)).mostAreEntries) << "four of sixteen";
  sector[14 * 32] = 0x07;
  EXPECT_FALSE(ReadExfatSlotTypes(ByteView(sector.data(), 512)).mostAreEntries) << "five, the last in the second half";
  sector[14 * 32] = 0x05;  // a deleted file entry starts a set
  t = ReadExfatSlotTypes(ByteView(sector.data(), 512));
  EXPECT_TRUE(t.mostAreEntries);
  EXPECT_TRUE(t.anyStart);
  const std::vector<uint8_t> noise = PatternBytes(512, 9);
  EXPECT_FALSE(ReadExfatSlotTypes(ByteView(noise.data(), 512)).mostAreEntries);
  EXPECT_FALSE(ReadExfatSlotTypes(ByteView(sector.data(), 31)).mostAreEntries) << "no whole slot";
}

// A zeroed sector holds no set and no root entries; it is a directory's only
// where a set of the sector before runs on into it.
TEST(ExfatDirectorySector, AZeroedSectorIsTakenOnlyInsideASetBefore) {
  const std::vector<uint8_t> zeros(512, 0);
  const ByteView sector(zeros.data(), zeros.size());
  EXPECT_FALSE(ScanExfatSector(sector, 512, 4096, 0, nullptr, nullptr).taken);
  EXPECT_FALSE(ScanExfatSector(sector, 512, 4096, 4096, nullptr, nullptr).taken);
  const ExfatSectorScan inside = ScanExfatSector(sector, 512, 4096, 4096 + 32, nullptr, nullptr);
  EXPECT_TRUE(inside.taken);
  EXPECT_EQ(inside.sets, 0u);
  EXPECT_FALSE(inside.root);
}

struct Sink : ExfatSectorSink {
  std::vector<uint64_t> sets, cut;
  void OnSet(uint64_t at, ByteView) override { sets.push_back(at); }
  void OnCutSet(uint64_t at) override { cut.push_back(at); }
  void OnRootSector(uint64_t, ByteView) override {}
};

TEST(ExfatDirectorySector, ASetPastTheBytesAtHandIsReadOnFromTheMedium) {
  // A set of four entries from the last two slots of the sector on.
  std::vector<uint8_t> medium(2048, 0);
  const std::vector<uint8_t> set =
      ExfatBuilder::MakeSet({.name = u"a name of thirty characters ..", .firstCluster = 9, .dataLength = 10});
  ASSERT_EQ(set.size(), 4 * 32u);
  std::copy(set.begin(), set.end(), medium.begin() + 512 + 512 - 64);
  size_t asked = 0;
  ExfatByteReader read = [&](uint64_t at, uint8_t* out, size_t n) {
    ++asked;
    const size_t got = at < medium.size() ? std::min(n, size_t(medium.size() - at)) : 0;
    std::copy_n(medium.begin() + ptrdiff_t(at), got, out);
    return got;
  };
  Sink sink;
  // The chunk ends with this sector: the rest comes from the reader.
  ExfatSectorScan scan = ScanExfatSector(ByteView(medium.data() + 512, 512), 512, 512, 0, read, &sink);
  EXPECT_TRUE(scan.taken);
  EXPECT_EQ(asked, 1u);
  ASSERT_EQ(sink.sets, std::vector<uint64_t>{1024 - 64});
  EXPECT_EQ(scan.setsEnd, 1024u + 64);
  // The next sector starts with the set's last names: taken as its continuation.
  EXPECT_TRUE(ScanExfatSector(ByteView(medium.data() + 1024, 512), 512, 1024, scan.setsEnd, read, &sink).taken);
  // Read on, the set no longer holds together (its folder went on elsewhere):
  // noted as cut at a cluster's end.
  std::fill(medium.begin() + 1024, medium.end(), 0xAB);
  Sink cutSink;
  scan = ScanExfatSector(ByteView(medium.data() + 512, 512), 512, 512, 0, read, &cutSink);
  EXPECT_TRUE(cutSink.sets.empty());
  EXPECT_EQ(cutSink.cut, std::vector<uint64_t>{1024 - 64});
}

TEST(ExfatVolumes, ABootSectorIsTheMainRegionOrTheBackupTwelveSectorsOn) {
  ExfatBuilder::Options o;
  o.partitionStart = 2048;
  ExfatBuilder b(o);
  const std::vector<uint8_t>& image = b.Image();
  ExfatByteReader read = [&](uint64_t at, uint8_t* out, size_t n) {
    const size_t got = at < image.size() ? std::min(n, size_t(image.size() - at)) : 0;
    std::copy_n(image.begin() + ptrdiff_t(at), got, out);
    return got;
  };
  for (uint64_t sector : {2048u, 2060u}) {
    ByteView s(image.data() + sector * 512, 512);
    auto v = ExfatVolumeFromBootSector(s, sector * 512, 512, image.size(), read);
    ASSERT_TRUE(v) << sector;
    EXPECT_EQ(v->g.partitionStart, 2048u) << sector;
    EXPECT_EQ(v->g.rootCluster, b.RootCluster());
  }
  // A region whose checksum does not agree is no volume.
  std::vector<uint8_t> damaged = image;
  damaged[2048 * 512 + 5 * 512 + 7] ^= 1;
  ExfatByteReader readDamaged = [&](uint64_t at, uint8_t* out, size_t n) {
    std::copy_n(damaged.begin() + ptrdiff_t(at), n, out);
    return n;
  };
  EXPECT_FALSE(ExfatVolumeFromBootSector(ByteView(damaged.data() + 2048 * 512, 512), 2048 * 512, 512,
                                         damaged.size(), readDamaged));
}

TEST(ExfatPlacement, ChainsLoopsAndSetsOutsideEveryVolume) {
  ExfatBuilder b;
  const std::vector<uint8_t>& image = b.Image();
  ExfatByteReader read = [&](uint64_t at, uint8_t* out, size_t n) {
    std::copy_n(image.begin() + ptrdiff_t(at), n, out);
    return n;
  };
  std::vector<ExfatVolume> volumes{*ExfatVolumeFromBootSector(ByteView(image.data(), 512), 0, 512, image.size(), read)};
  auto at = [&](uint32_t cluster, uint32_t slot) { return b.ClusterOffset(cluster) + slot * 32; };
  ExfatPlacementInput in;
  in.volumes = &volumes;
  in.mediumBytes = 1ull << 40;
  // A chained folder of three clusters at 10 whose FAT is not read: its
  // first cluster and the one after it holding sets are its own; 12 holds
  // nothing, so 13 is a lost folder's.
  in.sets.push_back({.at = at(4, 3), .firstCluster = 10, .dataLength = 3 * 4096, .directory = true});
  in.sets.push_back({.at = at(10, 0), .firstCluster = 20, .dataLength = 1, .validDataLength = 1});
  in.sets.push_back({.at = at(11, 0), .firstCluster = 21, .dataLength = 1, .validDataLength = 1});
  in.sets.push_back({.at = at(13, 0), .firstCluster = 22, .dataLength = 1, .validDataLength = 1});
  // Two folders each of whose set lies in the other's cluster: a loop, cut at the top.
  in.sets.push_back({.at = at(30, 0), .firstCluster = 31, .dataLength = 4096, .directory = true, .noFatChain = true});
  in.sets.push_back({.at = at(31, 0), .firstCluster = 30, .dataLength = 4096, .directory = true, .noFatChain = true});
  // Far past the volume: listed in a stretch of its own.
  in.sets.push_back({.at = 1ull << 36, .firstCluster = 5, .dataLength = 1, .validDataLength = 1});
  const ExfatPlacement p = PlaceExfatSets(in, nullptr);
  EXPECT_EQ(p.damaged, 0u);
  ASSERT_EQ(p.files.size(), 4u);
  const uint32_t chained = ExfatPlacement::kFirstFolderId + 1;  // after the lost folder
  ASSERT_EQ(p.folders.size(), 5u);
  EXPECT_EQ(p.folders[0].kind, ExfatFolderNode::Kind::kLost);
  EXPECT_EQ(p.folders[0].number, 13u);
  EXPECT_EQ(p.files[0].parent, chained);
  EXPECT_EQ(p.files[1].parent, chained);
  EXPECT_EQ(p.files[2].parent, ExfatPlacement::kFirstFolderId);
  EXPECT_EQ(p.files[0].level, 1u);
  EXPECT_EQ(p.folders[1].parent, ExfatPlacement::kRootId);
  // The loop: one of the two hangs at the top, the other below it.
  const ExfatFolderNode& x = p.folders[2];
  const ExfatFolderNode& y = p.folders[3];
  EXPECT_TRUE((x.parent == ExfatPlacement::kRootId) != (y.parent == ExfatPlacement::kRootId));
  EXPECT_EQ(p.folders[4].kind, ExfatFolderNode::Kind::kStretch);
  EXPECT_EQ(p.files[3].parent, ExfatPlacement::kFirstFolderId + 4);
  EXPECT_TRUE(p.files[3].deleted);
}

}  // namespace
}  // namespace dunmere::test
