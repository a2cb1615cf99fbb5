// A deleted folder whose own entry a new file has taken: no walk from the
// root reaches it any more, yet its clusters still open with "." and "..".
// The quick scan finds it among the free clusters and lists what it holds
// under "LostFolder<first cluster>", as the deep scan names such folders.
// Image from mkfs.fat and mtools (which gives the new file the freed slot).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "engine/scan_log_folder.h"
#include "fat/quick/quick_fat_engine.h"
#include "tests/fat/fat_images.h"
#include "tests/support/open_medium.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

using test::RunCommand;
using test::TempDir;

TEST(QuickFatLostFolder, AFolderWhoseEntryWasReusedIsListedAsLostFolder) {
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  DUNMERE_REQUIRE_TOOL("mcopy");
  DUNMERE_REQUIRE_TOOL("mdeltree");
  test::UsePrivateDataFolder();
  TempDir dir;
  std::string data(3000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = char((i * 131 + 7) & 0xFF);
  { std::ofstream(dir / "a.bin", std::ios::binary) << data; }
  { std::ofstream(dir / "empty"); }
  std::string out;
  ASSERT_EQ(RunCommand("cd '" + dir.path() +
                           "' && export MTOOLS_SKIP_CHECK=1 && mkfs.fat -F 32 -s 1 -C f.img 40000 >/dev/null"
                           " && mmd -i f.img ::/Old && mcopy -i f.img a.bin '::/Old/Lost file.bin'"
                           " && mdeltree -i f.img ::/Old"
                           " && mcopy -i f.img empty ::/NEW1.TXT && mcopy -i f.img empty ::/NEW2.TXT",
                       &out),
            0)
      << out;
  ScanLogFolder::Instance().BeginNewScanFolder();
  QuickFatEngine engine;
  ASSERT_EQ(engine.OpenImage(dir / "f.img", 'Z'), kOk);
  ASSERT_EQ(engine.Scan(nullptr), kOk);
  auto listed = test::ListAll(engine);
  std::string found;
  for (const auto& item : listed)
    if (item.first.rfind("LostFolder", 0) == 0 && item.first.size() > 14 &&
        item.first.compare(item.first.size() - 14, 14, "/Lost file.bin") == 0)
      found = item.first;
  ASSERT_FALSE(found.empty()) << listed.size();
  const FoundItemRecord folder = listed.at(found.substr(0, found.find('/'))).record;
  EXPECT_TRUE(folder.isFolder);
  EXPECT_EQ(found.substr(0, found.find('/')), "LostFolder" + std::to_string(folder.itemId));
  std::string copied;
  ASSERT_EQ(engine.ReadContent(listed.at(found).record,
                               [&](const uint8_t* d, size_t n) {
                                 copied.append(reinterpret_cast<const char*>(d), n);
                                 return 0;
                               }),
            kOk);
  EXPECT_EQ(copied, data);
}

}  // namespace
}  // namespace dunmere
