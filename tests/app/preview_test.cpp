// Preview without windows: which files go to which converter, the bytes shown
// as text, the real tools (ImageMagick, zip, 7z, pdftoppm, LibreOffice where
// present) over real files, tools that hang, and players: only those this
// program started are ever ended.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/core/preview/document_preview.h"
#include "app/core/preview/external_tool.h"
#include "app/core/preview/media_player.h"
#include "app/core/preview/missing_tool_notice.h"
#include "app/core/preview/picture_navigation.h"
#include "app/core/preview/preview_content.h"
#include "app/core/preview/preview_text.h"
#include "app/core/preview/started_processes.h"
#include "engine/scan_log_folder.h"
#include "tests/app/fake_engine.h"
#include "tests/support/office_documents.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

// Waits for a player to start: long past any machine's time, so only a
// player that never says it plays fails.
constexpr int kUnhurriedMs = 10 * 60 * 1000;
namespace fs = std::filesystem;

// A folder of its own per test, and stand-in programs put first on PATH.
class PreviewTools : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::UsePrivateDataFolder(); }
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("dunmere-preview-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "bin");
    oldPath_ = std::getenv("PATH");
    ResetMissingToolNotices();
    // A scan folder of its own, as every scan gets: a repeated run does not
    // reopen the log an earlier one left.
    ScanLogFolder::Instance().BeginNewScanFolder();
  }
  void TearDown() override {
    ::setenv("PATH", oldPath_.c_str(), 1);
    fs::remove_all(dir_);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  // A shell script named `name` found before the real tool.
  void StandIn(const std::string& name, const std::string& body) {
    const fs::path p = dir_ / "bin" / name;
    std::ofstream(p) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(p, fs::perms::owner_all);
    ::setenv("PATH", ((dir_ / "bin").string() + ":" + oldPath_).c_str(), 1);
  }
  bool Make(const std::string& command) { return test::RunCommand(command) == 0; }

  fs::path dir_;
  std::string oldPath_;
};

bool Alive(pid_t pid) { return ::kill(pid, 0) == 0; }

// Waits for a stand-in's pid file; the guard only bounds a hang.
pid_t ReadPid(const std::string& path) {
  for (int i = 0; i < 3000; ++i) {
    std::ifstream in(path);
    pid_t pid = 0;
    if (in >> pid && pid > 0) return pid;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return 0;
}

// Whether the process ends (a pid that has ended may linger as a zombie of its
// parent for a moment). The wait has no limit a slow machine could reach; the
// guard only bounds a hang.
bool Ends(pid_t pid) {
  for (int i = 0; i < 3000; ++i) {
    if (!Alive(pid)) return true;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string a, b, state;
    if (stat >> a >> b >> state && state == "Z") return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// Limits for tests of what a conversion gives: no machine is that slow, so
// the verdict never depends on how busy it is. The time limit itself is
// tested with converters that never finish.
dunmere::PreviewTools Unhurried() {
  dunmere::PreviewTools tools;
  tools.limits.timeout = std::chrono::hours(1);
  tools.officeFirstStart = std::chrono::hours(1);
  tools.officeLater = std::chrono::hours(1);
  return tools;
}

TEST(PreviewKindTest, ExtensionsChooseTheirConverterAsWholeEntries) {
  EXPECT_EQ(PreviewKindOf("a.JPG"), PreviewKind::kPicture);
  EXPECT_EQ(PreviewKindOf("song.mp3"), PreviewKind::kAudio);
  EXPECT_EQ(PreviewKindOf("clip.mp4"), PreviewKind::kVideo);
  EXPECT_EQ(PreviewKindOf("paper.Pdf"), PreviewKind::kPdf);
  EXPECT_EQ(PreviewKindOf("letter.docx"), PreviewKind::kTextDocument);
  EXPECT_EQ(PreviewKindOf("talk.pptx"), PreviewKind::kSlides);
  EXPECT_EQ(PreviewKindOf("sums.xlsx"), PreviewKind::kSpreadsheet);
  EXPECT_EQ(PreviewKindOf("x.7z"), PreviewKind::kArchive);
  EXPECT_EQ(PreviewKindOf("x.tar.gz"), PreviewKind::kArchive);
  // A part of an entry is not the entry: "c" and "do" occur inside "*.doc".
  EXPECT_EQ(PreviewKindOf("main.c"), PreviewKind::kOther);
  EXPECT_EQ(PreviewKindOf("x.do"), PreviewKind::kOther);
  EXPECT_EQ(PreviewKindOf("README"), PreviewKind::kOther);
  EXPECT_EQ(PreviewKindOf("dir.d/README"), PreviewKind::kOther);
}

TEST(PreviewTextTest, BytesBecomeLatin1CharactersWithZerosAsDotsAndLinesOf1024) {
  const uint8_t bytes[] = {'A', 0, 'b', 0xE9};
  EXPECT_EQ(BytesAsText(bytes, 4), "A.b\xC3\xA9\n");
  std::vector<uint8_t> many(2048 + 3, 'x');
  const std::string t = BytesAsText(many.data(), many.size());
  EXPECT_EQ(t.size(), 2048u + 3u + 3u);
  EXPECT_EQ(t[1024], '\n');
  EXPECT_EQ(t[2049], '\n');
  EXPECT_EQ(t.back(), '\n');
  // Exactly a line's worth: one line break, not two.
  std::vector<uint8_t> line(1024, 'y');
  EXPECT_EQ(BytesAsText(line.data(), line.size()).size(), 1025u);
  EXPECT_EQ(BytesAsText(nullptr, 0), "\n");
}

TEST(PreviewTextTest, ConverterPiecesCutWhereTheyShould) {
  EXPECT_EQ(FirstCharacters("h\xC3\xA9llo", 2), "h\xC3\xA9");
  EXPECT_EQ(FirstCells("a,b,c\n\"x,y\",\"say \"\"hi\"\"\",z\n", 10, 2), "a\tb\nx,y\tsay \"hi\"\n");
  std::string big;
  for (int r = 0; r < 12; ++r) {
    for (int c = 0; c < 12; ++c) {
      if (c) big += ',';
      big += std::to_string(r * 100 + c);
    }
    big += "\r\n";
  }
  const std::string cells = FirstCells(big, 10, 10);
  EXPECT_EQ(std::count(cells.begin(), cells.end(), '\n'), 10);
  EXPECT_EQ(cells.substr(0, cells.find('\n')), "0\t1\t2\t3\t4\t5\t6\t7\t8\t9");  // no eleventh column
  EXPECT_EQ(cells.find("1000"), std::string::npos);
  EXPECT_EQ(ListingFromMarker("7-Zip\nheader\n------------------- -----\n a.txt\n"), "------------------- -----\n a.txt\n");
  EXPECT_EQ(ListingFromMarker("no listing here"), "");
}

FoundItemRecord Rec(uint32_t id, const std::string& name, bool folder = false) {
  FoundItemRecord r = MakeEmptyRecord();
  r.itemId = id;
  r.sourceTag = 1;
  r.isFolder = folder;
  SetRecordName(r, name);
  return r;
}

TEST(PictureNavigationTest, NextAndPreviousWrapRoundOverPicturesOnly) {
  const std::vector<FoundItemRecord> list = {Rec(1, "a.jpg"), Rec(2, "b.txt"), Rec(3, "c.png"), Rec(4, "d.jpg", true),
                                             Rec(5, "e.gif")};
  EXPECT_EQ(NextPictureIndex(list, list[0], true), 2);
  EXPECT_EQ(NextPictureIndex(list, list[2], true), 4);
  EXPECT_EQ(NextPictureIndex(list, list[4], true), 0);   // the last goes to the first
  EXPECT_EQ(NextPictureIndex(list, list[0], false), 4);  // and the first to the last
  EXPECT_EQ(NextPictureIndex(list, list[2], false), 0);
  // The same item id from another source is another file.
  FoundItemRecord other = list[4];
  other.sourceTag = 2;
  EXPECT_EQ(NextPictureIndex(list, other, true), 0);
  const std::vector<FoundItemRecord> one = {Rec(1, "a.jpg"), Rec(2, "b.txt")};
  EXPECT_EQ(NextPictureIndex(one, one[0], true), -1);
  EXPECT_EQ(NextPictureIndex({}, one[0], true), -1);
}

TEST_F(PreviewTools, ConverterThatHangsIsEndedWithWhatItStartedAfterItsTime) {
  StandIn("7z", "sleep 30 & echo $! > " + Path("child.pid") + "\necho started\nwait");
  dunmere::PreviewTools tools;
  tools.limits.timeout = std::chrono::milliseconds(3000);
  std::ofstream(Path("a.zip")) << "PK";
  const auto start = std::chrono::steady_clock::now();
  const ConvertedPreview c = ConvertForPreview(PreviewKind::kArchive, Path("a.zip"), dir_.string(), tools);
  // It returns: a converter that never ends is ended. Not before its time,
  // however fast the machine (a busy one only makes the wait longer).
  EXPECT_EQ(c.shape, ConvertedPreview::Shape::kFailed);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
  const pid_t child = ReadPid(Path("child.pid"));
  ASSERT_GT(child, 0);
  EXPECT_TRUE(Ends(child)) << "the converter's own child outlived it";
}

TEST_F(PreviewTools, OfficeConverterThatHangsFallsBackAfterItsTime) {
  // A converter that never returns, as LibreOffice can on a damaged file:
  // the first start's longer allowance ends it too.
  StandIn("soffice", "sleep 30 & echo $! > " + Path("child.pid") + "\nwait");
  dunmere::PreviewTools tools;
  tools.limits.timeout = std::chrono::milliseconds(2000);
  tools.officeFirstStart = std::chrono::milliseconds(3000);
  tools.officeLater = std::chrono::milliseconds(2000);
  std::ofstream(Path("a.doc")) << "text";
  const auto start = std::chrono::steady_clock::now();
  const ConvertedPreview c = ConvertForPreview(PreviewKind::kTextDocument, Path("a.doc"), dir_.string(), tools);
  EXPECT_EQ(c.shape, ConvertedPreview::Shape::kFailed);
  EXPECT_EQ(c.notice, "");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
  const pid_t child = ReadPid(Path("child.pid"));
  ASSERT_GT(child, 0);
  EXPECT_TRUE(Ends(child)) << "the converter's own child outlived it";
  EXPECT_FALSE(fs::exists(dir_ / "office-preview")) << "the copy for the converter stays behind";
}

TEST_F(PreviewTools, OfficeConverterIsGivenItsOwnProfileAndASafeName) {
  StandIn("soffice", "for a in \"$@\"; do echo \"$a\"; done > " + Path("args") +
                         "\nfor a; do last=$a; done\nprintf 'converted' > \"$(dirname \"$(dirname \"$last\")\")/document.txt\"");
  const std::string name = Path("-x \"q\" 'y'.docx");
  std::ofstream(name) << std::string("PK\x03\x04", 4) << "rest";
  const ConvertedPreview c = ConvertForPreview(PreviewKind::kTextDocument, name, dir_.string());
  ASSERT_EQ(c.shape, ConvertedPreview::Shape::kText);
  EXPECT_EQ(c.text, "converted");
  std::ifstream in(Path("args"));
  std::vector<std::string> args;
  for (std::string line; std::getline(in, line);) args.push_back(line);
  ASSERT_FALSE(args.empty());
  EXPECT_EQ(args.front().rfind("-env:UserInstallation=file://", 0), 0u);
  EXPECT_NE(args.front().find("/office-profile"), std::string::npos);
  EXPECT_EQ(args.back(), (dir_ / "office-preview" / "in" / "document.docx").string());
  EXPECT_NE(std::find(args.begin(), args.end(), "--headless"), args.end());
  for (const std::string& a : args) EXPECT_EQ(a.find("\"q\""), std::string::npos) << a;
}

TEST_F(PreviewTools, OutputIsCappedAndArgumentsAreNeverParsedByAShell) {
  StandIn("talker", "for a in \"$@\"; do printf '[%s]' \"$a\"; done; head -c 100000 /dev/zero | tr '\\0' x");
  ToolLimits limits;
  limits.outputCap = 1000;
  const ToolResult r = RunTool("talker", {"a b", "$(touch " + Path("pwned") + ")", "; rm -rf x"}, limits);
  ASSERT_TRUE(r.Succeeded());
  EXPECT_EQ(r.output.size(), 1000u);
  EXPECT_EQ(r.output.rfind("[a b][$(touch ", 0), 0u);
  EXPECT_FALSE(fs::exists(Path("pwned")));
  EXPECT_EQ(RunTool("no-such-tool-dunmere", {}).end, ToolResult::End::kMissing);
}

TEST_F(PreviewTools, MissingToolIsToldOnceNamingItsPackage) {
  dunmere::PreviewTools tools;
  tools.archiveLister = "no-such-7z-dunmere";
  std::ofstream(Path("a.zip")) << "PK";
  const ConvertedPreview first = ConvertForPreview(PreviewKind::kArchive, Path("a.zip"), dir_.string(), tools);
  EXPECT_EQ(first.shape, ConvertedPreview::Shape::kFailed);
  EXPECT_NE(first.notice.find("p7zip-full"), std::string::npos);
  const ConvertedPreview second = ConvertForPreview(PreviewKind::kArchive, Path("a.zip"), dir_.string(), tools);
  EXPECT_EQ(second.notice, "");
  // Office documents name the headless packages, not the desktop suite.
  tools.office = "no-such-soffice-dunmere";
  std::ofstream(Path("a.doc")) << "text";
  const ConvertedPreview office = ConvertForPreview(PreviewKind::kTextDocument, Path("a.doc"), dir_.string(), tools);
  EXPECT_EQ(office.shape, ConvertedPreview::Shape::kFailed);
  EXPECT_NE(office.notice.find("libreoffice-writer-nogui"), std::string::npos) << office.notice;
  EXPECT_FALSE(fs::exists(dir_ / "office-preview"));
}

TEST_F(PreviewTools, ZipAnd7zArchivesAreListedFromTheHyphenLine) {
  if (!test::HaveTool("zip") || !test::HaveTool("7z")) GTEST_SKIP() << "zip or 7z (p7zip-full) is not installed";
  std::ofstream(Path("inside one.txt")) << "hello";
  ASSERT_TRUE(Make("cd '" + dir_.string() + "' && zip -q a.zip 'inside one.txt' && 7z a -bd a.7z 'inside one.txt' >/dev/null"));
  for (const char* name : {"a.zip", "a.7z"}) {
    const ConvertedPreview c = ConvertForPreview(PreviewKind::kArchive, Path(name), dir_.string());
    ASSERT_EQ(c.shape, ConvertedPreview::Shape::kText) << name;
    EXPECT_EQ(c.text.rfind(kListingMarker, 0), 0u) << name;
    EXPECT_NE(c.text.find("inside one.txt"), std::string::npos) << name;
  }
  // Not an archive: 7z fails, and the caller shows bytes.
  std::ofstream(Path("fake.zip")) << "just text";
  EXPECT_EQ(ConvertForPreview(PreviewKind::kArchive, Path("fake.zip"), dir_.string()).shape,
            ConvertedPreview::Shape::kFailed);
}

TEST_F(PreviewTools, PdfFirstPageBecomesAPictureInTheWorkFolder) {
  if (!test::HaveTool("pdftoppm")) GTEST_SKIP() << "pdftoppm (poppler-utils) is not installed";
  if (!test::HaveTool("gs")) GTEST_SKIP() << "Ghostscript is not installed";
  ASSERT_TRUE(Make("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -o '" + Path("two pages.pdf") +
                   "' -c '/Helvetica findfont 24 scalefont setfont 72 700 moveto (Page one) show showpage "
                   "72 700 moveto (Page two) show showpage'"));
  // A name from the disk that looks like an option is still a file.
  fs::copy_file(Path("two pages.pdf"), Path("-f.pdf"));
  for (const char* name : {"two pages.pdf", "-f.pdf"}) {
    const ConvertedPreview c = ConvertForPreview(PreviewKind::kPdf, Path(name), dir_.string());
    ASSERT_EQ(c.shape, ConvertedPreview::Shape::kPicture) << name;
    EXPECT_EQ(fs::path(c.picturePath).parent_path(), dir_);
    const auto png = test::ReadBytes(c.picturePath);
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(png[1], 'P');
  }
}

TEST_F(PreviewTools, OfficeDocumentsBecomeTextOrFallBackWithoutLibreOffice) {
  if (!test::HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  // A minimal WordprocessingML package, made with zip.
  fs::create_directories(dir_ / "docx/_rels");
  fs::create_directories(dir_ / "docx/word");
  std::ofstream(dir_ / "docx/[Content_Types].xml")
      << R"(<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
         R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
         R"(<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>)";
  std::ofstream(dir_ / "docx/_rels/.rels")
      << R"(<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
         R"(<Relationship Id="r1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>)";
  std::ofstream(dir_ / "docx/word/document.xml")
      << R"(<?xml version="1.0"?><w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main">)"
         R"(<w:body><w:p><w:r><w:t>Quarterly figures</w:t></w:r></w:p></w:body></w:document>)";
  ASSERT_TRUE(Make("cd '" + (dir_ / "docx").string() + "' && zip -q -r ../letter.docx ."));
  const ConvertedPreview c = ConvertForPreview(PreviewKind::kTextDocument, Path("letter.docx"), dir_.string(), Unhurried());
  if (!test::HaveTool("soffice")) {
    // Without LibreOffice: told once, and the caller shows the bytes.
    EXPECT_EQ(c.shape, ConvertedPreview::Shape::kFailed);
    EXPECT_NE(c.notice.find("libreoffice"), std::string::npos);
    const std::string raw = FileBytesAsText(Path("letter.docx"));
    EXPECT_EQ(raw.rfind("PK", 0), 0u);
    GTEST_SKIP() << "LibreOffice (soffice) is not installed: only the fallback was checked";
  }
  ASSERT_EQ(c.shape, ConvertedPreview::Shape::kText);
  EXPECT_NE(c.text.find("Quarterly figures"), std::string::npos);
}

// Documents of every office kind, made once by LibreOffice from text:
// Writer formats from a long text, Calc formats from a 12 x 12 table, Impress
// formats from 25 slides. Each test previews them into a work folder of its
// own whose name needs escaping in LibreOffice's profile URL.
class OfficePreview : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::UsePrivateDataFolder();
    if (!test::HaveTool("soffice")) return;
    source_ = new fs::path(fs::temp_directory_path() / ("dunmere-office-" + std::to_string(::getpid())));
    fs::remove_all(*source_);
    fs::create_directories(*source_);
    std::ofstream(*source_ / "long.txt") << LongText();
    std::ofstream(*source_ / "grid.csv") << GridCsv();
    std::vector<std::string> slides;
    for (int i = 1; i <= 25; ++i) slides.push_back("Slide token" + TwoDigits(i) + " caf\xC3\xA9");
    test::WriteFlatPresentation((*source_ / "talk.fodp").string(), slides);
    const std::pair<const char*, const char*> made[] = {
        {"long.txt", "docx"},  {"long.txt", "odt"},  {"long.txt", "doc"},  {"grid.csv", "xlsx"},  {"grid.csv", "ods"},
        {"grid.csv", "xls"},   {"talk.fodp", "pptx"}, {"talk.fodp", "odp"}, {"talk.fodp", "ppt"}};
    for (const auto& [from, ext] : made) {
      std::string log;
      if (test::ConvertWithLibreOffice(source_->string(), from, ext, &log).empty())
        *failures_ += std::string(from) + " -> " + ext + ": " + log + "\n";
    }
  }
  static void TearDownTestSuite() {
    if (source_) fs::remove_all(*source_);
    delete source_;
    source_ = nullptr;
  }
  void SetUp() override {
    if (!test::HaveTool("soffice")) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    ASSERT_TRUE(failures_->empty()) << *failures_;
    work_ = *source_ / ("work 100% #" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::create_directories(work_);
    ResetMissingToolNotices();
  }
  void TearDown() override { fs::remove_all(work_); }

  static std::string TwoDigits(int i) {
    std::string s = std::to_string(i);
    if (s.size() < 2) s.insert(s.begin(), '0');
    return s;
  }
  // 120 lines of 26 characters, some of two bytes: 3,120 characters.
  static std::string LongText() {
    std::string t;
    for (int i = 0; i < 120; ++i) {
      t += "Line ";
      t += TwoDigits(i % 100);
      t += i >= 100 ? "+caf\xC3\xA9 na\xC3\xAFve words\n" : " caf\xC3\xA9 na\xC3\xAFve words\n";
    }
    return t;
  }
  // Cell (r, c) holds "RrCc"; the first holds a comma and quotes.
  static std::string GridCsv() {
    std::string t;
    for (int r = 0; r < 12; ++r) {
      for (int c = 0; c < 12; ++c) {
        if (c) t += ',';
        t += r + c == 0 ? std::string("\"R0C0, \"\"q\"\"\"") : Cell(r, c);
      }
      t += "\n";
    }
    return t;
  }
  static std::string Cell(int r, int c) {
    std::string s = "R";
    s += std::to_string(r);
    s += 'C';
    s += std::to_string(c);
    return s;
  }
  // A previewed copy under the name the found file had on the disk.
  std::string Copy(const std::string& made, const std::string& name) {
    const fs::path to = work_ / name;
    fs::copy_file(*source_ / made, to, fs::copy_options::overwrite_existing);
    return to.string();
  }
  static size_t Characters(const std::string& utf8) {
    return size_t(std::count_if(utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
  }

  static fs::path* source_;
  static std::string* failures_;
  fs::path work_;
};
fs::path* OfficePreview::source_ = nullptr;
std::string* OfficePreview::failures_ = new std::string;

TEST_F(OfficePreview, TextDocumentsShowTheirFirst2048Characters) {
  const std::string expected = FirstCharacters(LongText(), kDocumentPreviewChars);
  for (const char* ext : {"docx", "odt", "doc"}) {
    const ConvertedPreview c = ConvertForPreview(PreviewKind::kTextDocument, Copy(std::string("long.") + ext, "letter." + std::string(ext)), work_.string(), Unhurried());
    ASSERT_EQ(c.shape, ConvertedPreview::Shape::kText) << ext;
    EXPECT_EQ(Characters(c.text), kDocumentPreviewChars) << ext;
    EXPECT_EQ(c.text, expected) << ext;  // no byte-order mark, no character cut in half
    EXPECT_EQ(c.notice, "") << ext;
  }
  EXPECT_FALSE(fs::exists(work_ / "office-preview")) << "the converted copy stays behind";
}

TEST_F(OfficePreview, SpreadsheetsShowTenByTenCellsInOrder) {
  for (const char* ext : {"xlsx", "ods", "xls"}) {
    const ConvertedPreview c = ConvertForPreview(PreviewKind::kSpreadsheet, Copy(std::string("grid.") + ext, "sums." + std::string(ext)), work_.string(), Unhurried());
    ASSERT_EQ(c.shape, ConvertedPreview::Shape::kText) << ext;
    std::string expected;
    for (int r = 0; r < 10; ++r) {
      for (int col = 0; col < 10; ++col) {
        if (col) expected += '\t';
        expected += r + col == 0 ? std::string("R0C0, \"q\"") : Cell(r, col);
      }
      expected += "\n";
    }
    EXPECT_EQ(c.text, expected) << ext;
  }
}

TEST_F(OfficePreview, SlidesShowTheTextOfTheFirstTwenty) {
  for (const char* ext : {"pptx", "odp", "ppt"}) {
    const ConvertedPreview c = ConvertForPreview(PreviewKind::kSlides, Copy(std::string("talk.") + ext, "talk." + std::string(ext)), work_.string(), Unhurried());
    ASSERT_EQ(c.shape, ConvertedPreview::Shape::kText) << ext;
    size_t at = 0;
    for (int i = 1; i <= 20; ++i) {
      const size_t found = c.text.find("Slide token" + TwoDigits(i) + " caf\xC3\xA9", at);
      ASSERT_NE(found, std::string::npos) << ext << ": slide " << i << " missing or out of order in\n" << c.text;
      at = found + 1;
    }
    EXPECT_EQ(c.text.find("token21"), std::string::npos) << ext;
    EXPECT_EQ(c.text.find('\f'), std::string::npos) << ext;
  }
}

TEST_F(OfficePreview, NamesFromTheDiskNeverReachTheConverter) {
  for (const char* name : {"-h.docx", "--help.docx", "it's \"quoted\" $(touch pwned).docx", " lead; rm -rf x.DOCX",
                           "-env:UserInstallation=file:%2F%2F%2Ftmp.docx"}) {
    const ConvertedPreview c = ConvertForPreview(PreviewKind::kTextDocument, Copy("long.docx", name), work_.string(), Unhurried());
    ASSERT_EQ(c.shape, ConvertedPreview::Shape::kText) << name;
    EXPECT_EQ(c.text.rfind("Line 00 caf\xC3\xA9", 0), 0u) << name;
  }
  EXPECT_FALSE(fs::exists(work_ / "pwned"));
  EXPECT_FALSE(fs::exists("pwned"));
  // The profile went where it was asked, though the folder's name needs escaping.
  EXPECT_TRUE(fs::is_directory(work_ / "office-profile" / "user"));
}

TEST_F(OfficePreview, DamagedDocumentsFallBackToTheirBytes) {
  // Not a zip at all: not worth starting LibreOffice for.
  std::ofstream(work_ / "noise.docx") << std::string(3000, '\x91') << "tail";
  EXPECT_EQ(ConvertForPreview(PreviewKind::kTextDocument, (work_ / "noise.docx").string(), work_.string(), Unhurried()).shape,
            ConvertedPreview::Shape::kFailed);
  EXPECT_FALSE(fs::exists(work_ / "office-profile")) << "LibreOffice was started for it";
  // The first half of a workbook: its zip directory is gone.
  const auto whole = test::ReadBytes((*source_ / "grid.xlsx").string());
  test::WriteBytes((work_ / "half.xlsx").string(), std::vector<uint8_t>(whole.begin(), whole.begin() + whole.size() / 2));
  const ConvertedPreview half = ConvertForPreview(PreviewKind::kSpreadsheet, (work_ / "half.xlsx").string(), work_.string(), Unhurried());
  if (half.shape == ConvertedPreview::Shape::kText) {
    EXPECT_NE(half.text.find("R1C1"), std::string::npos);
  }
  // An empty file has nothing to show but its (absent) bytes.
  std::ofstream(work_ / "empty.doc");
  EXPECT_EQ(ConvertForPreview(PreviewKind::kTextDocument, (work_ / "empty.doc").string(), work_.string()).shape,
            ConvertedPreview::Shape::kFailed);
}

TEST_F(PreviewTools, PlayerIsStartedWithTheFileAsOneArgumentAfterTheOptions) {
  StandIn("mpv", "for a in \"$@\"; do echo \"$a\"; done > " + Path("args") + "\necho " +
                     MediaPlayer::kPlayingMark + "\nexec sleep 30");
  MediaPlayer player;
  const std::string file = Path("-rm -rf \"x\" $(y).avi");
  ASSERT_EQ(player.Play(file, false), MediaPlayer::State::kStarting);
  EXPECT_EQ(player.WaitWhileStarting(kUnhurriedMs), MediaPlayer::State::kPlaying);
  std::ifstream in(Path("args"));
  std::vector<std::string> args;
  for (std::string line; std::getline(in, line);) args.push_back(line);
  ASSERT_GE(args.size(), 2u);
  EXPECT_EQ(args[args.size() - 2], "--");
  EXPECT_EQ(args.back(), file);
  EXPECT_NE(std::find(args.begin(), args.end(), "--geometry=326x189+845+260"), args.end());
  const pid_t pid = pid_t(player.ProcessId());
  player.End();
  EXPECT_TRUE(Ends(pid));
}

TEST_F(PreviewTools, PlayerThatNeverPlaysIsReported) {
  StandIn("mpv", "echo 'cannot open file'\nexit 2");
  MediaPlayer player;
  ASSERT_EQ(player.Play(Path("a.avi"), true), MediaPlayer::State::kStarting);
  EXPECT_EQ(player.WaitWhileStarting(kUnhurriedMs), MediaPlayer::State::kNeverPlayed);
  MediaPlayer missing("no-such-player-dunmere");
  EXPECT_EQ(missing.Play(Path("a.avi"), true), MediaPlayer::State::kMissing);
}

TEST_F(PreviewTools, AtExitOnlyOurOwnPlayersAreEnded) {
  StandIn("mpv", "echo " + std::string(MediaPlayer::kPlayingMark) + "\nexec sleep 30");
  // The person's own player, of the same name, started outside the preview.
  const pid_t theirs = ::fork();
  ASSERT_GE(theirs, 0);
  if (theirs == 0) {
    ::setpgid(0, 0);
    const std::string exe = (dir_ / "bin" / "mpv").string();
    ::execl(exe.c_str(), "mpv", "their-film.avi", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  auto ours = std::make_unique<MediaPlayer>();
  ASSERT_EQ(ours->Play(Path("a.avi"), false), MediaPlayer::State::kStarting);
  ASSERT_EQ(ours->WaitWhileStarting(kUnhurriedMs), MediaPlayer::State::kPlaying);
  const pid_t ourPid = pid_t(ours->ProcessId());
  EXPECT_TRUE(StartedProcesses::Instance().Contains(ourPid));
  StartedProcesses::Instance().EndAll();
  EXPECT_TRUE(Ends(ourPid));
  EXPECT_TRUE(Alive(theirs));
  ::kill(theirs, SIGKILL);
  ::waitpid(theirs, nullptr, 0);
}

TEST_F(PreviewTools, ContentIsReadToATemporaryCopyOrIntoMemory) {
  test::FakeEngine e({{"photo.jpg", 10, 5, 0, false, test::JpegBytes(3000)},
                      {"notes", 11, 5, 0, false, std::string("ab\0cd", 5)}});
  ASSERT_EQ(e.Scan(nullptr), kOk);
  std::vector<FoundItemRecord> found;
  ASSERT_EQ(e.SearchByType("*.jpg", found), 1);
  ASSERT_EQ(found.size(), 1u);
  PreviewContent content;
  ASSERT_EQ(ReadPreviewContent(e, found[0], content, nullptr, nullptr), kOk);
  ASSERT_TRUE(content.HasFile());
  EXPECT_EQ(content.kind, PreviewKind::kPicture);
  EXPECT_EQ(fs::file_size(content.path), 3000u);
  const std::string copy = content.path;
  // A file without an extension goes to memory and shows as bytes.
  FoundItemRecord notes = found[0];
  notes.itemId = 11;
  notes.size = 5;
  SetRecordName(notes, "notes");
  ASSERT_EQ(ReadPreviewContent(e, notes, content, nullptr, nullptr), kOk);
  EXPECT_FALSE(fs::exists(copy)) << "the previous preview's copy stays behind";
  EXPECT_FALSE(content.HasFile());
  EXPECT_EQ(BytesAsText(content.bytes.data(), content.bytes.size()), "ab.cd\n");
}

}  // namespace
}  // namespace dunmere
