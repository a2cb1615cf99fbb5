// The carving engine over an image of real files: driven sector by sector the
// way the deep scan drives it, then listed, searched, previewed, copied out
// and reopened from its log.
#include <fcntl.h>
#include <gtest/gtest.h>

#include "tests/support/open_medium.h"
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "carving/carving_engine.h"
#include "engine/scan_log_folder.h"
#include "base/text.h"
#include "storage/disk_table.h"
#include "tests/carving/carve_pass.h"
#include "tests/carving/sig_test_util.h"

namespace fs = std::filesystem;

namespace dunmere::test {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kSector = 512;

// The media samples, made once per build tree and shared with the signature
// tests (same folder, lock and stamp).
int MakeSamples(std::string& dir, std::string& message) {
  std::string root = std::string(DUNMERE_BINARY_DIR) + "/test-fixtures";
  fs::create_directories(root);
  int lock = ::open((root + "/media-samples.lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
  if (lock >= 0) ::flock(lock, LOCK_EX);
  std::string key = Sha256OfFile(SourcePath("tests/fixtures/make_media_samples.sh")) +
                    Sha256OfFile(SourcePath("tests/fixtures/make_media_samples.py"));
  dir = root + "/media-samples";
  std::string stamp = dir + ".stamp";
  auto old = ReadBytes(stamp);
  int status = 0;
  if (!(key.size() > 64 && std::string(old.begin(), old.end()) == key && fs::is_directory(dir))) {
    fs::remove_all(dir);
    fs::remove(stamp);
    status = RunFixtureScript("make_media_samples.sh", "'" + dir + "'", &message);
    if (status == 0) WriteBytes(stamp, Bytes(key.begin(), key.end()));
  }
  if (lock >= 0) ::close(lock);
  return status;
}

// How far a carved sample reaches: its own length where the format states it
// or its structure shows it, up to the next file where the rule scans for
// it, or to its last "%%EOF".
enum class Reach { kExact, kToNextFile, kToLastEof };
struct Sample {
  const char* file;
  const char* ext;
  Reach reach;
};
const Sample kSamples[] = {
    {"big.jpg", "jpg", Reach::kExact},        {"image.png", "png", Reach::kExact},
    {"image.gif", "gif", Reach::kExact},      {"image.bmp", "bmp", Reach::kExact},
    {"image.tif", "tif", Reach::kExact}, {"image.psd", "psd", Reach::kExact},
    {"image.ico", "ico", Reach::kExact},      {"video.mp4", "mp4", Reach::kExact},
    {"video.mov", "mov", Reach::kExact}, {"video.3gp", "3gp", Reach::kExact},
    {"video.avi", "avi", Reach::kExact},      {"video.mkv", "mkv", Reach::kExact},
    {"video.flv", "flv", Reach::kExact}, {"video.mpg", "mpeg", Reach::kExact},
    {"video.ts", "ts", Reach::kExact},        {"video.m2ts", "mts", Reach::kExact},
    {"video.wmv", "wmv", Reach::kExact},      {"video.swf", "swf", Reach::kExact},
    {"video.mxf", "mxf", Reach::kExact}, {"video.rm", "rmvb", Reach::kExact},
    {"audio.mp3", "mp3", Reach::kExact},      {"audio.mp2", "mp2", Reach::kExact},
    {"audio.mmf", "mmf", Reach::kExact}, {"audio.wav", "wav", Reach::kExact},
    {"song.mid", "mid", Reach::kExact},       {"archive.zip", "zip", Reach::kExact},
    {"archive.7z", "7z", Reach::kExact},      {"archive.gz", "gz", Reach::kExact},
    {"archive.cab", "cab", Reach::kExact},    {"archive.rar", "rar", Reach::kExact},
    {"data.db", "db", Reach::kExact},    {"font.ttf", "ttf", Reach::kExact},
    {"word.doc", "doc", Reach::kExact},       {"sheet.xls", "xls", Reach::kExact},
    {"slides.ppt", "ppt", Reach::kExact},     {"plain.ole", "ole", Reach::kExact},
    {"doc.docx", "docx", Reach::kExact},      {"book.xlsx", "xlsx", Reach::kExact},
    {"deck.pptx", "pptx", Reach::kExact},     {"update.pdf", "pdf", Reach::kToLastEof},
    {"exif.jpg", "jpg", Reach::kExact},
};

struct Placed {
  const Sample* sample;
  Bytes bytes;
  uint64_t sector;
  uint64_t expectedSize;
};

std::map<uint64_t, FoundItemRecord> BySector(const std::vector<FoundItemRecord>& v) {
  std::map<uint64_t, FoundItemRecord> m;
  for (const auto& r : v) m[+r.location] = r;
  return m;
}

class CarvingPass : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    UsePrivateDataFolder();
    status_ = MakeSamples(samples_, message_);
    if (status_ == 77) return;
    if (status_ != 0) {
      ADD_FAILURE() << message_;
      return;
    }
    dir_ = new TempDir();
    // Files at sector boundaries with gaps of random data between them.
    Medium* m = new Medium(2024);
    medium_ = m;
    std::mt19937 rng(99);
    m->Random(8);
    placed_ = new std::vector<Placed>();
    for (const Sample& s : kSamples) {
      Placed p{&s, ReadBytes(samples_ + "/" + s.file), 0, 0};
      p.sector = m->Place(p.bytes);
      m->Random(rng() % 7);
      placed_->push_back(std::move(p));
    }
    m->Random(4);
    for (size_t i = 0; i < placed_->size(); ++i) {
      Placed& p = (*placed_)[i];
      uint64_t next = i + 1 < placed_->size() ? (*placed_)[i + 1].sector : m->bytes.size() / kSector;
      std::string text(p.bytes.begin(), p.bytes.end());
      switch (p.sample->reach) {
        case Reach::kExact: p.expectedSize = p.bytes.size(); break;
        case Reach::kToNextFile: p.expectedSize = (next - p.sector) * kSector; break;
        case Reach::kToLastEof: p.expectedSize = p.bytes.size(); break;  // ends with "%%EOF\n"
      }
    }
    m->Open(*dir_, "carve.img");
    ScanLogFolder::Instance().BeginNewScanFolder();
    engine_ = new CarvingEngine();
    if (Status s = test::OpenImageIn(*engine_, m->path, 'C')) ADD_FAILURE() << "open " << s;
    pass_ = new PassResult(RunPass(*engine_, engine_->Source()));
  }
  static void TearDownTestSuite() {
    delete engine_;
    delete pass_;
    delete placed_;
    delete medium_;
    delete dir_;
    engine_ = nullptr;
  }
  void SetUp() override {
    if (status_ == 77) GTEST_SKIP() << "sample tools missing: " << message_;
    ASSERT_EQ(status_, 0) << message_;
  }
  static Bytes SampleBytes(const std::string& name) { return ReadBytes(samples_ + "/" + name); }
  static const Placed& PlacedFile(const std::string& file) {
    for (const Placed& p : *placed_)
      if (p.sample->file == file) return p;
    throw std::runtime_error("no sample " + file);
  }
  static FoundItemRecord RecordAt(uint64_t sector) {
    std::vector<FoundItemRecord> all;
    (void)engine_->ListChildren(nullptr, 0, all);
    auto m = BySector(all);
    auto it = m.find(sector);
    if (it == m.end()) throw std::runtime_error("no record at " + std::to_string(sector));
    return it->second;
  }

  static inline int status_ = -1;
  static inline std::string message_;
  static inline std::string samples_;
  static inline TempDir* dir_ = nullptr;
  static inline Medium* medium_ = nullptr;
  static inline std::vector<Placed>* placed_ = nullptr;
  static inline CarvingEngine* engine_ = nullptr;
  static inline PassResult* pass_ = nullptr;
  TempDir tmp_;
};

TEST_F(CarvingPass, EveryFileIsCarvedAtItsSectorWithItsNameAndSize) {
  ASSERT_EQ(pass_->status, kOk);
  std::vector<FoundItemRecord> all;
  ASSERT_EQ(engine_->ListChildren(nullptr, 0, all), kOk);
  auto bySector = BySector(all);
  for (const Placed& p : *placed_) {
    SCOPED_TRACE(p.sample->file);
    auto it = bySector.find(p.sector);
    ASSERT_NE(it, bySector.end());
    const FoundItemRecord& r = it->second;
    EXPECT_EQ(RecordName(r), std::to_string(p.sector) + "." + p.sample->ext);
    EXPECT_EQ(+r.size, p.expectedSize);
    EXPECT_EQ(+r.sourceTag, 'C');
    EXPECT_EQ(+r.sourceKind, 4u);
    EXPECT_EQ(+r.isFolder, 0u);
    EXPECT_EQ(+r.contentOk, 1u);
    EXPECT_EQ(+r.itemId, 0u);
    EXPECT_EQ(+r.clusterBytes, 0xFFFFFFFFu);
    EXPECT_EQ(+r.dataAreaStart, 0u);
    EXPECT_EQ(+r.partitionStart, 0u);
  }
  // Nothing else was found in the random gaps. Inside a file sized from its
  // header the scan goes on, so pictures inside it (the SWF's JPEG frames)
  // are found as files of their own.
  size_t inside = 0;
  for (const auto& [sector, r] : bySector) {
    bool isPlaced = false;
    const Placed* container = nullptr;
    for (const Placed& p : *placed_) {
      isPlaced |= p.sector == sector;
      if (sector > p.sector && sector < p.sector + (p.bytes.size() + kSector - 1) / kSector) container = &p;
    }
    if (isPlaced) continue;
    ASSERT_NE(container, nullptr) << RecordName(r) << " lies in a gap";
    EXPECT_EQ(pass_->skipAt.at(container->sector), 1u) << RecordName(r) << " in " << container->sample->file;
    ++inside;
  }
  EXPECT_EQ(all.size(), placed_->size() + inside);
  EXPECT_EQ(pass_->found, all.size());
  EXPECT_EQ(engine_->GetFoundCount(), int64_t(all.size()));
  // Record indexes follow the order of the pass.
  std::vector<uint32_t> idx;
  for (const auto& [sector, r] : bySector) idx.push_back(+r.recordIndex);
  for (size_t i = 0; i < idx.size(); ++i) EXPECT_EQ(idx[i], i + 1);
}

// Header-sized formats let the scan go on after their first sector; files
// whose end was found by reading are skipped as a whole.
TEST_F(CarvingPass, SkipCountsFollowHowTheSizeWasFound) {
  for (const char* f : {"audio.wav", "video.avi", "image.bmp", "archive.cab", "font.ttf", "image.ico", "word.doc",
                        "video.swf", "video.wmv"})
    EXPECT_EQ(pass_->skipAt.at(PlacedFile(f).sector), 1u) << f;
  for (const char* f : {"big.jpg", "image.png", "archive.zip", "video.mp4", "update.pdf"}) {
    const Placed& p = PlacedFile(f);
    EXPECT_EQ(pass_->skipAt.at(p.sector), (p.expectedSize + kSector - 1) / kSector) << f;
  }
  // Skipped bodies are never offered again: far fewer calls than sectors.
  uint64_t sectors = medium_->bytes.size() / kSector;
  EXPECT_LT(pass_->carveCalls, sectors);
}

TEST_F(CarvingPass, CopyOutGivesTheOriginalFiles) {
  for (const Placed& p : *placed_) {
    SCOPED_TRACE(p.sample->file);
    FoundItemRecord r = RecordAt(p.sector);
    std::string dest = tmp_ / ("out/" + RecordName(r));
    ASSERT_EQ(engine_->RecoverItem(r, dest, 0), kOk);
    if (p.sample->reach == Reach::kExact) {
      EXPECT_EQ(Sha256OfFile(dest), Sha256OfFile(samples_ + "/" + p.sample->file));
    } else {
      Bytes got = ReadBytes(dest);
      ASSERT_EQ(got.size(), +r.size);
      size_t common = std::min(got.size(), p.bytes.size());
      EXPECT_TRUE(std::equal(got.begin(), got.begin() + common, p.bytes.begin()));
    }
  }
}

// Copy-out reports each piece through the data callback and stops when told.
TEST_F(CarvingPass, CopyOutReportsAndStopsThroughTheDataCallback) {
  struct Seen {
    std::vector<int> percents;
    int answer = 0;
  } seen;
  auto cb = [](void* u, int percent, int hundred, Status error, const std::string&) -> int {
    auto* s = static_cast<Seen*>(u);
    EXPECT_EQ(hundred, 100);
    EXPECT_EQ(error, kOk);
    s->percents.push_back(percent);
    return s->answer;
  };
  CarvingEngine engine;
  ASSERT_EQ(engine.ResumeOnImage(kSector, fs::path(engine_->Store()->LogPath()).filename(), 'C', medium_->path),
            kOk);
  (void)engine.SetCallbacks(nullptr, cb, &seen, 100);
  FoundItemRecord font = RecordAt(PlacedFile("font.ttf").sector);  // several 64 KiB pieces
  ASSERT_EQ(engine.RecoverItem(font, tmp_ / "font.ttf", 0), kOk);
  ASSERT_GT(seen.percents.size(), 2u);
  EXPECT_EQ(seen.percents.back(), 100);
  EXPECT_TRUE(std::is_sorted(seen.percents.begin(), seen.percents.end()));
  seen = {};
  seen.answer = kStopRequested;
  EXPECT_EQ(engine.RecoverItem(font, tmp_ / "stopped.ttf", 0), kStopRequested);
  EXPECT_EQ(seen.percents.size(), 1u);
  EXPECT_FALSE(fs::exists(tmp_ / "stopped.ttf"));
}

TEST_F(CarvingPass, ListingCountingAndSearchByType) {
  std::vector<FoundItemRecord> all;
  ASSERT_EQ(engine_->ListChildren(nullptr, 0, all), kOk);
  for (size_t i = 1; i < all.size(); ++i)
    EXPECT_LE(CompareNamesAsciiNoCase(RecordName(all[i - 1]), RecordName(all[i])), 0);
  // A carved file is no folder: it has no children, nor is there a level below the root.
  std::vector<FoundItemRecord> none;
  EXPECT_EQ(engine_->ListChildren(&all[0], 0, none), kOk);
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(engine_->ListChildren(nullptr, 1, none), kInvalidArg);
  EXPECT_TRUE(none.empty());
  uint32_t count = 0;
  EXPECT_EQ(engine_->CountFiles(nullptr, 0, count), kOk);
  EXPECT_EQ(count, all.size());
  EXPECT_EQ(engine_->CountFiles(&all[0], 0, count), kOk);
  EXPECT_EQ(count, 0u);
  std::string path = "x";
  EXPECT_EQ(engine_->GetFolderPath(&all[0], path), kOk);
  EXPECT_EQ(path, "");

  std::vector<FoundItemRecord> jpgs;
  EXPECT_EQ(engine_->SearchByType("*.jpg", jpgs), 1);
  std::set<uint64_t> want, got;
  for (const auto& r : all)
    if (ExtensionOf(RecordName(r)) == "jpg") want.insert(+r.location);
  for (const auto& r : jpgs) got.insert(+r.location);
  EXPECT_EQ(got, want);
  EXPECT_EQ(got.size(), jpgs.size());
  EXPECT_TRUE(got.count(PlacedFile("big.jpg").sector) && got.count(PlacedFile("exif.jpg").sector));
  std::vector<FoundItemRecord> docs;
  engine_->SearchByType("*.doc|*.xls|*.pdf", docs);
  std::multiset<std::string> exts;
  for (const auto& r : docs) exts.insert(ExtensionOf(RecordName(r)));
  EXPECT_EQ(exts, (std::multiset<std::string>{"doc", "xls", "pdf"}));

  CarvingEngine empty;
  EXPECT_EQ(empty.SetSearchCallback(nullptr, nullptr), kInvalidArg);
  EXPECT_EQ(empty.SearchByType("*.jpg", docs), 0);
  EXPECT_EQ(empty.GetFoundCount(), 0);
  EXPECT_EQ(engine_->SetSearchCallback(nullptr, nullptr), kOk);
}

TEST_F(CarvingPass, PreviewGoesToTheTemporaryFileOfItsKindOrToMemory) {
  std::string logDir = ScanLogFolder::Instance().ScanLogPath();
  auto preview = [&](const char* file, uint64_t capacity, Bytes* memory) {
    FoundItemRecord r = RecordAt(PlacedFile(file).sector);
    std::string path;
    Bytes buf(capacity);
    uint64_t n = capacity;
    int lastPercent = -1;
    auto cb = [](void* u, int percent, Status) -> int {
      *static_cast<int*>(u) = percent;
      return 0;
    };
    EXPECT_EQ(engine_->ReadForPreview(&r, path, buf.data(), n, cb, &lastPercent), kOk);
    EXPECT_EQ(lastPercent, 100);
    if (memory) *memory = Bytes(buf.begin(), buf.begin() + n);
    return path;
  };
  EXPECT_EQ(preview("image.png", 16, nullptr), logDir + "/tmp.jpg");
  EXPECT_EQ(Sha256OfFile(logDir + "/tmp.jpg"), Sha256OfFile(samples_ + "/image.png"));
  EXPECT_EQ(preview("audio.mp3", 16, nullptr), logDir + "/tmp.avi");
  EXPECT_EQ(Sha256OfFile(logDir + "/tmp.avi"), Sha256OfFile(samples_ + "/audio.mp3"));
  std::string pdfName = std::to_string(PlacedFile("update.pdf").sector) + ".pdf";
  EXPECT_EQ(preview("update.pdf", 16, nullptr), logDir + "/" + pdfName);
  // Archives go to a file too: the archive lister needs one.
  std::string zipName = std::to_string(PlacedFile("archive.zip").sector) + ".zip";
  EXPECT_EQ(preview("archive.zip", 16, nullptr), logDir + "/" + zipName);
  EXPECT_EQ(Sha256OfFile(logDir + "/" + zipName), Sha256OfFile(samples_ + "/archive.zip"));
  // Not a previewable kind: the caller's buffer, cut to its capacity.
  Bytes memory;
  EXPECT_EQ(preview("data.db", 100, &memory), "");
  Bytes db = SampleBytes("data.db");
  ASSERT_EQ(memory.size(), 100u);
  EXPECT_TRUE(std::equal(memory.begin(), memory.end(), db.begin()));
  std::string path;
  uint64_t n = 0;
  EXPECT_EQ(engine_->ReadForPreview(nullptr, path, nullptr, n, nullptr, nullptr), kInvalidArg);
}

// The log reopened over the same image gives the same records, by image and
// by disk; new carves are appended after them.
TEST_F(CarvingPass, ResumeReloadsTheLog) {
  std::vector<FoundItemRecord> before;
  ASSERT_EQ(engine_->ListChildren(nullptr, 0, before), kOk);
  std::string log = fs::path(engine_->Store()->LogPath()).filename();
  EXPECT_EQ(log.rfind("File_Type_0_", 0), 0u);
  auto same = [&](CarvingEngine& e) {
    std::vector<FoundItemRecord> after;
    ASSERT_EQ(e.ListChildren(nullptr, 0, after), kOk);
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) EXPECT_EQ(std::memcmp(&after[i], &before[i], kRecordSize), 0);
  };
  {
    CarvingEngine byImage;
    ASSERT_EQ(byImage.ResumeOnImage(kSector, log, 'C', medium_->path), kOk);
    same(byImage);
    EXPECT_EQ(byImage.GetFoundCount(), int64_t(before.size()));
  }
  // The disk resume appends, so it works on a copy of the log.
  std::string folder = fs::path(engine_->Store()->LogPath()).parent_path();
  for (const char* part : {"", "_Relation", "_DirInfo"})
    fs::copy_file(folder + "/" + log + part, folder + "/" + log + "_copy" + part, fs::copy_options::overwrite_existing);
  DiskTable::SetOverride({medium_->path});
  {
    CarvingEngine byDisk;
    ASSERT_EQ(byDisk.ResumeOnDisk(kSector, 0, log + "_copy", 'C'), kOk);
    same(byDisk);
    // A resumed pass goes on appending.
    const Placed& wav = PlacedFile("audio.wav");
    uint64_t skip = 1, found = 0;
    ASSERT_EQ(byDisk.CarveAtSector(kSector, medium_->SectorAt(wav.sector), wav.sector, {}, nullptr, skip, found),
              kOk);
    FoundItemRecord copy;
    ASSERT_EQ(byDisk.Store()->Read(uint32_t(before.size() + 1), copy), kOk);
    EXPECT_EQ(+copy.location, wav.sector);
    // Copy-out works over the disk as over the image.
    ASSERT_EQ(byDisk.RecoverItem(copy, tmp_ / "w.wav", 0), kOk);
    EXPECT_EQ(Sha256OfFile(tmp_ / "w.wav"), Sha256OfFile(samples_ + "/audio.wav"));
  }
  DiskTable::SetOverride({});
  CarvingEngine bad;
  EXPECT_EQ(bad.ResumeOnImage(kSector, "../elsewhere", 'C', medium_->path), kInvalidArg);
  EXPECT_EQ(bad.ResumeOnImage(7, log, 'C', medium_->path), kInvalidArg);
  EXPECT_NE(bad.ResumeOnImage(kSector, log, 'C', tmp_ / "missing.img"), kOk);
  EXPECT_EQ(bad.GetFoundCount(), 0);
}

// A partition of a disk: the log is named after the partition's start and
// records keep absolute sectors of the disk.
TEST_F(CarvingPass, PartitionScanUsesAbsoluteSectors) {
  DiskTable::SetOverride({medium_->path});
  const Placed& png = PlacedFile("image.png");
  uint64_t start = png.sector - 3;
  ScanLogFolder::Instance().BeginNewScanFolder();
  CarvingEngine engine;
  ASSERT_EQ(test::OpenDiskIn(engine, 0, start, 1000, 'P'), kOk);
  DiskTable::SetOverride({});
  EXPECT_EQ(fs::path(engine.Store()->LogPath()).filename().string().rfind("File_Type_" + std::to_string(start) + "_", 0),
            0u);
  EXPECT_EQ(engine.SectorSize(), kSector);
  uint64_t skip = 1, found = 0;
  ASSERT_EQ(engine.CarveAtSector(kSector, medium_->SectorAt(png.sector), png.sector, {}, nullptr, skip, found), kOk);
  std::vector<FoundItemRecord> all;
  (void)engine.ListChildren(nullptr, 0, all);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(RecordName(all[0]), std::to_string(png.sector) + ".png");
  EXPECT_EQ(+all[0].location, png.sector);
  EXPECT_EQ(+all[0].sourceTag, 'P');
  ASSERT_EQ(engine.RecoverItem(all[0], tmp_ / "p.png", 0), kOk);
  EXPECT_EQ(Sha256OfFile(tmp_ / "p.png"), Sha256OfFile(samples_ + "/image.png"));
}

// A file at the very end: what its header promises beyond the medium, or what
// a scanning rule could not read, is not part of it.
TEST_F(CarvingPass, FileAtTheEndOfTheMediumIsClampedToIt) {
  Bytes wav = SampleBytes("audio.wav");
  Bytes jpg = SampleBytes("big.jpg");
  Medium m(5);
  m.Random(3);
  uint64_t jpgAt = m.Place(Bytes(jpg.begin(), jpg.begin() + 20 * kSector));  // no end marker
  m.Random(2);
  uint64_t wavAt = m.Place(Bytes(wav.begin(), wav.begin() + 3 * kSector));   // the header claims more
  Bytes image = m.bytes;
  image.resize(image.size() + 100, 0xEE);  // a partial sector is no part of the medium
  std::string path = tmp_ / "end.img";
  WriteBytes(path, image);
  ASSERT_LT(3 * kSector, wav.size());

  ScanLogFolder::Instance().BeginNewScanFolder();
  CarvingEngine engine;
  ASSERT_EQ(test::OpenImageIn(engine, path, 'E'), kOk);
  PassResult pass = RunPass(engine, engine.Source());
  ASSERT_EQ(pass.status, kOk);
  std::vector<FoundItemRecord> all;
  (void)engine.ListChildren(nullptr, 0, all);
  auto bySector = BySector(all);
  ASSERT_EQ(bySector.count(wavAt), 1u);
  ASSERT_EQ(bySector.count(jpgAt), 1u);
  EXPECT_EQ(+bySector[wavAt].size, 3u * kSector);
  EXPECT_EQ(+bySector[jpgAt].size, (wavAt - jpgAt) * kSector);  // runs to the next header
  // Copy-out and preview give exactly the bytes on the medium.
  ASSERT_EQ(engine.RecoverItem(bySector[wavAt], tmp_ / "tail.wav", 0), kOk);
  EXPECT_EQ(ReadBytes(tmp_ / "tail.wav"), Bytes(wav.begin(), wav.begin() + 3 * kSector));
  std::string previewPath;
  uint64_t n = 0;
  ASSERT_EQ(engine.ReadForPreview(&bySector[wavAt], previewPath, nullptr, n, nullptr, nullptr), kOk);
  EXPECT_EQ(ReadBytes(previewPath), Bytes(wav.begin(), wav.begin() + 3 * kSector));

  // A JPEG cut by the end of the medium is still recorded, up to the end.
  Medium cut(6);
  cut.Random(2);
  uint64_t cutAt = cut.Place(Bytes(jpg.begin(), jpg.begin() + 9 * kSector));
  cut.Open(tmp_, "cut.img");
  uint64_t skip = 1, found = 0;
  ASSERT_EQ(engine.CarveAtSector(kSector, cut.SectorAt(cutAt), cutAt, {}, &cut.source, skip, found), kOk);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(skip, 9u);
}

// The user's stop while a rule reads ahead ends the carve without a record.
TEST_F(CarvingPass, StopDuringSizingRecordsNothing) {
  Medium m(8);
  m.Random(2);
  uint64_t wavAt = m.Place(SampleBytes("audio.wav"));  // sized from its header: no reading ahead
  m.Random(1);
  uint64_t jpgAt = m.Place(SampleBytes("big.jpg"));
  m.Random(4);
  m.Open(tmp_, "stop.img");
  ScanLogFolder::Instance().BeginNewScanFolder();
  CarvingEngine engine;
  ASSERT_EQ(test::OpenImageIn(engine, m.path, 'S'), kOk);
  struct Calls {
    int n = 0;
    int share = 0;
  } calls;
  (void)engine.SetCallbacks(
      [](void* u, int, int share, int64_t, uint64_t, uint64_t, uint64_t, uint64_t) -> int {
        auto* c = static_cast<Calls*>(u);
        ++c->n;
        c->share = share;
        return kStopRequested;
      },
      nullptr, &calls, 90);
  PassResult pass = RunPass(engine, engine.Source());
  EXPECT_EQ(pass.status, kStopRequested);
  EXPECT_EQ(calls.n, 1);
  EXPECT_EQ(calls.share, 90);
  EXPECT_EQ(pass.found, 1u);
  std::vector<FoundItemRecord> all;
  (void)engine.ListChildren(nullptr, 0, all);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(+all[0].location, wavAt);
  EXPECT_EQ(engine.Context().stopResult, kStopRequested);
  // The stop is not sticky: carving again with a patient callback records the picture.
  (void)engine.SetCallbacks(nullptr, nullptr, nullptr, 90);
  uint64_t skip = 1, found = 0;
  EXPECT_EQ(engine.CarveAtSector(kSector, m.SectorAt(jpgAt), jpgAt, {}, nullptr, skip, found), kOk);
  EXPECT_EQ(engine.GetFoundCount(), 2);
}

TEST(CarvingLogName, MinuteIsPaddedWithABlank) {
  struct tm t {};
  t.tm_year = 2024 - 1900;
  t.tm_mon = 2;
  t.tm_mday = 5;
  t.tm_hour = 9;
  t.tm_min = 7;
  EXPECT_EQ(CarvingLogName(2048, t), "File_Type_2048_2024359 7");
  t.tm_min = 42;
  t.tm_mon = 11;
  EXPECT_EQ(CarvingLogName(0, t), "File_Type_0_202412594" "2");
}

// Executables are recognised but never carved, and a sector where nothing is
// carved leaves the skip as the scan set it.
TEST(CarvingEngineEdges, ExecutableIsRecognisedButNotRecorded) {
  UsePrivateDataFolder();
  TempDir tmp;
  Medium m(3);
  Bytes pe(kSector, 0);
  pe[0] = 'M';
  pe[1] = 'Z';
  pe[60] = 0x80;
  std::memcpy(pe.data() + 0x80, "PE\0\0", 4);
  pe[0x80 + 22] = 0x02;  // executable image
  uint64_t at = m.Place(pe);
  m.Random(4);
  m.Open(tmp);
  ScanLogFolder::Instance().BeginNewScanFolder();
  CarvingEngine engine;
  ASSERT_EQ(test::OpenImageIn(engine, m.path, 'X'), kOk);
  uint64_t skip = 1, found = 0;
  EXPECT_EQ(engine.CarveAtSector(kSector, m.SectorAt(at), at, {}, nullptr, skip, found), kInvalidArg);
  EXPECT_EQ(skip, 1u);
  EXPECT_EQ(found, 0u);
  EXPECT_EQ(engine.GetFoundCount(), 0);
}

// Damaged headers, short buffers and sectors past the medium: no crash, every
// call ends, and no record reaches past the medium.
TEST_F(CarvingPass, CorruptSectorsNeverCrashOrReachPastTheMedium) {
  CarvingEngine engine;
  for (uint32_t round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    Medium m(77 + round);
    std::mt19937 rng(5 + round);
    for (const Placed& p : *placed_) {
      Bytes head(p.bytes.begin(), p.bytes.begin() + std::min<size_t>(p.bytes.size(), 4 * kSector));
      // Keep the first bytes (the signature) and damage the rest of the header.
      for (int k = 0; k < 40; ++k) head[8 + rng() % (head.size() - 8)] = uint8_t(rng());
      for (int k = 0; k < 8; ++k) head[4 + rng() % 60] = uint8_t(rng() | (round & 1 ? 0xF0 : 0x80));
      m.Place(head);
      m.Random(rng() % 3);
    }
    m.Open(tmp_, "corrupt.img");
    ScanLogFolder::Instance().BeginNewScanFolder();
    ASSERT_EQ(test::OpenImageIn(engine, m.path, 'K'), kOk);
    PassResult pass = RunPass(engine, engine.Source());
    EXPECT_EQ(pass.status, kOk);
    std::vector<FoundItemRecord> all;
    (void)engine.ListChildren(nullptr, 0, all);
    EXPECT_GT(all.size(), 0u);
    uint64_t mediumBytes = m.bytes.size();
    for (const auto& r : all) EXPECT_LE(r.location * kSector + r.size, mediumBytes) << RecordName(r);
  }

  // Every signature at the last sector, with the rest of the sector hostile.
  for (const Placed& p : *placed_) {
    Medium last(1);
    last.Random(2);
    Bytes head(p.bytes.begin(), p.bytes.begin() + kSector);
    for (size_t i = 16; i < head.size(); ++i) head[i] = 0xFF;
    uint64_t at = last.Place(head);
    last.Open(tmp_, "last.img");
    uint64_t skip = 1, found = 0;
    Status s = engine.CarveAtSector(kSector, last.SectorAt(at), at, {}, &last.source, skip, found);
    if (s == kOk) {
      EXPECT_EQ(skip, 1u) << p.sample->file;
    }
    // Less than a whole sector is never carved: the rules would read past it.
    for (size_t len : {0, 8, 32, 511}) {
      Bytes shortBuf(head.begin(), head.begin() + len);
      skip = 1;
      EXPECT_EQ(engine.CarveAtSector(kSector, ByteView(shortBuf.data(), shortBuf.size()), at, {}, &last.source, skip,
                                     found), kInvalidArg);
      EXPECT_EQ(skip, 1u);
    }
    // A sector number the medium does not hold is refused.
    skip = 1;
    EXPECT_EQ(engine.CarveAtSector(kSector, last.SectorAt(at), at + 10, {}, &last.source, skip, found), kInvalidArg);
  }
  Bytes zeros(kSector * 256);
  uint64_t skip = 1, found = 0;
  EXPECT_EQ(engine.CarveAtSector(0, ByteView(zeros.data(), kSector), 0, {}, nullptr, skip, found), kInvalidArg);
  EXPECT_EQ(engine.CarveAtSector(kSector * 256, ByteView(zeros.data(), zeros.size()), 0, {}, nullptr, skip, found),
            kInvalidArg);
}

// A damaged or hostile log reloaded later: records that point past the
// medium, claim huge sizes, carry path-like names or a folder flag.
TEST_F(CarvingPass, HostileReloadedLogStaysInsideMediumAndDestination) {
  ScanLogFolder::Instance().BeginNewScanFolder();
  std::string folder = ScanLogFolder::Instance().CurrentScanFolder();
  fs::create_directories(folder);
  uint64_t sectors = medium_->bytes.size() / kSector;
  auto rec = [](uint64_t loc, uint64_t size, const char* name) {
    FoundItemRecord r = MakeEmptyRecord();
    r.sourceKind = 4;
    r.contentOk = 1;
    r.clusterBytes = 0xFFFFFFFF;
    r.location = loc;
    r.size = size;
    SetRecordName(r, name);
    return r;
  };
  std::vector<FoundItemRecord> recs = {
      rec(sectors + 5, 1000, "far.jpg"),
      rec(sectors - 2, UINT64_MAX / 2, "../../../evil.pdf"),
      rec(0, 3 * kSector, "/etc/passwd"),
      rec(1, 10, "folder"),
  };
  recs[3].isFolder = 1;
  for (size_t i = 0; i < recs.size(); ++i) recs[i].recordIndex = uint32_t(i + 1);
  Bytes log(recs.size() * kRecordSize);
  std::memcpy(log.data(), recs.data(), log.size());
  WriteBytes(folder + "File_Type_0_hostile", log);
  std::string relation = " | 0 - [1,2,3,4,77,0]";
  WriteBytes(folder + "File_Type_0_hostile_Relation", Bytes(relation.begin(), relation.end()));

  CarvingEngine engine;
  ASSERT_EQ(engine.ResumeOnImage(kSector, "File_Type_0_hostile", 'H', medium_->path), kOk);
  std::vector<FoundItemRecord> all;
  ASSERT_EQ(engine.ListChildren(nullptr, 0, all), kOk);
  EXPECT_EQ(all.size(), 4u);  // the entries naming no record are dropped
  uint32_t count = 0;
  (void)engine.CountFiles(nullptr, 0, count);
  EXPECT_EQ(count, 3u);

  std::string out = tmp_ / "dest";
  // Beyond the medium: said as such, not as a read error.
  EXPECT_EQ(engine.RecoverItem(recs[0], out + "/far.jpg", 0), kDataPastEnd);
  EXPECT_FALSE(fs::exists(out + "/far.jpg"));
  // Copy-out into a folder names the file safely inside it, and reads only
  // up to the end of the medium.
  fs::create_directories(out);
  ASSERT_EQ(engine.RecoverItem(recs[1], out, 0), kOk);
  std::vector<std::string> made;
  for (const auto& e : fs::directory_iterator(out)) made.push_back(e.path().filename());
  ASSERT_EQ(made.size(), 1u);
  EXPECT_EQ(made[0].find('/'), std::string::npos);
  EXPECT_EQ(fs::file_size(out + "/" + made[0]), 2u * kSector);
  ASSERT_EQ(engine.RecoverItem(recs[2], out + "/", 0), kOk);
  EXPECT_EQ(fs::file_size(out + "/" + SafePathComponent("/etc/passwd")), 3u * kSector);
  EXPECT_EQ(engine.RecoverItem(recs[3], out + "/f", 0), kInvalidArg);
  // The preview of a document keeps to the scan-log folder.
  std::string path;
  uint64_t n = 0;
  ASSERT_EQ(engine.ReadForPreview(&recs[1], path, nullptr, n, nullptr, nullptr), kOk);
  EXPECT_EQ(fs::path(path).parent_path(), fs::path(ScanLogFolder::Instance().ScanLogPath()));
  EXPECT_EQ(fs::file_size(path), 2u * kSector);
  Bytes mem(64);
  n = mem.size();
  EXPECT_EQ(engine.ReadForPreview(&recs[0], path, mem.data(), n, nullptr, nullptr), kDataPastEnd);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(path, "");
}

}  // namespace
}  // namespace dunmere::test
