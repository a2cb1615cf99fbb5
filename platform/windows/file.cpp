#include "platform/file.h"

#include <windows.h>

#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/windows/win_util.h"

namespace dunmere {

using win::Handle;
using win::LastStatus;
using win::LongPath;

namespace {

thread_local CreateBelowScope* t_createRoot = nullptr;

HANDLE H(intptr_t v) { return reinterpret_cast<HANDLE>(v); }
intptr_t V(HANDLE h) { return reinterpret_cast<intptr_t>(h); }

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Files the program writes are shared as on Linux: a scan log is opened
// again (resumed, listed) while another handle still has it.
constexpr DWORD kShareWritten = kShareAll;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool Below(const std::string& root, const std::string& path) {
  if (root.empty() || path.size() <= root.size() || path.compare(0, root.size(), root) != 0) return false;
  return IsSeparator(root.back()) || IsSeparator(path[root.size()]);
}

// A folder on the way, held open so that nobody can rename it or put a link
// in its place until the walk is done (no delete sharing).
Status OpenWalkedFolder(const std::wstring& path, Handle& out) {
  out.Reset(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!out.Valid()) return LastStatus();
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(out.Get(), &info)) return LastStatus();
  // A link or junction is refused, never followed.
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return kAccessDenied;
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return kAlreadyExists;
  return kOk;
}

// The names between root and path, one per folder, then the file's.
bool SplitBelow(const std::string& root, const std::string& path, std::vector<std::string>& parts) {
  std::string rest = path.substr(root.size());
  size_t pos = 0;
  while (pos < rest.size()) {
    while (pos < rest.size() && IsSeparator(rest[pos])) ++pos;
    if (pos >= rest.size()) break;
    size_t end = rest.find_first_of("/\\", pos);
    if (end == std::string::npos) end = rest.size();
    std::string part = rest.substr(pos, end - pos);
    if (part == "." || part == ".." || part.find(':') != std::string::npos) return false;
    parts.push_back(std::move(part));
    pos = end;
  }
  return !parts.empty();
}

// Opens a new file at `path` below `root`, each folder on the way held open
// and checked to be a real folder.
HANDLE OpenNewBelow(const std::string& root, const std::string& path, DWORD& error) {
  std::vector<std::string> parts;
  if (!SplitBelow(root, path, parts)) {
    error = ERROR_ACCESS_DENIED;
    return INVALID_HANDLE_VALUE;
  }
  std::wstring at = LongPath(root);
  Handle held;
  // The root is the user's choice and may be reached through a link.
  held.Reset(::CreateFileW(at.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!held.Valid()) {
    error = ::GetLastError();
    return INVALID_HANDLE_VALUE;
  }
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    if (at.back() != L'\\') at += L'\\';
    at += win::Wide(parts[i]);
    Handle next;
    if (Status s = OpenWalkedFolder(at, next)) {
      error = s == kAccessDenied || s == kAlreadyExists ? ERROR_ACCESS_DENIED : DWORD(int32_t(s));
      return INVALID_HANDLE_VALUE;
    }
    held = std::move(next);
  }
  if (at.back() != L'\\') at += L'\\';
  at += win::Wide(parts.back());
  // CREATE_NEW with the link flag: anything at the name, a dangling link too,
  // fails it.
  HANDLE h = ::CreateFileW(at.c_str(), GENERIC_READ | GENERIC_WRITE, kShareWritten, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  error = h == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
  return h;
}

DWORD AttributesOf(const std::string& path) { return ::GetFileAttributesW(LongPath(path).c_str()); }

// Sector size of a device opened for reading; 0 when it tells none.
uint32_t DeviceSectorSize(HANDLE h) {
  DISK_GEOMETRY_EX geo{};
  DWORD got = 0;
  if (::DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, &geo, sizeof geo, &got, nullptr) &&
      geo.Geometry.BytesPerSector >= 512)
    return geo.Geometry.BytesPerSector;
  // A volume answers the plain geometry request.
  DISK_GEOMETRY plain{};
  if (::DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &plain, sizeof plain, &got, nullptr) &&
      plain.BytesPerSector >= 512)
    return plain.BytesPerSector;
  return 512;
}

// One read at an offset; a read past the end of a file gives 0 bytes.
Status ReadOnce(HANDLE h, uint64_t off, void* buf, DWORD len, DWORD& got) {
  OVERLAPPED at{};
  at.Offset = DWORD(off);
  at.OffsetHigh = DWORD(off >> 32);
  got = 0;
  if (::ReadFile(h, buf, len, &got, &at)) return kOk;
  const DWORD e = ::GetLastError();
  if (e == ERROR_HANDLE_EOF) return kOk;
  return win::StatusFromWin32(e);
}

struct AlignedFree {
  void operator()(void* p) const { ::VirtualFree(p, 0, MEM_RELEASE); }
};

}  // namespace

File& File::operator=(File&& o) noexcept {
  if (this != &o) {
    (void)Close();
    fd_ = o.fd_;
    alignment_ = o.alignment_;
    o.fd_ = kClosed;
  }
  return *this;
}

Status MakeFolderChain(const std::string& root, const std::vector<std::string>& parts) {
  std::wstring at = LongPath(root.empty() ? std::string("\\") : root);
  Handle held(::CreateFileW(at.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!held.Valid()) return LastStatus();
  for (const std::string& part : parts) {
    if (part.empty() || part == "." || part == ".." || part.find_first_of("/\\:") != std::string::npos)
      return kAccessDenied;
    if (at.back() != L'\\') at += L'\\';
    at += win::Wide(part);
    if (!::CreateDirectoryW(at.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) return LastStatus();
    Handle next;
    if (Status s = OpenWalkedFolder(at, next)) return s;
    held = std::move(next);
  }
  return kOk;
}

CreateBelowScope::CreateBelowScope(std::string root) : root_(std::move(root)), outer_(t_createRoot) {
  while (root_.size() > 1 && IsSeparator(root_.back()) && !(root_.size() == 3 && root_[1] == ':')) root_.pop_back();
  t_createRoot = this;
}

CreateBelowScope::~CreateBelowScope() { t_createRoot = outer_; }

Status File::Open(const std::string& path, Mode mode) {
  (void)Close();
  alignment_ = 0;
  const bool creating = mode == Mode::kCreateNew || mode == Mode::kCreateTruncate;
  if (creating && t_createRoot && Below(t_createRoot->Root(), path)) {
    DWORD error = 0;
    HANDLE h = OpenNewBelow(t_createRoot->Root(), path, error);
    if (h == INVALID_HANDLE_VALUE) return win::StatusFromWin32(error);
    fd_ = V(h);
    return kOk;
  }
  const std::wstring name = LongPath(path);
  HANDLE h = INVALID_HANDLE_VALUE;
  switch (mode) {
    case Mode::kRead:
      // Disks and volumes in use stay in use: every other opener keeps its rights.
      h = ::CreateFileW(name.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (h != INVALID_HANDLE_VALUE && win::IsDevicePath(path)) alignment_ = DeviceSectorSize(h);
      break;
    case Mode::kReadWrite:
      h = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, kShareWritten, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
      break;
    case Mode::kCreateTruncate: {
      // A file written by name is never written through a link someone
      // else put there.
      const DWORD attributes = ::GetFileAttributesW(name.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return kAccessDenied;
      h = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, kShareWritten, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      break;
    }
    case Mode::kCreateNew:
      h = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, kShareWritten, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      break;
    case Mode::kReplace:
      h = ::CreateFileW(name.c_str(), GENERIC_WRITE, kShareWritten, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                        nullptr);
      break;
  }
  if (h == INVALID_HANDLE_VALUE) return LastStatus();
  fd_ = V(h);
  return kOk;
}

Status File::ReadAt(uint64_t off, void* buf, size_t len, size_t& got) const {
  got = 0;
  const uint32_t unit = alignment_;
  const bool aligned = unit <= 1 || (off % unit == 0 && len % unit == 0 && uintptr_t(buf) % unit == 0);
  if (aligned) {
    while (got < len) {
      DWORD piece = DWORD(std::min<size_t>(len - got, size_t(1) << 30));
      DWORD n = 0;
      if (Status s = ReadOnce(H(fd_), off + got, static_cast<char*>(buf) + got, piece, n)) return s;
      if (n == 0) break;
      got += n;
    }
    return kOk;
  }
  // A disk or volume reads whole sectors into memory aligned to them: the
  // sectors around the range go through a buffer of our own.
  const uint64_t first = off / unit * unit;
  const uint64_t end = (off + len + unit - 1) / unit * unit;
  const size_t chunk = std::max<size_t>(unit, (size_t(1) << 20) / unit * unit);
  std::unique_ptr<void, AlignedFree> bounce(::VirtualAlloc(nullptr, chunk, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (!bounce) return kNoMemory;
  for (uint64_t at = first; at < end;) {
    const DWORD want = DWORD(std::min<uint64_t>(chunk, end - at));
    DWORD n = 0;
    if (Status s = ReadOnce(H(fd_), at, bounce.get(), want, n)) return s;
    // The part of what arrived that lies inside the range asked for.
    const uint64_t from = std::max(at, off), to = std::min<uint64_t>(at + n, off + len);
    if (to > from) {
      std::memcpy(static_cast<char*>(buf) + (from - off), static_cast<char*>(bounce.get()) + (from - at), to - from);
      got = size_t(to - off);
    }
    if (n < want) break;
    at += n;
  }
  return kOk;
}

Status File::WriteAt(uint64_t off, const void* buf, size_t len) {
  size_t done = 0;
  while (done < len) {
    OVERLAPPED at{};
    const uint64_t pos = off + done;
    at.Offset = DWORD(pos);
    at.OffsetHigh = DWORD(pos >> 32);
    DWORD n = 0;
    const DWORD piece = DWORD(std::min<size_t>(len - done, size_t(1) << 30));
    if (!::WriteFile(H(fd_), static_cast<const char*>(buf) + done, piece, &n, &at)) return LastStatus();
    if (n == 0) return kDiskFull;
    done += n;
  }
  return kOk;
}

Status File::Size(uint64_t& size) const {
  // A disk or volume has a length, not a file size.
  GET_LENGTH_INFORMATION length{};
  if (alignment_ && win::DeviceRequest(H(fd_), IOCTL_DISK_GET_LENGTH_INFO, &length, sizeof length)) {
    size = uint64_t(length.Length.QuadPart);
    return kOk;
  }
  LARGE_INTEGER v;
  if (!::GetFileSizeEx(H(fd_), &v)) return LastStatus();
  size = uint64_t(v.QuadPart);
  return kOk;
}

Status File::Truncate(uint64_t size) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = LONGLONG(size);
  return ::SetFileInformationByHandle(H(fd_), FileEndOfFileInfo, &end, sizeof end) ? kOk : LastStatus();
}

Status File::Sync() { return ::FlushFileBuffers(H(fd_)) ? kOk : LastStatus(); }

Status File::Close() {
  if (fd_ == kClosed) return kOk;
  const BOOL ok = ::CloseHandle(H(fd_));
  fd_ = kClosed;
  return ok ? kOk : LastStatus();
}

Status WriteFileAtomically(const std::string& path, const void* data, size_t len, TempName temp) {
  const std::string tmp =
      path + ".tmp" + (temp == TempName::kPerProcess ? std::to_string(::GetCurrentProcessId()) : "");
  File f;
  if (Status s = f.Open(tmp, File::Mode::kCreateTruncate)) return s;
  Status s = f.WriteAt(0, data, len);
  if (!s) s = f.Sync();
  Status c = f.Close();
  if (!s) s = c;
  if (s) {
    ::DeleteFileW(LongPath(tmp).c_str());
    return s;
  }
  if (!::MoveFileExW(LongPath(tmp).c_str(), LongPath(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    Status r = LastStatus();
    if (temp == TempName::kPerProcess) ::DeleteFileW(LongPath(tmp).c_str());
    return r;
  }
  return kOk;
}

uint64_t AllocatedBytes(const std::string& path) {
  Handle h(win::OpenForReading(path));
  if (!h.Valid()) return 0;
  FILE_STANDARD_INFO info{};
  if (!::GetFileInformationByHandleEx(h.Get(), FileStandardInfo, &info, sizeof info) || info.Directory) return 0;
  return uint64_t(info.AllocationSize.QuadPart);
}

uint64_t FileLastWriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(LongPath(path).c_str(), GetFileExInfoStandard, &data)) return 0;
  return (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

PathKind PathKindOf(const std::string& path, Links links, std::error_code& why) {
  why.clear();
  if (win::IsDevicePath(path)) {
    // Asking a device for nothing needs no rights and no medium.
    Handle h(::CreateFileW(LongPath(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!h.Valid()) {
      why = win::ErrorCodeFromWin32(::GetLastError());
      return PathKind::kNone;
    }
    return PathKind::kBlockDevice;
  }
  const DWORD a = AttributesOf(path);
  if (a == INVALID_FILE_ATTRIBUTES) {
    why = win::ErrorCodeFromWin32(::GetLastError());
    return PathKind::kNone;
  }
  if (a & FILE_ATTRIBUTE_REPARSE_POINT) {
    if (links == Links::kNoFollow) return PathKind::kLink;
    // What the link leads to; a dangling one leads nowhere.
    Handle h(::CreateFileW(LongPath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!h.Valid() || !::GetFileInformationByHandle(h.Get(), &info)) {
      why = win::ErrorCodeFromWin32(::GetLastError());
      return PathKind::kNone;
    }
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::kFolder : PathKind::kFile;
  }
  return (a & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::kFolder : PathKind::kFile;
}

PathKind PathKindOf(const std::string& path, Links links) {
  std::error_code why;
  return PathKindOf(path, links, why);
}

Status RemoveFile(const std::string& path) {
  const DWORD a = AttributesOf(path);
  if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT))
    return kAccessDenied;
  // A link to a folder is removed as a folder; the folder it leads to stays.
  if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY))
    return ::RemoveDirectoryW(LongPath(path).c_str()) ? kOk : LastStatus();
  return ::DeleteFileW(LongPath(path).c_str()) ? kOk : LastStatus();
}

bool RemoveIfRegularFile(const std::string& path) {
  const DWORD a = AttributesOf(path);
  if (a == INVALID_FILE_ATTRIBUTES || (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) return false;
  return ::DeleteFileW(LongPath(path).c_str()) != 0;
}

Status MakeFolder(const std::string& path) {
  if (::CreateDirectoryW(LongPath(path).c_str(), nullptr)) return kOk;
  return ::GetLastError() == ERROR_ALREADY_EXISTS ? kAlreadyExists : LastStatus();
}

namespace {

bool IdentityOf(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
  Handle h(::CreateFileW(LongPath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return h.Valid() && ::GetFileInformationByHandle(h.Get(), &info);
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION ia, ib;
  return IdentityOf(a, ia) && IdentityOf(b, ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

bool CanWriteInto(const std::string& folder) {
  // Rights on Windows are lists a check of bits cannot answer: a file that
  // goes with its handle says it.
  std::string probe = folder;
  if (!probe.empty() && !IsSeparator(probe.back())) probe += '\\';
  probe += ".dunmere-write-test-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(::GetTickCount64());
  Handle h(::CreateFileW(LongPath(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  return h.Valid();
}

bool CanOpenForReading(const std::string& path, std::error_code& why) {
  Handle h(win::OpenForReading(path));
  if (!h.Valid()) {
    why = win::ErrorCodeFromWin32(::GetLastError());
    return false;
  }
  why.clear();
  return true;
}

Status FileLock::Open(const std::string& path) {
  Close();
  HANDLE h = ::CreateFileW(LongPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return LastStatus();
  fd_ = V(h);
  return kOk;
}

bool FileLock::TryLock() {
  if (fd_ == -1) return false;
  OVERLAPPED at{};
  return ::LockFileEx(H(fd_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

Status FileLock::Lock() {
  if (fd_ == -1) return kInvalidArg;
  OVERLAPPED at{};
  return ::LockFileEx(H(fd_), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) ? kOk : LastStatus();
}

void FileLock::Close() {
  if (fd_ != -1) ::CloseHandle(H(fd_));
  fd_ = -1;
}

bool SystemRefusesWindowsNames() { return true; }

}  // namespace dunmere
