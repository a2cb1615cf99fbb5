#pragma once
// The per-engine store of found items: the record log (346-byte records back to
// back), its "_Relation" text and its "_DirInfo" folder-name entries, all in
// one scan folder. Records are buffered 200 at a time.
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/found_item.h"
#include "engine/relation_text.h"
#include "base/status.h"
#include "platform/file.h"

namespace dunmere {

class ResultStore {
 public:
  static constexpr size_t kBufferRecords = 200;
  static constexpr size_t kBufferBytes = kBufferRecords * kRecordSize;  // 69,200

  ResultStore() = default;
  ~ResultStore() { (void)Close(); }
  ResultStore(const ResultStore&) = delete;
  ResultStore& operator=(const ResultStore&) = delete;

  // Opens (or reopens) the log `name` in `folder`, creating the folder with its
  // parents. New records are appended after the existing ones.
  Status Open(const std::string& folder, const std::string& name);
  // Writes pending records and rewrites both companions, then closes the files.
  Status Close();
  bool IsOpen() const { return log_.IsOpen(); }

  // Appends a record: sets its recordIndex, relates it to {parentId, level}
  // and, for a folder, adds its name entry. Returns the recordIndex.
  uint32_t Append(FoundItemRecord record, uint32_t parentId, uint32_t level);
  // Appends without relating (engines that place records later).
  uint32_t AppendUnrelated(FoundItemRecord record);
  void Relate(uint32_t parentId, uint32_t level, uint32_t recordIndex);
  void AddFolderName(uint32_t itemId, uint32_t recordIndex, std::string_view name);
  // Moves every record from `firstIndex` on to the key `remap` gives for its
  // current one (for engines that learn a folder's place after its children).
  // Lists stay in record order.
  void RemapRelations(uint32_t firstIndex, const std::function<RelationKey(RelationKey)>& remap);
  // Drops every record after the first `count` (and their relations and
  // folder names): a log put back to an earlier state.
  Status TruncateTo(uint32_t count);
  // Replaces a record already appended (same recordIndex).
  Status Rewrite(const FoundItemRecord& record);

  // Writes pending records, appends new folder-name entries, and writes the
  // relation text when the relations changed since it was last written.
  Status Flush();
  // Writes pending records only (for readers of the log file itself).
  Status FlushRecords() { return log_.IsOpen() ? WriteBuffer() : kOk; }
  Status Read(uint32_t recordIndex, FoundItemRecord& out) const;
  // Reads the records of `indices` (ascending order reads best) into `out`, in
  // the same order, with one read per run of nearby records. An index that
  // names no record fails the call with kInvalidArg.
  Status ReadMany(const std::vector<uint32_t>& indices, std::vector<FoundItemRecord>& out) const;

  uint32_t Count() const { return count_; }
  uint64_t BytesAppended() const { return uint64_t(count_) * kRecordSize; }
  const RelationMap& Relations() const { return relations_; }
  const std::vector<uint32_t>* Children(RelationKey key) const;
  // The key under which a record was first related; false when it has none.
  bool ParentKeyOf(uint32_t recordIndex, RelationKey& key) const;
  const std::vector<FolderNameEntry>& FolderNames() const { return folderNames_; }
  const FolderNameEntry* FolderNameById(uint32_t itemId) const;
  const std::string& LogPath() const { return logPath_; }
  // First failure to write the log, kept so a scan can report lost records.
  Status WriteError() const { return writeError_; }

 private:
  Status WriteBuffer();
  void IndexParent(RelationKey key, uint32_t recordIndex);

  File log_, relationFile_, dirInfoFile_;
  std::string logPath_;
  std::vector<uint8_t> buffer_;
  size_t bufferedRecords_ = 0;
  uint32_t count_ = 0;  // records appended, on disk or in the buffer
  RelationMap relations_;
  std::vector<RelationKey> parentKey_;  // by recordIndex; key + 1, 0 = none
  std::vector<FolderNameEntry> folderNames_;
  std::unordered_map<uint32_t, size_t> folderNameById_;
  // What the companions on disk already hold: the relation text is formatted
  // again only after a change, folder names are appended past dirInfoWritten_.
  bool relationsDirty_ = false;
  bool dirInfoRewrite_ = false;
  size_t dirInfoWritten_ = 0;
  Status writeError_ = kOk;
};

}  // namespace dunmere
