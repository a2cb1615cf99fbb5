#include "fat/deep/spill.h"

#include <algorithm>
#include <cstring>

#include "platform/file.h"

namespace dunmere {

void DeepFatSpill::Reset(size_t itemBytes, size_t memoryItems, uint64_t maxItems, std::string spillPath) {
  Clear();
  itemBytes_ = itemBytes;
  memoryItems_ = memoryItems;
  maxItems_ = spillPath.empty() ? std::min<uint64_t>(maxItems, memoryItems) : maxItems;
  path_ = std::move(spillPath);
}

void DeepFatSpill::Clear() {
  std::vector<uint8_t>().swap(memory_);
  if (file_.IsOpen()) (void)file_.Close();
  if (!path_.empty()) (void)RemoveFile(path_);
  fileFailed_ = false;
  count_ = 0;
}

bool DeepFatSpill::Add(const uint8_t* data, uint32_t& slot) {
  if (itemBytes_ == 0 || count_ >= maxItems_ || count_ >= UINT32_MAX) return false;
  if (count_ < memoryItems_) {
    // Grows in steps, never past the memory share.
    size_t need = size_t(count_ + 1) * itemBytes_;
    if (memory_.capacity() < need) {
      size_t grow = std::max(need, std::min(memory_.capacity() * 2, memoryItems_ * itemBytes_));
      memory_.reserve(grow);
    }
    memory_.insert(memory_.end(), data, data + itemBytes_);
  } else {
    if (fileFailed_) return false;
    if (!file_.IsOpen() && file_.Open(path_, File::Mode::kCreateTruncate) != kOk) {
      fileFailed_ = true;
      return false;
    }
    if (file_.WriteAt((count_ - memoryItems_) * itemBytes_, data, itemBytes_) != kOk) return false;
  }
  slot = uint32_t(count_++);
  return true;
}

bool DeepFatSpill::Put(uint32_t slot, const uint8_t* data) {
  if (slot >= count_) return false;
  if (slot < memoryItems_) {
    std::memcpy(memory_.data() + size_t(slot) * itemBytes_, data, itemBytes_);
    return true;
  }
  return file_.WriteAt((uint64_t(slot) - memoryItems_) * itemBytes_, data, itemBytes_) == kOk;
}

bool DeepFatSpill::Get(uint32_t slot, uint8_t* out) const {
  if (slot >= count_) return false;
  if (slot < memoryItems_) {
    std::memcpy(out, memory_.data() + size_t(slot) * itemBytes_, itemBytes_);
    return true;
  }
  size_t got = 0;
  return file_.ReadAt((uint64_t(slot) - memoryItems_) * itemBytes_, out, itemBytes_, got) == kOk &&
         got == itemBytes_;
}

}  // namespace dunmere
