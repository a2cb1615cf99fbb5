#include "engine/store_engine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "base/text.h"
#include "engine/scan_log_folder.h"
#include "tests/support/test_support.h"
#include "engine/destination_name.h"

namespace fs = std::filesystem;

namespace dunmere {
namespace {

using test::TempDir;

// A store-keeping engine whose files live in memory: enough to exercise
// everything the shared engine operations do.
class MemoryEngine : public StoreEngine {
 public:
  MemoryEngine() {
    test::UsePrivateDataFolder();
    ScanLogFolder::Instance().BeginNewScanFolder();
    EXPECT_EQ(OpenStore("Fast_mem"), kOk);
  }

  // Adds an item under {parent, level}; files get `content`.
  FoundItemRecord Add(const std::string& name, uint32_t id, uint32_t parent, uint32_t level, bool folder,
                      const std::string& content = "", uint32_t contentOk = 1) {
    FoundItemRecord r = MakeEmptyRecord();
    SetRecordName(r, name);
    r.itemId = id;
    r.isFolder = folder;
    r.contentOk = contentOk;
    r.size = content.size();
    uint32_t idx = store_->Append(r, parent, level);
    contents_[idx] = content;
    r.recordIndex = idx;
    return r;
  }

  Status ReadContent(const FoundItemRecord& rec, const ContentSink& sink) override {
    const std::string& c = contents_[uint32_t(rec.recordIndex)];
    if (c == "<unreadable>") return kReadFault;
    for (size_t off = 0; off < c.size(); off += 4) {
      size_t n = std::min<size_t>(4, c.size() - off);
      if (int a = sink(reinterpret_cast<const uint8_t*>(c.data()) + off, n)) return a;
    }
    return kOk;
  }

 protected:
  uint32_t RootId() const override { return 5; }

 private:
  std::map<uint32_t, std::string> contents_;
};

std::vector<std::string> Names(const std::vector<FoundItemRecord>& v) {
  std::vector<std::string> out;
  for (const auto& r : v) out.push_back(RecordName(r));
  return out;
}

TEST(StoreEngineListing, EmptyTopLevelAndNullFolderWithLevel) {
  MemoryEngine e;
  std::vector<FoundItemRecord> out;
  EXPECT_EQ(e.ListChildren(nullptr, 0, out), kOk);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(e.ListChildren(nullptr, 1, out), kInvalidArg);
  uint32_t n = 9;
  EXPECT_EQ(e.CountFiles(nullptr, 2, n), kInvalidArg);
}

TEST(StoreEngineListing, FilesBeforeFoldersCaseInsensitiveAndHiddenBadPicturesStillCounted) {
  MemoryEngine e;
  e.Add("zeta", 20, 5, 0, true);
  e.Add("Beta.txt", 11, 5, 0, false, "b");
  e.Add("alpha.TXT", 12, 5, 0, false, "a");
  e.Add("Alpha", 21, 5, 0, true);
  e.Add("broken.jpg", 13, 5, 0, false, "x", /*contentOk=*/0);
  e.Add("broken.doc", 14, 5, 0, false, "x", /*contentOk=*/0);
  e.Add("inner.jpg", 15, 20, 1, false, "i", 0);
  e.Add("inner.txt", 16, 20, 1, false, "i");
  std::vector<FoundItemRecord> out;
  ASSERT_EQ(e.ListChildren(nullptr, 0, out), kOk);
  EXPECT_EQ(Names(out), (std::vector<std::string>{"alpha.TXT", "Beta.txt", "broken.doc", "Alpha", "zeta"}));
  uint32_t count = 0;
  ASSERT_EQ(e.CountFiles(nullptr, 0, count), kOk);
  EXPECT_EQ(count, 6u);  // the hidden pictures count too
  EXPECT_EQ(e.GetFoundCount(), 8);
}

TEST(StoreEngineListing, FolderPathsAndLoopsInDamagedRelations) {
  MemoryEngine e;
  FoundItemRecord top = e.Add("top", 30, 5, 0, true);
  FoundItemRecord mid = e.Add("mid", 31, 30, 1, true);
  FoundItemRecord leaf = e.Add("leaf.txt", 40, 31, 2, false, "x");
  FoundItemRecord rootFile = e.Add("root.txt", 41, 5, 0, false, "x");
  std::string path;
  ASSERT_EQ(e.GetFolderPath(&leaf, path), kOk);
  EXPECT_EQ(path, "top/mid/");
  ASSERT_EQ(e.GetFolderPath(&rootFile, path), kOk);
  EXPECT_EQ(path, "");
  EXPECT_EQ(e.GetFolderPath(nullptr, path), kOk);
  EXPECT_EQ(path, "");
  // A folder that claims its own child as parent must not loop forever.
  e.Store()->Relate(31, 1, top.recordIndex);
  ASSERT_EQ(e.GetFolderPath(&mid, path), kOk);
  uint32_t n = 0;
  EXPECT_EQ(e.CountFiles(&top, 1, n), kOk);
}

TEST(StoreEngineListing, AFileHasNoChildrenAndDanglingRelationsAreSkipped) {
  MemoryEngine e;
  // The file's id equals the root's: asking for its children must not list the root.
  FoundItemRecord file = e.Add("a.txt", 5, 5, 0, false, "x");
  e.Add("b.txt", 6, 5, 0, false, "y");
  e.Store()->Relate(5, 0, 999);  // a damaged log's entry naming no record
  std::vector<FoundItemRecord> out;
  ASSERT_EQ(e.ListChildren(&file, 0, out), kOk);
  EXPECT_TRUE(out.empty());
  uint32_t n = 7;
  ASSERT_EQ(e.CountFiles(&file, 0, n), kOk);
  EXPECT_EQ(n, 0u);
  ASSERT_EQ(e.ListChildren(nullptr, 0, out), kOk);
  EXPECT_EQ(Names(out), (std::vector<std::string>{"a.txt", "b.txt"}));
  ASSERT_EQ(e.CountFiles(nullptr, 0, n), kOk);
  EXPECT_EQ(n, 2u);
}

TEST(StoreEngineSearch, OtherAloneMatchesFilesOutsideEveryListAndExtensionless) {
  MemoryEngine e;
  e.Add("a.jpg", 1, 5, 0, false, "x");
  e.Add("b.xyz", 2, 5, 0, false, "x");
  e.Add("noext", 3, 5, 0, false, "x");
  e.Add("c.mp3", 4, 5, 0, false, "x");
  e.Add("bad.png", 6, 5, 0, false, "x", 0);
  e.Add("dir.xyz", 7, 5, 0, true);
  std::vector<FoundItemRecord> out;
  EXPECT_EQ(e.SearchByType("*.other", out), 1);
  EXPECT_EQ(Names(out), (std::vector<std::string>{"b.xyz", "noext"}));
  EXPECT_EQ(e.SearchByType("*.jpg|*.png|*.mp3", out), 1);
  EXPECT_EQ(Names(out), (std::vector<std::string>{"a.jpg", "c.mp3"}));
}

int g_calls = 0;
int StopOnThirdFile(void*, int, int, Status, const std::string& dest) {
  ++g_calls;
  return dest.find("3.txt") != std::string::npos ? kStopRequested : 0;
}

TEST(StoreEngineCopyOut, StopDuringThirdFileKeepsTheFirstTwo) {
  MemoryEngine e;
  TempDir out;
  FoundItemRecord folder = e.Add("album", 50, 5, 0, true);
  e.Add("1.txt", 51, 50, 1, false, "first file");
  e.Add("2.txt", 52, 50, 1, false, "second file");
  e.Add("3.txt", 53, 50, 1, false, "third file, long enough for pieces");
  e.Add("4.txt", 54, 50, 1, false, "fourth");
  (void)e.SetCallbacks(nullptr, StopOnThirdFile, nullptr, 100);
  std::string dest = out / "album";
  int base = int(std::count(out.path().begin(), out.path().end(), '/'));
  EXPECT_EQ(e.RecoverItem(folder, dest, base), kStopRequested);
  EXPECT_EQ(test::ReadBytes(dest + "/1.txt").size(), 10u);
  EXPECT_EQ(test::ReadBytes(dest + "/2.txt").size(), 11u);
  EXPECT_FALSE(fs::exists(dest + "/3.txt"));
  EXPECT_FALSE(fs::exists(dest + "/4.txt"));
}

TEST(StoreEngineCopyOut, TreeWithHostileNamesStaysInsideAndFailuresAreReported) {
  MemoryEngine e;
  TempDir out;
  FoundItemRecord folder = e.Add("trip", 60, 5, 0, true);
  e.Add("..", 61, 60, 1, true);
  e.Add("x.txt", 62, 61, 2, false, "deep");
  e.Add("../../escape.txt", 63, 60, 1, false, "evil");
  e.Add("bad.txt", 64, 60, 1, false, "<unreadable>");
  e.Add("ok.txt", 65, 60, 1, false, "fine");
  (void)e.SetCallbacks(nullptr, nullptr, nullptr, 100);
  int base = int(std::count(out.path().begin(), out.path().end(), '/'));
  std::string dest = out / "trip";
  EXPECT_EQ(e.RecoverItem(folder, dest, base), kReadFault);
  EXPECT_EQ(test::ReadBytes(dest + "/ok.txt").size(), 4u);
  // "_.." as it is, or in the form a Windows file system takes (it drops
  // trailing dots).
  const NameRule rule = NameRuleOf(dest);
  EXPECT_EQ(test::ReadBytes(dest + "/" + DestinationName("..", rule) + "/x.txt").size(), 4u);
  EXPECT_EQ(rule == NameRule::kWindows, DestinationName("..", rule) != "_..");
  EXPECT_TRUE(fs::exists(dest + "/.._.._escape.txt"));
  EXPECT_FALSE(fs::exists(dest + "/bad.txt"));  // no half-written file left behind
  EXPECT_FALSE(fs::exists(out.path() + "/../escape.txt"));
}

TEST(StoreEngineCopyOut, SingleFileReplacesAnExistingLongerFile) {
  MemoryEngine e;
  TempDir out;
  FoundItemRecord f = e.Add("a.txt", 70, 5, 0, false, "new");
  fs::create_directories(out / "sub");
  test::WriteBytes(out / "sub/a.txt", std::vector<uint8_t>(100, 'o'));
  (void)e.SetCallbacks(nullptr, nullptr, nullptr, 100);
  ASSERT_EQ(e.RecoverItem(f, out / "sub/a.txt", 0), kOk);
  EXPECT_EQ(test::ReadBytes(out / "sub/a.txt"), (std::vector<uint8_t>{'n', 'e', 'w'}));
}

TEST(StoreEnginePreview, PicturesGoToTmpJpgOtherTypesToTheBuffer) {
  MemoryEngine e;
  FoundItemRecord pic = e.Add("p.JPG", 80, 5, 0, false, "jpegbytes");
  FoundItemRecord other = e.Add("notes.bin", 81, 5, 0, false, "0123456789");
  std::string path;
  uint64_t n = 0;
  ASSERT_EQ(e.ReadForPreview(&pic, path, nullptr, n, nullptr, nullptr), kOk);
  EXPECT_EQ(path, ScanLogFolder::Instance().ScanLogPath() + "/tmp.jpg");
  EXPECT_EQ(test::ReadBytes(path).size(), 9u);
  uint8_t buf[6] = {};
  n = sizeof buf;
  ASSERT_EQ(e.ReadForPreview(&other, path, buf, n, nullptr, nullptr), kOk);
  EXPECT_EQ(n, 6u);
  EXPECT_TRUE(path.empty());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 6), "012345");
  EXPECT_EQ(e.ReadForPreview(nullptr, path, buf, n, nullptr, nullptr), kInvalidArg);
}

TEST(QuickScanLogNameFormat, MinutePaddedWithASpace) {
  struct tm t = {};
  t.tm_year = 121;
  t.tm_mon = 3;
  t.tm_mday = 3;
  t.tm_hour = 9;
  t.tm_min = 5;
  EXPECT_EQ(QuickScanLogName(2048, t), "Fast_2048_2021439 5");
}


// The listing order: files before folders, names without regard to case,
// records of equal names in the order they came; every record is still
// there once, moved whole (the sort places them in the list itself).
TEST(SortForListing, OrdersStablyAndKeepsEveryRecordWhole) {
  std::vector<FoundItemRecord> v;
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  for (uint32_t i = 0; i < 3000; ++i) {
    FoundItemRecord r = MakeEmptyRecord();
    r.isFolder = next() % 5 == 0;
    r.recordIndex = i;
    r.size = uint64_t(i) * 7;
    std::string name = std::string(1, char((next() % 2 ? 'a' : 'A') + next() % 6)) + std::to_string(next() % 40);
    SetRecordName(r, name);
    v.push_back(r);
  }
  SortForListing(v);
  ASSERT_EQ(v.size(), 3000u);
  std::vector<bool> seen(3000);
  for (size_t k = 0; k < v.size(); ++k) {
    const uint32_t i = v[k].recordIndex;
    ASSERT_LT(i, 3000u);
    EXPECT_FALSE(seen[i]);
    seen[i] = true;
    EXPECT_EQ(uint64_t(v[k].size), uint64_t(i) * 7);
    if (k == 0) continue;
    const FoundItemRecord& a = v[k - 1];
    const FoundItemRecord& b = v[k];
    ASSERT_LE(a.isFolder, b.isFolder);
    if (a.isFolder != b.isFolder) continue;
    const int c = CompareNamesAsciiNoCase(RecordName(a), RecordName(b));
    ASSERT_LE(c, 0) << RecordName(a) << " / " << RecordName(b);
    if (c == 0) {
      EXPECT_LT(a.recordIndex, b.recordIndex);
    }
  }
}

}  // namespace
}  // namespace dunmere
