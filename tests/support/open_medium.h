#pragma once
// Opens an image or a disk range as a medium and readies an engine on it,
// for tests that drive one deep-pass engine (or carving) on its own.
#include <cstdint>
#include <string>

#include "storage/medium.h"

namespace dunmere::test {

template <class Engine>
Status OpenImageIn(Engine& engine, const std::string& path, uint16_t tag) {
  ::dunmere::Medium medium;  // not the tests' own Medium of sig_test_util.h
  if (Status s = OpenImageMedium(path, medium)) return s;
  return engine.Open(medium, tag);
}

template <class Engine>
Status OpenDiskIn(Engine& engine, uint32_t disk, uint64_t start, uint64_t count, uint16_t tag) {
  ::dunmere::Medium medium;  // not the tests' own Medium of sig_test_util.h
  if (Status s = OpenDiskMedium(disk, start, count, medium)) return s;
  return engine.Open(medium, tag);
}

}  // namespace dunmere::test
