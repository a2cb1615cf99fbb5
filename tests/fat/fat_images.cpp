#include "tests/fat/fat_images.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace dunmere::test {

const std::string& FatImageFolder(std::string* why) {
  static const CachedFixture fixture = MakeCachedFixture("make_fat_images.sh", "fat-images");
  if (why) *why = fixture.missingTool ? "FAT fixtures need mkfs.fat, mtools and sfdisk: " + fixture.message
                                      : fixture.message;
  return fixture.dir;
}

std::map<std::string, Listed> ListAll(FoundItems& engine) {
  std::map<std::string, Listed> all;
  std::deque<std::pair<std::string, Listed>> queue;
  std::vector<FoundItemRecord> kids;
  EXPECT_EQ(engine.ListChildren(nullptr, 0, kids), 0);
  for (auto& k : kids) queue.push_back({"", {k, 0}});
  while (!queue.empty()) {
    auto [prefix, item] = queue.front();
    queue.pop_front();
    std::string path = prefix + RecordName(item.record);
    all[path] = item;
    if (all.size() > 10000) break;
    if (item.record.isFolder) {
      EXPECT_EQ(engine.ListChildren(&item.record, item.level + 1, kids), 0);
      for (auto& k : kids) queue.push_back({path + "/", {k, item.level + 1}});
    }
  }
  return all;
}

}  // namespace dunmere::test
