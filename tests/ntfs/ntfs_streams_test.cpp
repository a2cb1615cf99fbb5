// Named data streams of deleted files on a volume written through ntfs-3g:
// each stream a user wrote is a row of its own beside its file, typed by
// what it holds, and comes back byte for byte under a name any destination
// takes; NTFS's own "$" streams, empty ones and those of files in use do not.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "base/text.h"
#include "engine/formats/file_format.h"
#include "engine/scan_log_folder.h"
#include "engine/store_engine.h"
#include "ntfs/deep/deep_ntfs_engine.h"
#include "ntfs/named_streams.h"
#include "scan/engine_factory.h"
#include "storage/sector_source.h"
#include "tests/ntfs/ntfs_streams_fixture.h"
#include "tests/support/engine_walk.h"
#include "tests/support/open_medium.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

namespace fs = std::filesystem;

std::map<std::string, FoundItemRecord> ByPath(FoundItems& engine) {
  std::map<std::string, FoundItemRecord> out;
  for (const test::ListedFile& f : test::ListEveryFile(engine)) out.emplace(f.path, f.record);
  return out;
}

class NtfsStreams : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::UsePrivateDataFolder(); }
  void SetUp() override {
    const test::StreamImages& im = test::NtfsStreamImages();
    if (im.missingTool) GTEST_SKIP() << im.why;
    ASSERT_FALSE(im.rows.empty()) << im.why;
  }
  const test::StreamImages& Images() const { return test::NtfsStreamImages(); }
};

TEST_F(NtfsStreams, QuickScanListsEachStreamBesideItsFileTypedByItsContentAndCopiesItExactly) {
  ScanLogFolder::Instance().BeginNewScanFolder();
  auto engine = CreateEngineForImage(Images().Image(), 'S', false);
  ASSERT_NE(engine, nullptr);
  ASSERT_EQ(engine->Scan(nullptr), kOk);
  auto listed = ByPath(*engine);
  test::TempDir out;
  size_t streams = 0;
  for (const test::StreamRow& row : Images().rows) {
    SCOPED_TRACE(row.Path());
    auto it = listed.find(row.Path());
    ASSERT_NE(it, listed.end()) << "not listed";
    const FoundItemRecord& r = it->second;
    EXPECT_EQ(+r.size, row.size);
    EXPECT_EQ(+r.contentOk, 1u);
    std::string folder;
    ASSERT_EQ(engine->GetFolderPath(&r, folder), kOk);
    EXPECT_EQ(folder, row.folder.empty() ? "" : row.folder + "/");
    ASSERT_EQ(engine->RecoverItem(r, out / "copy", 0), kOk);
    EXPECT_EQ(test::Sha256OfFile(out / "copy"), row.sha256);
    if (row.stream.empty()) continue;
    ++streams;
    // The category comes from what the stream holds, never from its file's
    // extension: a picture in a text file is a photo, a note in it is no document.
    const Category want = row.format == "-" ? Category::kOthers : CategoryOfExtension(row.format);
    EXPECT_EQ(CategoryOfExtension(ExtensionOf(RecordName(r))), want) << RecordName(r);
    // The file's own row is another item.
    auto file = listed.find(row.folder.empty() ? row.file : row.folder + "/" + row.file);
    ASSERT_NE(file, listed.end());
    EXPECT_NE(file->second.recordIndex, r.recordIndex);
  }
  EXPECT_EQ(streams, 5u);
  std::set<std::string> names;
  for (const auto& [path, r] : listed) names.insert(RecordName(r));
  for (const std::vector<std::string>& u : Images().unlisted) {
    ASSERT_EQ(u.size(), 3u);
    for (const std::string& n : names) EXPECT_NE(n.rfind(u[1] + ":" + u[2], 0), 0u) << "listed: " << n;
  }
  EXPECT_EQ(listed.size(), Images().rows.size()) << "rows nobody wrote";
}

TEST_F(NtfsStreams, AFolderCopiedOutHoldsItsStreamsUnderNamesWithoutColons) {
  ScanLogFolder::Instance().BeginNewScanFolder();
  auto engine = CreateEngineForImage(Images().Image(), 'S', false);
  ASSERT_NE(engine, nullptr);
  ASSERT_EQ(engine->Scan(nullptr), kOk);
  std::vector<FoundItemRecord> top;
  ASSERT_EQ(engine->ListChildren(nullptr, 0, top), kOk);
  const FoundItemRecord* docs = nullptr;
  for (const FoundItemRecord& r : top)
    if (r.isFolder && RecordName(r) == "Docs") docs = &r;
  ASSERT_NE(docs, nullptr);
  test::TempDir out;
  // Its files stand one level below it.
  ASSERT_EQ(engine->RecoverItem(*docs, out / "Docs", CountSeparators(out / "Docs") - 1), kOk);
  std::map<std::string, std::string> written;
  for (const auto& e : fs::directory_iterator(out / "Docs")) {
    const std::string name = e.path().filename().string();
    EXPECT_EQ(name.find(':'), std::string::npos) << name;
    written[name] = test::Sha256OfFile(e.path().string());
  }
  for (const test::StreamRow& row : Images().rows) {
    if (row.folder != "Docs") continue;
    SCOPED_TRACE(row.Listed());
    const std::string want = StreamDestinationForm(row.Listed());
    ASSERT_TRUE(written.count(want)) << want;
    EXPECT_EQ(written[want], row.sha256);
  }
  EXPECT_TRUE(written.count("report.pdf [Zone].Identifier"));
}

// The deep engine meets every FILE record on its own and lists the streams
// whose attributes stand in the file's base record.
TEST_F(NtfsStreams, DeepEngineListsTheStreamsOfTheBaseRecordAndCopiesThemExactly) {
  ScanLogFolder::Instance().BeginNewScanFolder();
  DeepNtfsEngine engine;
  engine.SetContentCheck(nullptr);
  ASSERT_EQ(test::OpenImageIn(engine, Images().Image(), 'D'), kOk);
  ASSERT_EQ(engine.StartScan(nullptr), kOk);
  SectorSource source;
  ASSERT_EQ(source.OpenImageFile(Images().Image()), kOk);
  std::vector<uint8_t> rec(1024);
  for (uint64_t s = 0; s + 2 <= source.SectorCount(); ++s) {
    uint32_t got = 0;
    if (source.ReadSectors(2, rec.data(), s, 512, got) != kOk || got != 2) continue;
    ByteView v(rec.data(), rec.size());
    if (!v.Equals(0, "FILE") || (v.U16(22) & 0x0002)) continue;
    (void)engine.ProcessFileRecord(v, s);
  }
  ASSERT_EQ(engine.FinishScan(), kOk);
  std::map<std::string, FoundItemRecord> byName;
  for (const test::ListedFile& f : test::ListEveryFile(engine)) byName.emplace(RecordName(f.record), f.record);
  test::TempDir out;
  size_t streams = 0;
  for (const test::StreamRow& row : Images().rows) {
    if (row.stream.empty()) continue;
    // Without a content check nothing is typed: rows are "file:stream".
    auto it = byName.find(row.file + ":" + row.stream);
    SCOPED_TRACE(row.Path());
    ASSERT_NE(it, byName.end()) << "not listed";
    ++streams;
    EXPECT_EQ(+it->second.size, row.size);
    ASSERT_EQ(engine.RecoverItem(it->second, out / "copy", 0), kOk);
    EXPECT_EQ(test::Sha256OfFile(out / "copy"), row.sha256);
  }
  EXPECT_EQ(streams, 5u);
  for (const auto& [name, r] : byName) EXPECT_EQ(name.find(":$"), std::string::npos) << name;
}

}  // namespace
}  // namespace dunmere
