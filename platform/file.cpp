#include "platform/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "base/filetime.h"

namespace dunmere {

File& File::operator=(File&& o) noexcept {
  if (this != &o) {
    (void)Close();
    fd_ = o.fd_;
    alignment_ = o.alignment_;
    o.fd_ = -1;
  }
  return *this;
}

namespace {

thread_local CreateBelowScope* t_createRoot = nullptr;

// Opens a new file at `path` below `root`, one folder at a time from the root
// with openat, none followed if it is a link. -1 with errno set on failure.
int OpenNewBelow(CreateBelowScope& scope, const std::string& path) {
  const std::string& root = scope.Root();
  // The folder was reached by the walk below when it was held: no link on
  // the way then, and the open handle keeps pointing at that same folder.
  const size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > root.size()) {
    const std::string folder = path.substr(0, slash);
    const std::string leaf = path.substr(slash + 1);
    if (int held = scope.HeldFolder(folder); held >= 0 && !leaf.empty() && leaf != "." && leaf != "..")
      return ::openat(held, leaf.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  }
  std::string rest = path.substr(root.size());
  int dir = ::open(root.empty() ? "/" : root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return -1;
  size_t pos = 0;
  for (;;) {
    while (pos < rest.size() && rest[pos] == '/') ++pos;
    size_t end = rest.find('/', pos);
    std::string part = rest.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    if (part.empty() || part == "." || part == "..") {
      ::close(dir);
      errno = EACCES;
      return -1;
    }
    if (end == std::string::npos || rest.find_first_not_of('/', end) == std::string::npos) {
      int fd = ::openat(dir, part.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
      int err = errno;
      if (slash != std::string::npos && slash > root.size() && path.compare(slash + 1, std::string::npos, part) == 0)
        scope.HoldFolder(path.substr(0, slash), dir);
      else
        ::close(dir);
      errno = err;
      return fd;
    }
    int next = ::openat(dir, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    int err = errno;
    ::close(dir);
    if (next < 0) {
      // A link where a folder should be: refused, never followed.
      errno = (err == ELOOP || err == ENOTDIR) ? EACCES : err;
      return -1;
    }
    dir = next;
    pos = end;
  }
}

bool Below(const std::string& root, const std::string& path) {
  if (root.empty() || path.size() <= root.size() || path.compare(0, root.size(), root) != 0) return false;
  return root.back() == '/' || path[root.size()] == '/';
}

}  // namespace

Status MakeFolderChain(const std::string& root, const std::vector<std::string>& parts) {
  int dir = ::open(root.empty() ? "/" : root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return LastSystemStatus();
  for (const std::string& part : parts) {
    if (part.empty() || part == "." || part == ".." || part.find('/') != std::string::npos) {
      ::close(dir);
      return kAccessDenied;
    }
    if (::mkdirat(dir, part.c_str(), 0755) != 0 && errno != EEXIST) {
      Status s = LastSystemStatus();
      ::close(dir);
      return s;
    }
    int next = ::openat(dir, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int err = errno;
    if (next < 0) {
      struct stat st;
      Status s = StatusFromErrno(err);
      if (::fstatat(dir, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        s = S_ISLNK(st.st_mode) ? kAccessDenied : (S_ISDIR(st.st_mode) ? s : kAlreadyExists);
      ::close(dir);
      return s;
    }
    ::close(dir);
    dir = next;
  }
  ::close(dir);
  return kOk;
}

CreateBelowScope::CreateBelowScope(std::string root) : root_(std::move(root)), outer_(t_createRoot) {
  while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
  t_createRoot = this;
}

CreateBelowScope::~CreateBelowScope() {
  if (heldFd_ >= 0) ::close(heldFd_);
  t_createRoot = outer_;
}

void CreateBelowScope::HoldFolder(const std::string& folder, int fd) {
  if (heldFd_ >= 0) ::close(heldFd_);
  heldPath_ = folder;
  heldFd_ = fd;
}

Status File::Open(const std::string& path, Mode mode) {
  (void)Close();
  const bool creating = mode == Mode::kCreateNew || mode == Mode::kCreateTruncate;
  if (creating && t_createRoot && Below(t_createRoot->Root(), path)) {
    fd_ = OpenNewBelow(*t_createRoot, path);
    return fd_ < 0 ? LastSystemStatus() : kOk;
  }
  if (mode == Mode::kCreateNew) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    return fd_ < 0 ? LastSystemStatus() : kOk;
  }
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::kRead: flags |= O_RDONLY; break;
    case Mode::kReadWrite: flags |= O_RDWR | O_CREAT; break;
    // A file written by name is never written through a link someone else
    // put there (copy-out writes into folders the user does not control).
    case Mode::kCreateTruncate: flags |= O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW; break;
    case Mode::kCreateNew: break;  // opened above
    case Mode::kReplace: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
  }
  fd_ = ::open(path.c_str(), flags, 0644);
  return fd_ < 0 ? LastSystemStatus() : kOk;
}

Status File::ReadAt(uint64_t off, void* buf, size_t len, size_t& got) const {
  got = 0;
  while (got < len) {
    ssize_t n = ::pread(fd_, static_cast<char*>(buf) + got, len - got, off_t(off + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastSystemStatus();
    }
    if (n == 0) break;
    got += size_t(n);
  }
  return kOk;
}

Status File::WriteAt(uint64_t off, const void* buf, size_t len) {
  size_t done = 0;
  while (done < len) {
    ssize_t n = ::pwrite(fd_, static_cast<const char*>(buf) + done, len - done, off_t(off + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      // Some file systems (FUSE drivers among them) answer a full volume
      // with another error; a volume with no room left is full whatever it says.
      struct statvfs vs;
      if (err != ENOSPC && ::fstatvfs(fd_, &vs) == 0 && vs.f_blocks > 0 && vs.f_bavail == 0) return kDiskFull;
      return StatusFromErrno(err);
    }
    if (n == 0) return kDiskFull;
    done += size_t(n);
  }
  return kOk;
}

Status File::Size(uint64_t& size) const {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return LastSystemStatus();
  size = uint64_t(st.st_size);
  return kOk;
}

Status File::Truncate(uint64_t size) { return ::ftruncate(fd_, off_t(size)) == 0 ? kOk : LastSystemStatus(); }
Status File::Sync() { return ::fsync(fd_) == 0 ? kOk : LastSystemStatus(); }

Status File::Close() {
  if (fd_ < 0) return kOk;
  int r = ::close(fd_);
  fd_ = -1;
  return r == 0 ? kOk : LastSystemStatus();
}

static void SyncDirectoryOf(const std::string& path) {
  std::string dir = std::filesystem::path(path).parent_path().string();
  int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

Status WriteFileAtomically(const std::string& path, const void* data, size_t len, TempName temp) {
  const std::string tmp = path + ".tmp" + (temp == TempName::kPerProcess ? std::to_string(::getpid()) : "");
  File f;
  if (Status s = f.Open(tmp, File::Mode::kCreateTruncate)) return s;
  Status s = f.WriteAt(0, data, len);
  if (!s) s = f.Sync();
  Status c = f.Close();
  if (!s) s = c;
  if (s) {
    ::unlink(tmp.c_str());
    return s;
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    Status r = LastSystemStatus();
    if (temp == TempName::kPerProcess) ::unlink(tmp.c_str());
    return r;
  }
  SyncDirectoryOf(path);
  return kOk;
}

uint64_t AllocatedBytes(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  return uint64_t(st.st_blocks) * 512;
}

uint64_t FileLastWriteTime(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return 0;
  return FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
}

namespace {

PathKind KindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return PathKind::kFile;
  if (S_ISDIR(mode)) return PathKind::kFolder;
  if (S_ISBLK(mode)) return PathKind::kBlockDevice;
  if (S_ISLNK(mode)) return PathKind::kLink;
  return PathKind::kOther;
}

}  // namespace

PathKind PathKindOf(const std::string& path, Links links, std::error_code& why) {
  struct stat st;
  const int r = links == Links::kFollow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
  if (r != 0) {
    why.assign(errno, std::generic_category());
    return PathKind::kNone;
  }
  why.clear();
  return KindOfMode(st.st_mode);
}

PathKind PathKindOf(const std::string& path, Links links) {
  std::error_code why;
  return PathKindOf(path, links, why);
}

Status RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0 ? kOk : LastSystemStatus(); }

bool RemoveIfRegularFile(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.c_str()) == 0;
}

Status MakeFolder(const std::string& path) { return ::mkdir(path.c_str(), 0755) == 0 ? kOk : LastSystemStatus(); }

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool CanWriteInto(const std::string& folder) { return ::access(folder.c_str(), W_OK | X_OK) == 0; }

bool CanOpenForReading(const std::string& path, std::error_code& why) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    why.assign(errno, std::generic_category());
    return false;
  }
  ::close(fd);
  why.clear();
  return true;
}

Status FileLock::Open(const std::string& path) {
  Close();
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  return fd_ < 0 ? LastSystemStatus() : kOk;
}

bool FileLock::TryLock() { return fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0; }

Status FileLock::Lock() {
  if (fd_ < 0) return kInvalidArg;
  while (::flock(fd_, LOCK_EX) != 0)
    if (errno != EINTR) return LastSystemStatus();
  return kOk;
}

void FileLock::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool SystemRefusesWindowsNames() { return false; }

}  // namespace dunmere
