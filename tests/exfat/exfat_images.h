#pragma once
// The exFAT images of tests/fixtures/make_exfat_images.sh and their
// manifests. The small copies committed under tests/fixtures/exfat/ are
// unpacked once per test program, so the tests run where loop devices and
// FUSE are missing; the script's own full-size set (photos of camera size
// on the card) is made once per build tree where they are not.
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/manifest.h"

namespace dunmere::test {

struct ExfatImage {
  std::string name;           // "exfat-basic"
  std::string path;           // the unpacked image
  uint64_t volumeOffset = 0;  // bytes before the exFAT volume (the card's partition)
  std::vector<ManifestEntry> manifest;
};

// Names of the committed images: exfat-basic, exfat-4k, exfat-bigcluster,
// exfat-formatted, exfat-card.
const std::vector<std::string>& CommittedExfatImageNames();
// One committed image, unpacked on first use into a folder removed when the
// program ends; nullptr when it cannot be (reason in `why`).
const ExfatImage* CommittedExfatImage(const std::string& name, std::string* why = nullptr);
// All of them; empty when any cannot be unpacked (reason in `why`).
const std::vector<ExfatImage>& CommittedExfatImages(std::string* why = nullptr);

// Folder of the script's full-size images (made once per build tree);
// empty when a tool, a loop device or FUSE is missing (reason in `why`).
const std::string& ScriptExfatImageFolder(std::string* why = nullptr);
// An image of that folder with its manifest (volumeOffset set for the card).
ExfatImage ScriptExfatImage(const std::string& name);

// Prefix of `why` when only a missing tool stands in the way.
inline constexpr const char kExfatFixturesNeed[] = "exFAT fixtures need ";

}  // namespace dunmere::test

// Only a missing tool skips; a broken or missing committed copy, or a script
// that fails, is a failure.
#define DUNMERE_REQUIRE_EXFAT_IMAGES()                                                   \
  do {                                                                                   \
    std::string why_;                                                                    \
    if (::dunmere::test::CommittedExfatImages(&why_).empty()) {                          \
      if (why_.rfind(::dunmere::test::kExfatFixturesNeed, 0) == 0) GTEST_SKIP() << why_; \
      FAIL() << why_;                                                                    \
    }                                                                                    \
  } while (0)

#define DUNMERE_REQUIRE_SCRIPT_EXFAT_IMAGES()                                            \
  do {                                                                                   \
    std::string why_;                                                                    \
    if (::dunmere::test::ScriptExfatImageFolder(&why_).empty()) {                        \
      if (why_.rfind(::dunmere::test::kExfatFixturesNeed, 0) == 0) GTEST_SKIP() << why_; \
      FAIL() << why_;                                                                    \
    }                                                                                    \
  } while (0)
