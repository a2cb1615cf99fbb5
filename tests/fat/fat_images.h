#pragma once
// The FAT images of tests/fixtures/make_fat_images.sh, made once per test
// program, and their manifests.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/scan_engine.h"
#include "tests/support/manifest.h"

namespace dunmere::test {

// Folder holding the images; empty when a tool is missing (reason in `why`).
const std::string& FatImageFolder(std::string* why = nullptr);

// Everything the engine lists below the root: "folder path + name" -> record.
struct Listed {
  FoundItemRecord record;
  uint32_t level;
};
std::map<std::string, Listed> ListAll(FoundItems& engine);

}  // namespace dunmere::test

#define DUNMERE_REQUIRE_FAT_IMAGES()                                            \
  do {                                                                          \
    std::string why_;                                                           \
    if (::dunmere::test::FatImageFolder(&why_).empty()) {                       \
      /* Only a missing tool skips; a script that fails is a failure. */      \
      if (why_.rfind("FAT fixtures need", 0) == 0) GTEST_SKIP() << why_;         \
      FAIL() << why_;                                                          \
    }                                                                           \
  } while (0)
