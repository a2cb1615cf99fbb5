#pragma once
// Ordinary files of the local file system (scan logs, "config", recovered
// files). The one place that knows the platform's file calls.
#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>
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
  // kReplace: write-only, emptied or made, at a name the user chose (a link
  // there is followed, as to any file the user names).
  enum class Mode { kRead, kReadWrite /* open always */, kCreateTruncate, kCreateNew, kReplace };
  File() = default;
  ~File() { (void)Close(); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& o) noexcept : fd_(o.fd_), alignment_(o.alignment_) { o.fd_ = kClosed; }
  File& operator=(File&& o) noexcept;

  Status Open(const std::string& path, Mode mode);
  bool IsOpen() const { return fd_ != kClosed; }
  // Reads up to len bytes at off; `got` is what arrived. Short only at the end of the file.
  Status ReadAt(uint64_t off, void* buf, size_t len, size_t& got) const;
  // Writes all of len bytes at off, or fails.
  Status WriteAt(uint64_t off, const void* buf, size_t len);
  // Appends all of len bytes at the current end.
  Status Append(const void* buf, size_t len) {
    uint64_t size = 0;
    if (Status s = Size(size)) return s;
    return WriteAt(size, buf, len);
  }
  Status Size(uint64_t& size) const;
  Status Truncate(uint64_t size);
  Status Sync();
  // Closes; reports a failure of the close itself (a late write error).
  Status Close();
  // The system's own handle of the open file (a descriptor on Linux, a
  // HANDLE on Windows), for the platform's device requests.
  intptr_t NativeHandle() const { return fd_; }

 private:
  static constexpr intptr_t kClosed = -1;  // also INVALID_HANDLE_VALUE
  intptr_t fd_ = kClosed;
  // A device that reads only whole sectors (a Windows disk or volume): reads
  // at other offsets or lengths go through an aligned buffer. 0 for files.
  uint32_t alignment_ = 0;
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
  // The folder the last new file went into, held open: the next file of the
  // same folder is made there without walking down from the root again.
  int HeldFolder(const std::string& folder) const { return folder == heldPath_ ? heldFd_ : -1; }
  void HoldFolder(const std::string& folder, int fd);

 private:
  std::string root_;
  CreateBelowScope* outer_;
  std::string heldPath_;
  int heldFd_ = -1;
};

// Makes each of `parts` in turn below `root` (existing ones are entered),
// walking with openat: a link on the way is refused (kAccessDenied), never
// followed; something other than a folder is kAlreadyExists.
Status MakeFolderChain(const std::string& root, const std::vector<std::string>& parts);

// What a path names. kNone: nothing, or nothing that can be examined.
enum class PathKind { kNone, kFile, kFolder, kBlockDevice, kLink, kOther };
// kFollow looks at what a link points to; kNoFollow sees the link itself.
enum class Links { kFollow, kNoFollow };
PathKind PathKindOf(const std::string& path, Links links = Links::kFollow);
// The same; for kNone, `why` holds the system's reason (its message is the
// system's own wording, its value an errno-style code).
PathKind PathKindOf(const std::string& path, Links links, std::error_code& why);
// Removes the name: a link goes, never what it points to; a folder is refused.
Status RemoveFile(const std::string& path);
// Removes path only when it is a regular file itself, never a link (nor what
// it points to) or a folder. True when it removed something.
bool RemoveIfRegularFile(const std::string& path);
// Makes one folder (its parent must exist); one already there is kAlreadyExists.
Status MakeFolder(const std::string& path);
// Both names lead to the same file (links followed); false when either is missing.
bool SameFile(const std::string& a, const std::string& b);
// This process may create files in `folder` (write and enter rights).
bool CanWriteInto(const std::string& folder);
// Opens path for reading and closes it again; false with the system's reason
// when it cannot be read.
bool CanOpenForReading(const std::string& path, std::error_code& why);

// An exclusive lock between processes on a lock file (made with owner-only
// rights when missing). A lock held through one open of the file refuses every
// other, in this process too; closing gives it up, as does the end of the process.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock() { Close(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  Status Open(const std::string& path);
  bool IsOpen() const { return fd_ != -1; }
  // Takes the lock when nobody holds it; false at once otherwise.
  bool TryLock();
  // Waits until the lock is ours.
  Status Lock();
  // Gives the lock up and closes the file.
  void Close();

 private:
  intptr_t fd_ = -1;
};

// The system's file calls refuse, on every volume, the names Windows refuses
// (device names such as CON, : * ? " < > |, trailing dots and spaces).
bool SystemRefusesWindowsNames();

// Reads a whole file into `out`. Missing or unreadable files give an error.
inline Status ReadWholeFile(const std::string& path, std::string& out) {
  File f;
  if (Status s = f.Open(path, File::Mode::kRead)) return s;
  uint64_t size = 0;
  if (Status s = f.Size(size)) return s;
  out.resize(size);
  size_t got = 0;
  if (Status s = f.ReadAt(0, out.data(), out.size(), got)) return s;
  out.resize(got);
  return kOk;
}
// Writes `data` to path through a temporary file: written, flushed to the
// medium, then renamed over path, so a crash leaves either the old or the new
// file. kShared writes through path + ".tmp", which a reader may take up when
// path itself is missing; kPerProcess through a name of this process's own,
// for files several copies of the program may write at once, and removes it
// on any failure.
enum class TempName { kShared, kPerProcess };
Status WriteFileAtomically(const std::string& path, const void* data, size_t len,
                           TempName temp = TempName::kShared);
// Bytes a regular file takes on its volume; 0 for anything else.
uint64_t AllocatedBytes(const std::string& path);
// Last-write time as a FILETIME; 0 when the file cannot be examined.
uint64_t FileLastWriteTime(const std::string& path);

}  // namespace dunmere
