#pragma once
// The stretches of a medium that could not be read, kept as merged byte
// ranges so a failing disk with many bad sectors costs little memory and a
// sector met twice (a quick pass, then the deep pass) is counted once.
#include <cstdint>
#include <map>

namespace dunmere {

class UnreadableSectors {
 public:
  void Add(uint64_t firstByte, uint64_t byteCount);
  void Merge(const UnreadableSectors& other);
  void Clear() { ranges_.clear(); }
  bool Empty() const { return ranges_.empty(); }
  uint64_t Bytes() const;
  // Whole sectors of `unit` bytes (a partly unreadable sector counts whole).
  uint64_t Count(uint32_t unit) const;
  // first byte -> one past the last byte
  const std::map<uint64_t, uint64_t>& Ranges() const { return ranges_; }

 private:
  std::map<uint64_t, uint64_t> ranges_;
};

}  // namespace dunmere
