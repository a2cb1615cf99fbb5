#include "tests/support/engine_walk.h"

#include <vector>

#include "tests/support/test_support.h"

namespace dunmere::test {

namespace {
void Walk(IFileRecoveryParse& e, const FoundItemRecord* folder, uint32_t level, const std::string& dir, int depth,
          std::multimap<std::string, FoundItemRecord>& out) {
  std::vector<FoundItemRecord> kids;
  if (depth > 64 || e.ListChildren(folder, level, kids) != kOk) return;
  for (const FoundItemRecord& r : kids) {
    if (r.isFolder) {
      Walk(e, &r, level + 1, dir, depth + 1, out);
      continue;
    }
    std::string dest = dir + "/" + std::to_string(out.size());
    if (e.RecoverItem(r, dest, 0) == kOk) out.emplace(Sha256OfFile(dest), r);
  }
}
}  // namespace

std::multimap<std::string, FoundItemRecord> CopyOutEverything(IFileRecoveryParse& engine, const std::string& dir) {
  std::multimap<std::string, FoundItemRecord> out;
  Walk(engine, nullptr, 0, dir, 0, out);
  return out;
}

}  // namespace dunmere::test
