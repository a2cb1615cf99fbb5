// The quick NTFS engine on volumes made by mkntfs and filled through ntfs-3g:
// every deleted file listed in the fixture's manifest must be found at its
// folder path and recovered byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <unistd.h>

#include "engine/scan_log_folder.h"
#include "engine/store_engine.h"
#include "base/text.h"
#include "ntfs/quick/quick_ntfs_engine.h"
#include "storage/disk_table.h"
#include "scan/engine_factory.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

namespace fs = std::filesystem;

struct Expected {
  std::string image, folder, name, sha256;
  uint64_t size = 0;
  std::string Path() const { return folder.empty() ? name : folder + "/" + name; }
};

// The images are made once and kept in the build tree, keyed by the script's
// hash, so that every test process (ctest runs each test alone) shares them.
struct Images {
  std::string dir;
  bool ready = false;
  bool missingTool = false;  // only then is the test skipped; any other failure fails it
  std::string why;
  std::vector<Expected> expected;
  std::string operator/(const std::string& name) const { return dir + "/" + name; }
};

Images& Fixture() {
  static Images* images = [] {
    auto* im = new Images;
    test::CachedFixture f = test::MakeCachedFixture("make_ntfs_images.sh", "ntfs-images");
    if (f.dir.empty()) {
      im->missingTool = f.missingTool;
      im->why = f.message;
      return im;
    }
    im->dir = f.dir;
    for (const std::vector<std::string>& f : test::ReadTsvRows(im->dir + "/manifest.tsv")) {
      if (f.size() < 5) continue;
      im->expected.push_back({f[0], f[1], f[2], f[3], std::stoull(f[4])});
    }
    im->ready = !im->expected.empty();
    if (!im->ready) im->why = "empty manifest";
    return im;
  }();
  return *images;
}

class NtfsImages : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::UsePrivateDataFolder(); }
  void SetUp() override {
    if (Fixture().missingTool) GTEST_SKIP() << Fixture().why;
    ASSERT_TRUE(Fixture().ready) << Fixture().why;
  }
  std::string Image(const std::string& name) { return Fixture() / name; }

  // Scans an image and maps "folder/.../name" to each record.
  std::map<std::string, FoundItemRecord> ScanTree(QuickNtfsEngine& engine, const std::string& image) {
    ScanLogFolder::Instance().BeginNewScanFolder();
    EXPECT_EQ(engine.OpenImage(image, 'I'), kOk);
    EXPECT_EQ(engine.Scan(nullptr), kOk);
    return Walk(engine);
  }
  static std::map<std::string, FoundItemRecord> Walk(ScanEngine& engine) {
    std::map<std::string, FoundItemRecord> tree;
    std::vector<std::tuple<FoundItemRecord, std::string, uint32_t>> stack;
    std::vector<FoundItemRecord> kids;
    (void)engine.ListChildren(nullptr, 0, kids);
    for (auto& k : kids) stack.emplace_back(k, RecordName(k), 1);
    while (!stack.empty()) {
      auto [r, path, level] = stack.back();
      stack.pop_back();
      tree[path] = r;
      if (!r.isFolder) continue;
      (void)engine.ListChildren(&r, level, kids);
      for (auto& k : kids) stack.emplace_back(k, path + "/" + RecordName(k), level + 1);
    }
    return tree;
  }
};

TEST_F(NtfsImages, EveryDeletedFileIsFoundAtItsPathAndRecoveredExactly) {
  std::set<std::string> images;
  for (const Expected& e : Fixture().expected) images.insert(e.image);
  ASSERT_EQ(images.size(), 3u);
  for (const std::string& image : images) {
    SCOPED_TRACE(image);
    QuickNtfsEngine engine;
    auto tree = ScanTree(engine, Image(image));
    test::TempDir out;
    for (const Expected& e : Fixture().expected) {
      if (e.image != image || e.sha256 == "-") continue;
      SCOPED_TRACE(e.Path());
      ASSERT_TRUE(tree.count(e.Path()));
      const FoundItemRecord& r = tree[e.Path()];
      EXPECT_EQ(+r.size, e.size);
      EXPECT_EQ(+r.isFolder, 0u);
      std::string folder;
      ASSERT_EQ(engine.GetFolderPath(&r, folder), kOk);
      EXPECT_EQ(folder, e.folder.empty() ? "" : e.folder + "/");
      std::string dest = out / "file.out";
      ASSERT_EQ(engine.RecoverItem(r, dest, 0), kOk);
      EXPECT_EQ(test::Sha256OfFile(dest), e.sha256);
    }
    // Files still in use are not offered.
    EXPECT_FALSE(tree.count("root_kept.txt"));
    EXPECT_FALSE(tree.count("reuser.bin"));
  }
}

TEST_F(NtfsImages, FoldersLevelsAndLostFolders) {
  QuickNtfsEngine engine;
  auto tree = ScanTree(engine, Image("ntfs_s512_c4k.img"));
  std::string lost;
  for (const Expected& e : Fixture().expected)
    if (e.name == "orphan.bin") lost = e.folder;
  ASSERT_EQ(lost.rfind("LostFolder", 0), 0u);
  // The lost folder and the deleted folder tree hang at the top level.
  std::vector<FoundItemRecord> top;
  ASSERT_EQ(engine.ListChildren(nullptr, 0, top), kOk);
  std::map<std::string, FoundItemRecord> topByName;
  for (auto& r : top) topByName[RecordName(r)] = r;
  ASSERT_TRUE(topByName.count(lost));
  EXPECT_EQ(+topByName[lost].clusterBytes, kNoClusterSize);
  ASSERT_TRUE(topByName.count("Gone"));
  EXPECT_EQ(+topByName["Gone"].isFolder, 1u);
  // Files come before folders in a listing.
  bool seenFolder = false;
  for (auto& r : top) {
    if (r.isFolder) seenFolder = true;
    else EXPECT_FALSE(seenFolder) << RecordName(r);
  }
  // The nested file sits three levels down: Live, Nested, Deeper.
  std::vector<FoundItemRecord> deeper;
  ASSERT_EQ(engine.ListChildren(&tree["Live/Nested/Deeper"], 3, deeper), kOk);
  ASSERT_EQ(deeper.size(), 1u);
  EXPECT_EQ(RecordName(deeper[0]), "deep.dat");
  uint32_t count = 0;
  ASSERT_EQ(engine.CountFiles(&topByName["Gone"], 1, count), kOk);
  EXPECT_EQ(count, 3u);
  // The store holds the long name and the non-ASCII name as they were.
  EXPECT_TRUE(tree.count("Live/\xc3\x9cn\xc3\xaf" "c\xc3\xb8" "d\xc3\xa9_\xe5\x90\x8d\xe5\x89\x8d_\xd1\x84\xd0\xb0\xd0\xb9\xd0\xbb.bin"));
}

TEST_F(NtfsImages, WholeFolderRecoveryAndStop) {
  QuickNtfsEngine engine;
  auto tree = ScanTree(engine, Image("ntfs_s512_c4k.img"));
  ASSERT_TRUE(tree.count("Gone"));
  test::TempDir out;
  std::string dest = out / "Gone";
  ASSERT_EQ(engine.RecoverItem(tree["Gone"], dest, CountSeparators(out.path())), kOk);
  std::map<std::string, std::string> want;
  for (const Expected& e : Fixture().expected)
    if (e.folder.rfind("Gone", 0) == 0) want[e.Path()] = e.sha256;
  ASSERT_EQ(want.size(), 3u);
  for (auto& [path, sha] : want) EXPECT_EQ(test::Sha256OfFile(out / path), sha) << path;

  // A stop answered after the first piece ends the whole walk with -9527.
  struct Counter {
    int calls = 0;
  } counter;
  (void)engine.SetCallbacks(
      nullptr,
      [](void* u, int, int, Status, const std::string&) -> int {
        return ++static_cast<Counter*>(u)->calls >= 1 ? kStopRequested : 0;
      },
      &counter, 100);
  test::TempDir out2;
  EXPECT_EQ(engine.RecoverItem(tree["Gone"], out2 / "Gone", CountSeparators(out2.path())), kStopRequested);
  EXPECT_EQ(counter.calls, 1);
}

TEST_F(NtfsImages, ContentCheckHidesPicturesThatFailIt) {
  std::vector<std::string> asked;
  QuickNtfsEngine engine;
  engine.SetContentCheck([&](const ContentSample& s) {
    asked.emplace_back(s.extension);
    EXPECT_GE(s.firstBytes.size(), 19u);
    return s.extension != "jpg";
  });
  auto tree = ScanTree(engine, Image("ntfs_s512_c4k.img"));
  EXPECT_FALSE(tree.count("root_deleted.jpg"));
  EXPECT_TRUE(tree.count("tiny.txt"));
  EXPECT_NE(std::find(asked.begin(), asked.end(), "jpg"), asked.end());
  EXPECT_NE(std::find(asked.begin(), asked.end(), "txt"), asked.end());  // resident data is checked too
  std::vector<FoundItemRecord> found;
  ASSERT_EQ(engine.SearchByType("*.jpg|*.txt", found), 1);
  for (auto& r : found) EXPECT_NE(RecordName(r), "root_deleted.jpg");
  uint32_t all = 0;
  ASSERT_EQ(engine.CountFiles(nullptr, 0, all), kOk);
  uint32_t listed = 0;
  for (auto& [path, r] : tree) listed += r.isFolder ? 0 : 1;
  EXPECT_EQ(all, listed + 1);  // still counted
}

TEST_F(NtfsImages, SparseFileBeyondFourGiB) {
  QuickNtfsEngine engine;
  auto tree = ScanTree(engine, Image("ntfs_s512_c4k.img"));
  ASSERT_TRUE(tree.count("huge.sparse"));
  const FoundItemRecord& r = tree["huge.sparse"];
  const uint64_t tailAt = 5ull * 1024 * 1024 * 1024 + 12345;
  EXPECT_EQ(+r.size, tailAt + 4096);
  uint64_t total = 0;
  std::string head, tail;
  bool zerosBetween = true;
  ASSERT_EQ(engine.ReadContent(r,
                               [&](const uint8_t* d, size_t n) {
                                 static const std::vector<uint8_t> zeros(65536, 0);
                                 uint64_t end = total + n;
                                 if (total == 0) head.assign(reinterpret_cast<const char*>(d), 4);
                                 if (total <= tailAt && tailAt + 4 <= end)
                                   tail.assign(reinterpret_cast<const char*>(d + (tailAt - total)), 4);
                                 // The hole between the two written ends reads as zeros.
                                 if (total >= 4096 && end <= tailAt && std::memcmp(d, zeros.data(), n) != 0)
                                   zerosBetween = false;
                                 total = end;
                                 return 0;
                               }),
            kOk);
  EXPECT_EQ(total, tailAt + 4096);
  EXPECT_EQ(head, "HEAD");
  EXPECT_EQ(tail, "TAIL");
  EXPECT_TRUE(zerosBetween);
}

// A batch of records whose files are slow to read (a slow disk, here a
// content check that takes its time): the stop question is asked between
// records, not only after the batch, and the scan ends a few records after
// the stop with the files found so far listed.
TEST_F(NtfsImages, AStopIsSeenWithinABatchOfSlowRecords) {
  test::UsePrivateDataFolder();
  test::CachedFixture f = test::MakeCachedFixture("make_ntfs_stop_image.sh", "ntfs-stop-image");
  if (f.missingTool) GTEST_SKIP() << f.message;
  ASSERT_FALSE(f.dir.empty()) << f.message;
  const std::string image = f.dir + "/named_files.img";
  struct Seen {
    int checks = 0, asked = 0, checksWhenAsked = 0;
  } seen;
  int fullChecks = 0;
  {
    QuickNtfsEngine engine;
    ScanLogFolder::Instance().BeginNewScanFolder();
    ASSERT_EQ(engine.OpenImage(image, 'I'), kOk);
    engine.SetContentCheck([&](const ContentSample&) { return ++fullChecks > 0; });
    ASSERT_EQ(engine.Scan(nullptr), kOk);
  }
  ASSERT_GE(fullChecks, 300);
  QuickNtfsEngine engine;
  ScanLogFolder::Instance().BeginNewScanFolder();
  ASSERT_EQ(engine.OpenImage(image, 'I'), kOk);
  engine.SetContentCheck([&](const ContentSample&) {
    // Longer than the stop question's interval: the next question is due.
    if (++seen.checks == 1) usleep(150 * 1000);
    return true;
  });
  (void)engine.SetCallbacks(
      [](void* u, int, int, int64_t, uint64_t, uint64_t, uint64_t, uint64_t) -> int {
        auto* s = static_cast<Seen*>(u);
        if (++s->asked == 1) s->checksWhenAsked = s->checks;
        return kStopRequested;
      },
      nullptr, &seen, 100);
  EXPECT_EQ(engine.Scan(nullptr), kStopRequested);
  EXPECT_EQ(seen.asked, 1);
  // Asked within the 16 records after the slow one, long before the batch ends.
  EXPECT_LE(seen.checks, 17);
  EXPECT_EQ(seen.checks, seen.checksWhenAsked);
  size_t listed = 0;
  for (const auto& [path, r] : Walk(engine)) {
    listed += r.isFolder ? 0 : 1;
    if (!r.isFolder) {
      EXPECT_EQ(path.rfind("notes/", 0), 0u) << path;
    }
  }
  EXPECT_EQ(listed, size_t(seen.checks));
}

TEST_F(NtfsImages, ScanProgressStopAndPreview) {
  QuickNtfsEngine engine;
  ScanLogFolder::Instance().BeginNewScanFolder();
  ASSERT_EQ(engine.OpenImage(Image("ntfs_s512_c512.img"), 'I'), kOk);
  struct Progress {
    std::vector<int> percents;
    bool stop = false;
  } p;
  auto cb = [](void* u, int percent, int share, int64_t, uint64_t, uint64_t, uint64_t, uint64_t) -> int {
    auto* pr = static_cast<Progress*>(u);
    pr->percents.push_back(percent);
    return pr->stop ? kStopRequested : 0;
  };
  (void)engine.SetCallbacks(cb, nullptr, &p, 100);
  ASSERT_EQ(engine.Scan(nullptr), kOk);
  ASSERT_GE(p.percents.size(), 3u);  // one per batch of 1,024 records, and the final 100
  EXPECT_EQ(p.percents.back(), 100);
  EXPECT_TRUE(std::is_sorted(p.percents.begin(), p.percents.end()));

  // Stopped at the first report: the answer comes back, and the files of the
  // first batch stay listed under their folders.
  p = {};
  p.stop = true;
  ScanLogFolder::Instance().BeginNewScanFolder();
  EXPECT_EQ(engine.Scan(nullptr), kStopRequested);
  EXPECT_EQ(p.percents.size(), 1u);
  size_t files = 0;
  for (uint32_t i = 1; i <= engine.Store()->Count(); ++i) {
    FoundItemRecord r;
    ASSERT_EQ(engine.Store()->Read(i, r), kOk);
    if (!r.isFolder) ++files;
  }
  EXPECT_GT(files, 0u);
  size_t listed = 0;
  for (const auto& [path, r] : Walk(engine)) listed += r.isFolder ? 0 : 1;
  EXPECT_EQ(listed, files);

  // Preview of a type without a viewer: into the caller's buffer.
  (void)engine.SetCallbacks(nullptr, nullptr, nullptr, 100);
  ScanLogFolder::Instance().BeginNewScanFolder();
  ASSERT_EQ(engine.Scan(nullptr), kOk);
  auto tree = Walk(engine);
  ASSERT_TRUE(tree.count("plain.bin"));
  std::vector<uint8_t> buf(1000);
  uint64_t n = buf.size();
  std::string path;
  ASSERT_EQ(engine.ReadForPreview(&tree["plain.bin"], path, buf.data(), n, nullptr, nullptr), kOk);
  EXPECT_EQ(n, 1000u);
  EXPECT_TRUE(path.empty());
}

TEST_F(NtfsImages, PartitionOfADiskThroughTheFactory) {
  // The 4 KiB-sector volume placed at sector 2,048 of a "disk".
  test::TempDir work;
  std::string disk = work / "disk.img";
  {
    std::ofstream out(disk, std::ios::binary);
    std::vector<char> zeros(1 << 20, 0);
    out.write(zeros.data(), zeros.size());
    std::ifstream in(Image("ntfs_s4096_c64k.img"), std::ios::binary);
    out << in.rdbuf();
  }
  uint64_t sectors = (fs::file_size(disk) - (1 << 20)) / 512;
  DiskTable::SetOverride({disk});
  ScanLogFolder::Instance().BeginNewScanFolder();
  auto engine = CreateEngineForPartition(0, 2048, sectors, 'P', false);
  DiskTable::SetOverride({});
  ASSERT_NE(engine, nullptr);
  ASSERT_NE(dynamic_cast<QuickNtfsEngine*>(engine.get()), nullptr);
  ASSERT_EQ(engine->Scan(nullptr), kOk);
  auto tree = Walk(*engine);
  test::TempDir out;
  for (const Expected& e : Fixture().expected) {
    if (e.image != "ntfs_s4096_c64k.img") continue;
    ASSERT_TRUE(tree.count(e.Path())) << e.Path();
    const FoundItemRecord& r = tree[e.Path()];
    EXPECT_EQ(+r.partitionStart, 2048u / 8);  // in the volume's 4 KiB sectors
    EXPECT_EQ(+r.clusterBytes, 65536u);
    ASSERT_EQ(engine->RecoverItem(r, out / "f", 0), kOk);
    EXPECT_EQ(test::Sha256OfFile(out / "f"), e.sha256);
  }
  EXPECT_NE(dynamic_cast<QuickNtfsEngine*>(CreateEngineForImage(Image("ntfs_s512_c4k.img"), 'I', false).get()),
            nullptr);
}

TEST_F(NtfsImages, FreeExtentsFollowTheAllocationBitmap) {
  QuickNtfsEngine engine;
  ASSERT_EQ(engine.OpenImage(Image("ntfs_s512_c4k.img"), 'I'), kOk);
  ASSERT_EQ(engine.LoadAllocationBitmap(), kOk);
  const uint64_t volume = fs::file_size(Image("ntfs_s512_c4k.img")) / 512;
  uint64_t s = 0, free = 0, last = 0;
  int steps = 0;
  for (;; ++steps) {
    uint64_t n = 0;
    ASSERT_EQ(engine.NextFreeExtent(s, n), 1);
    if (n == 0) break;
    ASSERT_GE(s, last);
    ASSERT_LE(s + n, volume);
    free += n;
    last = s + n;
    s += n;
    ASSERT_LT(steps, 100000);
  }
  EXPECT_GT(free, 0u);
  EXPECT_LT(free, volume);
  // The $MFT's first cluster is in use, so no free extent starts at sector 0.
  s = 0;
  uint64_t n = 0;
  (void)engine.NextFreeExtent(s, n);
  EXPECT_GT(s, 0u);
}

// The listing of every fixture image as the build before the single-pass
// store and the batched log reads gave it (names, sizes, folder paths): the
// faster scan must find exactly the same items.
TEST_F(NtfsImages, ListingMatchesTheEarlierBuildsGoldenListing) {
  std::map<std::string, std::vector<std::string>> golden;
  std::ifstream in(test::SourcePath("tests/ntfs/golden/quick_scan_listing.tsv"));
  std::string line;
  while (std::getline(in, line)) golden[line.substr(0, line.find('\t'))].push_back(line);
  ASSERT_EQ(golden.size(), 3u);
  for (auto& [image, want] : golden) {
    QuickNtfsEngine engine;
    ScanLogFolder::Instance().BeginNewScanFolder();
    ASSERT_EQ(engine.OpenImage(Image(image), 'I'), kOk);
    ASSERT_EQ(engine.Scan(nullptr), kOk);
    std::vector<std::string> got;
    std::vector<std::tuple<FoundItemRecord, std::string, uint32_t>> stack;
    std::vector<FoundItemRecord> kids;
    ASSERT_EQ(engine.ListChildren(nullptr, 0, kids), kOk);
    for (auto& k : kids) stack.emplace_back(k, "", 1);
    while (!stack.empty()) {
      auto [r, folder, level] = stack.back();
      stack.pop_back();
      got.push_back(image + "\t" + folder + "\t" + RecordName(r) + "\t" + std::to_string(uint64_t(r.size)) + "\t" +
                    (r.isFolder ? "D" : "F"));
      if (!r.isFolder) continue;
      ASSERT_EQ(engine.ListChildren(&r, level, kids), kOk);
      for (auto& k : kids) stack.emplace_back(k, folder + RecordName(r) + "/", level + 1);
    }
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want) << image;
  }
}

}  // namespace
}  // namespace dunmere
