#include "scan/deep_scan_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iostream>
#include <fstream>
#include <sstream>
#include <map>
#include <random>
#include <regex>
#include <set>

#include "engine/scan_log_folder.h"
#include "base/text.h"
#include "storage/disk_table.h"
#include "scan/deep_pass.h"
#include "scan/engine_factory.h"
#include "scan/file_systems.h"
#include "tests/support/engine_walk.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace dunmere {
namespace {

using test::TempDir;

// A raw image of real pictures at sector boundaries with random data between
// them: what a deep scan of a wiped card sees.
class DeepScanImage : public ::testing::Test {
 protected:
  void SetUp() override {
    test::UsePrivateDataFolder();
    if (!test::HaveTool("convert")) GTEST_SKIP() << test::MissingToolMessage("ImageMagick convert");
    std::mt19937 rng(7);
    std::vector<uint8_t> image;
    auto gap = [&](size_t sectors) {
      for (size_t i = 0; i < sectors * 512; ++i) image.push_back(uint8_t(rng() & 0x7F));  // never a header byte pattern
    };
    gap(64);
    for (int i = 0; i < 6; ++i) {
      std::string file = dir_ / ("p" + std::to_string(i) + (i % 2 ? ".png" : ".jpg"));
      ASSERT_EQ(test::RunCommand("convert -size " + std::to_string(40 + i * 9) + "x33 plasma:fractal -seed " +
                                 std::to_string(i) + " '" + file + "'"),
                0);
      originals_.push_back(test::Sha256OfFile(file));
      std::vector<uint8_t> bytes = test::ReadBytes(file);
      image.insert(image.end(), bytes.begin(), bytes.end());
      image.resize((image.size() + 511) / 512 * 512, 0);
      gap(100 + i * 37);
    }
    image_ = dir_ / "card.img";
    test::WriteBytes(image_, image);
  }

  std::set<std::string> Hashes(ScanEngine& e) {
    std::vector<FoundItemRecord> items;
    EXPECT_EQ(e.ListChildren(nullptr, 0, items), kOk);
    std::set<std::string> out;
    TempDir to;
    for (const FoundItemRecord& r : items) {
      std::string dest = to / RecordName(r);
      if (e.RecoverItem(r, dest, 0) == kOk) out.insert(test::Sha256OfFile(dest));
    }
    return out;
  }

  // A FAT16 volume (mkfs.fat, mtools) where the first picture was stored
  // under `name` and deleted.
  bool FatWithDeletedPicture(const std::string& name, std::string& fat) {
    fat = dir_ / "fat.img";
    const std::string mtools = "MTOOLS_SKIP_CHECK=1 ";
    return test::RunCommand("mkfs.fat -F 16 -C '" + fat + "' 20000 >/dev/null && " + mtools + "mcopy -i '" + fat +
                            "' '" + std::string(dir_ / "p0.jpg") + "' ::/" + name + " && " + mtools + "mdel -i '" +
                            fat + "' ::/" + name) == 0;
  }

  TempDir dir_;
  std::string image_;
  std::vector<std::string> originals_;
};

int g_calls = 0;
// Like the scan window: once cancelled, every later call answers the stop.
int StopAfterThreeChunks(void*, int, int share, int64_t, uint64_t, uint64_t, uint64_t, uint64_t) {
  return share == 90 && ++g_calls >= 3 ? kStopRequested : 0;
}

TEST_F(DeepScanImage, FactoryGivesEveryReadableSourceADeepEngineThatCarvesRealFiles) {
  auto engine = CreateEngineForImage(image_, 1, true);
  ASSERT_NE(engine, nullptr);
  auto* deep = dynamic_cast<DeepScanEngine*>(engine.get());
  ASSERT_NE(deep, nullptr);
  EXPECT_EQ(deep->SectorSize(), 512u);
  EXPECT_EQ(deep->QuickEngine(), nullptr);  // no file system on a raw card
  ASSERT_EQ(engine->Scan(nullptr), kOk);
  EXPECT_EQ(engine->GetFoundCount(), 6);
  std::set<std::string> got = Hashes(*engine);
  for (const std::string& h : originals_) EXPECT_TRUE(got.count(h)) << h;
  std::vector<FoundItemRecord> pngs;
  EXPECT_EQ(engine->SearchByType("*.png", pngs), 1);
  EXPECT_EQ(pngs.size(), 3u);
  EXPECT_EQ(engine->ListChildren(nullptr, 1, pngs), kInvalidArg);
}

// The source is opened once: the quick engine, the file-system engines and
// carving all read through that one handle, so a card whose path goes away
// after it was chosen (unplugged, renamed) is still scanned whole, and
// nothing reopens a different file that took the name.
TEST_F(DeepScanImage, EveryEngineReadsTheMediumOpenedOnce) {
  std::string fat;
  ASSERT_TRUE(FatWithDeletedPicture("LOST.JPG", fat)) << "mkfs.fat/mtools";
  Medium medium;
  ASSERT_EQ(OpenImageMedium(fat, medium), kOk);
  const std::string moved = fat + ".moved";
  fs::rename(fat, moved);
  test::WriteBytes(fat, std::vector<uint8_t>(fs::file_size(moved), 0));  // another file takes the name
  auto engine = CreateEngineFor(medium, 1, true);
  ASSERT_NE(engine, nullptr);
  auto* deep = static_cast<DeepScanEngine*>(engine.get());
  ASSERT_NE(deep->QuickEngine(), nullptr) << "the FAT volume was recognised on the opened medium";
  ASSERT_EQ(engine->Scan(nullptr), kOk);
  std::set<std::string> kinds;
  std::vector<FoundItemRecord> items;
  ASSERT_EQ(engine->ListChildren(nullptr, 0, items), kOk);
  for (const FoundItemRecord& r : items) kinds.insert(EngineName(r.sourceKind));
  EXPECT_TRUE(kinds.count(EngineName(kSourceQuickFat))) << "quick pass";
  EXPECT_TRUE(kinds.count(EngineName(kSourceCarving))) << "carving";
  EXPECT_TRUE(Hashes(*engine).count(originals_[0])) << "the deleted picture comes back from the opened medium";
}

// Two cards of the same size, one after the other in the same reader: the
// stopped scan of the first is not taken up for the second (its results would
// be shown and copied from the new card at the old card's places), and it is
// kept for when the first card comes back.
TEST_F(DeepScanImage, AStoppedScanIsTakenUpOnlyOnTheSameCard) {
  std::string first;
  ASSERT_TRUE(FatWithDeletedPicture("LOST.JPG", first)) << "mkfs.fat/mtools";
  const std::string second = dir_ / "second.img";
  ASSERT_EQ(test::RunCommand("mkfs.fat -F 16 -i 1234ABCD -C '" + second + "' 20000 >/dev/null"), 0);
  ASSERT_EQ(fs::file_size(first), fs::file_size(second));
  const std::string reader = dir_ / "reader";
  auto insert = [&](const std::string& card) {
    fs::remove(reader);
    fs::create_symlink(card, reader);
  };
  DiskTable::SetOverride({reader});
  const uint64_t sectors = fs::file_size(first) / 512;
  insert(first);
  {
    auto e = CreateEngineForPartition(0, 0, sectors, 1, true);
    ASSERT_NE(e, nullptr);
    e->DeclineResume();
    g_calls = 0;
    (void)e->SetCallbacks(StopAfterThreeChunks, nullptr, nullptr, 100);
    ASSERT_EQ(e->Scan(nullptr), kStopRequested);
  }
  insert(second);
  {
    auto e = CreateEngineForPartition(0, 0, sectors, 1, true);
    ASSERT_NE(e, nullptr);
    EXPECT_FALSE(e->CanResume()) << "the first card's scan offered for the second";
    EXPECT_TRUE(e->EarlierScanWasOfAnotherMedium());
  }
  insert(first);
  {
    auto e = CreateEngineForPartition(0, 0, sectors, 1, true);
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(e->CanResume()) << "the first card's scan is kept for it";
    EXPECT_FALSE(e->EarlierScanWasOfAnotherMedium());
    ASSERT_EQ(e->Scan(nullptr), kOk);
    EXPECT_TRUE(Hashes(*e).count(originals_[0]));
  }
  DiskTable::SetOverride({});
}

// The bar (percent x share / 100) never goes back, and its last tenth is the
// building of folders, named as such, before it reaches 100.
struct BarSeen {
  std::vector<std::pair<int, uint64_t>> steps;  // bar, stage
};
int RecordBar(void* u, int percent, int share, int64_t, uint64_t, uint64_t, uint64_t, uint64_t stage) {
  static_cast<BarSeen*>(u)->steps.emplace_back(std::clamp(percent * share / 100, 0, 100), stage);
  return 0;
}

TEST_F(DeepScanImage, TheBarMovesThroughTheFolderBuildingAndSaysSo) {
  std::string fat;
  ASSERT_TRUE(FatWithDeletedPicture("LOST.JPG", fat)) << "mkfs.fat/mtools";
  auto e = CreateEngineForImage(fat, 1, true);
  ASSERT_NE(e, nullptr);
  e->DeclineResume();
  BarSeen seen;
  (void)e->SetCallbacks(RecordBar, nullptr, &seen, 100);
  ASSERT_EQ(e->Scan(nullptr), kOk);
  ASSERT_FALSE(seen.steps.empty());
  int last = 0;
  bool reading = false, building = false;
  for (const auto& [bar, stage] : seen.steps) {
    EXPECT_GE(bar, last) << "the bar went back";
    last = bar;
    reading |= stage == kStageReadingSectors || stage == kStageReadingFreeSectors;
    if (stage == kStageBuildingFolders) {
      building = true;
      EXPECT_GE(bar, 90);
      EXPECT_LT(bar, 100);
    }
  }
  EXPECT_TRUE(reading);
  EXPECT_TRUE(building) << "the folders' stage is named";
  EXPECT_EQ(seen.steps.back().first, 100);
}

TEST_F(DeepScanImage, StoppedScanResumesToTheSameResult) {
  std::set<std::string> full;
  {
    auto e = CreateEngineForImage(image_, 1, true);
    ASSERT_EQ(e->Scan(nullptr), kOk);
    full = Hashes(*e);
  }
  // A later scan of an unchanged image starts over unless asked to resume.
  auto first = CreateEngineForImage(image_, 1, true);
  auto* deep = static_cast<DeepScanEngine*>(first.get());
  ASSERT_TRUE(deep->CanResume());
  EXPECT_TRUE(EntryScanEnded(deep->ResumeEntry())) << "the scan before ran to its end";
  deep->DeclineResume();
  g_calls = 0;
  (void)first->SetCallbacks(StopAfterThreeChunks, nullptr, nullptr, 100);
  ASSERT_EQ(first->Scan(nullptr), kStopRequested);
  int64_t partial = first->GetFoundCount();
  EXPECT_LT(partial, 6);
  first.reset();

  auto second = CreateEngineForImage(image_, 1, true);
  auto* again = static_cast<DeepScanEngine*>(second.get());
  ASSERT_TRUE(again->CanResume());
  EXPECT_GT(+again->ResumeEntry().sectorsDone, 0u);
  EXPECT_LT(+again->ResumeEntry().sectorsDone, again->AreaLength());
  EXPECT_FALSE(EntryScanEnded(again->ResumeEntry())) << "stopped on the way";
  ASSERT_EQ(second->Scan(nullptr), kOk);
  EXPECT_EQ(second->GetFoundCount(), 6);
  EXPECT_EQ(Hashes(*second), full);
}

TEST_F(DeepScanImage, AResumedRunThatDiesBeforeSavingGivesNothingTwice) {
  std::set<std::string> full;
  {
    auto e = CreateEngineForImage(image_, 1, true);
    ASSERT_EQ(e->Scan(nullptr), kOk);
    full = Hashes(*e);
  }
  auto first = CreateEngineForImage(image_, 1, true);
  static_cast<DeepScanEngine*>(first.get())->DeclineResume();
  g_calls = 0;
  (void)first->SetCallbacks(StopAfterThreeChunks, nullptr, nullptr, 100);
  ASSERT_EQ(first->Scan(nullptr), kStopRequested);
  first.reset();

  // The state saved at the stop, as the disk holds it.
  ScanLogFolder& logs = ScanLogFolder::Instance();
  const std::string config = logs.ScanLogPath() + "/config";
  std::string folder;
  {
    auto probe = CreateEngineForImage(image_, 1, true);
    auto* deep = static_cast<DeepScanEngine*>(probe.get());
    ASSERT_TRUE(deep->CanResume());
    folder = EntryScanFolder(deep->ResumeEntry());
  }
  const std::string kept = folder + "/.kept_records";
  ASSERT_TRUE(fs::exists(kept));
  const auto savedConfig = test::ReadBytes(config), savedKept = test::ReadBytes(kept);

  // A resumed run finds the rest, then "dies": its own save never happened.
  {
    auto second = CreateEngineForImage(image_, 1, true);
    ASSERT_TRUE(static_cast<DeepScanEngine*>(second.get())->CanResume());
    ASSERT_EQ(second->Scan(nullptr), kOk);
  }
  test::WriteBytes(config, savedConfig);
  test::WriteBytes(kept, savedKept);
  ASSERT_EQ(logs.Load(), kOk);

  auto third = CreateEngineForImage(image_, 1, true);
  ASSERT_TRUE(static_cast<DeepScanEngine*>(third.get())->CanResume());
  ASSERT_EQ(third->Scan(nullptr), kOk);
  EXPECT_EQ(third->GetFoundCount(), 6);
  std::vector<FoundItemRecord> items;
  ASSERT_EQ(third->ListChildren(nullptr, 0, items), kOk);
  EXPECT_EQ(items.size(), 6u);
  EXPECT_EQ(Hashes(*third), full);
}

// The files of the scan folder a deep scan of `image` wrote, named without
// their time stamps; the pass reads `ahead` chunks ahead on a thread of its
// own (0: on the scan's thread), judging sectors for it while `judge` pieces
// are queued. `stopAfter` > 0: stopped at the pass's report after that many
// chunks.
struct PassLogs {
  Status status = kOk;
  std::map<std::string, std::vector<uint8_t>> files;
  ScanResumeEntry saved{};
};
PassLogs DeepScanLogs(const std::string& image, uint32_t ahead, int stopAfter = 0,
                      uint32_t judge = DeepPass::kJudgeWhenQueued) {
  PassLogs out;
  auto e = CreateEngineForImage(image, 'T', true);
  auto* deep = dynamic_cast<DeepScanEngine*>(e.get());
  EXPECT_NE(deep, nullptr) << image;
  if (!deep) return out;
  deep->DeclineResume();
  deep->SetReadAheadChunks(ahead, judge);
  static int calls, limit;
  calls = 0;
  limit = stopAfter;
  if (stopAfter > 0)
    (void)e->SetCallbacks(
        [](void*, int, int share, int64_t, uint64_t, uint64_t, uint64_t, uint64_t) {
          return share == 90 && ++calls >= limit ? int(kStopRequested) : 0;
        },
        nullptr, nullptr, 100);
  out.status = e->Scan(nullptr);
  const std::string folder = ScanLogFolder::Instance().CurrentScanFolder();
  e.reset();
  static const std::regex stamp("_[0-9]{8,}");
  for (const fs::directory_entry& f : fs::directory_iterator(folder))
    if (f.is_regular_file())
      out.files[std::regex_replace(f.path().filename().string(), stamp, "")] = test::ReadBytes(f.path().string());
  auto probe = CreateEngineForImage(image, 'T', true);
  auto* again = static_cast<DeepScanEngine*>(probe.get());
  if (again->CanResume()) out.saved = again->ResumeEntry();
  return out;
}

void ExpectSameLogs(const PassLogs& threaded, const PassLogs& single, const std::string& what) {
  EXPECT_EQ(threaded.status, single.status) << what;
  ASSERT_EQ(threaded.files.size(), single.files.size()) << what;
  size_t records = 0;
  for (const auto& [name, bytes] : single.files) {
    auto it = threaded.files.find(name);
    ASSERT_NE(it, threaded.files.end()) << what << ": " << name;
    EXPECT_TRUE(it->second == bytes) << what << ": " << name << " differs";
    records += bytes.size();
  }
  EXPECT_GT(records, 0u) << what << ": the scan wrote nothing";
}

// Reading ahead on a thread of its own, with the ring this build uses and
// with one of two chunks (every chunk waited for, the ring wrapping at every
// carved file), and with the reader judging every sector it reads for the
// pass's forward scans, the pass writes the logs of a pass on one thread
// byte for byte, records in the same order.
TEST_F(DeepScanImage, ReadingAheadWritesTheLogsOfASingleThreadedPass) {
  std::vector<std::string> images{image_};
  std::string fat;
  if (FatWithDeletedPicture("GONE.JPG", fat)) images.push_back(fat);  // free ranges of a volume
  for (const std::string& image : images) {
    const PassLogs single = DeepScanLogs(image, 0);
    ASSERT_EQ(single.status, kOk) << image;
    for (uint32_t ahead : {DeepPass::kReadAheadChunks, 2u}) {
      SCOPED_TRACE("read ahead " + std::to_string(ahead));
      ExpectSameLogs(DeepScanLogs(image, ahead), single, image);
      ExpectSameLogs(DeepScanLogs(image, ahead, 0, 0), single, image + ", every sector judged");
    }
  }
}

// A stop at the pass's report saves the position of the chunks dispatched,
// however far the reader got: the same position as a pass on one thread,
// and a resumed scan ends with what an uninterrupted one finds.
TEST_F(DeepScanImage, AStopSavesThePositionOfTheChunksDispatchedNotRead) {
  std::set<std::string> full;
  {
    auto e = CreateEngineForImage(image_, 1, true);
    ASSERT_EQ(e->Scan(nullptr), kOk);
    full = Hashes(*e);
  }
  std::vector<std::string> images{image_};
  std::string fat;
  if (FatWithDeletedPicture("GONE.JPG", fat)) images.push_back(fat);
  for (const std::string& image : images) {
    for (int gate : {1, 3, 5}) {
      const PassLogs single = DeepScanLogs(image, 0, gate);
      ASSERT_EQ(single.status, kStopRequested) << image << " gate " << gate;
      // (On the FAT volume the first report may come from carving sizing
      // the deleted picture at the first free sector: nothing done yet.)
      if (image == image_) {
        ASSERT_GT(+single.saved.sectorsDone, 0u);
      }
      for (uint32_t ahead : {DeepPass::kReadAheadChunks, 2u}) {
        SCOPED_TRACE(image + " gate " + std::to_string(gate) + ", read ahead " + std::to_string(ahead));
        const PassLogs threaded = DeepScanLogs(image, ahead, gate, ahead == 2 ? 0 : DeepPass::kJudgeWhenQueued);
        ExpectSameLogs(threaded, single, image);
        EXPECT_EQ(+threaded.saved.rangeStart, +single.saved.rangeStart);
        EXPECT_EQ(+threaded.saved.rangeLength, +single.saved.rangeLength);
        EXPECT_EQ(+threaded.saved.rangeOffset, +single.saved.rangeOffset);
        EXPECT_EQ(+threaded.saved.sectorsDone, +single.saved.sectorsDone);
        EXPECT_EQ(+threaded.saved.filesFound, +single.saved.filesFound);
      }
    }
  }
  // Stopped reading ahead, resumed reading ahead: all of it, once.
  const PassLogs stopped = DeepScanLogs(image_, DeepPass::kReadAheadChunks, 3);
  ASSERT_EQ(stopped.status, kStopRequested);
  auto resumed = CreateEngineForImage(image_, 1, true);
  ASSERT_TRUE(static_cast<DeepScanEngine*>(resumed.get())->CanResume());
  ASSERT_EQ(resumed->Scan(nullptr), kOk);
  EXPECT_EQ(resumed->GetFoundCount(), 6);
  EXPECT_EQ(Hashes(*resumed), full);
}

// The same on the file-system fixtures: FAT and NTFS volumes formatted over
// (their deep engines' records and folders), a disk of two partitions, exFAT
// volumes and a card.
TEST(DeepPassReadingAhead, WritesTheLogsOfASingleThreadedPassOnTheFileSystemFixtures) {
  test::UsePrivateDataFolder();
  std::vector<std::string> images;
  std::string missing;  // fixtures a missing tool kept from being made
  auto add = [&](const char* script, const char* name, std::initializer_list<const char*> files) {
    const test::CachedFixture f = test::MakeCachedFixture(script, name);
    if (f.missingTool) missing += std::string(name) + ": " + f.message + "\n";
    else if (f.dir.empty()) ADD_FAILURE() << name << ": " << f.message;
    else
      for (const char* file : files) images.push_back(f.dir + "/" + file);
  };
  add("make_deepfat_images.sh", "deepfat-images", {"reformatted32.img", "root16.img"});
  add("make_deepntfs_images.sh", "deepntfs-images", {"reformatted.img", "disk.img"});
  TempDir unpacked;
  for (const char* name : {"exfat-basic", "exfat-card"}) {
    if (!test::HaveTool("xz")) {
      missing += std::string(name) + ": " + test::MissingToolMessage("xz") + "\n";
      continue;
    }
    const std::string to = unpacked / (std::string(name) + ".img");
    if (test::RunCommand("xz -dc " + test::ShellQuote(test::SourcePath("tests/fixtures/exfat/" + std::string(name) +
                                                                     ".img.xz")) +
                         " > " + test::ShellQuote(to)) == 0)
      images.push_back(to);
    else
      ADD_FAILURE() << name << ": xz could not unpack it";
  }
  if (images.empty()) GTEST_SKIP() << missing;
  if (!missing.empty()) std::cout << "not compared (a tool is missing): " << missing;
  for (const std::string& image : images) {
    const PassLogs single = DeepScanLogs(image, 0);
    ASSERT_EQ(single.status, kOk) << image;
    ExpectSameLogs(DeepScanLogs(image, DeepPass::kReadAheadChunks), single, image);
    ExpectSameLogs(DeepScanLogs(image, DeepPass::kReadAheadChunks, 0, 0), single, image + ", every sector judged");
  }
}

TEST_F(DeepScanImage, FatVolumeFreeRangesAndOneListingPerFile) {
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  DUNMERE_REQUIRE_TOOL("mcopy");
  std::string fat;
  ASSERT_TRUE(FatWithDeletedPicture("gone.jpg", fat));
  auto e = CreateEngineForImage(fat, 1, true);
  ASSERT_NE(e, nullptr);
  auto* deep = static_cast<DeepScanEngine*>(e.get());
  ASSERT_NE(deep->QuickEngine(), nullptr);
  ASSERT_EQ(e->Scan(nullptr), kOk);
  EXPECT_TRUE(deep->UsedFreeRanges());
  std::vector<FoundItemRecord> found;
  ASSERT_EQ(e->SearchByType("*.jpg", found), 1);
  // The quick engine's deleted file and the carved copy of the same clusters are one file.
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(+found[0].sourceKind, uint32_t(kSourceQuickFat));
  TempDir to;
  ASSERT_EQ(e->RecoverItem(found[0], to / "x.jpg", 0), kOk);
  EXPECT_EQ(test::Sha256OfFile(to / "x.jpg"), originals_[0]);
  e.reset();
  // A pass over the free extents that reached the last one ended too.
  auto again = CreateEngineForImage(fat, 1, true);
  auto* next = static_cast<DeepScanEngine*>(again.get());
  ASSERT_TRUE(next->CanResume());
  EXPECT_TRUE(EntryScanEnded(next->ResumeEntry()));
  next->DeclineResume();
}

// The saved position tells a stopped scan from one that ended, for a pass
// over the whole area and one over free extents.
TEST(ScanResumeEntryEnd, FromTheSavedPosition) {
  ScanResumeEntry e{};
  e.partitionSectors = 1000;
  e.rangeLength = 1000;
  e.rangeOffset = 999;
  EXPECT_FALSE(EntryScanEnded(e));
  e.rangeOffset = 1000;
  EXPECT_TRUE(EntryScanEnded(e));
  // Free extents: stopped inside one, then none left.
  e.rangeStart = 200;
  e.rangeLength = 50;
  e.rangeOffset = 10;
  EXPECT_FALSE(EntryScanEnded(e));
  e.rangeStart = 1000;
  e.rangeLength = 0;
  e.rangeOffset = 0;
  EXPECT_TRUE(EntryScanEnded(e));
}

TEST_F(DeepScanImage, ACarvedJpegAtAThmFilesSectorIsListedOnce) {
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  DUNMERE_REQUIRE_TOOL("mcopy");
  // Cameras keep a JPEG preview as a ".thm" file: its carved copy is no
  // second file.
  std::string fat;
  ASSERT_TRUE(FatWithDeletedPicture("MVI_0001.THM", fat));
  auto e = CreateEngineForImage(fat, 1, true);
  ASSERT_NE(e, nullptr);
  ASSERT_EQ(e->Scan(nullptr), kOk);
  // Searched for together (as the photo category does): the file system's
  // item alone.
  std::vector<FoundItemRecord> both;
  ASSERT_EQ(e->SearchByType("*.jpg|*.thm", both), 1);
  ASSERT_EQ(both.size(), 1u);
  EXPECT_EQ(+both[0].sourceKind, uint32_t(kSourceQuickFat));
  EXPECT_EQ(AsciiLower(ExtensionOf(RecordName(both[0]))), "thm");
  // The carving engine did find it: only the listing leaves it out.
  auto* deep = static_cast<DeepScanEngine*>(e.get());
  std::vector<FoundItemRecord> carved;
  ASSERT_EQ(deep->Carving().SearchByType("*.jpg", carved), 1);
  EXPECT_EQ(carved.size(), 1u);
}

// A video whose size rule takes it far past the chunk it starts in: the pass
// goes on after its end. Pack headers inside an MPEG do not end it, but the
// pass would carve each as a new video if it read there.
TEST_F(DeepScanImage, ALargeVideoNearAChunksEndMovesTheNextReadPastIt) {
  DUNMERE_REQUIRE_TOOL("ffmpeg");
  std::string mpg = dir_ / "clip.mpg";
  ASSERT_EQ(test::RunCommand("ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc=size=64x48:rate=25:duration=1 "
                             "-c:v mpeg1video -f mpeg '" + mpg + "'"),
            0);
  std::vector<uint8_t> video = test::ReadBytes(mpg);
  // The start code after the first pack and system header damaged: the
  // packets cannot be followed, so the end code decides where the file ends.
  ASSERT_GT(video.size(), 64u);
  const size_t packet = 12 + 6 + (size_t(video[16]) << 8 | video[17]);
  ASSERT_EQ(video[packet + 2], 1);
  video[packet + 2] = 7;
  // ffmpeg pads its last pack and writes no program end code: one goes at
  // the 100 MiB mark.
  const uint8_t kEndCode[] = {0, 0, 1, 0xB9};
  ASSERT_GT(video.size(), 1024u);
  ASSERT_EQ(std::search(video.begin(), video.end(), kEndCode, kEndCode + 4), video.end());
  constexpr uint64_t kBig = 100ull << 20;
  const uint64_t at = 128 - 10;  // 10 sectors before the first 64 KiB chunk ends
  std::vector<uint8_t> png = test::ReadBytes(dir_ / "p1.png");
  const std::string image = dir_ / "long.img";
  {
    std::ofstream out(image, std::ios::binary);
    auto put = [&](uint64_t byte, const uint8_t* p, size_t n) {
      out.seekp(std::streamoff(byte));
      out.write(reinterpret_cast<const char*>(p), std::streamsize(n));
    };
    put(at * 512, video.data(), video.size());
    put(at * 512 + (40ull << 20), video.data(), 512);  // a pack header inside
    put(at * 512 + kBig - 4, kEndCode, 4);
    put(at * 512 + kBig, png.data(), png.size());  // right after it
  }
  fs::resize_file(image, at * 512 + kBig + (1 << 20));
  auto e = CreateEngineForImage(image, 1, true);
  ASSERT_NE(e, nullptr);
  ASSERT_EQ(e->Scan(nullptr), kOk);
  std::vector<FoundItemRecord> items;
  ASSERT_EQ(e->ListChildren(nullptr, 0, items), kOk);
  ASSERT_EQ(items.size(), 2u);
  std::sort(items.begin(), items.end(),
            [](const FoundItemRecord& a, const FoundItemRecord& b) { return a.location < b.location; });
  EXPECT_EQ(uint64_t(items[0].location), at);
  EXPECT_EQ(uint64_t(items[0].size), kBig);
  EXPECT_EQ(ExtensionOf(RecordName(items[0])), "mpeg");
  EXPECT_EQ(uint64_t(items[1].location), at + kBig / 512);
  EXPECT_EQ(ExtensionOf(RecordName(items[1])), "png");
}

}  // namespace
}  // namespace dunmere

namespace dunmere {
namespace {

std::vector<std::vector<std::string>> ReadTsv(const std::string& path) {
  std::vector<std::vector<std::string>> rows;
  for (const std::vector<std::string>& f : test::ReadTsvRows(path)) {
    rows.push_back(f);
  }
  return rows;
}

// A disk whose NTFS and FAT32 partitions were both formatted again, scanned
// whole: every old file comes back with its name, attributed to its volume.
TEST(DeepScanWholeDisk, ReformattedNtfsAndFatPartitionsComeBackFromTheirVolumes) {
  test::CachedFixture ntfs = test::MakeCachedFixture("make_deepntfs_images.sh", "deepntfs-images");
  test::CachedFixture fat = test::MakeCachedFixture("make_deepfat_images.sh", "deepfat-images");
  if (ntfs.missingTool || fat.missingTool) GTEST_SKIP() << ntfs.message << fat.message;
  ASSERT_FALSE(ntfs.dir.empty()) << ntfs.message;
  ASSERT_FALSE(fat.dir.empty()) << fat.message;
  DUNMERE_REQUIRE_TOOL("sfdisk");
  test::UsePrivateDataFolder();
  const uint64_t ntfsStart = 2048, fatStart = 36864, fatSectors = 69632, total = fatStart + fatSectors + 2048;
  TempDir dir;
  std::string disk = dir / "disk.img", out;
  ASSERT_EQ(test::RunCommand("truncate -s " + std::to_string(total * 512) + " '" + disk +
                                 "' && printf 'start=2048, size=32768, type=7\\nstart=36864, size=69632, type=c\\n' | "
                                 "sfdisk -q '" + disk + "' && dd if='" + ntfs.dir + "/reformatted.img' of='" + disk +
                                 "' bs=512 seek=2048 conv=notrunc,sparse status=none && dd if='" + fat.dir +
                                 "/reformatted32.img' of='" + disk + "' bs=512 seek=36864 conv=notrunc,sparse status=none",
                             &out),
            0)
      << out;
  DiskTable::SetOverride({disk});
  auto e = CreateEngineForPartition(0, 0, total, 1, true);
  ASSERT_NE(e, nullptr);
  static_cast<DeepScanEngine*>(e.get())->DeclineResume();
  ASSERT_EQ(e->Scan(nullptr), kOk);
  TempDir copies;
  auto found = test::CopyOutEverything(*e, copies.path());
  DiskTable::SetOverride({});

  // NTFS items carry their volume's start; FAT volumes learned from their
  // folders are placed by where their data area lies on the disk.
  auto expect = [&](const std::string& sha, const std::string& name, uint32_t kind,
                    const std::function<bool(const FoundItemRecord&)>& onVolume) {
    auto range = found.equal_range(sha);
    ASSERT_NE(range.first, range.second) << name << " not recovered byte-exact";
    bool same = false;
    for (auto it = range.first; it != range.second; ++it)
      same |= AsciiLower(RecordName(it->second)) == AsciiLower(name) && it->second.sourceKind == kind &&
              onVolume(it->second);
    EXPECT_TRUE(same) << name << " lost its name or its volume";
  };
  auto onNtfs = [&](const FoundItemRecord& r) { return r.partitionStart == ntfsStart; };
  auto onFat = [&](const FoundItemRecord& r) {
    uint64_t data = r.partitionStart + r.dataAreaStart;
    return data > fatStart && data < fatStart + fatSectors;
  };
  int ntfsFiles = 0, fatFiles = 0;
  for (const auto& f : ReadTsv(ntfs.dir + "/manifest.tsv")) {
    if (f.size() < 6 || f[0] != "reformatted.img") continue;
    expect(f[3], f[2], kSourceDeepNtfs, onNtfs);
    ++ntfsFiles;
  }
  for (const auto& f : ReadTsv(fat.dir + "/reformatted32.img.manifest")) {
    if (f.size() < 4 || f[0] != "sub") continue;
    expect(f[3], f[2], kSourceDeepFat, onFat);
    ++fatFiles;
  }
  EXPECT_GT(ntfsFiles, 3);
  EXPECT_GT(fatFiles, 20);
}

}  // namespace
}  // namespace dunmere
