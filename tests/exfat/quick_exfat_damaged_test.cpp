// The quick exFAT scan on volumes made byte by byte: what no driver writes
// but a damaged or hostile medium holds. Loops in the FAT, sets claiming
// clusters outside the heap, huge lengths, folders that contain themselves,
// names that try to leave the destination, damaged boot regions. Each must
// end in a clear failure or a skipped entry: never a crash, a hang or a
// write outside the destination.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "app/core/sessions/scan_session.h"
#include "engine/scan_log_folder.h"
#include "exfat/exfat_dir_entry.h"
#include "exfat/exfat_fat.h"
#include "exfat/quick/quick_exfat_engine.h"
#include "tests/exfat/exfat_builder.h"
#include "tests/support/engine_walk.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace dunmere {
namespace {

using test::ExfatBuilder;
using test::PatternBytes;
using test::TempDir;

class SyntheticExfat : public ::testing::Test {
 protected:
  void SetUp() override {
    test::UsePrivateDataFolder();
    ScanLogFolder::Instance().BeginNewScanFolder();
  }
  // Saves the volume, opens an engine on it and scans.
  QuickExfatEngine& Scan(ExfatBuilder& b, Status want = kOk) {
    // Built step by step: gcc 12 warns falsely about "literal" + std::string.
    std::string name = std::to_string(n_++);
    name += ".img";
    path_ = dir_ / name;
    b.Save(path_);
    return ScanFile(path_, want);
  }
  QuickExfatEngine& ScanFile(const std::string& path, Status want = kOk) {
    engine_ = std::make_unique<QuickExfatEngine>();
    Medium medium;
    EXPECT_EQ(OpenImageMedium(path, medium), kOk);
    EXPECT_EQ(engine_->Open(medium, 'S'), want);
    if (want == kOk) {
      EXPECT_EQ(engine_->Scan(nullptr), kOk);
    }
    return *engine_;
  }
  std::map<std::string, FoundItemRecord> Listed() {
    std::map<std::string, FoundItemRecord> out;
    for (const test::ListedFile& f : test::ListEveryFile(*engine_)) out.emplace(f.path, f.record);
    return out;
  }
  // The bytes a record copies out as; empty with the status when it fails.
  Status Copy(const FoundItemRecord& r, std::vector<uint8_t>& bytes) {
    bytes.clear();
    return engine_->ReadContent(r, [&](const uint8_t* d, size_t n) {
      bytes.insert(bytes.end(), d, d + n);
      return 0;
    });
  }
  TempDir dir_;
  std::string path_;
  int n_ = 0;
  std::unique_ptr<QuickExfatEngine> engine_;
};

TEST_F(SyntheticExfat, DeletedFilesAndFoldersWithTheirPaths) {
  ExfatBuilder b;
  const auto gone = PatternBytes(5000, 1), kept = PatternBytes(700, 2), inner = PatternBytes(9000, 3);
  const uint32_t docs = b.AddFolder(b.RootCluster(), u"Docs");
  b.AddFile(docs, u"kept.txt", kept);
  b.AddFile(docs, u"gone.txt", gone, true);
  const uint32_t trash = b.AddFolder(b.RootCluster(), u"Trash", true);
  const uint32_t sub = b.AddFolder(trash, u"Sub", true);
  b.AddFile(sub, u"inner.bin", inner, true);
  b.AddFile(trash, u"empty.txt", {}, true);
  Scan(b);
  EXPECT_EQ(engine_->Label(), "SYNTH");
  auto listed = Listed();
  ASSERT_EQ(listed.size(), 3u);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(listed.count("Docs/gone.txt"));
  EXPECT_EQ(Copy(listed["Docs/gone.txt"], bytes), kOk);
  EXPECT_EQ(bytes, gone);
  ASSERT_TRUE(listed.count("Trash/Sub/inner.bin"));
  EXPECT_EQ(Copy(listed["Trash/Sub/inner.bin"], bytes), kOk);
  EXPECT_EQ(bytes, inner);
  ASSERT_TRUE(listed.count("Trash/empty.txt"));
  EXPECT_EQ(Copy(listed["Trash/empty.txt"], bytes), kOk);
  EXPECT_TRUE(bytes.empty());
  // The record as the engine's comment describes it.
  const FoundItemRecord& r = listed["Docs/gone.txt"];
  const ExfatGeometry& g = engine_->Geometry();
  EXPECT_EQ(r.clusterBytes, g.ClusterBytes());
  EXPECT_EQ(r.dataAreaStart, uint64_t(g.clusterHeapOffset));
  EXPECT_EQ(r.location * 32, g.ClusterOffset(docs) + 96 + 32);  // after kept.txt's three entries
  EXPECT_EQ(test::ReadBytes(path_)[r.location * 32], 0x40);  // the deleted stream extension
  EXPECT_EQ(r.modified, r.created);
  EXPECT_NE(r.modified, 0u);
  // Folders are walked in the order live ones first; the deleted tree's
  // folders are listed with their deleted mark.
  std::vector<FoundItemRecord> top;
  ASSERT_EQ(engine_->ListChildren(nullptr, 0, top), kOk);
  ASSERT_EQ(top.size(), 2u);
  for (const FoundItemRecord& f : top) EXPECT_EQ(+f.deletedFlag, RecordName(f) == "Trash" ? 1u : 0u);
  // A deep pass need not read the deleted folders' entries again; live ones it may.
  EXPECT_TRUE(engine_->WalkedDeletedDirectoryAt(g.ClusterOffset(trash) + 512));
  EXPECT_TRUE(engine_->WalkedDeletedDirectoryAt(g.ClusterOffset(sub)));
  EXPECT_FALSE(engine_->WalkedDeletedDirectoryAt(g.ClusterOffset(docs)));
  EXPECT_FALSE(engine_->WalkedDeletedDirectoryAt(0));
  // Taken up from its log, the engine still knows them.
  const std::string log = fs::path(engine_->Store()->LogPath()).filename().string();
  QuickExfatEngine again;
  Medium medium;
  ASSERT_EQ(OpenImageMedium(path_, medium), kOk);
  ASSERT_EQ(again.Open(medium, 'S'), kOk);
  ASSERT_EQ(again.Scan(&log), kOk);
  EXPECT_TRUE(again.WalkedDeletedDirectoryAt(g.ClusterOffset(trash)));
  EXPECT_TRUE(again.WalkedDeletedDirectoryAt(g.ClusterOffset(sub)));
  EXPECT_FALSE(again.WalkedDeletedDirectoryAt(g.ClusterOffset(docs)));
}

TEST_F(SyntheticExfat, LoopsInTheFatEndTheWalkAndTheCopy) {
  ExfatBuilder b;
  b.AddFile(b.RootCluster(), u"a.bin", PatternBytes(100, 1), true);
  // The root's chain leads back to itself; a live folder's chain loops
  // after two clusters though its length claims 64.
  b.SetFat(b.RootCluster(), b.RootCluster());
  const uint32_t folder = b.Allocate(1), second = b.Allocate(1);
  b.SetFat(folder, second);
  b.SetFat(second, folder);
  ExfatBuilder::Set s;
  s.name = u"Loop";
  s.directory = true;
  s.firstCluster = folder;
  s.dataLength = 64ull * b.ClusterBytes();
  s.noFatChain = false;
  b.AddEntries(b.RootCluster(), ExfatBuilder::MakeSet(s));
  b.AddFile(folder, u"in the loop.bin", PatternBytes(50, 2), true);
  // A file inside a deleted folder, its entry still in use, whose chain loops.
  const uint32_t gone = b.AddFolder(b.RootCluster(), u"Gone", true);
  const uint32_t data = b.Allocate(3, false);
  b.Put(b.ClusterOffset(data), PatternBytes(3 * b.ClusterBytes(), 4));
  b.SetFat(data + 1, data);
  ExfatBuilder::Set f;
  f.name = u"looping.bin";
  f.firstCluster = data;
  f.dataLength = 3 * b.ClusterBytes();
  f.noFatChain = false;
  b.AddEntries(gone, ExfatBuilder::MakeSet(f));
  Scan(b);
  auto listed = Listed();
  EXPECT_TRUE(listed.count("a.bin"));
  EXPECT_TRUE(listed.count("Loop/in the loop.bin"));
  EXPECT_EQ(listed.size(), 3u);
  ASSERT_TRUE(listed.count("Gone/looping.bin"));
  std::vector<uint8_t> bytes;
  EXPECT_EQ(Copy(listed["Gone/looping.bin"], bytes), kInvalidData);
}

TEST_F(SyntheticExfat, SetsClaimingClustersOutsideTheHeapAreLeftOut) {
  ExfatBuilder b;
  const uint32_t max = b.ClusterCount() + 1;
  auto add = [&](const char16_t* name, uint32_t first, uint64_t length, bool noFatChain = true, bool dir = false) {
    ExfatBuilder::Set s;
    s.name = name;
    s.deleted = true;
    s.directory = dir;
    s.firstCluster = first;
    s.dataLength = length;
    s.noFatChain = noFatChain;
    b.AddEntries(b.RootCluster(), ExfatBuilder::MakeSet(s));
  };
  add(u"past the heap.bin", max + 1, 100);
  add(u"cluster one.bin", 1, 100);
  add(u"runs past the end.bin", max - 1, 3ull * b.ClusterBytes());
  add(u"larger than the volume.bin", 10, uint64_t(b.ClusterCount() + 1) * b.ClusterBytes());
  add(u"huge.bin", 10, uint64_t(1) << 62);
  add(u"folder past the heap", max + 7, b.ClusterBytes(), true, true);
  add(u"folder at the root", b.RootCluster(), b.ClusterBytes(), true, true);
  add(u"huge folder", 20, uint64_t(1) << 62, true, true);
  // A chained file whose chain leaves the heap: listed (its first cluster is
  // fine), copied from the free clusters after its first.
  const auto data = PatternBytes(2 * b.ClusterBytes(), 7);
  const uint32_t first = b.Allocate(2, false);
  b.Put(b.ClusterOffset(first), data);
  b.SetFat(first, 0xFFFFFF00u);
  b.SetInUse(first, false);
  b.SetInUse(first + 1, false);
  add(u"chain out of the heap.bin", first, data.size(), false);
  Scan(b);
  auto listed = Listed();
  EXPECT_EQ(listed.size(), 1u);
  ASSERT_TRUE(listed.count("chain out of the heap.bin"));
  std::vector<uint8_t> bytes;
  EXPECT_EQ(Copy(listed["chain out of the heap.bin"], bytes), kOk);
  EXPECT_EQ(bytes, data);
}

TEST_F(SyntheticExfat, FoldersThatContainThemselvesAreWalkedOnce) {
  ExfatBuilder b;
  const uint32_t a = b.AddFolder(b.RootCluster(), u"A", true);
  const uint32_t inner = b.AddFolder(a, u"B", true);
  b.AddFile(inner, u"x.txt", PatternBytes(10, 1), true);
  for (uint32_t target : {a, inner, b.RootCluster()}) {
    // Sets in B naming A, B itself and the root as folders.
    ExfatBuilder::Set s;
    s.name = u"again";
    s.directory = true;
    s.deleted = true;
    s.firstCluster = target;
    s.dataLength = b.ClusterBytes();
    b.AddEntries(inner, ExfatBuilder::MakeSet(s));
  }
  Scan(b);
  auto listed = Listed();
  EXPECT_EQ(listed.size(), 1u);
  EXPECT_TRUE(listed.count("A/B/x.txt"));
}

TEST_F(SyntheticExfat, NamesFromTheMediumNeverLeaveTheDestination) {
  ExfatBuilder b;
  const uint32_t dots = b.AddFolder(b.RootCluster(), u"..", true);
  const char16_t* names[] = {u"..", u".", u"../../escape.txt", u"a/b\\c.txt", u"/absolute.txt"};
  uint32_t seed = 1;
  for (const char16_t* n : names) b.AddFile(dots, n, PatternBytes(300, seed++), true);
  // A name of 255 units that takes 765 bytes of UTF-8: cut to the record's
  // field, its extension kept.
  std::u16string longName(251, u'語');
  longName += u".txt";
  b.AddFile(b.RootCluster(), longName, PatternBytes(400, 9), true);
  Scan(b);
  std::vector<FoundEntry> files, folders;
  ASSERT_EQ(CollectFoundItems(*engine_, TypeFilter{}, files, &folders), kOk);
  EXPECT_EQ(files.size(), 6u);
  bool longSeen = false;
  for (const FoundEntry& f : files) {
    const std::string name = f.Name();
    EXPECT_EQ(name.find('/'), std::string::npos) << name;
    if (name.size() > 200) {
      longSeen = true;
      EXPECT_LE(name.size(), kNameFieldSize - 1);
      EXPECT_EQ(name.substr(name.size() - 4), ".txt");
    }
  }
  EXPECT_TRUE(longSeen);
  TempDir out;
  const std::string root = out / "dest";
  int written = 0;
  for (Layout layout : {Layout::kTree, Layout::kCategory}) {
    const RecoverSummary sum = RecoverFound(*engine_, files, root, layout, [] { return false; },
                                            [&](const RecoverOutcome& o) {
                                              EXPECT_EQ(o.path.compare(0, root.size() + 1, root + "/"), 0) << o.path;
                                              written += o.status == kOk;
                                            });
    EXPECT_EQ(sum.failed, 0u);
  }
  EXPECT_EQ(written, 12);
  // Nothing appeared beside the destination.
  size_t beside = 0;
  for (const auto& e : fs::directory_iterator(out.path())) beside += e.path().filename() != "dest";
  EXPECT_EQ(beside, 0u);
  EXPECT_FALSE(fs::exists(dir_ / "escape.txt"));
}

TEST_F(SyntheticExfat, DeletedDataTakenAgainIsOverwrittenNotCopied) {
  ExfatBuilder b;
  const auto one = PatternBytes(3 * b.ClusterBytes(), 1);
  const uint32_t first = b.AddFile(b.RootCluster(), u"taken.bin", one, true);
  b.SetInUse(first + 2, true);  // its last cluster given to another file since
  // A chained file whose first cluster is in use again.
  const uint32_t chained = b.AddFile(b.RootCluster(), u"chained taken.bin", one, true, false);
  b.SetInUse(chained, true);
  // A file whose data lies where a folder's entries are now.
  const uint32_t under = b.AddFile(b.RootCluster(), u"under a folder.bin", PatternBytes(100, 2), true);
  ExfatBuilder::Set s;
  s.name = u"Folder";
  s.directory = true;
  s.deleted = true;
  s.firstCluster = under;
  s.dataLength = b.ClusterBytes();
  b.AddEntries(b.RootCluster(), ExfatBuilder::MakeSet(s));
  ExfatBuilder::Set x;
  x.name = u"x.txt";
  x.deleted = true;
  b.AddEntries(under, ExfatBuilder::MakeSet(x));
  Scan(b);
  auto listed = Listed();
  std::vector<uint8_t> bytes;
  for (const char* name : {"taken.bin", "chained taken.bin", "under a folder.bin"}) {
    ASSERT_TRUE(listed.count(name)) << name;
    EXPECT_EQ(Copy(listed[name], bytes), kDataOverwritten) << name;
    // The copy-out says so and leaves no file behind.
    const std::string dest = dir_ / name;
    EXPECT_EQ(engine_->RecoverItem(listed[name], dest, 0), kDataOverwritten);
    EXPECT_FALSE(fs::exists(dest)) << name;
  }
  EXPECT_TRUE(listed.count("Folder/x.txt"));
}

TEST_F(SyntheticExfat, ChainsOfDeletedFilesAsEachDriverLeavesThem) {
  ExfatBuilder b;
  const uint32_t cb = b.ClusterBytes();
  // exfat-fuse clears the chain: the data went on in the free clusters after
  // the first, past the clusters of files still there.
  const uint32_t start = b.Allocate(2);  // a, then a file kept in between
  const uint32_t kept = b.Allocate(2);
  const uint32_t rest = b.Allocate(1);
  const auto fuse = PatternBytes(3 * cb, 1);
  b.Put(b.ClusterOffset(start), std::vector<uint8_t>(fuse.begin(), fuse.begin() + 2 * cb));
  b.Put(b.ClusterOffset(rest), std::vector<uint8_t>(fuse.begin() + 2 * cb, fuse.end()));
  for (uint32_t c : {start, start + 1, rest}) b.SetInUse(c, false);
  (void)kept;
  ExfatBuilder::Set s;
  s.name = u"cleared chain.bin";
  s.deleted = true;
  s.firstCluster = start;
  s.dataLength = fuse.size();
  s.noFatChain = false;
  b.AddEntries(b.RootCluster(), ExfatBuilder::MakeSet(s));
  // The Linux driver leaves the chain: it is followed, backwards too.
  const uint32_t c1 = b.Allocate(1), c2 = b.Allocate(1), c3 = b.Allocate(1);
  const auto kernel = PatternBytes(2 * cb + 10, 2);
  b.Put(b.ClusterOffset(c3), std::vector<uint8_t>(kernel.begin(), kernel.begin() + cb));
  b.Put(b.ClusterOffset(c1), std::vector<uint8_t>(kernel.begin() + cb, kernel.begin() + 2 * cb));
  b.Put(b.ClusterOffset(c2), std::vector<uint8_t>(kernel.begin() + 2 * cb, kernel.end()));
  b.SetFat(c3, c1);
  b.SetFat(c1, c2);
  b.SetFat(c2, kExfatEndOfChain);
  for (uint32_t c : {c1, c2, c3}) b.SetInUse(c, false);
  s.name = u"kept chain.bin";
  s.firstCluster = c3;
  s.dataLength = kernel.size();
  b.AddEntries(b.RootCluster(), ExfatBuilder::MakeSet(s));
  // Written only in part (valid data length): the rest reads as zeros.
  const auto part = PatternBytes(cb + 100, 3);
  const uint32_t p = b.Allocate(3);
  b.Put(b.ClusterOffset(p), PatternBytes(3 * cb, 4));
  b.Put(b.ClusterOffset(p), part);
  for (uint32_t i = 0; i < 3; ++i) b.SetInUse(p + i, false);
  s.name = u"preallocated.bin";
  s.firstCluster = p;
  s.dataLength = 3 * cb;
  s.validDataLength = part.size();
  s.noFatChain = true;
  b.AddEntries(b.RootCluster(), ExfatBuilder::MakeSet(s));
  Scan(b);
  auto listed = Listed();
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(listed.count("cleared chain.bin"));
  EXPECT_EQ(Copy(listed["cleared chain.bin"], bytes), kOk);
  EXPECT_EQ(bytes, fuse);
  ASSERT_TRUE(listed.count("kept chain.bin"));
  EXPECT_EQ(Copy(listed["kept chain.bin"], bytes), kOk);
  EXPECT_EQ(bytes, kernel);
  ASSERT_TRUE(listed.count("preallocated.bin"));
  EXPECT_EQ(Copy(listed["preallocated.bin"], bytes), kOk);
  std::vector<uint8_t> want = part;
  want.resize(3 * cb, 0);
  EXPECT_EQ(bytes, want);
}

TEST_F(SyntheticExfat, DamagedSetsAreSkippedEntryByEntry) {
  ExfatBuilder b;
  // A deleted set of five entries whose last three a later set took.
  ExfatBuilder::Set old;
  old.name = u"an old name that needs two name entries";
  old.deleted = true;
  old.firstCluster = b.AddFile(b.RootCluster(), u"placeholder", PatternBytes(10, 1), true);
  const uint64_t at = b.NextEntryOffset(b.RootCluster());
  b.AddEntries(b.RootCluster(), ExfatBuilder::MakeSet(old));
  ExfatBuilder::Set later;
  later.name = u"later.txt";
  later.deleted = true;
  later.firstCluster = old.firstCluster;
  later.dataLength = 10;
  const auto laterBytes = ExfatBuilder::MakeSet(later);
  b.Put(at + 64, laterBytes);
  // A set whose times were damaged: its checksum fails, its name still hashes right.
  ExfatBuilder::Set timeHit;
  timeHit.name = u"time damaged.txt";
  timeHit.deleted = true;
  timeHit.firstCluster = old.firstCluster;
  timeHit.dataLength = 10;
  auto hit = ExfatBuilder::MakeSet(timeHit);
  hit[9] ^= 0x55;
  b.AddEntries(b.RootCluster(), hit);
  // A set whose name was damaged: neither checksum nor hash agree.
  ExfatBuilder::Set nameHit = timeHit;
  nameHit.name = u"name damaged.txt";
  auto bad = ExfatBuilder::MakeSet(nameHit);
  bad[64 + 4] ^= 0x01;
  b.AddEntries(b.RootCluster(), bad);
  Scan(b);
  auto listed = Listed();
  EXPECT_TRUE(listed.count("placeholder"));
  EXPECT_TRUE(listed.count("later.txt"));
  EXPECT_TRUE(listed.count("time damaged.txt"));
  EXPECT_FALSE(listed.count("an old name that needs two name entries"));
  EXPECT_EQ(listed.size(), 3u);
}

TEST_F(SyntheticExfat, BootRegionsMainBackupOrAsItStands) {
  const auto data = PatternBytes(1000, 5);
  auto make = [&] {
    ExfatBuilder b;
    b.AddFile(b.RootCluster(), u"f.bin", data, true);
    b.WriteBootRegions();
    return b;
  };
  {  // Main region's checksum broken: the backup's geometry.
    ExfatBuilder b = make();
    b.Bytes(0)[300] ^= 1;
    path_ = dir_ / "main.img";
    test::WriteBytes(path_, std::vector<uint8_t>(b.Bytes(0), b.Bytes(0) + b.ClusterOffset(2) + 512 * b.ClusterBytes()));
    ScanFile(path_);
    EXPECT_TRUE(engine_->UsedBackupBootRegion());
    EXPECT_TRUE(engine_->BootChecksumOk());
    EXPECT_EQ(Listed().size(), 1u);
  }
  {  // Main sector unreadable as exFAT: still the backup.
    ExfatBuilder b = make();
    std::fill(b.Bytes(0), b.Bytes(0) + 512, 0);
    path_ = dir_ / "zeroed.img";
    test::WriteBytes(path_, std::vector<uint8_t>(b.Bytes(0), b.Bytes(0) + b.ClusterOffset(2) + 512 * b.ClusterBytes()));
    ScanFile(path_);
    EXPECT_TRUE(engine_->UsedBackupBootRegion());
    EXPECT_EQ(Listed().size(), 1u);
  }
  {  // No checksum holds anywhere: sector 0 as it stands.
    ExfatBuilder b = make();
    b.Bytes(0)[300] ^= 1;
    b.Bytes(12 * 512 + 300)[0] ^= 1;
    path_ = dir_ / "neither.img";
    test::WriteBytes(path_, std::vector<uint8_t>(b.Bytes(0), b.Bytes(0) + b.ClusterOffset(2) + 512 * b.ClusterBytes()));
    ScanFile(path_);
    EXPECT_FALSE(engine_->BootChecksumOk());
    EXPECT_FALSE(engine_->UsedBackupBootRegion());
    EXPECT_EQ(Listed().size(), 1u);
  }
  {  // Neither sector describes a volume.
    ExfatBuilder b = make();
    std::fill(b.Bytes(0), b.Bytes(0) + 512, 0);
    std::fill(b.Bytes(12 * 512), b.Bytes(12 * 512) + 512, 0);
    path_ = dir_ / "none.img";
    test::WriteBytes(path_, std::vector<uint8_t>(b.Bytes(0), b.Bytes(0) + b.ClusterOffset(2) + 512 * b.ClusterBytes()));
    ScanFile(path_, kInvalidData);
  }
}

TEST_F(SyntheticExfat, AnImageCutShortSaysWhereTheDataWas) {
  ExfatBuilder b;
  b.AddFile(b.RootCluster(), u"near.bin", PatternBytes(500, 1), true);
  b.Allocate(100);
  b.AddFile(b.RootCluster(), u"far.bin", PatternBytes(500, 2), true);
  const std::vector<uint8_t>& all = b.Image();
  path_ = dir_ / "cut.img";
  test::WriteBytes(path_, std::vector<uint8_t>(all.begin(), all.begin() + ptrdiff_t(b.ClusterOffset(50))));
  ScanFile(path_);
  auto listed = Listed();
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(listed.count("near.bin"));
  EXPECT_EQ(Copy(listed["near.bin"], bytes), kOk);
  ASSERT_TRUE(listed.count("far.bin"));
  EXPECT_EQ(Copy(listed["far.bin"], bytes), kDataPastEnd);
}

TEST_F(SyntheticExfat, AStopAnsweredAtTheFirstQuestionEndsTheScan) {
  ExfatBuilder b;
  b.AddFile(b.RootCluster(), u"f.bin", PatternBytes(10, 1), true);
  path_ = dir_ / "stop.img";
  b.Save(path_);
  QuickExfatEngine engine;
  Medium medium;
  ASSERT_EQ(OpenImageMedium(path_, medium), kOk);
  ASSERT_EQ(engine.Open(medium, 'S'), kOk);
  int asked = 0;
  ASSERT_EQ(engine.SetCallbacks(
                [](void* u, int, int, int64_t, uint64_t, uint64_t, uint64_t, uint64_t) {
                  ++*static_cast<int*>(u);
                  return int(kStopRequested);
                },
                nullptr, &asked, 100),
            kOk);
  EXPECT_EQ(engine.Scan(nullptr), kStopRequested);
  EXPECT_EQ(asked, 1);
  // Reading before the scan was opened, and a folder's content: refused.
  QuickExfatEngine closed;
  std::vector<uint8_t> bytes;
  FoundItemRecord r = MakeEmptyRecord();
  r.size = 10;
  EXPECT_EQ(closed.ReadContent(r, [](const uint8_t*, size_t) { return 0; }), kNotReady);
  EXPECT_EQ(closed.Scan(nullptr), kNotReady);
  r.isFolder = 1;
  EXPECT_EQ(engine.ReadContent(r, [](const uint8_t*, size_t) { return 0; }), kInvalidArg);
}

}  // namespace
}  // namespace dunmere
