// The commands over an in-memory engine: what they print, what they write and
// how they exit.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <sstream>

#include "app/core/help/program_help.h"
#include "base/version.h"
#include "cli/cli_app.h"
#include "cli/json_writer.h"
#include "cli/progress_display.h"
#include "tests/app/fake_engine.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace dunmere::cli {
namespace {

using test::TempDir;

struct CliRun {
  int code = -1;
  std::string out, err;
};

// Standard output that presses Ctrl-C (sets `stop`) once `lines` lines are out.
class StopAfterLines : public std::stringbuf {
 public:
  StopAfterLines(std::atomic<bool>& stop, int lines) : stop_(stop), left_(lines) {}

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    for (std::streamsize i = 0; i < n; ++i)
      if (s[i] == '\n' && left_ >= 0 && --left_ == 0) stop_.store(true);
    return std::stringbuf::xsputn(s, n);
  }
  int_type overflow(int_type c) override {
    if (c == '\n' && left_ >= 0 && --left_ == 0) stop_.store(true);
    return std::stringbuf::overflow(c);
  }

 private:
  std::atomic<bool>& stop_;
  int left_;
};

class CliCommands : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::UsePrivateDataFolder(); }

  // stopAfterLines >= 0: Ctrl-C comes once that many lines are printed.
  CliRun Cli(std::vector<std::string> args, bool stopAtOnce = false, int stopAfterLines = -1) {
    std::atomic<bool> stop{stopAtOnce};
    StopAfterLines outBuf(stop, stopAfterLines);
    std::ostream out(&outBuf);
    std::ostringstream err;
    CliContext ctx{out, err};
    ctx.stop = &stop;
    ctx.resolveSource = [](const std::string& text, SourceSpec& s, std::string& error) -> Status {
      if (text != "fake") return ResolveSource(text, s, error);
      s = SourceSpec{};
      s.text = s.path = text;
      return kOk;
    };
    ctx.openEngine = [this](const SourceSpec&, bool deep, OpenedEngine& o, std::string& error) -> Status {
      if (deep) {
        error = "cannot read fake for a deep scan";
        return kNotSupported;
      }
      o.engine = std::make_unique<test::FakeEngine>(items);
      o.kind = FsKind::kFat;
      ++opened;
      return kOk;
    };
    CliRun r;
    r.code = RunCli(args, ctx);
    r.out = outBuf.str();
    r.err = err.str();
    return r;
  }
  int opened = 0;
  std::vector<test::FakeItem> items = test::SampleItems();
};

bool Contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

TEST_F(CliCommands, ScanGroupsByCategoryAndType) {
  CliRun r = Cli({"scan", "fake"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_TRUE(Contains(r.out, "photo (2 files)\n  jpg (2)\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "    beach.jpg  4.88 KB  created 2021-3-5 08:04:09  modified 2021-3-5 08:05:09")) << r.out;
  EXPECT_TRUE(Contains(r.out, "    holiday.JPEG  68.36 KB")) << r.out;
  EXPECT_TRUE(Contains(r.out, "others (1 file)\n  unknow (1)\n    notes")) << r.out;
  EXPECT_TRUE(Contains(r.out, "  doc (1)\n    report.docx")) << r.out;
  EXPECT_TRUE(Contains(r.out, "    Trip/Inner/deep.txt")) << r.out;
  EXPECT_TRUE(Contains(r.out, "9 files found, 3 folders")) << r.out;
  EXPECT_FALSE(Contains(r.out, "ghost.png"));
  // Not a terminal: plain progress lines.
  EXPECT_TRUE(Contains(r.err, "scanning: 25%  sectors 10/40  files 1  7 Sec left\n")) << r.err;
  EXPECT_TRUE(Contains(r.err, "scanning: 100%")) << r.err;
}

TEST_F(CliCommands, ScanJsonIsOneObjectPerItem) {
  CliRun r = Cli({"scan", "--json", "fake"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  std::istringstream lines(r.out);
  std::string line;
  int files = 0, folders = 0;
  while (std::getline(lines, line)) {
    ASSERT_EQ(line.front(), '{');
    ASSERT_EQ(line.back(), '}');
    (Contains(line, "\"isFolder\":true") ? folders : files)++;
  }
  EXPECT_EQ(files, 9);
  EXPECT_EQ(folders, 3);
  EXPECT_TRUE(Contains(r.out, "{\"name\":\"deep.txt\",\"folder\":\"Trip/Inner/\",\"size\":9,"
                              "\"created\":\"2021-03-05T08:04:09Z\",\"modified\":\"2021-03-05T08:05:09Z\","
                              "\"accessed\":null,\"category\":\"document\",\"group\":\"txt\",\"isFolder\":false,"
                              "\"contentOk\":true,\"partial\":false,\"engine\":\"quick FAT\"}"))
      << r.out;
  TempDir dir;
  std::string path = dir / "out.jsonl";
  test::WriteBytes(path, std::vector<uint8_t>(r.out.begin(), r.out.end()));
  if (test::HaveTool("python3")) {
    std::string out;
    EXPECT_EQ(test::RunCommand("python3 -m json.tool --json-lines '" + path + "' >/dev/null", &out), 0) << out;
  }
}

TEST_F(CliCommands, FiltersByTypeAndCategory) {
  CliRun r = Cli({"scan", "--types", "jpeg", "fake"});
  EXPECT_TRUE(Contains(r.out, "2 files found")) << r.out;
  r = Cli({"scan", "--category", "others,archive", "fake"});
  EXPECT_TRUE(Contains(r.out, "notes")) << r.out;
  EXPECT_TRUE(Contains(r.out, "bad.zip")) << r.out;
  EXPECT_FALSE(Contains(r.out, "beach.jpg")) << r.out;
  r = Cli({"scan", "--category", "music", "fake"});
  EXPECT_EQ(r.code, kExitUsage);
  EXPECT_TRUE(Contains(r.err, "unknown category 'music'")) << r.err;
}

TEST_F(CliCommands, RecoverListsEachFileAndFailsWhenOneFailed) {
  TempDir dir;
  CliRun r = Cli({"recover", "fake", "--to", dir / "out"});
  EXPECT_EQ(r.code, kExitFailure) << r.err;  // bad.zip cannot be read
  EXPECT_TRUE(Contains(r.out, dir / "out/photo/beach.jpg: Success\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, dir / "out/archive/bad.zip: Read error on the source\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, dir / "out/document/dup(1).txt: Success\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "processed 9, succeeded 8, failed 1; recovered into " + dir / "out")) << r.out;

  r = Cli({"recover", "--types", "jpg", "fake", "--to=" + dir / "out"});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_TRUE(Contains(r.out, dir / "out/photo/beach(1).jpg: Success")) << r.out;
  EXPECT_TRUE(Contains(r.out, "processed 2, succeeded 2, failed 0")) << r.out;
}

// A carved file whose own structure does not close: listed and recovered,
// and said to be partial wherever it shows.
TEST_F(CliCommands, APartialFileIsMarkedInTheListingAndTheReport) {
  items.push_back({"cut.mov", 40, 5, 0, false, std::string(3000, 'm'), kContentPartial});
  CliRun r = Cli({"scan", "fake"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_TRUE(Contains(r.out, "    cut.mov  2.93 KB")) << r.out;
  const size_t mark = r.out.find("  [partial]\n");
  ASSERT_NE(mark, std::string::npos) << r.out;
  EXPECT_EQ(r.out.rfind("\n", mark), r.out.rfind("    cut.mov", mark) - 1) << r.out;  // on its line alone
  EXPECT_EQ(r.out.find("[partial]", mark + 3), std::string::npos) << r.out;
  r = Cli({"scan", "--json", "--types", "mov", "fake"});
  EXPECT_TRUE(Contains(r.out, "\"name\":\"cut.mov\"")) << r.out;
  EXPECT_TRUE(Contains(r.out, "\"contentOk\":true,\"partial\":true")) << r.out;

  TempDir dir;
  r = Cli({"recover", "--types", "mov", "fake", "--to", dir / "out"});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_TRUE(Contains(r.out, dir / "out/video/cut.mov: Partial: ")) << r.out;
  EXPECT_TRUE(Contains(r.out, "processed 1, succeeded 1 (1 partial), failed 0")) << r.out;
  EXPECT_EQ(fs::file_size(dir / "out/video/cut.mov"), 3000u);
  r = Cli({"recover", "--json", "--types", "mov", "fake", "--to", dir / "json"});
  EXPECT_TRUE(Contains(r.out, "\"ok\":true,\"partial\":true,\"status\":\"Partial: ")) << r.out;
}

TEST_F(CliCommands, RecoverTreeLayoutAndChosenFolder) {
  TempDir dir;
  CliRun r = Cli({"recover", "fake", "--to", dir / "t", "--layout", "tree", "--types", "txt"});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_TRUE(fs::exists(dir / "t/Trip/Inner/deep.txt"));
  EXPECT_TRUE(fs::exists(dir / "t/Work/dup.txt"));
  r = Cli({"recover", "fake", "--to", dir / "f", "--item", "/Trip/"});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_TRUE(fs::exists(dir / "f/others/Trip/Inner/deep.txt"));
  EXPECT_TRUE(fs::exists(dir / "f/others/Trip/dup.txt"));
  EXPECT_FALSE(fs::exists(dir / "f/photo"));
  r = Cli({"recover", "fake", "--to", dir / "f", "--item", "Nowhere/x.txt"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_TRUE(Contains(r.err, "nothing found at 'Nowhere/x.txt'")) << r.err;
}

TEST_F(CliCommands, DestinationThatCannotBeWritten) {
  TempDir dir;
  test::WriteBytes(dir / "file", {1});
  CliRun r = Cli({"recover", "fake", "--to", dir / "file/sub"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_TRUE(Contains(r.err, "destination not writable: " + dir / "file/sub")) << r.err;
  EXPECT_EQ(opened, 0);  // refused before any scan
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
}

TEST_F(CliCommands, DestinationFull) {
  TempDir dir;
  std::string small = dir / "small";
  fs::create_directories(small);
  std::string out;
  if (test::RunCommand("mount -t tmpfs -o size=48k tmpfs '" + small + "'", &out) != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): " << out;
  // 70 KB of photos cannot fit in 48 KiB: refused up front...
  CliRun r = Cli({"recover", "fake", "--to", small});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_TRUE(Contains(r.err, "destination full: " + small + " has 48.00 KB free")) << r.err;
  EXPECT_EQ(opened, 1);
  // ...and with --force, copied until the space runs out, then stopped.
  r = Cli({"recover", "fake", "--to", small, "--force", "--types", "jpg"});
  test::RunCommand("umount '" + small + "'");
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_TRUE(Contains(r.out, "The destination is full")) << r.out;
  EXPECT_TRUE(Contains(r.err, "destination full: " + small + "; recovery stopped")) << r.err;
}

TEST_F(CliCommands, CtrlCStopsTheScan) {
  CliRun r = Cli({"scan", "fake"}, true);
  EXPECT_EQ(r.code, kExitStopped);
  EXPECT_TRUE(Contains(r.err, "scan stopped")) << r.err;
  TempDir dir;
  r = Cli({"recover", "fake", "--to", dir / "o"}, true);
  EXPECT_EQ(r.code, kExitStopped);
  EXPECT_TRUE(Contains(r.err, "scan stopped; nothing was recovered")) << r.err;
  EXPECT_FALSE(fs::exists(dir / "o/photo"));
}

// Ctrl-C while the found items are printed: the listing ends there and the
// program exits 130, for the grouped and the JSON listing alike.
TEST_F(CliCommands, CtrlCWhileListingCutsTheListingShort) {
  CliRun full = Cli({"scan", "fake"});
  ASSERT_EQ(full.code, kExitOk);
  CliRun r = Cli({"scan", "fake"}, false, 3);
  EXPECT_EQ(r.code, kExitStopped);
  EXPECT_TRUE(Contains(r.err, "the listing is cut short")) << r.err;
  EXPECT_LT(std::count(r.out.begin(), r.out.end(), '\n'), std::count(full.out.begin(), full.out.end(), '\n'));
  EXPECT_FALSE(Contains(r.out, "files found")) << r.out;
  r = Cli({"scan", "--json", "fake"}, false, 2);
  EXPECT_EQ(r.code, kExitStopped);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2);
}

TEST_F(CliCommands, UsageErrorsAndHelp) {
  EXPECT_EQ(Cli({}).code, kExitUsage);
  EXPECT_EQ(Cli({"frobnicate"}).code, kExitUsage);
  EXPECT_EQ(Cli({"scan"}).code, kExitUsage);
  EXPECT_EQ(Cli({"scan", "--bogus", "fake"}).code, kExitUsage);
  EXPECT_EQ(Cli({"scan", "--types"}).code, kExitUsage);
  EXPECT_EQ(Cli({"recover", "fake"}).code, kExitUsage);
  EXPECT_EQ(Cli({"recover", "fake", "--to", "/tmp/x", "--layout", "flat"}).code, kExitUsage);
  EXPECT_EQ(Cli({"image", "fake"}).code, kExitUsage);
  EXPECT_EQ(Cli({"sources", "extra"}).code, kExitUsage);
  for (std::string cmd : {"sources", "scan", "recover", "image"}) {
    CliRun r = Cli({cmd, "--help"});
    EXPECT_EQ(r.code, kExitOk) << cmd;
    EXPECT_TRUE(Contains(r.out, "Usage: dunmere-cli " + cmd)) << r.out;
    CliRun h = Cli({"help", cmd});
    EXPECT_EQ(h.out, r.out);
  }
  CliRun r = Cli({"--help"});
  EXPECT_EQ(r.code, kExitOk);
  EXPECT_TRUE(Contains(r.out, "Commands:"));
  r = Cli({"--version"});
  EXPECT_EQ(r.code, kExitOk);
  EXPECT_EQ(r.out, "dunmere-cli " + std::string(ProgramVersion()) + "\n");
  r = Cli({"scan", "--deep", "fake"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_EQ(r.err, "dunmere-cli: cannot read fake for a deep scan\n");
}

// What --help, the manual page and the completion offer is what the
// commands accept: each option the table lists parses (--help then answers
// before anything is read), with its value where it takes one.
TEST_F(CliCommands, EveryOptionTheHelpListsIsAccepted) {
  for (const app::HelpCommand& c : app::CommandLineHelp().commands) {
    for (const app::HelpOption& o : c.options) {
      std::vector<std::string> args = {std::string(c.name), std::string(o.name)};
      if (!o.argument.empty()) args.push_back(o.argument == "category|tree" ? "tree" : "x");
      args.push_back("--help");
      CliRun r = Cli(args);
      EXPECT_EQ(r.code, kExitOk) << c.name << " " << o.name << ": " << r.err;
    }
    EXPECT_EQ(Cli({std::string(c.name), "--no-such-option", "--help"}).code, kExitUsage) << c.name;
  }
}

TEST(JsonWriter, EscapesAndRepairsText) {
  EXPECT_EQ(JsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\u000a\\u0001\"");
  EXPECT_EQ(JsonString("caf\xC3\xA9"), "\"caf\xC3\xA9\"");
  EXPECT_EQ(JsonString("bad\xFF\xC3"), "\"bad\xEF\xBF\xBD\xEF\xBF\xBD\"");
  EXPECT_EQ(JsonObject().Str("a", "x").UNum("n", 3).Bool("b", false).StrOrNull("z", "").Text(),
            "{\"a\":\"x\",\"n\":3,\"b\":false,\"z\":null}");
}

TEST(ProgressDisplay, PlainLinesAndTerminalBar) {
  EXPECT_EQ(ProgressDisplay::Details(45, 1, 2, 3, 123), "45%  sectors 1/2  files 3  2 Min 3 Sec left");
  EXPECT_EQ(ProgressDisplay::Details(5, 0, 0, 0, -1), "5%");
  std::ostringstream plain;
  ProgressDisplay p(plain, false, "scanning");
  for (int i = 0; i <= 100; ++i) p.Update(i, 0, 0, 0, -1);
  p.Finish();
  std::string s = plain.str();
  EXPECT_EQ(std::count(s.begin(), s.end(), '\n'), 11);  // every tenth of the way
  EXPECT_EQ(s.find('\r'), std::string::npos);
  std::ostringstream term;
  ProgressDisplay t(term, true, "imaging");
  t.Update(50, 0, 0, 0, -1);
  t.Update(100, 0, 0, 0, 0);
  t.Finish();
  EXPECT_TRUE(Contains(term.str(), "\r\x1b[Kimaging [###############---------------] 50%")) << term.str();
  EXPECT_TRUE(Contains(term.str(), "100%  0 Sec left\n"));
}

}  // namespace
}  // namespace dunmere::cli
