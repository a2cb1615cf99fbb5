#include "tests/exfat/exfat_images.h"

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace dunmere::test {
namespace {

// The card's exFAT partition starts at 4 MiB, as on a real card.
uint64_t VolumeOffsetOf(const std::string& name) { return name == "exfat-card" ? 4u << 20 : 0; }

// The folder the committed copies are unpacked into, made when first asked
// for and gone at exit.
class UnpackFolder {
 public:
  const std::string& path() {
    if (!folder_) folder_ = std::make_unique<TempDir>();
    return folder_->path();
  }

 private:
  std::unique_ptr<TempDir> folder_;
};

struct Unpacked {
  ExfatImage image;
  std::string why;  // set when it could not be unpacked
};

std::mutex gMutex;

}  // namespace

const std::vector<std::string>& CommittedExfatImageNames() {
  static const std::vector<std::string> names = {"exfat-basic", "exfat-4k", "exfat-bigcluster", "exfat-formatted",
                                                 "exfat-card"};
  return names;
}

const ExfatImage* CommittedExfatImage(const std::string& name, std::string* why) {
  static UnpackFolder folder;
  static std::map<std::string, Unpacked> done;
  std::lock_guard<std::mutex> lock(gMutex);
  auto it = done.find(name);
  if (it == done.end()) {
    Unpacked u;
    const std::string packed = SourcePath("tests/fixtures/exfat/" + name + ".img.xz");
    const std::string manifest = SourcePath("tests/fixtures/exfat/" + name + ".img.manifest");
    // Unpacked beforehand (the Windows build's tests, where no xz runs):
    // scripts/build-windows.sh puts them in $DUNMERE_FIXTURE_DIR/exfat-committed.
    const char* fixtures = std::getenv("DUNMERE_FIXTURE_DIR");
    const std::string unpacked =
        fixtures && *fixtures ? std::string(fixtures) + "/exfat-committed/" + name + ".img" : std::string();
    if (!unpacked.empty() && fs::exists(unpacked) && fs::exists(unpacked + ".manifest")) {
      u.image = {name, unpacked, VolumeOffsetOf(name), ReadManifest(unpacked)};
      if (u.image.manifest.empty()) u.why = "empty manifest " + unpacked + ".manifest";
    } else if (!HaveTool("xz")) {
      u.why = std::string(kExfatFixturesNeed) + "xz to unpack the committed images (not installed)";
    } else if (!fs::exists(packed) || !fs::exists(manifest)) {
      u.why = "no committed copy of " + name + " under tests/fixtures/exfat (make_exfat_images.sh --commit)";
    } else if (folder.path().empty()) {
      u.why = "cannot make a temporary folder for the exFAT images";
    } else {
      const std::string image = folder.path() + "/" + name + ".img";
      std::string out;
      // Kept sparse: the images are mostly empty space.
      if (RunCommand("xz -dc " + ShellQuote(packed) + " | cp --sparse=always /dev/stdin " + ShellQuote(image), &out) != 0) {
        u.why = "unpacking " + packed + " failed: " + out;
      } else {
        std::error_code ec;
        fs::copy_file(manifest, image + ".manifest", ec);
        u.image = {name, image, VolumeOffsetOf(name), ReadManifest(image)};
        if (u.image.manifest.empty()) u.why = "empty manifest " + manifest;
      }
    }
    it = done.emplace(name, std::move(u)).first;
  }
  if (why) *why = it->second.why;
  return it->second.why.empty() ? &it->second.image : nullptr;
}

const std::vector<ExfatImage>& CommittedExfatImages(std::string* why) {
  static std::vector<ExfatImage> all;
  static std::string failure;
  static bool tried = false;
  if (!tried) {
    tried = true;
    for (const std::string& name : CommittedExfatImageNames()) {
      const ExfatImage* image = CommittedExfatImage(name, &failure);
      if (!image) {
        all.clear();
        break;
      }
      all.push_back(*image);
    }
  }
  if (why) *why = failure;
  return all;
}

const std::string& ScriptExfatImageFolder(std::string* why) {
  static const CachedFixture fixture = MakeCachedFixture("make_exfat_images.sh", "exfat-images");
  if (why)
    *why = fixture.missingTool
               ? std::string(kExfatFixturesNeed) + "root, loop devices, FUSE, exfatprogs, exfat-fuse, ImageMagick and ffmpeg: " +
                     fixture.message
               : fixture.message;
  return fixture.dir;
}

ExfatImage ScriptExfatImage(const std::string& name) {
  const std::string path = ScriptExfatImageFolder() + "/" + name + ".img";
  return {name, path, VolumeOffsetOf(name), ReadManifest(path)};
}

}  // namespace dunmere::test
