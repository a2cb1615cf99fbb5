#pragma once
// Small attribute files of the kernel's device tree (/sys): one number or one
// line each. Readable without rights; a missing file gives the fallback.
#include <cstdint>
#include <string>

namespace dunmere {

uint64_t ReadSysfsNumber(const std::string& path, uint64_t fallback = 0);
// The first line, without its line end; empty when the file is missing.
std::string ReadSysfsLine(const std::string& path);
// A "dev" file: "MAJOR:MINOR".
bool ReadSysfsDevNumber(const std::string& path, unsigned& major, unsigned& minor);

}  // namespace dunmere
