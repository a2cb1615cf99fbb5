// The quick exFAT scan of images exfat-fuse wrote: every deleted file of the
// manifest is listed at its folder path and copied back byte-exact, live
// files are not listed, overwritten ones are refused; the same on 4 KiB
// sectors, 1 MiB clusters and a card's partition; labels for the location
// list; the free space a deep pass reads.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "base/text.h"
#include "engine/scan_log_folder.h"
#include "exfat/quick/quick_exfat_engine.h"
#include "scan/deep_scan_engine.h"
#include "scan/engine_factory.h"
#include "scan/file_systems.h"
#include "storage/disk_list.h"
#include "tests/exfat/exfat_images.h"
#include "tests/support/engine_walk.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

using test::ExfatImage;
using test::ManifestEntry;
using test::TempDir;

constexpr char kEmptySha[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

Status OpenOn(ScanEngine& engine, const ExfatImage& image) {
  Medium medium;
  if (image.volumeOffset) {
    if (Status s = OpenImageMedium(image.path, image.volumeOffset / 512, UINT64_MAX, medium)) return s;
  } else if (Status s = OpenImageMedium(image.path, medium)) {
    return s;
  }
  return engine.Open(medium, 'X');
}

class ExfatImageScan : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    DUNMERE_REQUIRE_EXFAT_IMAGES();
    test::UsePrivateDataFolder();
    ScanLogFolder::Instance().BeginNewScanFolder();
    image_ = test::CommittedExfatImage(GetParam());
    ASSERT_NE(image_, nullptr);
  }
  const ExfatImage* image_ = nullptr;
};

TEST_P(ExfatImageScan, DeletedFilesAtTheirFoldersByteExactLiveOnesNotListed) {
  QuickExfatEngine engine;
  ASSERT_EQ(OpenOn(engine, *image_), kOk);
  ASSERT_EQ(engine.Scan(nullptr), kOk);
  std::map<std::string, FoundItemRecord> listed;
  for (const test::ListedFile& f : test::ListEveryFile(engine)) listed.emplace(f.path, f.record);

  TempDir out;
  int deleted = 0, exact = 0, overwritten = 0;
  for (const ManifestEntry& m : image_->manifest) {
    const std::string path = m.folder + m.name;
    auto it = listed.find(path);
    if (m.state == "live") {
      EXPECT_EQ(it, listed.end()) << "a live file is listed: " << path;
      continue;
    }
    if (m.state == "formatted") continue;  // a deep scan's to find
    if (m.state == "overwritten") {
      // Listed or not (its entry may have been taken), it never comes back
      // as something it is not.
      if (it == listed.end()) continue;
      const std::string dest = out / ("overwritten" + std::to_string(overwritten++));
      EXPECT_EQ(engine.RecoverItem(it->second, dest, 0), kDataOverwritten) << path;
      EXPECT_FALSE(std::filesystem::exists(dest)) << "a copy was left for " << path;
      continue;
    }
    ++deleted;
    ASSERT_NE(it, listed.end()) << "not listed: " << path;
    const FoundItemRecord& r = it->second;
    EXPECT_EQ(+r.sourceKind, uint32_t(kSourceQuickExfat));
    EXPECT_EQ(+r.deletedFlag, 1u);
    std::string folder;
    EXPECT_EQ(engine.GetFolderPath(&r, folder), kOk);
    EXPECT_EQ(folder, m.folder) << path;
    EXPECT_NE(r.modified, 0u) << path;
    const std::string dest = out / std::to_string(deleted);
    ASSERT_EQ(engine.RecoverItem(r, dest, 0), kOk) << path;
    EXPECT_EQ(test::Sha256OfFile(dest), m.sha256) << path;
    exact += test::Sha256OfFile(dest) == m.sha256;
  }
  EXPECT_GT(deleted, 0);
  std::printf("%-17s quick exFAT: %d/%d deleted files byte-exact at their paths, %zu items listed\n",
              image_->name.c_str(), exact, deleted, listed.size());
}

INSTANTIATE_TEST_SUITE_P(Committed, ExfatImageScan,
                         ::testing::Values("exfat-basic", "exfat-4k", "exfat-bigcluster", "exfat-card"),
                         [](const auto& info) {
                           std::string n = info.param;
                           for (char& c : n)
                             if (c == '-') c = '_';
                           return n;
                         });

class ExfatImages : public ::testing::Test {
 protected:
  void SetUp() override {
    DUNMERE_REQUIRE_EXFAT_IMAGES();
    test::UsePrivateDataFolder();
    ScanLogFolder::Instance().BeginNewScanFolder();
  }
  static const ExfatImage& Image(const std::string& name) { return *test::CommittedExfatImage(name); }
};

TEST_F(ExfatImages, GeometryOfEachImageAndItsLabel) {
  struct Want {
    const char* name;
    uint32_t bytesPerSector, clusterBytes;
  };
  for (const Want& w : {Want{"exfat-basic", 512, 4096}, Want{"exfat-4k", 4096, 4096},
                        Want{"exfat-bigcluster", 512, 1u << 20}, Want{"exfat-card", 512, 0}}) {
    SCOPED_TRACE(w.name);
    QuickExfatEngine engine;
    ASSERT_EQ(OpenOn(engine, Image(w.name)), kOk);
    EXPECT_TRUE(engine.BootChecksumOk());
    EXPECT_FALSE(engine.UsedBackupBootRegion());
    EXPECT_TRUE(engine.UpcaseTableOk());
    EXPECT_EQ(engine.Geometry().bytesPerSector, w.bytesPerSector);
    if (w.clusterBytes) {
      EXPECT_EQ(engine.Geometry().ClusterBytes(), w.clusterBytes);
    }
    EXPECT_EQ(engine.Geometry().partitionStart, Image(w.name).volumeOffset / 512);
    EXPECT_FALSE(engine.Label().empty());
  }
  QuickExfatEngine card;
  ASSERT_EQ(OpenOn(card, Image("exfat-card")), kOk);
  EXPECT_EQ(card.Label(), "DUNMERECARD");
}

TEST_F(ExfatImages, TheTableRecognisesEveryImageAndTheLocationListNamesTheCard) {
  for (const ExfatImage& image : test::CommittedExfatImages()) {
    SCOPED_TRACE(image.name);
    Medium medium;
    ASSERT_EQ(OpenImageMedium(image.path, image.volumeOffset / 512, UINT64_MAX, medium), kOk);
    auto engine = CreateEngineFor(medium, 'Y', false);
    ASSERT_NE(engine, nullptr);
    EXPECT_NE(dynamic_cast<QuickExfatEngine*>(engine.get()), nullptr);
    EXPECT_EQ(FsKindName(FsKind::kExfat), "exFAT");
  }
  // The card's partition as the location list shows it: exFAT, its label, its size.
  const std::vector<VolumeInfo> parts = ListImageEntries(Image("exfat-card").path);
  ASSERT_FALSE(parts.empty());
  const VolumeInfo& v = parts.front();
  EXPECT_EQ(v.fsName, "exFAT");
  EXPECT_EQ(v.label, "DUNMERECARD");
  EXPECT_EQ(v.startSector, 8192u);
  EXPECT_EQ(v.totalBytes, v.sectorCount * 512);
  EXPECT_GT(v.totalBytes, 0u);
}

TEST_F(ExfatImages, FreeExtentsCoverTheFreeClustersOnly) {
  for (const char* name : {"exfat-basic", "exfat-4k", "exfat-card"}) {
    SCOPED_TRACE(name);
    const ExfatImage& image = Image(name);
    QuickExfatEngine engine;
    ASSERT_EQ(OpenOn(engine, image), kOk);
    uint64_t start = 0, length = 0;
    EXPECT_EQ(engine.NextFreeExtent(start, length), kInvalidArg);  // before the bitmap
    ASSERT_EQ(engine.LoadAllocationBitmap(), kOk);
    ASSERT_EQ(engine.Scan(nullptr), kOk);
    const ExfatGeometry& g = engine.Geometry();
    const uint64_t unit = g.deviceSectorSize;
    const uint64_t heap = uint64_t(g.clusterHeapOffset) * g.bytesPerSector / unit;
    const uint64_t perCluster = g.ClusterBytes() / unit;
    // Every deleted file found lies in free space; the root directory does not.
    std::vector<std::pair<uint64_t, uint64_t>> extents;
    uint64_t total = 0;
    for (start = 0;; start += length) {
      ASSERT_EQ(engine.NextFreeExtent(start, length), 1);
      if (length == 0) break;
      ASSERT_GE(start, heap);
      ASSERT_EQ((start - heap) % perCluster, 0u);
      ASSERT_EQ(length % perCluster, 0u);
      extents.push_back({start, length});
      total += length;
      ASSERT_LT(extents.size(), 100000u);
    }
    auto isFree = [&](uint32_t cluster) {
      const uint64_t s = heap + uint64_t(cluster - 2) * perCluster;
      for (const auto& e : extents)
        if (s >= e.first && s < e.first + e.second) return true;
      return false;
    };
    EXPECT_FALSE(isFree(g.rootCluster));
    std::map<std::string, FoundItemRecord> listed;
    for (const test::ListedFile& f : test::ListEveryFile(engine)) listed.emplace(f.path, f.record);
    for (const ManifestEntry& m : image.manifest) {
      auto it = listed.find(m.folder + m.name);
      if (m.state == "deleted" && m.sha256 != kEmptySha && it != listed.end()) {
        EXPECT_TRUE(isFree(it->second.itemId)) << m.folder << m.name;
      }
    }
    EXPECT_GT(total, 0u);
    EXPECT_LE(total, uint64_t(g.clusterCount) * perCluster);
  }
}

TEST_F(ExfatImages, AnEarlierLogIsTakenUpWithItsFolders) {
  const ExfatImage& image = Image("exfat-basic");
  std::string logName;
  size_t first = 0;
  {
    QuickExfatEngine engine;
    ASSERT_EQ(OpenOn(engine, image), kOk);
    ASSERT_EQ(engine.Scan(nullptr), kOk);
    first = test::ListEveryFile(engine).size();
    logName = std::filesystem::path(engine.Store()->LogPath()).filename().string();
  }
  QuickExfatEngine again;
  ASSERT_EQ(OpenOn(again, image), kOk);
  ASSERT_EQ(again.Scan(&logName), kOk);
  const std::vector<test::ListedFile> files = test::ListEveryFile(again);
  EXPECT_EQ(files.size(), first);
  bool deep = false;
  for (const test::ListedFile& f : files) deep |= f.path == "a/b/c/d/deep deleted.bin";
  EXPECT_TRUE(deep);
}

TEST_F(ExfatImages, DeepScanKeepsTheQuickFindsAndCarvesNoSecondCopy) {
  const ExfatImage& image = Image("exfat-card");
  Medium medium;
  ASSERT_EQ(OpenImageMedium(image.path, image.volumeOffset / 512, UINT64_MAX, medium), kOk);
  DeepScanEngine deep;
  ASSERT_EQ(deep.Open(medium, 'D'), kOk);
  ASSERT_EQ(deep.Scan(nullptr), kOk);
  std::vector<FoundItemRecord> photos;
  deep.SearchByType("*.jpg;*.mp4", photos);
  std::map<std::string, int> byName;
  int fromQuick = 0;
  for (const FoundItemRecord& r : photos) {
    ++byName[RecordName(r)];
    fromQuick += r.sourceKind == kSourceQuickExfat;
  }
  int deleted = 0;
  for (const ManifestEntry& m : image.manifest)
    if (m.state == "deleted") {
      ++deleted;
      EXPECT_EQ(byName[m.name], 1) << m.name;
    }
  EXPECT_EQ(fromQuick, deleted);
  // Carved copies of the same data are not listed again beside them.
  EXPECT_EQ(photos.size(), size_t(deleted)) << "carved duplicates";
}

}  // namespace
}  // namespace dunmere
