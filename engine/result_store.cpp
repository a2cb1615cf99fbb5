#include "engine/result_store.h"
#include "platform/native_path.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace dunmere {

Status ResultStore::Open(const std::string& folder, const std::string& name) {
  (void)Close();
  std::error_code ec;
  std::filesystem::create_directories(NativePath(folder), ec);
  if (ec && !std::filesystem::is_directory(NativePath(folder))) return StatusFromErrno(ec.value());
  logPath_ = JoinPath(folder, name);
  if (Status s = log_.Open(logPath_, File::Mode::kReadWrite)) return s;
  if (Status s = relationFile_.Open(logPath_ + "_Relation", File::Mode::kReadWrite)) return s;
  if (Status s = dirInfoFile_.Open(logPath_ + "_DirInfo", File::Mode::kReadWrite)) return s;

  uint64_t logSize = 0;
  if (Status s = log_.Size(logSize)) return s;
  // A record cut short by a crash is dropped so appends stay aligned.
  if (logSize % kRecordSize) {
    logSize -= logSize % kRecordSize;
    (void)log_.Truncate(logSize);
  }
  count_ = uint32_t(logSize / kRecordSize);
  parentKey_.assign(size_t(count_) + 1, 0);

  std::string text;
  uint64_t relSize = 0;
  (void)relationFile_.Size(relSize);
  text.resize(relSize);
  size_t got = 0;
  (void)relationFile_.ReadAt(0, text.data(), text.size(), got);
  text.resize(got);
  relations_ = ParseRelationText(text);
  // Damage can name records the log does not hold (an index of four billion
  // would size the parent index at 32 GiB): such entries are dropped.
  for (auto it = relations_.begin(); it != relations_.end();) {
    auto& list = it->second;
    const size_t before = list.size();
    auto dangling = [&](uint32_t idx) { return idx == 0 || idx > count_; };
    list.erase(std::remove_if(list.begin(), list.end(), dangling), list.end());
    it = list.empty() && before ? relations_.erase(it) : std::next(it);
  }
  // Text a crash cut short (or damage) is cut back to what parsed at the next flush.
  const bool relationTextClean = FormatRelationText(relations_).size() == text.size();
  for (const auto& [key, list] : relations_)
    for (uint32_t idx : list) IndexParent(key, idx);

  uint64_t dirSize = 0;
  (void)dirInfoFile_.Size(dirSize);
  folderNameById_.clear();
  folderNames_.resize(dirSize / sizeof(FolderNameEntry));
  (void)dirInfoFile_.ReadAt(0, folderNames_.data(), folderNames_.size() * sizeof(FolderNameEntry), got);
  folderNames_.resize(got / sizeof(FolderNameEntry));
  for (size_t i = 0; i < folderNames_.size(); ++i) folderNameById_.emplace(folderNames_[i].itemId, i);
  dirInfoWritten_ = folderNames_.size();
  // A cut-off entry left by a crash goes at the next flush.
  dirInfoRewrite_ = dirSize != dirInfoWritten_ * sizeof(FolderNameEntry);
  relationsDirty_ = !relationTextClean;

  buffer_.assign(kBufferBytes, 0);
  bufferedRecords_ = 0;
  writeError_ = kOk;
  return kOk;
}

Status ResultStore::Close() {
  if (!log_.IsOpen()) return kOk;
  Status s = Flush();
  Status c1 = log_.Close(), c2 = relationFile_.Close(), c3 = dirInfoFile_.Close();
  if (!s) s = c1 ? c1 : (c2 ? c2 : c3);
  buffer_.clear();
  buffer_.shrink_to_fit();
  return s;
}

Status ResultStore::WriteBuffer() {
  if (bufferedRecords_ == 0) return kOk;
  uint64_t onDisk = uint64_t(count_ - bufferedRecords_) * kRecordSize;
  Status s = log_.WriteAt(onDisk, buffer_.data(), bufferedRecords_ * kRecordSize);
  if (s && !writeError_) writeError_ = s;
  bufferedRecords_ = 0;
  return s;
}

uint32_t ResultStore::AppendUnrelated(FoundItemRecord record) {
  if (bufferedRecords_ == kBufferRecords) (void)WriteBuffer();
  ++count_;
  record.recordIndex = count_;
  std::memcpy(buffer_.data() + bufferedRecords_ * kRecordSize, &record, kRecordSize);
  ++bufferedRecords_;
  parentKey_.push_back(0);
  return count_;
}

uint32_t ResultStore::Append(FoundItemRecord record, uint32_t parentId, uint32_t level) {
  uint32_t idx = AppendUnrelated(record);
  Relate(parentId, level, idx);
  if (record.isFolder) AddFolderName(record.itemId, idx, RecordName(record));
  return idx;
}

void ResultStore::IndexParent(RelationKey key, uint32_t idx) {
  if (idx >= parentKey_.size()) parentKey_.resize(size_t(idx) + 1, 0);
  if (parentKey_[idx] == 0) parentKey_[idx] = key + 1;
}

void ResultStore::Relate(uint32_t parentId, uint32_t level, uint32_t idx) {
  RelationKey key = MakeRelationKey(parentId, level);
  relations_[key].push_back(idx);
  IndexParent(key, idx);
  relationsDirty_ = true;
}

void ResultStore::RemapRelations(uint32_t firstIndex, const std::function<RelationKey(RelationKey)>& remap) {
  std::vector<std::pair<RelationKey, uint32_t>> moved;
  relationsDirty_ = true;
  for (auto it = relations_.begin(); it != relations_.end();) {
    const RelationKey to = remap(it->first);
    std::vector<uint32_t>& list = it->second;
    if (to != it->first) {
      auto keep = std::stable_partition(list.begin(), list.end(), [&](uint32_t idx) { return idx < firstIndex; });
      for (auto m = keep; m != list.end(); ++m) moved.emplace_back(to, *m);
      list.erase(keep, list.end());
    }
    it = list.empty() ? relations_.erase(it) : std::next(it);
  }
  for (const auto& [key, idx] : moved) {
    relations_[key].push_back(idx);
    if (idx < parentKey_.size()) parentKey_[idx] = key + 1;
  }
  RelationKey last = 0;
  for (size_t i = 0; i < moved.size(); ++i) {
    if (i && moved[i].first == last) continue;
    last = moved[i].first;
    std::vector<uint32_t>& list = relations_[last];
    if (!std::is_sorted(list.begin(), list.end())) std::sort(list.begin(), list.end());
  }
}

Status ResultStore::TruncateTo(uint32_t count) {
  if (!log_.IsOpen()) return kNotReady;
  if (count >= count_) return kOk;
  if (Status s = WriteBuffer()) return s;
  if (Status s = log_.Truncate(uint64_t(count) * kRecordSize)) return s;
  count_ = count;
  for (auto it = relations_.begin(); it != relations_.end();) {
    std::vector<uint32_t>& list = it->second;
    list.erase(std::remove_if(list.begin(), list.end(), [&](uint32_t idx) { return idx > count; }), list.end());
    it = list.empty() ? relations_.erase(it) : std::next(it);
  }
  if (parentKey_.size() > size_t(count) + 1) parentKey_.resize(size_t(count) + 1);
  folderNames_.erase(std::remove_if(folderNames_.begin(), folderNames_.end(),
                                    [&](const FolderNameEntry& e) { return e.recordIndex > count; }),
                     folderNames_.end());
  folderNameById_.clear();
  for (size_t i = 0; i < folderNames_.size(); ++i) folderNameById_.emplace(folderNames_[i].itemId, i);
  relationsDirty_ = true;
  dirInfoRewrite_ = true;
  return Flush();
}

void ResultStore::AddFolderName(uint32_t itemId, uint32_t idx, std::string_view name) {
  FolderNameEntry e;
  std::memset(&e, 0, sizeof e);
  e.itemId = itemId;
  e.recordIndex = idx;
  SetEntryName(e, name);
  folderNameById_.emplace(itemId, folderNames_.size());
  folderNames_.push_back(e);
}

Status ResultStore::Rewrite(const FoundItemRecord& r) {
  if (r.recordIndex == 0 || r.recordIndex > count_) return kInvalidArg;
  uint32_t firstBuffered = count_ - uint32_t(bufferedRecords_) + 1;
  if (r.recordIndex >= firstBuffered) {
    std::memcpy(buffer_.data() + (r.recordIndex - firstBuffered) * kRecordSize, &r, kRecordSize);
    return kOk;
  }
  return log_.WriteAt(uint64_t(r.recordIndex - 1) * kRecordSize, &r, kRecordSize);
}

Status ResultStore::Flush() {
  if (!log_.IsOpen()) return kOk;
  Status s = WriteBuffer();
  // Listing calls this for every folder it opens: unchanged companions are
  // not formatted or written again.
  Status r = kOk;
  if (relationsDirty_) {
    std::string text = FormatRelationText(relations_);
    r = relationFile_.WriteAt(0, text.data(), text.size());
    if (!r) r = relationFile_.Truncate(text.size());
    if (!r) relationsDirty_ = false;
  }
  Status d = kOk;
  constexpr size_t kEntry = sizeof(FolderNameEntry);
  if (dirInfoRewrite_) {
    d = dirInfoFile_.WriteAt(0, folderNames_.data(), folderNames_.size() * kEntry);
    if (!d) d = dirInfoFile_.Truncate(folderNames_.size() * kEntry);
    if (!d) {
      dirInfoRewrite_ = false;
      dirInfoWritten_ = folderNames_.size();
    }
  } else if (folderNames_.size() > dirInfoWritten_) {
    // Entries are fixed-size and never change once made: only new ones go out.
    d = dirInfoFile_.WriteAt(uint64_t(dirInfoWritten_) * kEntry, folderNames_.data() + dirInfoWritten_,
                             (folderNames_.size() - dirInfoWritten_) * kEntry);
    if (!d) dirInfoWritten_ = folderNames_.size();
  }
  return s ? s : (r ? r : d);
}

Status ResultStore::Read(uint32_t idx, FoundItemRecord& out) const {
  if (idx == 0 || idx > count_) return kInvalidArg;
  uint32_t firstBuffered = count_ - uint32_t(bufferedRecords_) + 1;
  if (idx >= firstBuffered && bufferedRecords_ > 0) {
    std::memcpy(&out, buffer_.data() + (idx - firstBuffered) * kRecordSize, kRecordSize);
    return kOk;
  }
  size_t got = 0;
  if (Status s = log_.ReadAt(uint64_t(idx - 1) * kRecordSize, &out, kRecordSize, got)) return s;
  return got == kRecordSize ? kOk : kReadFault;
}

Status ResultStore::ReadMany(const std::vector<uint32_t>& indices, std::vector<FoundItemRecord>& out) const {
  out.resize(indices.size());
  const uint32_t firstBuffered = count_ - uint32_t(bufferedRecords_) + 1;
  // Records at most this far apart share one read: a read of a few KiB more
  // costs less than another system call.
  constexpr uint32_t kGap = 16;
  constexpr uint32_t kMaxSpan = 4096;
  std::vector<uint8_t> span;
  size_t i = 0;
  while (i < indices.size()) {
    const uint32_t first = indices[i];
    if (first == 0 || first > count_) return kInvalidArg;
    if (bufferedRecords_ > 0 && first >= firstBuffered) {
      std::memcpy(&out[i], buffer_.data() + size_t(first - firstBuffered) * kRecordSize, kRecordSize);
      ++i;
      continue;
    }
    // The run: following indices that lie on disk, ascending and close.
    size_t j = i + 1;
    uint32_t last = first;
    while (j < indices.size() && indices[j] > last && indices[j] - last <= kGap && indices[j] - first < kMaxSpan &&
           indices[j] <= count_ && !(bufferedRecords_ > 0 && indices[j] >= firstBuffered)) {
      last = indices[j];
      ++j;
    }
    const size_t bytes = size_t(last - first + 1) * kRecordSize;
    span.resize(bytes);
    size_t got = 0;
    if (Status s = log_.ReadAt(uint64_t(first - 1) * kRecordSize, span.data(), bytes, got)) return s;
    if (got != bytes) return kReadFault;
    for (size_t k = i; k < j; ++k)
      std::memcpy(&out[k], span.data() + size_t(indices[k] - first) * kRecordSize, kRecordSize);
    i = j;
  }
  return kOk;
}

const std::vector<uint32_t>* ResultStore::Children(RelationKey key) const {
  auto it = relations_.find(key);
  return it == relations_.end() ? nullptr : &it->second;
}

bool ResultStore::ParentKeyOf(uint32_t idx, RelationKey& key) const {
  if (idx >= parentKey_.size() || parentKey_[idx] == 0) return false;
  key = parentKey_[idx] - 1;
  return true;
}

const FolderNameEntry* ResultStore::FolderNameById(uint32_t itemId) const {
  auto it = folderNameById_.find(itemId);
  return it == folderNameById_.end() ? nullptr : &folderNames_[it->second];
}

}  // namespace dunmere
