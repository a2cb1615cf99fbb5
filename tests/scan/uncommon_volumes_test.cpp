// Volumes whose boot sectors use the less common forms real tools write:
// NTFS with clusters of 64 KiB to 2 MiB (mkntfs -c) and a small FAT32 whose
// sector count is in the 16-bit field (mkfs.fat -S 4096). The factory must
// recognise them, the quick and deep scans must bring back every deleted
// file, and a file whose clusters a cut-off image no longer holds must say so
// instead of reporting a read error.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/scan_log_folder.h"
#include "ntfs/deep/deep_ntfs_engine.h"
#include "scan/engine_factory.h"
#include "scan/file_systems.h"
#include "storage/sector_source.h"
#include "tests/support/engine_walk.h"
#include "tests/support/open_medium.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace dunmere {
namespace {

struct Row {
  std::string image, folder, name, sha256;
  uint64_t size = 0;
};

struct Images {
  std::string dir, why;
  bool missingTool = false;
  std::vector<Row> rows;
};

Images Load(const std::string& script, const std::string& name) {
  Images im;
  test::CachedFixture f = test::MakeCachedFixture(script, name);
  im.missingTool = f.missingTool;
  im.why = f.message;
  im.dir = f.dir;
  if (f.dir.empty()) return im;
  for (const std::vector<std::string>& c : test::ReadTsvRows(f.dir + "/manifest.tsv")) {
    if (c.size() == 5) im.rows.push_back({c[0], c[1], c[2], c[3], std::stoull(c[4])});
  }
  if (im.rows.empty()) im.why = "empty manifest";
  return im;
}

const Images& Ntfs() {
  static const Images im = Load("make_bigcluster_images.sh", "bigcluster-images");
  return im;
}
const Images& Fat() {
  static const Images im = Load("make_fat32_small_image.sh", "fat32-small-image");
  return im;
}

class UncommonVolumes : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::UsePrivateDataFolder(); }
  static void Require(const Images& im) {
    if (im.missingTool) GTEST_SKIP() << im.why;
    ASSERT_FALSE(im.rows.empty()) << im.why;
  }
  static std::vector<std::string> ImageNames(const Images& im) {
    std::vector<std::string> names;
    for (const Row& r : im.rows)
      if (std::find(names.begin(), names.end(), r.image) == names.end()) names.push_back(r.image);
    return names;
  }
  // Scans with the factory's engine and checks that every deleted file of the
  // image comes back under its name with its bytes.
  static void ScanAndCheck(const Images& im, const std::string& image, bool deep) {
    SCOPED_TRACE(image + (deep ? " (deep)" : " (quick)"));
    ScanLogFolder::Instance().BeginNewScanFolder();
    auto engine = CreateEngineForImage(im.dir + "/" + image, 'I', deep);
    ASSERT_NE(engine, nullptr) << "no engine: the volume was not recognised";
    ASSERT_EQ(engine->Scan(nullptr), kOk);
    test::TempDir out;
    auto got = test::CopyOutEverything(*engine, out.path());
    for (const Row& r : im.rows) {
      if (r.image != image) continue;
      auto it = got.find(r.sha256);
      ASSERT_NE(it, got.end()) << r.folder << "/" << r.name << " not recovered";
      if (!deep) {
        EXPECT_EQ(RecordName(it->second), r.name);
      }
      EXPECT_EQ(uint64_t(it->second.size), r.size) << r.name;
    }
  }
};

TEST_F(UncommonVolumes, BigClusterNtfsIsRecognisedAndQuickScanned) {
  Require(Ntfs());
  ASSERT_EQ(ImageNames(Ntfs()).size(), 3u);
  for (const std::string& image : ImageNames(Ntfs())) {
    std::vector<uint8_t> head(kDetectBytes);
    Medium medium;
    ASSERT_EQ(OpenImageMedium(Ntfs().dir + "/" + image, medium), kOk);
    ASSERT_TRUE(ReadDetectionArea(medium, head.data()));
    EXPECT_EQ(DetectFileSystem(ByteView(head.data(), head.size())), FsKind::kNtfs) << image;
    ScanAndCheck(Ntfs(), image, false);
  }
}

TEST_F(UncommonVolumes, SmallFat32WithASixteenBitSectorCount) {
  Require(Fat());
  ScanAndCheck(Fat(), "fat32_s4096_small.img", false);
  ScanAndCheck(Fat(), "fat32_s4096_small.img", true);
}

TEST_F(UncommonVolumes, DeepScanOfA64KiBClusterNtfs) {
  Require(Ntfs());
  ScanAndCheck(Ntfs(), "ntfs_s512_c64k.img", true);
}

// The deep NTFS engine on its own: a record with resident data has no runs
// to tell its cluster size, so it takes the volume's, read from the boot
// sector (a guess by the area's size would say 4 KiB).
TEST_F(UncommonVolumes, DeepNtfsEngineTakesTheClusterSizeFromTheBootSector) {
  Require(Ntfs());
  const std::string image = Ntfs().dir + "/ntfs_s512_c2m.img";
  ScanLogFolder::Instance().BeginNewScanFolder();
  DeepNtfsEngine engine;
  engine.SetContentCheck([](const ContentSample&) { return true; });
  ASSERT_EQ(test::OpenImageIn(engine, image, 'D'), kOk);
  ASSERT_EQ(engine.StartScan(nullptr), kOk);
  SectorSource source;
  ASSERT_EQ(source.OpenImageFile(image), kOk);
  // Only the start of the volume holds its records; the rest is empty.
  std::vector<uint8_t> chunk(65536);
  for (uint64_t s = 0; s < std::min<uint64_t>(source.SectorCount(), 65536); s += 128) {
    uint32_t got = 0;
    (void)source.ReadSectors(128, chunk.data(), s, 512, got);
    for (uint32_t i = 0; i + 1 < got; ++i) {
      ByteView v(chunk.data() + size_t(i) * 512, size_t(got - i) * 512);
      if (v.Equals(0, "FILE") && !(v.U16(22) & 0x0002)) (void)engine.ProcessFileRecord(v, s + i, false, 0);
    }
  }
  ASSERT_EQ(engine.FinishScan(), kOk);
  test::TempDir out;
  auto got = test::CopyOutEverything(engine, out.path());
  int seen = 0;
  for (const Row& r : Ntfs().rows) {
    if (r.image != "ntfs_s512_c2m.img") continue;
    auto it = got.find(r.sha256);
    ASSERT_NE(it, got.end()) << r.name;
    EXPECT_EQ(uint32_t(it->second.clusterBytes), 2u << 20) << r.name;
    ++seen;
  }
  EXPECT_GE(seen, 4);
}

// An image cut short: files whose clusters lie past its end are reported as
// such, never as a read error, and the others still come back whole.
TEST_F(UncommonVolumes, FilesPastTheEndOfACutImageSaySo) {
  Require(Ntfs());
  test::TempDir tmp;
  const std::string cut = tmp / "cut.img";
  fs::copy_file(Ntfs().dir + "/ntfs_s512_c64k.img", cut);
  for (bool deep : {false, true}) {
    SCOPED_TRACE(deep ? "deep" : "quick");
    // Half the volume: the $MFT and its mirror stay, the files' clusters
    // are cut off. (The copy is cut after the full-size quick scan.)
    fs::resize_file(cut, 32u << 20);
    ScanLogFolder::Instance().BeginNewScanFolder();
    auto engine = CreateEngineForImage(cut, 'I', deep);
    ASSERT_NE(engine, nullptr);
    ASSERT_EQ(engine->Scan(nullptr), kOk);
    std::vector<FoundItemRecord> found;
    engine->SearchByType("*.bin|*.jpg|*.pdf", found);
    int pastEnd = 0;
    for (const FoundItemRecord& r : found) {
      Status s = engine->RecoverItem(r, tmp / "out", 0);
      EXPECT_NE(s, kReadFault) << RecordName(r);
      EXPECT_TRUE(s == kOk || s == kDataPastEnd) << RecordName(r) << ": " << StatusMessage(s);
      if (s == kDataPastEnd) {
        ++pastEnd;
        EXPECT_FALSE(fs::exists(tmp / "out"));
      }
      fs::remove(tmp / "out");
    }
    EXPECT_GE(pastEnd, 1);
  }
}

}  // namespace
}  // namespace dunmere
