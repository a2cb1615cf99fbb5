#pragma once
// The engine of a quick scan of an ext volume: it opens the area and finds nothing.
#include "engine/scan_engine.h"
#include "storage/sector_source.h"

namespace dunmere {

class QuickExtEngine : public ScanEngine {
 public:
  Status Open(const Medium& medium, uint16_t tag) override {
    start_ = medium.start;
    count_ = medium.count;
    tag_ = tag;
    source_ = medium.source.Share();
    return kOk;
  }
  Status SetCallbacks(ScanProgressCallback, DataCallback, void*, int) override { return kOk; }
  Status Scan(const std::string*) override { return kOk; }
  Status ListChildren(const FoundItemRecord*, uint32_t, std::vector<FoundItemRecord>& out) override {
    out.clear();
    return kOk;
  }
  Status CountFiles(const FoundItemRecord*, uint32_t, uint32_t& count) override {
    count = 0;
    return kOk;
  }
  int64_t GetFoundCount() override { return 0; }
  Status GetFolderPath(const FoundItemRecord*, std::string& out) override {
    out.clear();
    return kOk;
  }
  Status RecoverItem(const FoundItemRecord&, const std::string&, int) override { return kOk; }
  Status NextFreeExtent(uint64_t&, uint64_t&) override { return kOk; }
  Status SetSearchCallback(SearchProgressCallback, void*) override { return kOk; }
  int SearchByType(const std::string&, std::vector<FoundItemRecord>& out) override {
    out.clear();
    return 0;
  }
  // No bitmap is read: a deep scan must read the whole area (an old volume
  // formatted over keeps its files in what ext calls free), not an empty
  // list of free extents.
  Status LoadAllocationBitmap() override { return kNotSupported; }
  Status ReadForPreview(const FoundItemRecord*, std::string& path, uint8_t*, uint64_t& n, PreviewProgressCallback,
                        void*) override {
    path.clear();
    n = 0;
    return kOk;
  }

 private:
  SectorSource source_;
  uint64_t start_ = 0, count_ = 0;
  uint16_t tag_ = 0;
};

}  // namespace dunmere
