#pragma once
// Fixed-size items the deep FAT scan must keep until its end (copies of
// directory sectors it cannot place yet, file records waiting for a volume):
// the first ones stay in memory, later ones go to a file in the scan folder,
// and past a hard limit no more are taken. Memory stays bounded whatever the
// size of the disk.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "platform/file.h"

namespace dunmere {

class DeepFatSpill {
 public:
  DeepFatSpill() = default;
  ~DeepFatSpill() { Clear(); }
  DeepFatSpill(const DeepFatSpill&) = delete;
  DeepFatSpill& operator=(const DeepFatSpill&) = delete;

  // Starts empty: items of `itemBytes`, `memoryItems` of them in memory, at
  // most `maxItems` in all; the rest go to `spillPath` (none: memory only).
  void Reset(size_t itemBytes, size_t memoryItems, uint64_t maxItems, std::string spillPath);
  // Keeps a copy of `itemBytes` bytes; false when the limit is reached or the
  // spill file cannot be written (the item is not kept).
  bool Add(const uint8_t* data, uint32_t& slot);
  // Replaces the item in `slot`.
  bool Put(uint32_t slot, const uint8_t* data);
  bool Get(uint32_t slot, uint8_t* out) const;
  // Frees the memory and deletes the spill file.
  void Clear();

  uint64_t Count() const { return count_; }
  size_t ItemBytes() const { return itemBytes_; }
  // Bytes held in memory for the items themselves.
  size_t ResidentBytes() const { return memory_.capacity(); }
  uint64_t SpilledItems() const { return count_ > memoryItems_ ? count_ - memoryItems_ : 0; }

 private:
  size_t itemBytes_ = 0;
  size_t memoryItems_ = 0;
  uint64_t maxItems_ = 0;
  std::string path_;
  std::vector<uint8_t> memory_;
  File file_;
  bool fileFailed_ = false;
  uint64_t count_ = 0;
};

}  // namespace dunmere
