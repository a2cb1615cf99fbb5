// Where a carved movie ends: QuickTime movies as ffmpeg writes them
// (tests/fixtures/make_movie_samples.sh), in the box layouts other writers
// use too, laid on a medium with old data and other files around them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <map>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "carving/carving_engine.h"
#include "engine/scan_log_folder.h"
#include "tests/carving/carve_pass.h"
#include "tests/carving/media_samples_fixture.h"
#include "tests/carving/sig_test_util.h"
#include "tests/support/open_medium.h"
#include "tests/support/test_support.h"

namespace dunmere::test {
namespace {

using Bytes = std::vector<uint8_t>;

struct Box {
  size_t at;
  std::string type;
  uint64_t size;
};

// The top-level boxes of a movie.
std::vector<Box> TopBoxes(const Bytes& m) {
  std::vector<Box> out;
  size_t at = 0;
  while (at + 8 <= m.size()) {
    uint64_t size = Be32(m.data() + at);
    if (size == 1 && at + 16 <= m.size()) size = (uint64_t(Be32(m.data() + at + 8)) << 32) | Be32(m.data() + at + 12);
    out.push_back({at, std::string(reinterpret_cast<const char*>(m.data() + at + 4), 4), size});
    if (size < 8) break;
    at += size_t(size);
  }
  return out;
}

const Box& Find(const std::vector<Box>& boxes, const std::string& type) {
  for (const Box& b : boxes)
    if (b.type == type) return b;
  ADD_FAILURE() << "no " << type << " box";
  return boxes.front();
}

void PutBe32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
}

Bytes FreeBox(uint32_t size) {
  Bytes b = {uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size), 'f', 'r', 'e', 'e'};
  b.resize(size, 0);
  return b;
}

// A free box before the movie box, sized so that the movie box starts
// `intoSector` bytes into a sector. (Readers skip free boxes; the chunk
// offsets, which point into the media data before it, stay right.)
Bytes WithMovieBoxAt(const Bytes& movie, size_t intoSector) {
  const Box moov = Find(TopBoxes(movie), "moov");
  size_t pad = (intoSector + 2 * Medium::kSector - moov.at % Medium::kSector) % Medium::kSector;
  if (pad < 8) pad += Medium::kSector;
  Bytes out(movie.begin(), movie.begin() + long(moov.at));
  Bytes free = FreeBox(uint32_t(pad));
  out.insert(out.end(), free.begin(), free.end());
  out.insert(out.end(), movie.begin() + long(moov.at), movie.end());
  return out;
}

// The wide box and the media box's header made one 16-byte header with a
// 64-bit size, as ffmpeg writes it once the media data passes 4 GiB.
Bytes WithLargeMediaSize(const Bytes& movie) {
  const auto boxes = TopBoxes(movie);
  const Box wide = Find(boxes, "wide");
  const Box mdat = Find(boxes, "mdat");
  EXPECT_EQ(wide.at + 8, mdat.at);
  Bytes out = movie;
  const uint64_t size = mdat.size + 8;
  PutBe32(out, wide.at, 1);
  std::memcpy(out.data() + wide.at + 4, "mdat", 4);
  PutBe32(out, wide.at + 8, uint32_t(size >> 32));
  PutBe32(out, wide.at + 12, uint32_t(size));
  return out;
}

// The last box, the media data, with size 0: "to the end of the file".
Bytes WithMediaToTheEnd(const Bytes& movie) {
  const auto boxes = TopBoxes(movie);
  EXPECT_EQ(boxes.back().type, "mdat");
  Bytes out = movie;
  PutBe32(out, boxes.back().at, 0);
  return out;
}

class MovieEnds : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    UsePrivateDataFolder();
    fixture_ = new CachedFixture(MakeCachedFixture("make_movie_samples.sh", "movie-samples"));
  }
  static void TearDownTestSuite() {
    delete fixture_;
    fixture_ = nullptr;
  }
  void SetUp() override {
    if (fixture_->missingTool) GTEST_SKIP() << fixture_->message;
    ASSERT_FALSE(fixture_->dir.empty()) << fixture_->message;
  }
  static Bytes Movie(const std::string& name) {
    Bytes b = ReadBytes(fixture_->dir + "/" + name);
    EXPECT_GT(b.size(), 65536u) << name;
    return b;
  }
  // [random][movie][old data to its sector's end][random][a picture][random]:
  // the movie's sector and the picture's.
  std::pair<uint64_t, uint64_t> Lay(const Bytes& movie, uint32_t seed) {
    medium_ = std::make_unique<Medium>(seed);
    medium_->Random(3);
    const uint64_t at = medium_->PlaceThen(movie, medium_->RandomBytes(RoundUp(movie.size()) - movie.size()));
    medium_->Random(20);
    Bytes png = ReadBytes(SourcePath("skin/FileIcon/jpg.png"));
    const uint64_t next = medium_->Place(png);
    medium_->Random(4);
    medium_->Open(tmp_, "movie.img");
    return {at, next};
  }
  // Every record of a carving pass over the medium, by sector.
  std::map<uint64_t, FoundItemRecord> CarveAll() {
    ScanLogFolder::Instance().BeginNewScanFolder();
    CarvingEngine engine;
    EXPECT_EQ(OpenImageIn(engine, medium_->path, 'M'), kOk);
    EXPECT_EQ(RunPass(engine, engine.Source()).status, kOk);
    std::vector<FoundItemRecord> all;
    EXPECT_EQ(engine.ListChildren(nullptr, 0, all), kOk);
    std::map<uint64_t, FoundItemRecord> out;
    for (const FoundItemRecord& r : all) out[+r.location] = r;
    return out;
  }

  static inline CachedFixture* fixture_ = nullptr;
  TempDir tmp_;
  std::unique_ptr<Medium> medium_;
};

// The movie box's type opening a sector (its size field ending the sector
// before) was taken for a movie of its own: the movie ended there, short of
// its movie box, and a second movie was carved from the middle of the first.
// A movie box opening a sector, which starts a movie of its own where one
// begins, is this movie's too.
TEST_F(MovieEnds, ABoxHeaderCutBySectorBoundaryStaysWithTheMovie) {
  for (size_t into : {size_t(Medium::kSector - 4), size_t(0), size_t(Medium::kSector - 2)}) {
    SCOPED_TRACE(into);
    const Bytes movie = WithMovieBoxAt(Movie("long.mov"), into);
    ASSERT_EQ(Find(TopBoxes(movie), "moov").at % Medium::kSector, into);
    const uint32_t seed = uint32_t(into) + 1;
    const auto [at, next] = Lay(movie, seed);
    const auto found = CarveAll();
    ASSERT_TRUE(found.count(at));
    EXPECT_EQ(RecordName(found.at(at)), std::to_string(at) + ".mov");
    EXPECT_EQ(+found.at(at).size, movie.size());
    EXPECT_EQ(+found.at(at).contentOk, kContentOk);
    for (const auto& [sector, r] : found)
      EXPECT_TRUE(sector == at || sector >= next) << RecordName(r) << " inside the movie";
  }
}

// Layouts the walk follows to the movie's last byte: the movie box at the
// end or at the start, free and wide boxes, a 64-bit media size. A media box
// "to the end of the file" leaves the end to the next file.
TEST_F(MovieEnds, EveryBoxLayoutEndsAtTheMoviesLastByte) {
  struct Case {
    const char* what;
    Bytes bytes;
    bool toNextFile;
  };
  const std::vector<Case> cases = {
      {"movie box last", Movie("long.mov"), false},
      {"movie box first", Movie("fast.mov"), false},
      {"64-bit media size", WithLargeMediaSize(Movie("long.mov")), false},
      {"media to the end", WithMediaToTheEnd(Movie("fast.mov")), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto [at, next] = Lay(c.bytes, 3);
    CarveContext ctx;
    const Identification id = CarveAt(ctx, *medium_, at);
    EXPECT_EQ(id.code, kMov);
    EXPECT_EQ(id.size, c.toNextFile ? (next - at) * Medium::kSector : c.bytes.size());
    EXPECT_FALSE(id.partial);
  }
}

Bytes Cut(const Bytes& b, size_t keep) { return Bytes(b.begin(), b.begin() + long(std::min(keep, b.size()))); }

// A movie whose boxes do not close is partial: one without its movie box (a
// recording that never finished), one without its media data, one whose
// media data runs past the medium's end. It is still carved and copied out.
TEST_F(MovieEnds, AMovieWhoseBoxesDoNotCloseIsPartial) {
  const Bytes last = Movie("long.mov"), first = Movie("fast.mov");
  {
    SCOPED_TRACE("no movie box");
    const auto [at, next] = Lay(Cut(last, Find(TopBoxes(last), "moov").at), 4);
    CarveContext ctx;
    const Identification id = CarveAt(ctx, *medium_, at);
    EXPECT_EQ(id.code, kMov);
    EXPECT_TRUE(id.partial);
    EXPECT_EQ(id.size, (next - at) * Medium::kSector);
    const auto found = CarveAll();
    ASSERT_TRUE(found.count(at));
    EXPECT_EQ(+found.at(at).contentOk, kContentPartial);
  }
  {
    SCOPED_TRACE("no media data");
    const size_t mdat = Find(TopBoxes(first), "mdat").at;
    const auto [at, next] = Lay(Cut(first, mdat), 5);
    CarveContext ctx;
    const Identification id = CarveAt(ctx, *medium_, at);
    EXPECT_TRUE(id.partial);
    EXPECT_EQ(id.size, mdat);
  }
  {
    SCOPED_TRACE("media data past the medium's end");
    medium_ = std::make_unique<Medium>(6);
    medium_->Random(3);
    const uint64_t at = medium_->Place(Cut(first, first.size() / 2));
    medium_->Open(tmp_, "cut.img");
    CarveContext ctx;
    const Identification id = CarveAt(ctx, *medium_, at);
    EXPECT_TRUE(id.partial);
    EXPECT_EQ(id.size, medium_->bytes.size() - at * Medium::kSector);
  }
}

// The same for the other formats whose end the file marks itself.
class FilesWithoutTheirEnd : public MediaSamples {};

TEST_F(FilesWithoutTheirEnd, ArePartialAndWholeOnesAreNot) {
  struct Case {
    const char* file;
    FileTypeCode code;
  };
  for (const Case& c : {Case{"big.jpg", kJpg}, Case{"image.png", kPng}, Case{"image.gif", kGif},
                        Case{"archive.zip", kZip}, Case{"doc.docx", kDocx}, Case{"numbers.gz", kGz},
                        Case{"update.pdf", kPdf}}) {
    SCOPED_TRACE(c.file);
    const Bytes whole = File(c.file);
    Identification id = Carve(whole);
    EXPECT_EQ(id.code, c.code);
    EXPECT_EQ(id.size, whole.size());
    EXPECT_FALSE(id.partial);
    // Cut where its last bytes (end marker, trailer, central directory) are gone.
    id = Carve(Cut(whole, whole.size() - std::min<size_t>(whole.size() / 3, 4096)));
    EXPECT_EQ(id.code, c.code);
    EXPECT_TRUE(id.partial);
  }
}

}  // namespace
}  // namespace dunmere::test
