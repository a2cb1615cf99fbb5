#include "tests/fat/fat_images.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace dunmere::test {

// The images are kept in the build tree and remade only when the script
// changes: ctest runs every test in a process of its own.
const std::string& FatImageFolder(std::string* why) {
  static std::string reason;
  static std::string folder = []() -> std::string {
    const std::string script = SourcePath("tests/fixtures/make_fat_images.sh");
    const std::string base = std::string(DUNMERE_BINARY_DIR) + "/test-fixtures";
    const std::string dir = base + "/fat-images";
    const std::string stamp = dir + "/stamp";
    const std::string want = Sha256OfFile(script);
    std::error_code ec;
    fs::create_directories(base, ec);
    int lock = ::open((base + "/fat-images.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock >= 0) ::flock(lock, LOCK_EX);
    std::string have;
    if (auto bytes = ReadBytes(stamp); !bytes.empty()) have.assign(bytes.begin(), bytes.end());
    std::string result = dir;
    if (want.empty() || have != want) {
      fs::remove_all(dir, ec);
      fs::create_directories(dir, ec);
      std::string output;
      int rc = RunFixtureScript("make_fat_images.sh", "'" + dir + "'", &output);
      if (rc == 0) {
        WriteBytes(stamp, std::vector<uint8_t>(want.begin(), want.end()));
      } else {
        reason = rc == 77 ? "FAT fixtures need mkfs.fat, mtools and sfdisk: " + output
                          : "make_fat_images.sh failed: " + output;
        fs::remove_all(dir, ec);
        result.clear();
      }
    }
    if (lock >= 0) ::close(lock);
    return result;
  }();
  if (why) *why = reason;
  return folder;
}

std::vector<ManifestEntry> ReadManifest(const std::string& imagePath) {
  std::vector<ManifestEntry> out;
  std::ifstream in(imagePath + ".manifest");
  std::string line;
  while (std::getline(in, line)) {
    std::stringstream ss(line);
    ManifestEntry e;
    std::getline(ss, e.state, '\t');
    std::getline(ss, e.folder, '\t');
    std::getline(ss, e.name, '\t');
    std::getline(ss, e.sha256, '\t');
    if (!e.state.empty()) out.push_back(e);
  }
  return out;
}

std::map<std::string, Listed> ListAll(IFileRecoveryParse& engine) {
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
