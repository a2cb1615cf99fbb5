#pragma once
// Helpers shared by the fuzz targets: a private data folder, a scratch
// folder, and the fuzz bytes as a file the real code can open by path.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace dunmere::fuzz {

// A folder of this process below the temporary folder, made once; the scan
// logs and configuration go there instead of the user's data folder.
inline const std::string& ScratchRoot() {
  // Never freed: the exit handler that removes the folder runs after the
  // destructors of function-local statics.
  static const std::string* dir = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "dunmere-fuzz-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    setenv("DUNMERE_DATA_DIR", (tmpl + "/data").c_str(), 1);
    auto* kept = new std::string(tmpl);
    std::atexit([] { std::error_code ec; std::filesystem::remove_all(ScratchRoot(), ec); });
    return kept;
  }();
  return *dir;
}

// An empty folder below the scratch root, emptied again when it goes.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& name) : path_(ScratchRoot() + "/" + name) {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
    std::filesystem::create_directories(path_, ec);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(data), std::streamsize(size));
}

// The bytes as an in-memory file (memfd), opened by its /proc path like an
// image file. `minBytes` pads with zeros; the size is rounded up to whole
// 512-byte sectors.
class MemoryImage {
 public:
  MemoryImage(const uint8_t* data, size_t size, size_t minBytes = 0) {
    fd_ = memfd_create("dunmere-fuzz-image", MFD_CLOEXEC);
    if (fd_ < 0) std::abort();
    size_t total = std::max(size, minBytes);
    total = (total + 511) / 512 * 512;
    if (ftruncate(fd_, off_t(total)) != 0) std::abort();
    size_t done = 0;
    while (done < size) {
      ssize_t n = pwrite(fd_, data + done, size - done, off_t(done));
      if (n <= 0) std::abort();
      done += size_t(n);
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemoryImage() { close(fd_); }
  MemoryImage(const MemoryImage&) = delete;
  MemoryImage& operator=(const MemoryImage&) = delete;
  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace dunmere::fuzz
