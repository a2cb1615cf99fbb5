#pragma once
// The name of an engine's record log: its prefix ("Fast_", "Pro_Ntfs_",
// "Pro_Fat_", "File_Type_"), the area's start sector and the local time as
// year, month, day, hour without padding and the minute padded with a blank
// ("Fast_2048_2021439 5"). Resumes find logs by these names, so the format
// never changes.
#include <cstdint>
#include <ctime>
#include <string>

namespace dunmere {

std::string FormatLogName(const char* prefix, uint64_t startSector, const struct tm& local);

}  // namespace dunmere
