#include "engine/kept_records.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/file.h"
#include "platform/native_path.h"

namespace dunmere {

namespace {
constexpr const char* kKeptName = ".kept_records";

std::string PathIn(const std::string& folder, const std::string& name) {
  return JoinPath(folder, name);
}

// Only a plain log name of this folder: the file is on disk and may be damaged.
bool IsPlainName(const std::string& n) {
  return !n.empty() && n[0] != '.' && n.find('/') == std::string::npos && n.find('\\') == std::string::npos &&
         n.find('\0') == std::string::npos;
}
}  // namespace

Status SaveKeptRecords(const std::string& folder, const std::vector<ResultStore*>& stores) {
  std::string text;
  Status first = kOk;
  for (ResultStore* s : stores) {
    if (!s || !s->IsOpen()) continue;
    if (Status f = s->Flush(); f && !first) first = f;
    text += FileNameOf(s->LogPath()) + "\t" + std::to_string(s->Count()) + "\n";
  }
  Status w = WriteFileAtomically(PathIn(folder, kKeptName), text.data(), text.size());
  return first ? first : w;
}

Status CutBackToKeptRecords(const std::string& folder) {
  std::ifstream in(NativePath(PathIn(folder, kKeptName)));
  if (!in) return kOk;
  Status first = kOk;
  std::string line;
  while (std::getline(in, line)) {
    const size_t tab = line.rfind('\t');
    if (tab == std::string::npos) continue;
    const std::string name = line.substr(0, tab);
    uint64_t count = 0;
    std::istringstream n(line.substr(tab + 1));
    if (!IsPlainName(name) || !(n >> count) || count > UINT32_MAX) continue;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(NativePath(PathIn(folder, name)), ec)) continue;
    ResultStore store;
    Status s = store.Open(folder, name);
    if (!s) s = store.TruncateTo(uint32_t(count));
    if (Status c = store.Close(); !s) s = c;
    if (s && !first) first = s;
  }
  return first;
}

}  // namespace dunmere
