#pragma once
// What a preview has read of one found file: either a temporary copy in the
// scan-log folder (pictures, media, documents and archives) or at most 20 MiB
// of it in memory. Reading goes through the engine that found the file.
#include <cstdint>
#include <string>
#include <vector>

#include "app/core/preview/preview_kind.h"
#include "base/status.h"
#include "engine/callbacks.h"
#include "engine/found_item.h"
#include "engine/scan_engine.h"

namespace dunmere {

inline constexpr uint64_t kPreviewMemoryBytes = 0x1400000;  // 20 MiB

struct PreviewContent {
  FoundItemRecord record{};
  PreviewKind kind = PreviewKind::kOther;
  std::string path;            // the temporary copy, empty when read into memory
  std::vector<uint8_t> bytes;  // the data read into memory

  bool HasFile() const { return !path.empty(); }
  // Deletes the temporary copy (unless keepMedia and it is a player's file)
  // and forgets what was read.
  void Discard(bool keepMedia = false);
};

// Reads the record's content through its engine into `out` (after discarding
// what `out` held). The callback may stop the read with kStopRequested.
Status ReadPreviewContent(ScanEngine& engine, const FoundItemRecord& record, PreviewContent& out,
                          PreviewProgressCallback callback, void* user);

}  // namespace dunmere
