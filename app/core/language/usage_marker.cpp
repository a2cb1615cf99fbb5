#include "app/core/language/usage_marker.h"

#include <filesystem>

#include "platform/file.h"
#include "platform/native_path.h"

namespace dunmere::app {

bool EnsureUsageMarker(const std::string& dataFolder) {
  const std::string path = dataFolder + "/Used";
  if (PathKindOf(path) != PathKind::kNone) return true;
  std::error_code ec;
  std::filesystem::create_directories(NativePath(dataFolder), ec);
  // Create-new: a marker another copy made meanwhile stays as it is.
  File marker;
  (void)marker.Open(path, File::Mode::kCreateNew);
  (void)marker.Close();
  return PathKindOf(path) != PathKind::kNone;
}

}  // namespace dunmere::app
