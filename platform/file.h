#pragma once
// Ordinary files of the local file system (scan logs, "config", recovered
// files). The one place that knows the platform's file calls.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"

namespace dunmere {

class File {
 public:
  // kCreateNew: a new file only: anything already at the name (a file, a
  // folder, a link, even a dangling one) fails it with kAlreadyExists.
  // Inside a CreateBelowScope, kCreateTruncate below the scope's root is
  // kCreateNew too, and every folder on the way is opened without following
  // links.
  enum class Mode { kRead, kReadWrite /* open always */, kCreateTruncate, kCreateNew };
  File() = default;
  ~File() { (void)Close(); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  File& operator=(File&& o) noexcept;

  Status Open(const std::string& path, Mode mode);
  bool IsOpen() const { return fd_ >= 0; }
  // Reads up to len bytes at off; `got` is what arrived. Short only at the end of the file.
  Status ReadAt(uint64_t off, void* buf, size_t len, size_t& got) const;
  // Writes all of len bytes at off, or fails.
  Status WriteAt(uint64_t off, const void* buf, size_t len);
  // Appends all of len bytes at the current end.
  Status Append(const void* buf, size_t len);
  Status Size(uint64_t& size) const;
  Status Truncate(uint64_t size);
  Status Sync();
  // Closes; reports a failure of the close itself (a late write error).
  Status Close();
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// The copy-out destination of this thread. While it lives, files created
// below `root` (kCreateTruncate or kCreateNew) are new files only, made by
// walking down from the root one folder at a time, none followed if it is a
// link (kAccessDenied): a link planted in the destination, even between a
// check and the write, is never written through, and nothing is replaced.
// The root itself is the user's choice and may be reached through links.
class CreateBelowScope {
 public:
  explicit CreateBelowScope(std::string root);
  ~CreateBelowScope();
  CreateBelowScope(const CreateBelowScope&) = delete;
  CreateBelowScope& operator=(const CreateBelowScope&) = delete;
  const std::string& Root() const { return root_; }

 private:
  std::string root_;
  CreateBelowScope* outer_;
};

// Makes each of `parts` in turn below `root` (existing ones are entered),
// walking with openat: a link on the way is refused (kAccessDenied), never
// followed; something other than a folder is kAlreadyExists.
Status MakeFolderChain(const std::string& root, const std::vector<std::string>& parts);

// Reads a whole file into `out`. Missing or unreadable files give an error.
Status ReadWholeFile(const std::string& path, std::string& out);
// Writes `data` to path through path + ".tmp": written, flushed to the medium,
// then renamed over path, so a crash leaves either the old or the new file.
Status WriteFileAtomically(const std::string& path, const void* data, size_t len);
// Last-write time as a FILETIME; 0 when the file cannot be examined.
uint64_t FileLastWriteTime(const std::string& path);

}  // namespace dunmere
