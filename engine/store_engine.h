#pragma once
// What every engine that keeps a ResultStore shares: listing, counting, folder
// paths, search by type, copy-out of files and folder trees, and the preview
// read. An engine adds only how it scans and how it streams a file's content.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/found_items.h"
#include "engine/scan_engine.h"
#include "engine/result_store.h"

namespace dunmere {

class StoreEngine : public virtual FoundItems {
 public:
  // The progress callback asked while the store is filled and searched.
  virtual Status SetCallbacks(ScanProgressCallback progress, DataCallback data, void* user, int share);
  Status ListChildren(const FoundItemRecord* folder, uint32_t level, std::vector<FoundItemRecord>& out) override;
  Status CountFiles(const FoundItemRecord* folder, uint32_t level, uint32_t& count) override;
  int64_t GetFoundCount() override;
  Status GetFolderPath(const FoundItemRecord* record, std::string& out) override;
  Status RecoverItem(const FoundItemRecord& record, const std::string& destination, int levelBase) override;
  Status SetSearchCallback(SearchProgressCallback cb, void* user) override;
  int SearchByType(const std::string& patterns, std::vector<FoundItemRecord>& out) override;
  Status ReadForPreview(const FoundItemRecord* record, std::string& path, uint8_t* buffer, uint64_t& byteCount,
                        PreviewProgressCallback cb, void* user) override;
  ResultStore* RecordStore() override { return store_.get(); }

  ResultStore* Store() { return store_.get(); }

  // Receives a file's content in order, in pieces of at most 64 KiB; a
  // non-zero answer stops the read and becomes its result.
  using ContentSink = std::function<int(const uint8_t* data, size_t len)>;
  // Streams the content of a file record. A file whose data cannot be found or
  // read fails; it never yields an empty success.
  virtual Status ReadContent(const FoundItemRecord& record, const ContentSink& sink) = 0;

 protected:
  // Root id of the top-level key {root id, 0}.
  virtual uint32_t RootId() const = 0;
  // Opens a fresh store `name` in the current scan folder.
  Status OpenStore(const std::string& name);
  // Copies one file record to `destination` (replacing any file there).
  Status CopyFile(const FoundItemRecord& record, const std::string& destination);
  // Writes a record's content to the preview file `target` in `dir` (made
  // when missing, the file replaced whole), reporting progress through `cb`;
  // on failure no file is left there.
  Status WritePreviewFile(const FoundItemRecord& record, const std::string& dir, const std::string& target,
                          PreviewProgressCallback cb, void* user);

  std::unique_ptr<ResultStore> store_;
  ScanProgressCallback progress_ = nullptr;
  DataCallback data_ = nullptr;
  void* user_ = nullptr;
  int share_ = 100;
  SearchProgressCallback searchCb_ = nullptr;
  void* searchUser_ = nullptr;
};

// A quick scan whose records are kept in a ResultStore: a scan a user starts,
// answered from its store.
class QuickStoreEngine : public ScanEngine, public StoreEngine {
 public:
  Status SetCallbacks(ScanProgressCallback progress, DataCallback data, void* user, int share) override {
    return StoreEngine::SetCallbacks(progress, data, user, share);
  }
};

// Files before folders; names case-insensitively for ASCII, byte by byte otherwise.
void SortForListing(std::vector<FoundItemRecord>& records);
// A picture whose content check failed: not shown in listings or searches.
bool IsHiddenBadPicture(const FoundItemRecord& r);
// Folder separators in a path, not counting a final one.
int CountSeparators(const std::string& path);
// Quick-scan log name "Fast_<start>_<y><m><d><h><mm>" for the given local time.
std::string QuickScanLogName(uint64_t partitionStart, const struct tm& local);

}  // namespace dunmere
