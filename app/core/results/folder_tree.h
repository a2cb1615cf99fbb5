#pragma once
// The results grouped by where they lay: one top node per scanned source,
// below it the folders of the files found there (from their engines' folder
// paths), and one node per source for files that have no folder (carved
// ones). Only folders that hold found files appear, so every node's count is
// what checking it would check. Built from the result list alone, without
// widgets; the view makes its tree items from it as nodes are opened.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/core/recover/checked_set.h"
#include "engine/found_item.h"

namespace dunmere {

class FolderTree {
 public:
  static constexpr uint32_t kNoNode = 0xFFFFFFFFu;
  enum class Kind : uint8_t { kSource, kFolder, kNoFolder };
  struct Node {
    Kind kind = Kind::kFolder;
    uint16_t sourceTag = 0;
    uint32_t parent = kNoNode;
    std::string name;                // a folder's own name; empty for the others
    std::vector<uint32_t> children;  // folders by name, the no-folder node last
    std::vector<uint32_t> files;     // result indices of the files right in it
    uint64_t total = 0;              // files in it and in every folder below
  };
  // The folder a record lies in ("a/b/", "" at the root); false when its
  // engine knows no folder for it.
  using FolderOf = std::function<bool(const FoundItemRecord&, std::string&)>;

  // Folder records of the list are left out: the tree holds them as nodes.
  void Build(const std::vector<FoundItemRecord>& results, const FolderOf& folderOf);
  void Clear();
  bool Built() const { return built_; }

  size_t size() const { return nodes_.size(); }
  const Node& operator[](uint32_t i) const { return nodes_[i]; }
  // The sources' nodes, in the order their first files come in the list.
  const std::vector<uint32_t>& Roots() const { return roots_; }
  // "a/b/" of a folder node, "" for the others.
  std::string PathOf(uint32_t node) const;
  // The folder node of a path under a source; kNoNode when it holds no file.
  uint32_t Find(uint16_t sourceTag, std::string_view folderPath) const;

  // Every file below a node, its own first, then each subfolder's in order.
  std::vector<uint32_t> FilesBelow(uint32_t node) const;
  // The checked files below each node, one pass over the list.
  std::vector<uint64_t> CheckedBelow(const CheckedSet& checked) const;
  CheckState StateOf(uint32_t node, const std::vector<uint64_t>& checkedBelow) const {
    return StateOfCounts(checkedBelow[node], nodes_[node].total);
  }

 private:
  uint32_t Add(Kind kind, uint16_t tag, uint32_t parent, std::string name);
  void SortChildren();

  std::vector<Node> nodes_;
  std::vector<uint32_t> roots_;
  bool built_ = false;
};

}  // namespace dunmere
