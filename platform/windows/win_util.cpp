#include "platform/windows/win_util.h"

#include <cerrno>
#include <vector>

#include "base/text.h"

namespace dunmere::win {

void AppendQuotedArgument(std::wstring& line, const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line += L'"';
  size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    if (c == L'"') line.append(slashes * 2 + 1, L'\\');
    else line.append(slashes, L'\\');
    slashes = 0;
    line += c;
  }
  line.append(slashes * 2, L'\\');
  line += L'"';
}

std::wstring Wide(const std::string& utf8) {
  const std::u16string units = Utf8ToUtf16(utf8);
  return std::wstring(units.begin(), units.end());
}

std::string Narrow(const wchar_t* utf16, size_t count) {
  return Utf16ToUtf8(reinterpret_cast<const char16_t*>(utf16), count);
}

std::string Narrow(const std::wstring& utf16) { return Narrow(utf16.data(), utf16.size()); }

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool StartsWith(const std::wstring& s, const wchar_t* prefix) { return s.rfind(prefix, 0) == 0; }

// X:\... or \\server\share\...: no current folder or drive is needed.
bool IsFullyQualified(const std::wstring& p) {
  if (p.size() >= 3 && ((p[0] >= L'A' && p[0] <= L'Z') || (p[0] >= L'a' && p[0] <= L'z')) && p[1] == L':' &&
      p[2] == L'\\')
    return true;
  return p.size() >= 2 && p[0] == L'\\' && p[1] == L'\\';
}

// The \\?\ form turns off the system's own clean-up of the path: repeated
// separators, "." and ".." are resolved here, as the system would have.
std::wstring Normalized(const std::wstring& full) {
  size_t rootEnd;
  std::wstring root;
  if (full[0] == L'\\') {
    // \\server\share
    size_t server = full.find(L'\\', 2);
    size_t share = server == std::wstring::npos ? std::wstring::npos : full.find(L'\\', server + 1);
    rootEnd = share == std::wstring::npos ? full.size() : share;
    root = full.substr(0, rootEnd);
  } else {
    rootEnd = 2;
    root = full.substr(0, 2);
  }
  std::vector<std::wstring> parts;
  size_t pos = rootEnd;
  while (pos < full.size()) {
    while (pos < full.size() && full[pos] == L'\\') ++pos;
    size_t end = full.find(L'\\', pos);
    if (end == std::wstring::npos) end = full.size();
    std::wstring part = full.substr(pos, end - pos);
    pos = end;
    if (part.empty() || part == L".") continue;
    if (part == L"..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(std::move(part));
  }
  std::wstring out = root;
  for (const std::wstring& part : parts) out += L"\\" + part;
  if (parts.empty()) out += L"\\";
  return out;
}

}  // namespace

bool IsDevicePath(const std::string& path) {
  return path.size() > 4 && IsSeparator(wchar_t(path[0])) && IsSeparator(wchar_t(path[1])) && path[2] == '.' &&
         IsSeparator(wchar_t(path[3]));
}

std::wstring LongPath(const std::string& path) {
  std::wstring p = Wide(path);
  for (wchar_t& c : p)
    if (c == L'/') c = L'\\';
  if (IsDevicePath(path) || StartsWith(p, L"\\\\?\\")) return p;
  if (p.empty()) return p;
  if (!IsFullyQualified(p)) {
    // Relative, or rooted on the current drive ("\work", as a Unix path
    // reads under Wine): the system completes it.
    DWORD need = ::GetFullPathNameW(p.c_str(), 0, nullptr, nullptr);
    if (need == 0) return p;
    std::wstring full(need, L'\0');
    DWORD got = ::GetFullPathNameW(p.c_str(), need, full.data(), nullptr);
    if (got == 0 || got >= need) return p;
    full.resize(got);
    // The system drops trailing dots and spaces of the last name; keep them.
    size_t keep = p.size();
    while (keep > 0 && (p[keep - 1] == L'.' || p[keep - 1] == L' ')) --keep;
    if (keep < p.size() && keep > 0 && p[keep - 1] != L'\\' && !(full.size() && full.back() == L'\\'))
      full += p.substr(keep);
    p = full;
  }
  p = Normalized(p);
  if (p[0] == L'\\') return L"\\\\?\\UNC\\" + p.substr(2);
  return L"\\\\?\\" + p;
}

std::string ParentOf(const std::string& path) {
  size_t cut = path.find_last_of("/\\");
  if (cut == std::string::npos) return {};
  // "C:\" stays the root, not "C:".
  if (cut == 2 && path.size() > 1 && path[1] == ':') return path.substr(0, 3);
  return path.substr(0, cut == 0 ? 1 : cut);
}

Status StatusFromWin32(DWORD code) {
  switch (code) {
    case ERROR_SUCCESS: return kOk;
    case ERROR_HANDLE_DISK_FULL: return kDiskFull;
    case ERROR_FILE_EXISTS: return kAlreadyExists;
    case ERROR_NO_MEDIA_IN_DRIVE:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED: return kNotReady;
    case ERROR_LOCK_VIOLATION: return kSharingViolation;
    case ERROR_INVALID_FUNCTION: return kNotSupported;
    case ERROR_IO_DEVICE:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_READ_FAULT: return kReadFault;
    case ERROR_BUFFER_OVERFLOW: return kNameTooLong;
    case ERROR_DIRECTORY: return kPathNotFound;
    case ERROR_CANT_RESOLVE_FILENAME: return kAccessDenied;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return kNoMemory;
    case ERROR_INVALID_PARAMETER: return kInvalidArg;
    default: return Status(int32_t(code));
  }
}

Status LastStatus() { return StatusFromWin32(::GetLastError()); }

int ErrnoFromWin32(DWORD code) {
  switch (code) {
    case ERROR_SUCCESS: return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD: return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EBUSY;
    case ERROR_NOT_READY:
    case ERROR_NO_MEDIA_IN_DRIVE:
    case ERROR_DEV_NOT_EXIST: return ENODEV;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER: return EINVAL;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    default: return EIO;
  }
}

std::error_code ErrorCodeFromWin32(DWORD code) { return std::error_code(ErrnoFromWin32(code), std::generic_category()); }

HANDLE OpenForReading(const std::string& path, DWORD flags) {
  return ::CreateFileW(LongPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
}

bool DeviceRequest(HANDLE h, DWORD code, void* out, DWORD size) {
  DWORD got = 0;
  return ::DeviceIoControl(h, code, nullptr, 0, out, size, &got, nullptr) != 0;
}

}  // namespace dunmere::win
