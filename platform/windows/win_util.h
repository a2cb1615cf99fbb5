#pragma once
// What the Windows files of platform/ share: UTF-8 <-> UTF-16 text, paths in
// the long form every file call takes, Windows error codes as statuses, and a
// handle that closes itself.
#include <windows.h>

#include <cstdint>
#include <string>
#include <system_error>

#include "base/status.h"

namespace dunmere::win {

std::wstring Wide(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);
std::string Narrow(const wchar_t* utf16, size_t count);
// Appends one argument to a command line as the C runtime's parser reads it
// back: quotes around it when it holds blanks or quotes, backslashes doubled
// only before a quote.
void AppendQuotedArgument(std::wstring& line, const std::wstring& arg);

// A device name (\\.\PhysicalDrive1, \\.\E:, //./E:): opened as it is.
bool IsDevicePath(const std::string& path);
// The path as every file call is given it: separators made '\', absolute,
// and prefixed \\?\ (\\?\UNC\ for a share) so names past MAX_PATH work and
// trailing dots or spaces are kept; device names are left as they are.
std::wstring LongPath(const std::string& path);
// The folder a path is in, in the program's form ("/" or "\" separated); empty for a bare name.
std::string ParentOf(const std::string& path);

// Windows codes are the program's status codes already; the few that say
// the same as one of them in other words are folded onto it.
Status StatusFromWin32(DWORD code);
Status LastStatus();
// An errno-style code of a Windows code, for std::error_code answers.
int ErrnoFromWin32(DWORD code);
std::error_code ErrorCodeFromWin32(DWORD code);

class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { Reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle(Handle&& o) noexcept : h_(o.h_) { o.h_ = INVALID_HANDLE_VALUE; }
  Handle& operator=(Handle&& o) noexcept {
    if (this != &o) {
      Reset();
      h_ = o.h_;
      o.h_ = INVALID_HANDLE_VALUE;
    }
    return *this;
  }
  void Reset(HANDLE h = INVALID_HANDLE_VALUE) {
    if (Valid()) ::CloseHandle(h_);
    h_ = h;
  }
  HANDLE Get() const { return h_; }
  HANDLE Release() {
    HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return h;
  }
  bool Valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
};

// Opens a device or a file for reading only, sharing it with every other
// reader and writer (a disk in use stays in use). Nothing is ever written
// through it.
HANDLE OpenForReading(const std::string& path, DWORD flags = 0);
// A control request whose answer fits `out` (a fixed structure).
bool DeviceRequest(HANDLE h, DWORD code, void* out, DWORD size);

}  // namespace dunmere::win
