#include "platform/this_process.h"

#include <windows.h>

#include <shellapi.h>

#include "platform/windows/win_util.h"

namespace dunmere {

uint32_t CurrentUserId() {
  // 0, as root's, for an elevated administrator: the one who may read disks.
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return 1;
  TOKEN_ELEVATION elevation{};
  DWORD got = 0;
  const bool elevated =
      ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &got) && elevation.TokenIsElevated;
  ::CloseHandle(token);
  return elevated ? 0 : 1;
}

bool IsTerminal(StandardStream stream) {
  const DWORD which = stream == StandardStream::kInput    ? STD_INPUT_HANDLE
                      : stream == StandardStream::kOutput ? STD_OUTPUT_HANDLE
                                                          : STD_ERROR_HANDLE;
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(which), &mode) != 0;
}

void EndThisProcessAbruptly() {
  ::TerminateProcess(::GetCurrentProcess(), 137);
  std::_Exit(137);  // not reached
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  // The narrow arguments are in the ANSI code page, which cannot hold every
  // name: the UTF-16 command line can.
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!wide) return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::vector<std::string> out;
  for (int i = 1; i < count; ++i) out.push_back(win::Narrow(wide[i], wcslen(wide[i])));
  ::LocalFree(wide);
  return out;
}

void UseUtf8Console() {
  ::SetConsoleOutputCP(CP_UTF8);
  ::SetConsoleCP(CP_UTF8);
}

std::string ProgramFilePath() {
  std::wstring buffer(32768, L'\0');
  const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
  if (n == 0 || n >= buffer.size()) return {};
  std::string out = win::Narrow(buffer.data(), n);
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

const char* DeviceRightsAdvice() { return "an administrator (run the console with \"Run as administrator\")"; }

const SystemNaming& ThisSystemNaming() {
  // An administrator console reads disks: nothing goes before the command.
  static const SystemNaming kNaming{"\\\\.\\PhysicalDrive1", "E:", "F:\\rescued", "F:\\e.img", "",
                                    "%LOCALAPPDATA%\\Free Dunmere", false};
  return kNaming;
}

}  // namespace dunmere
