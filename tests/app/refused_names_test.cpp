// Copy-out of names a Windows file system refuses (device names, : * ? " < >
// |, trailing dots and spaces, control characters): written in their mapped
// form, the name on the medium kept in the outcome. On Windows for every
// destination; on Linux for a FAT volume (a stick), here one mounted through
// fusefat.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "app/core/recover/recovery_paths.h"
#include "app/core/sessions/scan_session.h"
#include "platform/file.h"
#include "tests/app/fake_engine.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

using test::FakeEngine;
using test::FakeItem;
using test::TempDir;

std::vector<FakeItem> ItemsWithRefusedNames() {
  return {
      {"Q&A: misc?", 10, 5, 0, true, ""},
      {"CON.txt", 11, 10, 1, false, "device name"},
      {"notes.", 12, 10, 1, false, "trailing dot"},
      {"a<b>.txt", 13, 10, 1, false, "angle brackets"},
      {"what?.jpg", 14, 5, 0, false, test::JpegBytes(3000)},
      {"plain.txt", 15, 5, 0, false, "nothing to map"},
  };
}

// A FAT volume for the Linux side: an image made by mkfs.fat, mounted with
// fusefat for the test's lifetime. Empty `mountPoint` when it cannot be had.
class FatDestination {
 public:
  FatDestination() {
    for (const char* tool : {"mkfs.fat", "fusefat", "fusermount"})
      if (!test::HaveTool(tool)) {
        why_ = test::MissingToolMessage(tool);
        return;
      }
    const std::string image = dir_ / "fat.img", point = dir_ / "mnt";
    std::string out;
    if (test::RunCommand("mkfs.fat -C " + test::ShellQuote(image) + " 16384 && mkdir " + test::ShellQuote(point) +
                             " && fusefat -o rw+ " + test::ShellQuote(image) + " " + test::ShellQuote(point),
                         &out) != 0) {
      why_ = "cannot mount a FAT image through fusefat here (no /dev/fuse?): " + out;
      return;
    }
    mountPoint_ = point;
  }
  ~FatDestination() {
    if (!mountPoint_.empty()) (void)test::RunCommand("fusermount -u " + test::ShellQuote(mountPoint_));
  }
  const std::string& mountPoint() const { return mountPoint_; }
  const std::string& why() const { return why_; }

 private:
  TempDir dir_;
  std::string mountPoint_, why_;
};

class RefusedNames : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::UsePrivateDataFolder(); }

  // Scans the items and copies them all, with their tree, to `root`.
  RecoverSummary CopyAll(const std::string& root, std::vector<RecoverOutcome>& outcomes) {
    FakeEngine engine(ItemsWithRefusedNames());
    EXPECT_EQ(RunScan(engine, {}), kOk);
    std::vector<FoundEntry> files, folders;
    EXPECT_EQ(CollectFoundItems(engine, TypeFilter{}, files, &folders), kOk);
    return RecoverFound(engine, files, root, Layout::kTree, {},
                        [&](const RecoverOutcome& o) { outcomes.push_back(o); });
  }

  // Every file arrives under its mapped name, and only the renamed ones
  // carry the name they have on the medium.
  void ExpectMappedCopies(const std::string& root) {
    std::vector<RecoverOutcome> outcomes;
    const RecoverSummary s = CopyAll(root, outcomes);
    EXPECT_EQ(s.failed, 0u);
    EXPECT_EQ(s.processed, 5u);
    const std::string folder = root + "/Q&A%3A misc%3F";
    EXPECT_EQ(PathKindOf(folder + "/CON_.txt"), PathKind::kFile);
    EXPECT_EQ(PathKindOf(folder + "/notes%2E"), PathKind::kFile);
    EXPECT_EQ(PathKindOf(folder + "/a%3Cb%3E.txt"), PathKind::kFile);
    EXPECT_EQ(PathKindOf(root + "/what%3F.jpg"), PathKind::kFile);
    std::string text;
    ASSERT_EQ(ReadWholeFile(folder + "/CON_.txt", text), kOk);
    EXPECT_EQ(text, "device name");
    std::set<std::string> originals;
    for (const RecoverOutcome& o : outcomes) {
      EXPECT_EQ(o.status, kOk) << o.path;
      if (!o.originalName.empty()) originals.insert(o.originalName);
      if (o.path.find("plain.txt") != std::string::npos) {
        EXPECT_TRUE(o.originalName.empty());
      }
    }
    EXPECT_EQ(originals, (std::set<std::string>{"Q&A: misc?/CON.txt", "Q&A: misc?/notes.", "Q&A: misc?/a<b>.txt",
                                                "what?.jpg"}));
  }
};

TEST_F(RefusedNames, WindowsDestinationsGetTheMappedForm) {
  if (!SystemRefusesWindowsNames()) GTEST_SKIP() << "every destination refuses these names only on Windows";
  TempDir out;
  EXPECT_EQ(NameRuleOf(out.path()), NameRule::kWindows);
  ExpectMappedCopies(out / "tree");
}

TEST_F(RefusedNames, AFatVolumeOnLinuxGetsTheMappedForm) {
  if (SystemRefusesWindowsNames()) GTEST_SKIP() << "Windows maps every destination (test above)";
  FatDestination fat;
  if (fat.mountPoint().empty()) GTEST_SKIP() << fat.why();
  EXPECT_EQ(NameRuleOf(fat.mountPoint()), NameRule::kWindows);
  EXPECT_EQ(NameRuleOf(fat.mountPoint() + "/not/made/yet"), NameRule::kWindows);
  ExpectMappedCopies(fat.mountPoint() + "/tree");
}

TEST_F(RefusedNames, OtherLinuxFileSystemsKeepTheNamesAsTheyAre) {
  if (SystemRefusesWindowsNames()) GTEST_SKIP() << "Windows maps every destination";
  TempDir out;
  if (NameRuleOf(out.path()) == NameRule::kWindows) GTEST_SKIP() << "the temporary folder is on a Windows file system";
  std::vector<RecoverOutcome> outcomes;
  const RecoverSummary s = CopyAll(out / "tree", outcomes);
  EXPECT_EQ(s.failed, 0u);
  EXPECT_EQ(PathKindOf(out / "tree/Q&A: misc?/CON.txt"), PathKind::kFile);
  EXPECT_EQ(PathKindOf(out / "tree/what?.jpg"), PathKind::kFile);
  for (const RecoverOutcome& o : outcomes) EXPECT_TRUE(o.originalName.empty()) << o.path;
}

}  // namespace
}  // namespace dunmere
