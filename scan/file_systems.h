#pragma once
// The file systems the program knows, one row each: how its first 16 KiB are
// recognised, what it is called, which engine quick-scans it and which record
// kinds its engines report. Detection asks the rows in order; adding a file
// system is adding its row (and its folder of engines).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "base/bytes.h"
#include "engine/deep_engine.h"
#include "engine/found_item.h"
#include "engine/scan_engine.h"

namespace dunmere {

// The numbers are what the command line's listings have always shown.
enum class FsKind : int { kFat = 2, kNtfs = 3, kExt = 4, kOther = 5, kExfat = 6 };

inline constexpr size_t kDetectBytes = 16384;
// A record kind no engine of the row reports.
inline constexpr uint32_t kNoSourceKind = 0xFFFFFFFFu;

struct FileSystemRow {
  FsKind kind;
  std::string_view name;                 // "NTFS": in listings, messages and engine names
  bool (*recognises)(ByteView first16k);
  uint32_t quickSource;                  // record kind of its quick engine
  uint32_t deepSource;                   // record kind of its part of the deep scan
  // Its quick engine, not yet opened; null when it has none.
  std::unique_ptr<ScanEngine> (*makeQuick)();
  // Its part of the deep scan, not yet opened; null when it has none. The
  // pass offers a sector to these in the rows' order, so a stricter test
  // stands in an earlier row.
  std::unique_ptr<DeepFileSystemEngine> (*makeDeep)();
};

// Every row, in the order detection asks them: ext, NTFS, exFAT, FAT.
std::span<const FileSystemRow> FileSystems();
// The row of a kind; null for kOther.
const FileSystemRow* FileSystemOf(FsKind kind);
// The first row recognising the area; kOther when none does.
FsKind DetectFileSystem(ByteView first16k);
// The older file system whose boot sector still stands under the current
// one: only an ext volume leaves another's in place ("ext over NTFS"); kOther
// when there is none.
FsKind FileSystemUnder(ByteView first16k);
// "NTFS", "exFAT", "FAT", "ext"; "unknown" for kOther.
std::string FsKindName(FsKind kind);
// The engine a record kind comes from: "quick NTFS", "deep FAT", "carving".
std::string EngineName(uint32_t sourceKind);

// Records of this kind stand in a folder of their volume (a file system's
// engines made them); a carved file stands in none.
bool KindHasFolders(uint32_t sourceKind);

// The ext2/3/4 superblock at offset 1024.
bool IsExtSuperblock(ByteView b);

}  // namespace dunmere
