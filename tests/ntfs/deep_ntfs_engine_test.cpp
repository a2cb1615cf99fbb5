// The deep NTFS engine, driven the way the deep-scan pass drives it: every
// sector of an image that looks like a FILE record and is not a folder goes
// to ProcessFileRecord, then the finishing step makes the folders.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "engine/scan_log_folder.h"
#include "base/text.h"
#include "ntfs/deep/mft_map.h"
#include "ntfs/deep/deep_ntfs_engine.h"
#include "storage/disk_table.h"
#include "storage/sector_source.h"
#include "scan/deep_scan_engine.h"
#include "scan/engine_factory.h"
#include "tests/support/engine_walk.h"
#include "tests/support/open_medium.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// The pass over a source: 64 KiB chunks, the FILE-record test of the chunk
// dispatch, folders passed over.

bool LooksLikeFileRecord(ByteView s, uint32_t m) {
  return s.Equals(0, "FILE") && s.U32(24) <= m && s.U32(28) == m && s.U16(48) == s.U16(510);
}

// Sectors [first, first + count) of `source`, as absolute sectors; the
// finishing step is expected to answer `finish`.
void DrivePass(DeepNtfsEngine& engine, const SectorSource& source, uint64_t first, uint64_t count,
               Status finish = kOk) {
  const uint32_t ss = engine.SectorSize();
  const uint32_t m = ss > 512 ? ss : 2 * ss;
  std::vector<uint8_t> chunk(65536), wide(8192);
  for (uint64_t done = 0; done < count;) {
    uint32_t n = uint32_t(std::min<uint64_t>(65536 / ss, count - done));
    uint32_t got = 0;
    (void)source.ReadSectors(n, chunk.data(), first + done, ss, got);
    for (uint32_t i = 0; i < got; ++i) {
      ByteView v(chunk.data() + size_t(i) * ss, size_t(got - i) * ss);
      if (!LooksLikeFileRecord(v, m)) continue;
      if (v.size() < m) {
        uint32_t more = 0;
        std::fill(wide.begin(), wide.end(), 0);
        (void)source.ReadSectors(8192 / ss, wide.data(), first + done + i, ss, more);
        v = ByteView(wide.data(), wide.size());
      }
      if (v.U16(22) & 0x0002) continue;
      (void)engine.ProcessFileRecord(v, first + done + i, false, 0);
    }
    done += n;
  }
  EXPECT_EQ(engine.FinishScan(), finish);
}

void ScanImage(DeepNtfsEngine& engine, const std::string& image, Status finish = kOk) {
  ScanLogFolder::Instance().BeginNewScanFolder();
  ASSERT_EQ(test::OpenImageIn(engine, image, 'D'), kOk);
  ASSERT_EQ(engine.StartScan(nullptr), kOk);
  SectorSource source;
  ASSERT_EQ(source.OpenImageFile(image), kOk);
  DrivePass(engine, source, 0, source.SectorCount(), finish);
}

// Every item by "<volume start>:<folder path>/<name>".
std::map<std::string, FoundItemRecord> Walk(FoundItems& engine) {
  std::map<std::string, FoundItemRecord> tree;
  std::vector<std::tuple<FoundItemRecord, std::string, uint32_t>> stack;
  std::vector<FoundItemRecord> kids;
  EXPECT_EQ(engine.ListChildren(nullptr, 0, kids), kOk);
  for (auto& k : kids) stack.emplace_back(k, RecordName(k), 1);
  size_t guard = 0;
  while (!stack.empty() && ++guard < 100000) {
    auto [r, path, level] = stack.back();
    stack.pop_back();
    tree[std::to_string(r.partitionStart) + ":" + path] = r;
    if (!r.isFolder) continue;
    (void)engine.ListChildren(&r, level, kids);
    for (auto& k : kids) stack.emplace_back(k, path + "/" + RecordName(k), level + 1);
  }
  return tree;
}

// ---------------------------------------------------------------------------
// Images made once by the fixture script and kept in the build tree under
// the script's hash, shared by every run of this program.

struct Expected {
  std::string image, folder, name, sha256;
  uint64_t size = 0, volumeStart = 0;
  std::string Key() const { return std::to_string(volumeStart) + ":" + (folder.empty() ? name : folder + "/" + name); }
};

// A fixture script's output, made once and kept in the build tree under the
// script's hash (the same place the quick-scan tests keep theirs, so a
// script's images are made once for both), with its manifest's rows.
struct CachedImages {
  std::string dir, why;
  bool ready = false;
  bool missingTool = false;
  std::vector<std::vector<std::string>> rows;
};

CachedImages LoadCached(const std::string& script, const std::string& prefix) {
  CachedImages im;
  test::CachedFixture f = test::MakeCachedFixture(script, prefix + "-images");
  if (f.dir.empty()) {
    im.missingTool = f.missingTool;
    im.why = f.message;
    return im;
  }
  im.dir = f.dir;
  for (const std::vector<std::string>& f : test::ReadTsvRows(im.dir + "/manifest.tsv")) {
    im.rows.push_back(f);
  }
  im.ready = !im.rows.empty();
  if (!im.ready) im.why = "empty manifest of " + script;
  return im;
}

struct Images {
  CachedImages cache;
  std::vector<Expected> expected;
};

Images& Fixture() {
  static Images* images = [] {
    auto* im = new Images;
    im->cache = LoadCached("make_deepntfs_images.sh", "deepntfs");
    for (auto& f : im->cache.rows)
      if (f.size() >= 6) im->expected.push_back({f[0], f[1], f[2], f[3], std::stoull(f[4]), std::stoull(f[5])});
    return im;
  }();
  return *images;
}

class DeepNtfsImages : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::UsePrivateDataFolder(); }
  void SetUp() override {
    if (Fixture().cache.missingTool) GTEST_SKIP() << Fixture().cache.why;
    ASSERT_TRUE(Fixture().cache.ready) << Fixture().cache.why;
  }
  static std::string Image(const std::string& name) { return Fixture().cache.dir + "/" + name; }

  // Each expected file of `image` is in the tree at its folder, of its
  // size, and copies out byte for byte.
  static void ExpectAllRecovered(DeepNtfsEngine& engine, const std::string& image) {
    auto tree = Walk(engine);
    test::TempDir out;
    int checked = 0;
    for (const Expected& e : Fixture().expected) {
      if (e.image != image) continue;
      SCOPED_TRACE(e.Key());
      ASSERT_TRUE(tree.count(e.Key()));
      const FoundItemRecord& r = tree[e.Key()];
      EXPECT_EQ(uint32_t(r.sourceKind), uint32_t(kSourceDeepNtfs));
      EXPECT_EQ(uint32_t(r.isFolder), 0u);
      EXPECT_EQ(uint64_t(r.size), e.size);
      EXPECT_EQ(uint64_t(r.partitionStart), e.volumeStart);
      std::string folder;
      ASSERT_EQ(engine.GetFolderPath(&r, folder), kOk);
      EXPECT_EQ(folder, e.folder.empty() ? "" : e.folder + "/");
      std::string dest = out / ("f" + std::to_string(checked++));
      ASSERT_EQ(engine.RecoverItem(r, dest, 0), kOk);
      EXPECT_EQ(test::Sha256OfFile(dest), e.sha256);
    }
    EXPECT_GT(checked, 0);
  }
};

// The deep scan as the factory gives it: a reformatted volume and a whole
// disk of two reformatted volumes, every file back by content, name and volume.
TEST_F(DeepNtfsImages, FactoryDeepEngineBringsBackEveryFileOfFormattedVolumes) {
  for (const char* image : {"reformatted.img", "disk.img"}) {
    SCOPED_TRACE(image);
    auto e = CreateEngineForImage(Image(image), 1, true);
    auto* deep = dynamic_cast<DeepScanEngine*>(e.get());
    ASSERT_NE(deep, nullptr);
    deep->DeclineResume();
    ASSERT_EQ(e->Scan(nullptr), kOk);
    test::TempDir out;
    auto found = test::CopyOutEverything(*e, out.path());
    int checked = 0;
    for (const Expected& x : Fixture().expected) {
      if (x.image != image) continue;
      auto range = found.equal_range(x.sha256);
      ASSERT_NE(range.first, range.second) << x.Key() << " not recovered byte-exact";
      bool same = false;
      for (auto it = range.first; it != range.second; ++it)
        same |= RecordName(it->second) == x.name && it->second.partitionStart == x.volumeStart;
      EXPECT_TRUE(same) << x.Key() << " lost its name or volume";
      ++checked;
    }
    EXPECT_GT(checked, 3);
  }
}

// The deep scan stopped when its pass is over and the folders are being
// built (the question with no sectors counted): it ends with the stop, no
// question after, and every file the full scan found is still there.
TEST_F(DeepNtfsImages, DeepScanStoppedWhileFoldersAreBuiltKeepsEveryFile) {
  auto names = [](FoundItems& e) {
    std::multiset<std::string> out;
    std::vector<FoundItemRecord> found;
    e.SearchByType(".*", found);
    for (const FoundItemRecord& r : found) out.insert(RecordName(r));
    return out;
  };
  auto full = CreateEngineForImage(Image("reformatted.img"), 1, true);
  dynamic_cast<DeepScanEngine&>(*full).DeclineResume();
  ASSERT_EQ(full->Scan(nullptr), kOk);
  uint32_t fullCount = 0;
  ASSERT_EQ(full->CountFiles(nullptr, 0, fullCount), kOk);

  struct Asked {
    int building = 0, after = 0;
  } asked;
  auto e = CreateEngineForImage(Image("reformatted.img"), 1, true);
  dynamic_cast<DeepScanEngine&>(*e).DeclineResume();
  (void)e->SetCallbacks(
      [](void* u, int, int, int64_t, uint64_t, uint64_t, uint64_t, uint64_t stage) -> int {
        auto* a = static_cast<Asked*>(u);
        if (a->building) ++a->after;
        if (stage == kStageBuildingFolders) ++a->building;
        return a->building ? kStopRequested : 0;
      },
      nullptr, &asked, 100);
  EXPECT_EQ(e->Scan(nullptr), kStopRequested);
  EXPECT_EQ(asked.building, 1);
  EXPECT_EQ(asked.after, 0);
  uint32_t count = 0;
  ASSERT_EQ(e->CountFiles(nullptr, 0, count), kOk);
  EXPECT_EQ(count, fullCount);
  EXPECT_EQ(names(*e), names(*full));
}

// Stopped in its first pass (the quick scan of the volume, a tenth of the
// bar): the deep scan ends there with the stop; the sector pass and the
// folder building never start.
TEST_F(DeepNtfsImages, DeepScanStoppedInItsQuickPassEndsThere) {
  struct Asked {
    int quick = 0, later = 0;
  } asked;
  auto e = CreateEngineForImage(Image("reformatted.img"), 1, true);
  dynamic_cast<DeepScanEngine&>(*e).DeclineResume();
  (void)e->SetCallbacks(
      [](void* u, int, int share, int64_t, uint64_t, uint64_t, uint64_t, uint64_t) -> int {
        auto* a = static_cast<Asked*>(u);
        if (a->quick) ++a->later;
        if (share == 9) ++a->quick;
        return a->quick ? kStopRequested : 0;
      },
      nullptr, &asked, 100);
  EXPECT_EQ(e->Scan(nullptr), kStopRequested);
  EXPECT_EQ(asked.quick, 1);
  EXPECT_EQ(asked.later, 0);
}

TEST_F(DeepNtfsImages, QuickFormattedVolumeGivesBackItsFilesAndFolders) {
  DeepNtfsEngine engine;
  ScanImage(engine, Image("reformatted.img"));
  // The new $MFT is known; its mirror copy is not taken for a second volume.
  EXPECT_EQ(engine.Tables().size(), 1u);
  ExpectAllRecovered(engine, "reformatted.img");
  auto tree = Walk(engine);
  // The system files of the new volume are not items.
  for (auto& [key, r] : tree) EXPECT_NE(RecordName(r).rfind("$", 0), 0u) << key;
  // Folders are real, at their levels, and each appears once.
  ASSERT_TRUE(tree.count("0:Docs/Deep/Deeper"));
  EXPECT_EQ(uint32_t(tree["0:Docs/Deep/Deeper"].isFolder), 1u);
  std::vector<FoundItemRecord> top;
  ASSERT_EQ(engine.ListChildren(nullptr, 0, top), kOk);
  EXPECT_EQ(std::count_if(top.begin(), top.end(), [](auto& r) { return RecordName(r) == "Docs"; }), 1);
  uint32_t count = 0;
  ASSERT_EQ(engine.CountFiles(&tree["0:Docs"], 1, count), kOk);
  EXPECT_EQ(count, 3u);

  // A whole folder copies out with its tree below it.
  test::TempDir out;
  ASSERT_EQ(engine.RecoverItem(tree["0:Docs"], out / "Docs", CountSeparators(out.path())), kOk);
  for (const Expected& e : Fixture().expected) {
    if (e.image == "reformatted.img" && e.folder.rfind("Docs", 0) == 0) {
      EXPECT_EQ(test::Sha256OfFile(out / (e.folder + "/" + e.name)), e.sha256) << e.Key();
    }
  }

  // The preview read delivers the start of a file into a buffer.
  std::vector<uint8_t> buf(4096);
  uint64_t n = buf.size();
  std::string path;
  ASSERT_EQ(engine.ReadForPreview(&tree["0:root.bin"], path, buf.data(), n, nullptr, nullptr), kOk);
  EXPECT_EQ(n, 4096u);
  EXPECT_TRUE(path.empty());

  // The log carries the deep NTFS name.
  std::string log = engine.Store()->LogPath();
  EXPECT_NE(fs::path(log).filename().string().rfind("Pro_Ntfs_0_", 0), std::string::npos) << log;
}

TEST_F(DeepNtfsImages, WholeDiskScanAttributesItemsToTheirVolumes) {
  DeepNtfsEngine engine;
  ScanImage(engine, Image("disk.img"));
  EXPECT_EQ(engine.Tables().size(), 2u);
  ExpectAllRecovered(engine, "disk.img");
  // Both volumes' "Docs" folders are there, each with its own files only.
  auto tree = Walk(engine);
  for (const char* v : {"2048", "36864"}) {
    std::string docs = std::string(v) + ":Docs";
    ASSERT_TRUE(tree.count(docs)) << docs;
    uint32_t count = 0;
    ASSERT_EQ(engine.CountFiles(&tree[docs], 1, count), kOk);
    EXPECT_EQ(count, 2u) << docs;
    EXPECT_EQ(uint64_t(tree[docs].partitionStart), std::stoull(v));
  }
  EXPECT_NE(uint32_t(tree["2048:Docs"].itemId), uint32_t(tree["36864:Docs"].itemId));
}

TEST_F(DeepNtfsImages, PartitionScanOfTheDiskMatchesTheVolume) {
  // The same disk scanned as its second partition: the area's own boot
  // sector seeds the table before the pass.
  DiskTable::SetOverride({Image("disk.img")});
  ScanLogFolder::Instance().BeginNewScanFolder();
  DeepNtfsEngine engine;
  ASSERT_EQ(test::OpenDiskIn(engine, 0, 36864, 32768, 'P'), kOk);
  ASSERT_EQ(engine.StartScan(nullptr), kOk);
  EXPECT_EQ(engine.Tables().size(), 1u);
  SectorSource source;
  ASSERT_EQ(source.OpenImageFile(Image("disk.img")), kOk);
  DrivePass(engine, source, 36864, 32768);
  auto tree = Walk(engine);
  ASSERT_TRUE(tree.count("36864:Docs/two/two_data.bin"));
  EXPECT_FALSE(tree.count("2048:one_top.bin"));
  EXPECT_NE(fs::path(engine.Store()->LogPath()).filename().string().rfind("Pro_Ntfs_36864_", 0), std::string::npos);
}

TEST_F(DeepNtfsImages, DeletedFilesOfTheQuickScanImagesComeBackToo) {
  // The quick scan's volumes, read record by record: a run list longer than
  // a sector, compressed data, and a sparse file past 4 GiB.
  static CachedImages quick = LoadCached("make_ntfs_images.sh", "ntfs");
  if (quick.missingTool) GTEST_SKIP() << quick.why;
  ASSERT_TRUE(quick.ready) << quick.why;
  for (const char* image : {"ntfs_s512_c512.img", "ntfs_s512_c4k.img"}) {
    SCOPED_TRACE(image);
    DeepNtfsEngine engine;
    // The pictures there hold random bytes: the signature check would hide them.
    engine.SetContentCheck([](const ContentSample&) { return true; });
    ScanImage(engine, quick.dir + "/" + image);
    auto tree = Walk(engine);
    test::TempDir out;
    for (auto& f : quick.rows) {
      if (f.size() < 5 || f[0] != image || f[3] == "-") continue;
      // Files under a folder whose record was reused are checked by name only.
      std::string key = "0:" + (f[1].empty() || f[1].rfind("LostFolder", 0) == 0 ? "" : f[1] + "/") + f[2];
      const FoundItemRecord* r = nullptr;
      if (tree.count(key)) r = &tree[key];
      for (auto& [k, rec] : tree)
        if (!r && !rec.isFolder && RecordName(rec) == f[2]) r = &rec;
      ASSERT_NE(r, nullptr) << key;
      EXPECT_EQ(uint64_t(r->size), std::stoull(f[4])) << key;
      ASSERT_EQ(engine.RecoverItem(*r, out / "f", 0), kOk) << key;
      EXPECT_EQ(test::Sha256OfFile(out / "f"), f[3]) << key;
    }
    if (std::string(image) != "ntfs_s512_c4k.img") continue;
    {
      // With the signature table's own check: the fixture's pictures carry
      // their format's leading bytes, so they pass it and are listed.
      DeepNtfsEngine checked;
      ScanImage(checked, quick.dir + "/" + image);
      auto shown = Walk(checked);
      EXPECT_TRUE(shown.count("0:root_deleted.jpg"));
      EXPECT_TRUE(shown.count("0:tiny.txt"));
      uint32_t all = 0, listed = 0;
      ASSERT_EQ(checked.CountFiles(nullptr, 0, all), kOk);
      ASSERT_EQ(engine.CountFiles(nullptr, 0, listed), kOk);
      EXPECT_EQ(all, listed);
    }
    ASSERT_TRUE(tree.count("0:huge.sparse"));
    const FoundItemRecord& r = tree["0:huge.sparse"];
    const uint64_t tailAt = 5ull * 1024 * 1024 * 1024 + 12345;
    EXPECT_EQ(uint64_t(r.size), tailAt + 4096);
    // Only the first and the last pieces are looked at; the hole reads as zeros.
    uint64_t total = 0;
    std::string head, tail;
    ASSERT_EQ(engine.ReadContent(r,
                                 [&](const uint8_t* d, size_t n) {
                                   if (total == 0) head.assign(reinterpret_cast<const char*>(d), 4);
                                   if (total <= tailAt && tailAt + 4 <= total + n)
                                     tail.assign(reinterpret_cast<const char*>(d + (tailAt - total)), 4);
                                   total += n;
                                   return 0;
                                 }),
              kOk);
    EXPECT_EQ(total, tailAt + 4096);
    EXPECT_EQ(head, "HEAD");
    EXPECT_EQ(tail, "TAIL");
  }
}

// ---------------------------------------------------------------------------
// Hand-made records on a small image: loops, lost parents, hostile names,
// damaged bytes.

constexpr uint32_t kSpc = 8;     // 4 KiB clusters
constexpr uint64_t kMftLcn = 8;  // the table at sector 64
constexpr uint64_t kMftSector = kMftLcn * kSpc;

struct RecordSpec {
  uint32_t number = 0;
  uint16_t flags = 1;
  uint64_t parent = 5;
  std::u16string name;
  std::vector<uint8_t> resident{};  // resident $DATA when no run is given
  bool hasData = true;
  uint64_t lcn = 0, clusters = 0, realSize = 0;  // one data run
  uint32_t fragments = 0;                        // or this many one-cluster runs at lcn, lcn + 2, ...
  std::vector<uint32_t> dataIn{};                // records an attribute list names for $DATA
  uint32_t base = 0;                             // the base record of an extension record
};

void Put16(std::vector<uint8_t>& b, size_t o, uint16_t v) { PutLe16(b.data() + o, v); }
void Put32(std::vector<uint8_t>& b, size_t o, uint32_t v) { PutLe32(b.data() + o, v); }
void Put64(std::vector<uint8_t>& b, size_t o, uint64_t v) { PutLe64(b.data() + o, v); }

std::vector<uint8_t> BuildRecord(const RecordSpec& s) {
  std::vector<uint8_t> r(1024, 0);
  std::memcpy(r.data(), "FILE", 4);
  Put16(r, 4, 48);
  Put16(r, 6, 3);
  Put16(r, 16, 1);
  Put16(r, 18, 1);
  Put16(r, 20, 56);
  Put16(r, 22, s.flags);
  Put32(r, 28, 1024);
  Put32(r, 44, s.number);
  Put64(r, 32, s.base);
  size_t at = 56;
  size_t len = 0;
  if (!s.dataIn.empty()) {
    len = 24 + 32 * s.dataIn.size();
    Put32(r, at, 0x20);
    Put32(r, at + 4, uint32_t(len));
    Put32(r, at + 16, uint32_t(32 * s.dataIn.size()));
    Put16(r, at + 20, 24);
    for (size_t i = 0; i < s.dataIn.size(); ++i) {
      size_t e = at + 24 + 32 * i;
      Put32(r, e, 0x80);
      Put16(r, e + 4, 32);
      r[e + 7] = 26;
      Put64(r, e + 16, s.dataIn[i] | (uint64_t(1) << 48));
    }
    at += len;
  }
  // $FILE_NAME
  if (!s.name.empty()) {
    size_t valueLen = 66 + 2 * s.name.size();
    len = (24 + valueLen + 7) & ~size_t(7);
    Put32(r, at, 0x30);
    Put32(r, at + 4, uint32_t(len));
    Put32(r, at + 16, uint32_t(valueLen));
    Put16(r, at + 20, 24);
    Put64(r, at + 24, s.parent | (uint64_t(1) << 48));
    r[at + 24 + 64] = uint8_t(s.name.size());
    r[at + 24 + 65] = 1;
    for (size_t i = 0; i < s.name.size(); ++i) Put16(r, at + 24 + 66 + 2 * i, uint16_t(s.name[i]));
    at += len;
  }
  if (s.hasData && s.clusters == 0 && !s.fragments) {
    len = (24 + s.resident.size() + 7) & ~size_t(7);
    Put32(r, at, 0x80);
    Put32(r, at + 4, uint32_t(len));
    Put32(r, at + 16, uint32_t(s.resident.size()));
    Put16(r, at + 20, 24);
    std::copy(s.resident.begin(), s.resident.end(), r.begin() + at + 24);
    at += len;
  } else if (s.hasData && s.fragments) {
    std::vector<uint8_t> runs{0x21, 1, uint8_t(s.lcn), uint8_t(s.lcn >> 8)};
    for (uint32_t k = 1; k < s.fragments; ++k) runs.insert(runs.end(), {0x11, 1, 2});
    runs.push_back(0);
    len = (64 + runs.size() + 7) & ~size_t(7);
    Put32(r, at, 0x80);
    Put32(r, at + 4, uint32_t(len));
    r[at + 8] = 1;
    Put64(r, at + 24, s.fragments - 1);
    Put16(r, at + 32, 64);
    Put64(r, at + 40, uint64_t(s.fragments) * kSpc * 512);
    Put64(r, at + 48, s.realSize);
    Put64(r, at + 56, s.realSize);
    std::copy(runs.begin(), runs.end(), r.begin() + at + 64);
    at += len;
  } else if (s.hasData) {
    len = 72;
    Put32(r, at, 0x80);
    Put32(r, at + 4, uint32_t(len));
    r[at + 8] = 1;
    Put64(r, at + 24, s.clusters - 1);
    Put16(r, at + 32, 64);
    Put64(r, at + 40, s.clusters * kSpc * 512);
    Put64(r, at + 48, s.realSize);
    Put64(r, at + 56, s.realSize);
    r[at + 64] = 0x22;  // 2-byte count, 2-byte LCN
    Put16(r, at + 65, uint16_t(s.clusters));
    Put16(r, at + 67, uint16_t(s.lcn));
    at += len;
  }
  Put32(r, at, 0xFFFFFFFFu);
  Put32(r, 24, uint32_t(at + 8));
  // The update sequence: tails saved in the array, the number put in their place.
  Put16(r, 48, 0x0007);
  for (int i = 1; i <= 2; ++i) {
    r[48 + 2 * i] = r[512 * i - 2];
    r[49 + 2 * i] = r[512 * i - 1];
    Put16(r, 512 * i - 2, 0x0007);
  }
  return r;
}

class DeepNtfsRecords : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::UsePrivateDataFolder(); }
  void SetUp() override { image_.assign(4 << 20, 0); }
  void Place(const RecordSpec& s, uint64_t sector) {
    auto r = BuildRecord(s);
    std::copy(r.begin(), r.end(), image_.begin() + sector * 512);
  }
  void PlaceInTable(const RecordSpec& s) { Place(s, kMftSector + 2 * s.number); }
  void PlaceMft() {
    RecordSpec mft;
    mft.number = 0;
    mft.name = u"$MFT";
    mft.lcn = kMftLcn;
    mft.clusters = 16;
    mft.realSize = 16 * 4096;
    PlaceInTable(mft);
  }
  std::string Write() {
    std::string path = dir_ / "synthetic.img";
    test::WriteBytes(path, image_);
    return path;
  }
  test::TempDir dir_;
  std::vector<uint8_t> image_;
};

TEST_F(DeepNtfsRecords, LoopsLostParentsAndSystemRecords) {
  PlaceMft();
  RecordSpec a{.number = 20, .flags = 3, .parent = 21, .name = u"LoopA", .resident = {}, .hasData = false};
  RecordSpec b{.number = 21, .flags = 3, .parent = 20, .name = u"LoopB", .resident = {}, .hasData = false};
  RecordSpec self{.number = 22, .flags = 3, .parent = 22, .name = u"Self", .resident = {}, .hasData = false};
  PlaceInTable(a);
  PlaceInTable(b);
  PlaceInTable(self);
  PlaceInTable({.number = 30, .parent = 20, .name = u"in_loop.txt", .resident = {'l', 'o', 'o', 'p'}});
  PlaceInTable({.number = 31, .parent = 22, .name = u"in_self.txt", .resident = {'s'}});
  // Parent 40 is a file now, parent 41 is nothing at all.
  PlaceInTable({.number = 40, .parent = 5, .name = u"was_a_folder.txt", .resident = {'x'}});
  PlaceInTable({.number = 32, .parent = 40, .name = u"orphan1.txt", .resident = {'1'}});
  PlaceInTable({.number = 33, .parent = 41, .name = u"orphan2.txt", .resident = {'2'}});
  PlaceInTable({.number = 7, .parent = 5, .name = u"$Boot", .resident = {'b'}});
  // Data in a cluster of its own.
  PlaceInTable({.number = 34,
                .parent = 5,
                .name = u"clustered.bin",
                .resident = {},
                .hasData = true,
                .lcn = 200,
                .clusters = 1,
                .realSize = 1000});
  for (int i = 0; i < 4096; ++i) image_[200 * 4096 + i] = uint8_t(i * 7);

  DeepNtfsEngine engine;
  ScanImage(engine, Write());
  auto tree = Walk(engine);
  EXPECT_TRUE(tree.count("0:LostFolder40/orphan1.txt"));
  EXPECT_TRUE(tree.count("0:LostFolder41/orphan2.txt"));
  EXPECT_TRUE(tree.count("0:was_a_folder.txt"));
  EXPECT_FALSE(tree.count("0:$Boot"));
  EXPECT_TRUE(tree.count("0:Self/in_self.txt"));
  // The loop ends: one of its folders sits at the top, the other below it.
  EXPECT_TRUE(tree.count("0:LoopA/LoopB") || tree.count("0:LoopB/LoopA"));
  bool inLoop = false;
  for (auto& [k, r] : tree) inLoop |= RecordName(r) == "in_loop.txt";
  EXPECT_TRUE(inLoop);
  // Each folder number makes one folder item.
  std::map<uint32_t, int> folders;
  for (uint32_t i = 1; i <= engine.Store()->Count(); ++i) {
    FoundItemRecord r;
    ASSERT_EQ(engine.Store()->Read(i, r), kOk);
    if (r.isFolder) {
      EXPECT_EQ(++folders[uint32_t(r.itemId)], 1) << RecordName(r);
    }
  }
  EXPECT_EQ(uint32_t(tree["0:LostFolder41"].clusterBytes), kNoClusterSize);
  ASSERT_TRUE(tree.count("0:clustered.bin"));
  EXPECT_EQ(uint32_t(tree["0:clustered.bin"].clusterBytes), 4096u);
  test::TempDir out;
  ASSERT_EQ(engine.RecoverItem(tree["0:clustered.bin"], out / "c.bin", 0), kOk);
  auto got = test::ReadBytes(out / "c.bin");
  ASSERT_EQ(got.size(), 1000u);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(got[i], uint8_t(i * 7));
}

TEST_F(DeepNtfsRecords, AVolumeWhoseTableStartIsGoneIsPlacedByItsMirror) {
  // A volume at sector 1000 whose first records another file system wrote
  // over: only the $MFTMirr copies of records 0 and 1 (mirror at cluster
  // 300, after the table) tell where it began.
  const uint64_t v = 1000;
  auto at = [&](const RecordSpec& s) { Place(s, v + kMftSector + 2 * s.number); };
  Place({.number = 0, .name = u"$MFT", .resident = {}, .lcn = kMftLcn, .clusters = 16, .realSize = 16 * 4096},
        v + 300 * kSpc);
  Place({.number = 1, .name = u"$MFTMirr", .resident = {}, .lcn = 300, .clusters = 1, .realSize = 4096},
        v + 300 * kSpc + 2);
  at({.number = 20, .flags = 3, .parent = 5, .name = u"Dir", .resident = {}, .hasData = false});
  at({.number = 34, .parent = 20, .name = u"clustered.bin", .resident = {}, .lcn = 200, .clusters = 1, .realSize = 1000});
  for (int i = 0; i < 4096; ++i) image_[(v + 200 * kSpc) * 512 + i] = uint8_t(i * 11);

  DeepNtfsEngine engine;
  ScanImage(engine, Write());
  auto tree = Walk(engine);
  ASSERT_TRUE(tree.count("1000:Dir/clustered.bin")) << (tree.empty() ? "" : tree.begin()->first);
  EXPECT_EQ(tree.size(), 2u);
  test::TempDir out;
  ASSERT_EQ(engine.RecoverItem(tree["1000:Dir/clustered.bin"], out / "c.bin", 0), kOk);
  auto got = test::ReadBytes(out / "c.bin");
  ASSERT_EQ(got.size(), 1000u);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(got[i], uint8_t(i * 11));
}

TEST_F(DeepNtfsRecords, NamesFromDiskStayInsideTheDestination) {
  PlaceMft();
  PlaceInTable({.number = 20, .flags = 3, .parent = 5, .name = u"..", .resident = {}, .hasData = false});
  PlaceInTable({.number = 30, .parent = 20, .name = u"../../escaped.txt", .resident = {'e'}});
  PlaceInTable({.number = 31, .parent = 20, .name = u"/etc/passwd", .resident = {'p'}});
  DeepNtfsEngine engine;
  ScanImage(engine, Write());
  std::vector<FoundItemRecord> top;
  ASSERT_EQ(engine.ListChildren(nullptr, 0, top), kOk);
  ASSERT_EQ(top.size(), 1u);
  test::TempDir root;
  std::string dest = root / "in";
  ASSERT_EQ(engine.RecoverItem(top[0], dest, CountSeparators(root.path())), kOk);
  size_t files = 0;
  for (auto& e : fs::recursive_directory_iterator(root.path())) {
    if (!e.is_regular_file()) continue;
    ++files;
    std::string p = fs::canonical(e.path()).string();
    EXPECT_EQ(p.rfind(fs::canonical(dest).string() + "/", 0), 0u) << p;
  }
  EXPECT_EQ(files, 2u);
  EXPECT_FALSE(fs::exists(fs::path(root.path()).parent_path() / "escaped.txt"));
}

TEST_F(DeepNtfsRecords, DamagedRecordsAreSkippedWithoutHarm) {
  PlaceMft();
  PlaceInTable({.number = 30, .parent = 5, .name = u"good.txt", .resident = {'g'}});
  std::string path = Write();
  DeepNtfsEngine engine;
  ScanLogFolder::Instance().BeginNewScanFolder();
  ASSERT_EQ(test::OpenImageIn(engine, path, 'D'), kOk);
  ASSERT_EQ(engine.StartScan(nullptr), kOk);

  // Random bytes after a valid header, at random places: folders claimed,
  // parents anywhere, names and runs of any length. Nothing may crash.
  std::mt19937 rng(1234);
  RecordSpec base{.number = 50,
                  .parent = 60,
                  .name = u"x.bin",
                  .resident = {},
                  .hasData = true,
                  .lcn = 300,
                  .clusters = 2,
                  .realSize = 5000};
  for (int i = 0; i < 3000; ++i) {
    auto r = BuildRecord(base);
    size_t from = 24 + rng() % 1000;
    for (size_t j = from; j < r.size(); ++j)
      if (rng() % 3 == 0) r[j] = uint8_t(rng());
    if (i % 5 == 0) Put32(r, 44, uint32_t(rng()));
    if (i % 7 == 0) Put32(r, 24, uint32_t(rng()));  // bytes in use beyond the record
    Put16(r, 48, r[510] | (r[511] << 8));
    uint64_t sector = rng() % 8192;
    Status s = engine.ProcessFileRecord(ByteView(r.data(), r.size()), sector);
    EXPECT_TRUE(s == kOk || s == kInvalidArg || s == kNotFileRecord) << s;
    // Also short buffers and the lost-folder mode.
    (void)engine.ProcessFileRecord(ByteView(r.data(), 600), sector);
    (void)engine.ProcessFileRecord(ByteView(r.data(), r.size()), sector, true, uint32_t(rng() % 100));
  }
  // A record whose bytes in use pass the record's end is refused.
  auto bad = BuildRecord({.number = 70, .parent = 5, .name = u"big.txt", .resident = {'b'}});
  Put32(bad, 24, 2000);
  EXPECT_EQ(engine.ProcessFileRecord(ByteView(bad.data(), bad.size()), 5000), kInvalidArg);
  EXPECT_EQ(engine.ProcessFileRecord(ByteView(image_.data(), 1024), 0), kNotFileRecord);
  EXPECT_EQ(engine.FinishScan(), kOk);
  // Whatever was made lists, counts and copies out without harm.
  auto tree = Walk(engine);
  test::TempDir out;
  int i = 0;
  for (auto& [k, r] : tree) {
    if (!r.isFolder) (void)engine.RecoverItem(r, out / std::to_string(i++), 0);
  }
  EXPECT_FALSE(tree.count("0:big.txt"));
}

TEST_F(DeepNtfsRecords, RunListLongerThanASectorIsDecodedWhole) {
  PlaceMft();
  // 200 one-cluster runs: the run list ends well past the record's first sector.
  RecordSpec f{.number = 30,
               .parent = 5,
               .name = u"scattered.bin",
               .resident = {},
               .hasData = true,
               .lcn = 300,
               .clusters = 0,
               .realSize = 200 * 4096 - 100,
               .fragments = 200};
  auto rec = BuildRecord(f);
  ASSERT_GT(ByteView(rec.data(), rec.size()).U32(24), 700u);
  PlaceInTable(f);
  for (uint32_t k = 0; k < 200; ++k) std::fill_n(image_.begin() + (300 + 2 * k) * 4096, 4096, uint8_t(k + 1));
  DeepNtfsEngine engine;
  ScanImage(engine, Write());
  auto tree = Walk(engine);
  ASSERT_TRUE(tree.count("0:scattered.bin"));
  EXPECT_EQ(uint32_t(tree["0:scattered.bin"].clusterBytes), 4096u);
  test::TempDir out;
  ASSERT_EQ(engine.RecoverItem(tree["0:scattered.bin"], out / "s.bin", 0), kOk);
  auto got = test::ReadBytes(out / "s.bin");
  ASSERT_EQ(got.size(), 200u * 4096 - 100);
  for (size_t i = 0; i < got.size(); i += 4096) ASSERT_EQ(got[i], uint8_t(i / 4096 + 1)) << i;
}

TEST_F(DeepNtfsRecords, DataHeldByAnExtensionRecordIsFollowed) {
  PlaceMft();
  // The base record lists its $DATA in record 31; record 33 claims to hold a
  // piece as well but belongs to another file, and is not taken.
  PlaceInTable(
      {.number = 30, .parent = 5, .name = u"listed.bin", .resident = {}, .hasData = false, .dataIn = {31, 33}});
  PlaceInTable({.number = 31,
                .parent = 0,
                .name = u"",
                .resident = {},
                .hasData = true,
                .lcn = 400,
                .clusters = 2,
                .realSize = 6000,
                .base = 30});
  PlaceInTable({.number = 33,
                .parent = 0,
                .name = u"",
                .resident = {},
                .hasData = true,
                .lcn = 500,
                .clusters = 2,
                .realSize = 6000,
                .base = 99});
  for (int i = 0; i < 8192; ++i) image_[400 * 4096 + i] = uint8_t(i * 13);
  DeepNtfsEngine engine;
  ScanImage(engine, Write());
  auto tree = Walk(engine);
  EXPECT_EQ(tree.size(), 1u);  // extension records are no items
  ASSERT_TRUE(tree.count("0:listed.bin"));
  test::TempDir out;
  ASSERT_EQ(engine.RecoverItem(tree["0:listed.bin"], out / "x", 0), kOk);
  auto got = test::ReadBytes(out / "x");
  ASSERT_EQ(got.size(), 6000u);
  for (int i = 0; i < 6000; ++i) ASSERT_EQ(got[i], uint8_t(i * 13)) << i;
}

TEST_F(DeepNtfsRecords, AbsurdSparseSizeIsRefusedNotCopiedForEver) {
  PlaceMft();
  RecordSpec f{.number = 30,
               .parent = 5,
               .name = u"z.bin",
               .resident = {},
               .hasData = true,
               .lcn = 300,
               .clusters = 0,
               .realSize = 4096,
               .fragments = 3};
  auto rec = BuildRecord(f);
  const size_t data = 56 + 104;  // after the $FILE_NAME of a 5-letter name
  ASSERT_EQ(ByteView(rec.data(), rec.size()).U32(data), 0x80u);
  // One sparse run of 2^50 clusters and a real size of 2^60 bytes.
  const uint64_t clusters = uint64_t(1) << 50;
  rec[data + 64] = 0x08;
  Put64(rec, data + 65, clusters);
  rec[data + 73] = 0;
  Put64(rec, data + 24, clusters - 1);
  Put64(rec, data + 40, clusters * 4096);
  Put64(rec, data + 48, uint64_t(1) << 60);
  Put64(rec, data + 56, 0);
  std::copy(rec.begin(), rec.end(), image_.begin() + (kMftSector + 60) * 512);
  DeepNtfsEngine engine;
  ScanImage(engine, Write());
  auto tree = Walk(engine);
  ASSERT_TRUE(tree.count("0:z.bin"));
  uint64_t got = 0;
  EXPECT_EQ(engine.ReadContent(tree["0:z.bin"],
                               [&](const uint8_t*, size_t n) {
                                 got += n;
                                 return 0;
                               }),
            kInvalidData);
  EXPECT_EQ(got, 0u);
}

TEST_F(DeepNtfsRecords, RecordNoTableExplainsBelongsToTheScannedArea) {
  // No $MFT at all: a partition scan places the file in the area's volume.
  Place({.number = 40, .parent = 5, .name = u"lonely.txt", .resident = {'l'}}, 1000);
  DiskTable::SetOverride({Write()});
  ScanLogFolder::Instance().BeginNewScanFolder();
  DeepNtfsEngine engine;
  ASSERT_EQ(test::OpenDiskIn(engine, 0, 256, 4096, 'P'), kOk);
  ASSERT_EQ(engine.StartScan(nullptr), kOk);
  EXPECT_EQ(engine.Tables().size(), 0u);
  EXPECT_EQ(engine.ProcessFileRecord(ByteView(image_.data() + 1000 * 512, 1024), 1000), kOk);
  EXPECT_EQ(engine.FinishScan(), kOk);
  auto tree = Walk(engine);
  ASSERT_TRUE(tree.count("256:lonely.txt"));
  EXPECT_EQ(uint64_t(tree["256:lonely.txt"].location), 1000u);
  test::TempDir out;
  ASSERT_EQ(engine.RecoverItem(tree["256:lonely.txt"], out / "l", 0), kOk);
  EXPECT_EQ(test::ReadBytes(out / "l"), std::vector<uint8_t>{'l'});
}

TEST_F(DeepNtfsRecords, FolderLimitKeepsEveryFileVisible) {
  PlaceMft();
  PlaceInTable({.number = 20, .flags = 3, .parent = 5, .name = u"First", .resident = {}, .hasData = false});
  PlaceInTable({.number = 21, .flags = 3, .parent = 20, .name = u"Second", .resident = {}, .hasData = false});
  PlaceInTable({.number = 22, .flags = 3, .parent = 23, .name = u"Third", .resident = {}, .hasData = false});
  PlaceInTable({.number = 30, .parent = 20, .name = u"a.txt", .resident = {'a'}});
  PlaceInTable({.number = 31, .parent = 21, .name = u"b.txt", .resident = {'b'}});
  PlaceInTable({.number = 32, .parent = 22, .name = u"c.txt", .resident = {'c'}});
  PlaceInTable({.number = 33, .parent = 20, .name = u"d.txt", .resident = {'d'}});
  // A folder record handed over by mistake adds nothing.
  DeepNtfsEngine engine;
  engine.SetFolderLimit(1);
  ScanImage(engine, Write());
  EXPECT_EQ(engine.FolderCount(), 1u);
  auto tree = Walk(engine);
  EXPECT_TRUE(tree.count("0:First/a.txt"));
  EXPECT_TRUE(tree.count("0:First/d.txt"));
  EXPECT_TRUE(tree.count("0:b.txt"));
  EXPECT_TRUE(tree.count("0:c.txt"));
  EXPECT_EQ(tree.size(), 5u);
}

// A stop asked for while the folders are made (their records read once
// more): the answer comes back at once, no record is read after it, and
// every file stays listed in its place, its folders named after their
// numbers. Without the stop the same folders keep their names.
TEST_F(DeepNtfsRecords, AStopWhileFoldersAreMadeEndsAtOnceAndKeepsEveryFile) {
  PlaceMft();
  PlaceInTable({.number = 20, .flags = 3, .parent = 5, .name = u"First", .resident = {}, .hasData = false});
  PlaceInTable({.number = 21, .flags = 3, .parent = 20, .name = u"Second", .resident = {}, .hasData = false});
  PlaceInTable({.number = 30, .parent = 20, .name = u"a.txt", .resident = {'a'}});
  PlaceInTable({.number = 31, .parent = 21, .name = u"b.txt", .resident = {'b'}});
  PlaceInTable({.number = 32, .parent = 5, .name = u"top.txt", .resident = {'t'}});
  const std::string path = Write();
  struct Asked {
    int calls = 0;
    int answer = 0;
  };
  auto ask = [](void* u, int, int, int64_t, uint64_t, uint64_t, uint64_t, uint64_t) -> int {
    auto* a = static_cast<Asked*>(u);
    ++a->calls;
    return a->answer;
  };
  {
    DeepNtfsEngine engine;
    Asked asked;
    (void)engine.SetCallbacks(ask, nullptr, &asked, 90);
    ScanImage(engine, path);
    EXPECT_GE(asked.calls, 1) << "the folder step asks about stopping";
    auto tree = Walk(engine);
    EXPECT_TRUE(tree.count("0:First/a.txt"));
    EXPECT_TRUE(tree.count("0:First/Second/b.txt"));
  }
  DeepNtfsEngine engine;
  Asked asked{0, kStopRequested};
  (void)engine.SetCallbacks(ask, nullptr, &asked, 90);
  ScanImage(engine, path, kStopRequested);
  EXPECT_EQ(asked.calls, 1) << "asked once, then no more questions";
  auto tree = Walk(engine);
  EXPECT_TRUE(tree.count("0:LostFolder20/a.txt"));
  EXPECT_TRUE(tree.count("0:LostFolder20/LostFolder21/b.txt"));
  EXPECT_TRUE(tree.count("0:top.txt"));
  EXPECT_EQ(tree.size(), 5u);
  EXPECT_EQ(uint64_t(tree["0:LostFolder20/LostFolder21"].location), kMftSector + 2 * 21);
}

TEST_F(DeepNtfsRecords, FoldersPassedInAreIgnoredAndAResumedLogGrows) {
  PlaceMft();
  PlaceInTable({.number = 20, .flags = 3, .parent = 5, .name = u"Dir", .resident = {}, .hasData = false});
  PlaceInTable({.number = 30, .parent = 20, .name = u"one.txt", .resident = {'1'}});
  std::string path = Write();
  std::string log;
  {
    DeepNtfsEngine engine;
    ScanImage(engine, path);
    EXPECT_EQ(engine.GetFoundCount(), 2);  // the file and its folder
    auto folder =
        BuildRecord({.number = 40, .flags = 3, .parent = 5, .name = u"Other", .resident = {}, .hasData = false});
    EXPECT_EQ(engine.ProcessFileRecord(ByteView(folder.data(), folder.size()), 500), kOk);
    EXPECT_EQ(engine.GetFoundCount(), 2);
    log = fs::path(engine.Store()->LogPath()).filename().string();
  }
  // The resumed part meets another file of the same folder (on the medium:
  // a record no table explains yet is read again when the pass ends).
  PlaceInTable({.number = 31, .parent = 20, .name = u"two.txt", .resident = {'2'}});
  Write();
  DeepNtfsEngine engine;
  ASSERT_EQ(test::OpenImageIn(engine, path, 'D'), kOk);
  ASSERT_EQ(engine.StartScan(&log), kOk);
  EXPECT_EQ(engine.GetFoundCount(), 2);
  auto two = BuildRecord({.number = 31, .parent = 20, .name = u"two.txt", .resident = {'2'}});
  EXPECT_EQ(engine.ProcessFileRecord(ByteView(two.data(), two.size()), kMftSector + 62), kOk);
  EXPECT_EQ(engine.FinishScan(), kOk);
  EXPECT_EQ(engine.GetFoundCount(), 3);
  auto tree = Walk(engine);
  EXPECT_TRUE(tree.count("0:Dir/one.txt"));
  EXPECT_TRUE(tree.count("0:Dir/two.txt"));
}

TEST(MftMapTest, RecordsAreAttributedByWhereTheirTableWouldPutThem) {
  // Two fragments: clusters 0-3 at LCN 10, clusters 4-7 at LCN 100 (8 sectors each).
  std::vector<Extent> ext{{0, 10, 4, false}, {4, 100, 4, false}};
  MftTable t;
  ASSERT_TRUE(MakeMftTable(ext, 1000 + 80, 8, t));
  EXPECT_EQ(t.volumeStart, 1000u);
  MftMap map;
  ASSERT_TRUE(map.Add(t));
  // Record 3 in the first fragment, record 17 (sector 34 of the table) in the second.
  EXPECT_NE(map.Attribute(3, 1080 + 6, 2), nullptr);
  EXPECT_NE(map.Attribute(17, 1000 + 800 + 2, 2), nullptr);
  EXPECT_EQ(map.Attribute(17, 1080 + 34, 2), nullptr);
  // Past the end: where the last fragment would go on.
  EXPECT_NE(map.Attribute(40, 1000 + 800 + 80 - 32, 2), nullptr);
  // A table that would start before the disk is refused.
  EXPECT_FALSE(MakeMftTable(ext, 40, 8, t));
  // The map does not grow without bound.
  for (uint64_t k = 0; k < MftMap::kMaxTables + 10; ++k) {
    MftTable u = ContiguousTable(k * 100);
    map.Add(u);
  }
  EXPECT_EQ(map.size(), MftMap::kMaxTables);
}

}  // namespace
}  // namespace dunmere
