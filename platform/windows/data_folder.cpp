#include "platform/data_folder.h"

#include "platform/windows/win_util.h"

namespace dunmere {

namespace {

std::string Environment(const wchar_t* name) {
  wchar_t buffer[32768];
  const DWORD n = ::GetEnvironmentVariableW(name, buffer, DWORD(std::size(buffer)));
  return n == 0 || n >= std::size(buffer) ? std::string() : win::Narrow(buffer, n);
}

}  // namespace

std::string DataFolderPath() {
  if (std::string d = Environment(L"DUNMERE_DATA_DIR"); !d.empty()) return d;
  // Scan logs are large and belong to this machine: the local, not the
  // roaming, application data.
  if (std::string local = Environment(L"LOCALAPPDATA"); !local.empty()) return local + "\\Free Dunmere";
  if (std::string profile = Environment(L"USERPROFILE"); !profile.empty())
    return profile + "\\AppData\\Local\\Free Dunmere";
  return "C:\\Free Dunmere";
}

std::string ScanLogFolderPath() { return DataFolderPath() + "\\ScanLog"; }

}  // namespace dunmere
