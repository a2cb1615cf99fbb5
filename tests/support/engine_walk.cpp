#include "tests/support/engine_walk.h"

#include <deque>
#include <vector>

#include "tests/support/test_support.h"

namespace dunmere::test {

namespace {
void Walk(FoundItems& e, const FoundItemRecord* folder, uint32_t level, const std::string& dir, int depth,
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

std::multimap<std::string, FoundItemRecord> CopyOutEverything(FoundItems& engine, const std::string& dir) {
  std::multimap<std::string, FoundItemRecord> out;
  Walk(engine, nullptr, 0, dir, 0, out);
  return out;
}

std::vector<ListedFile> ListEveryFile(FoundItems& engine, size_t limit) {
  std::vector<ListedFile> files;
  struct Pending {
    std::string prefix;
    FoundItemRecord record;
    uint32_t level;
  };
  std::deque<Pending> queue;
  std::vector<FoundItemRecord> kids;
  if (engine.ListChildren(nullptr, 0, kids) != kOk) return files;
  for (const FoundItemRecord& k : kids) queue.push_back({"", k, 0});
  while (!queue.empty() && files.size() < limit) {
    Pending p = std::move(queue.front());
    queue.pop_front();
    const std::string path = p.prefix + RecordName(p.record);
    if (!p.record.isFolder) {
      files.push_back({path, p.record});
      continue;
    }
    if (engine.ListChildren(&p.record, p.level + 1, kids) != kOk) continue;
    for (const FoundItemRecord& k : kids) queue.push_back({path + "/", k, p.level + 1});
  }
  return files;
}

std::multimap<std::string, ListedFile> CopyOutWithPaths(FoundItems& engine, const std::string& dir) {
  std::multimap<std::string, ListedFile> byHash;
  int n = 0;
  for (ListedFile& f : ListEveryFile(engine)) {
    const std::string dest = dir + "/" + std::to_string(n++);
    if (engine.RecoverItem(f.record, dest, 0) == kOk) byHash.emplace(Sha256OfFile(dest), std::move(f));
  }
  return byHash;
}

}  // namespace dunmere::test
