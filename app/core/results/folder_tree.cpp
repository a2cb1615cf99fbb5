#include "app/core/results/folder_tree.h"

#include <algorithm>
#include <cctype>
#include <unordered_map>

namespace dunmere {

namespace {

bool LessNoCase(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const int x = std::tolower(static_cast<unsigned char>(a[i]));
    const int y = std::tolower(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;  // names differing only in case keep one order
}

// Per source and folder path: a key that tells two volumes' "a/" apart.
std::string KeyOf(uint16_t tag, std::string_view path) {
  std::string k;
  k.reserve(path.size() + 2);
  k.push_back(char(tag >> 8));
  k.push_back(char(tag & 0xFF));
  k.append(path);
  return k;
}

}  // namespace

void FolderTree::Clear() {
  nodes_.clear();
  nodes_.shrink_to_fit();
  roots_.clear();
  built_ = false;
}

uint32_t FolderTree::Add(Kind kind, uint16_t tag, uint32_t parent, std::string name) {
  const uint32_t i = uint32_t(nodes_.size());
  Node n;
  n.kind = kind;
  n.sourceTag = tag;
  n.parent = parent;
  n.name = std::move(name);
  nodes_.push_back(std::move(n));
  if (parent != kNoNode) nodes_[parent].children.push_back(i);
  else roots_.push_back(i);
  return i;
}

void FolderTree::Build(const std::vector<FoundItemRecord>& results, const FolderOf& folderOf) {
  Clear();
  // Files of one folder mostly come together: the path's node is looked up
  // once per path, not walked down once per file.
  std::unordered_map<std::string, uint32_t> byPath;
  std::unordered_map<uint16_t, uint32_t> sourceNode, noFolderNode;
  std::string path;
  for (uint32_t i = 0; i < results.size(); ++i) {
    const FoundItemRecord& r = results[i];
    if (r.isFolder) continue;
    const uint16_t tag = r.sourceTag;
    auto src = sourceNode.find(tag);
    if (src == sourceNode.end()) src = sourceNode.emplace(tag, Add(Kind::kSource, tag, kNoNode, {})).first;
    path.clear();
    if (!folderOf || !folderOf(r, path)) {
      auto nf = noFolderNode.find(tag);
      if (nf == noFolderNode.end()) nf = noFolderNode.emplace(tag, Add(Kind::kNoFolder, tag, src->second, {})).first;
      nodes_[nf->second].files.push_back(i);
      continue;
    }
    if (!path.empty() && path.back() != '/') path.push_back('/');
    uint32_t node = src->second;
    if (!path.empty()) {
      auto hit = byPath.find(KeyOf(tag, path));
      if (hit != byPath.end()) {
        node = hit->second;
      } else {
        // Down from the source, making each folder not met before.
        size_t start = 0;
        while (start < path.size()) {
          const size_t slash = path.find('/', start);
          const std::string key = KeyOf(tag, std::string_view(path).substr(0, slash + 1));
          auto it = byPath.find(key);
          if (it == byPath.end())
            it = byPath.emplace(key, Add(Kind::kFolder, tag, node, path.substr(start, slash - start))).first;
          node = it->second;
          start = slash + 1;
        }
      }
    }
    nodes_[node].files.push_back(i);
  }
  // Children always come after their parent: one backward pass sums them up.
  for (size_t i = nodes_.size(); i-- > 0;) {
    nodes_[i].total += nodes_[i].files.size();
    if (nodes_[i].parent != kNoNode) nodes_[nodes_[i].parent].total += nodes_[i].total;
  }
  SortChildren();
  built_ = true;
}

void FolderTree::SortChildren() {
  for (Node& n : nodes_) {
    std::stable_sort(n.children.begin(), n.children.end(), [this](uint32_t a, uint32_t b) {
      const Node& x = nodes_[a];
      const Node& y = nodes_[b];
      // Files without a folder close the source's list.
      if ((x.kind == Kind::kNoFolder) != (y.kind == Kind::kNoFolder)) return y.kind == Kind::kNoFolder;
      return LessNoCase(x.name, y.name);
    });
  }
}

std::string FolderTree::PathOf(uint32_t node) const {
  std::vector<const std::string*> names;
  for (uint32_t n = node; n != kNoNode && nodes_[n].kind == Kind::kFolder; n = nodes_[n].parent)
    names.push_back(&nodes_[n].name);
  std::string out;
  for (auto it = names.rbegin(); it != names.rend(); ++it) out += **it + "/";
  return out;
}

uint32_t FolderTree::Find(uint16_t sourceTag, std::string_view folderPath) const {
  uint32_t node = kNoNode;
  for (uint32_t r : roots_)
    if (nodes_[r].sourceTag == sourceTag) node = r;
  size_t start = 0;
  while (node != kNoNode && start < folderPath.size()) {
    size_t slash = folderPath.find('/', start);
    if (slash == std::string_view::npos) slash = folderPath.size();
    const std::string_view name = folderPath.substr(start, slash - start);
    uint32_t next = kNoNode;
    for (uint32_t c : nodes_[node].children)
      if (nodes_[c].kind == Kind::kFolder && nodes_[c].name == name) next = c;
    node = next;
    start = slash + 1;
  }
  return node;
}

std::vector<uint32_t> FolderTree::FilesBelow(uint32_t node) const {
  std::vector<uint32_t> out;
  if (node >= nodes_.size()) return out;
  out.reserve(nodes_[node].total);
  std::vector<uint32_t> stack{node};
  while (!stack.empty()) {
    const Node& n = nodes_[stack.back()];
    stack.pop_back();
    out.insert(out.end(), n.files.begin(), n.files.end());
    for (auto it = n.children.rbegin(); it != n.children.rend(); ++it) stack.push_back(*it);
  }
  return out;
}

std::vector<uint64_t> FolderTree::CheckedBelow(const CheckedSet& checked) const {
  std::vector<uint64_t> below(nodes_.size(), 0);
  for (size_t i = 0; i < nodes_.size(); ++i)
    for (uint32_t f : nodes_[i].files) below[i] += checked.IsChecked(f) ? 1 : 0;
  for (size_t i = nodes_.size(); i-- > 0;)
    if (nodes_[i].parent != kNoNode) below[nodes_[i].parent] += below[i];
  return below;
}

}  // namespace dunmere
