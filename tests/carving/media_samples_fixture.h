#pragma once
// The fixture of the tests that carve real files made by the tools that write
// them (tests/fixtures/make_media_samples.sh): the samples, made once per
// build tree, and a medium to lay them out on.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/carving/sig_test_util.h"

namespace dunmere::test {

class MediaSamples : public ::testing::Test {
 protected:
  // The samples are made once per build tree and kept while the fixture
  // scripts are unchanged: ctest runs every test in a process of its own.
  static void SetUpTestSuite() {
    std::string root = std::string(DUNMERE_BINARY_DIR) + "/test-fixtures";
    std::filesystem::create_directories(root);
    int lock = ::open((root + "/media-samples.lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    if (lock >= 0) ::flock(lock, LOCK_EX);
    std::string key = Sha256OfFile(SourcePath("tests/fixtures/make_media_samples.sh")) +
                      Sha256OfFile(SourcePath("tests/fixtures/make_media_samples.py"));
    dir_ = new std::string(root + "/media-samples");
    std::string stamp = *dir_ + ".stamp";
    auto old = ReadBytes(stamp);
    if (key.size() > 64 && std::string(old.begin(), old.end()) == key && std::filesystem::is_directory(*dir_)) {
      status_ = 0;
    } else {
      std::filesystem::remove_all(*dir_);
      std::filesystem::remove(stamp);
      status_ = RunFixtureScript("make_media_samples.sh", "'" + *dir_ + "'", &message_);
      if (status_ == 0) WriteBytes(stamp, std::vector<uint8_t>(key.begin(), key.end()));
      else if (status_ != 77) ADD_FAILURE() << message_;
    }
    if (lock >= 0) ::close(lock);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static std::string SamplePath(const std::string& name) { return *dir_ + "/" + name; }
  void SetUp() override {
    if (status_ == 77) GTEST_SKIP() << "sample tools missing: " << message_;
    ASSERT_EQ(status_, 0) << message_;
  }
  static std::vector<uint8_t> File(const std::string& name) {
    auto v = ReadBytes(SamplePath(name));
    EXPECT_FALSE(v.empty()) << name;
    return v;
  }
  // The first sector of a real PNG: "another file's header".
  static std::vector<uint8_t> NextHeader() {
    auto png = File("image.png");
    png.resize(Medium::kSector);
    return png;
  }

  // Lays out [zeros][file][zero slack][follower][random] and carves the file.
  Identification Carve(const std::vector<uint8_t>& file, bool headerFollows = true) {
    medium_ = std::make_unique<Medium>();
    medium_->Zero(4);
    uint64_t at = medium_->Place(file);
    if (headerFollows) medium_->Place(NextHeader());
    medium_->Random(64);
    medium_->Open(tmp_, "m.img");
    ctx_ = std::make_unique<CarveContext>();
    return CarveAt(*ctx_, *medium_, at);
  }

  static inline std::string* dir_ = nullptr;
  static inline int status_ = -1;
  static inline std::string message_;
  TempDir tmp_;
  std::unique_ptr<Medium> medium_;
  std::unique_ptr<CarveContext> ctx_;
};

}  // namespace dunmere::test
