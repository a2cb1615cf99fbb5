#include "app/core/usage_marker.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

namespace dunmere::app {

bool EnsureUsageMarker(const std::string& dataFolder) {
  const std::string path = dataFolder + "/Used";
  if (access(path.c_str(), F_OK) == 0) return true;
  std::error_code ec;
  std::filesystem::create_directories(dataFolder, ec);
  // Create-new: a marker another copy made meanwhile stays as it is.
  const int fd = open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0644);
  if (fd >= 0) close(fd);
  return access(path.c_str(), F_OK) == 0;
}

}  // namespace dunmere::app
