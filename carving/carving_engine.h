#pragma once
// The carving engine: finds files by their content alone. The deep scan hands
// it every sector that is not file-system metadata; where a known format
// begins, the file is sized, recorded under the root as "<sector>.<ext>" and
// the scan is told how many sectors it may skip. Afterwards the engine lists,
// searches, previews and copies out its records like every other engine; a
// carved file is the `size` bytes that follow its first sector, contiguous.
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "carving/carve_context.h"
#include "base/bytes.h"
#include "engine/store_engine.h"
#include "storage/medium.h"
#include "storage/sector_source.h"

namespace dunmere {

// "File_Type_<start>_<y><m><d><h><mm>": month, day and hour without padding,
// the minute right-aligned in two characters (a blank before a single digit).
std::string CarvingLogName(uint64_t startSector, const struct tm& local);

// The progress values the deep scan hands down with every carved sector.
struct CarveScanProgress {
  uint64_t sectorsDone = 0;
  uint64_t sectorsTotal = 0;
  int64_t secondsLeft = -1;
  uint64_t filesFound = 0;
};

class CarvingEngine : public StoreEngine {
 public:
  CarvingEngine() = default;
  ~CarvingEngine() override;

  // Carving is driven sector by sector by the deep pass over this medium.
  Status Open(const Medium& medium, uint16_t sourceTag);
  Status SetCallbacks(ScanProgressCallback progress, DataCallback data, void* user, int share) override;
  Status GetFolderPath(const FoundItemRecord* record, std::string& out) override;
  Status RecoverItem(const FoundItemRecord& record, const std::string& destination, int levelBase) override;
  Status SetSearchCallback(SearchProgressCallback cb, void* user) override;
  Status ReadForPreview(const FoundItemRecord* record, std::string& path, uint8_t* buffer, uint64_t& byteCount,
                        PreviewProgressCallback cb, void* user) override;
  Status ReadContent(const FoundItemRecord& record, const ContentSink& sink) override;

  // Identifies and sizes the file that may begin at absolute sector `sector`
  // of `source` (the engine's own source when null) and records it. Returns 0
  // when a file was carved (`skip` then holds the sectors the scan may pass
  // over and `foundCounter` is raised by one), kInvalidArg when nothing was
  // carved (`skip` is left as the caller set it), kStopRequested when the
  // progress callback asked to stop while the file was being sized.
  // `judgedPlain`: the sector was judged plain already (PlainSector): no
  // format starts in it, so it is not identified again.
  Status CarveAtSector(uint32_t sectorSize, ByteView sectorBytes, uint64_t sector, const CarveScanProgress& progress,
                       const SectorSource* source, uint64_t& skip, uint64_t& foundCounter, bool judgedPlain = false);

  // Reopen the log of an earlier deep scan (in the current scan folder) over
  // the medium it was made from (the disk or the image); new records are
  // appended after the reloaded ones.
  Status Resume(const Medium& medium, uint32_t sectorSize, const std::string& logName, uint16_t sourceTag);
  // The same, opening the medium first.
  Status ResumeOnDisk(uint32_t sectorSize, uint32_t diskIndex, const std::string& logName, uint16_t sourceTag);
  Status ResumeOnImage(uint32_t sectorSize, const std::string& logName, uint16_t sourceTag,
                       const std::string& imagePath);

  // The carving state of the pass (the deep scan empties its stream list).
  CarveContext& Context() { return ctx_; }
  uint32_t SectorSize() const { return sectorSize_; }
  const SectorSource& Source() const { return source_; }

 protected:
  uint32_t RootId() const override { return 0; }

 private:
  void Reset(uint16_t tag, uint64_t start, uint64_t count, uint32_t sectorSize);
  // Bytes of the medium from absolute sector `sector` to its end.
  uint64_t BytesToEnd(const SectorSource& source, uint32_t sectorSize, uint64_t sector) const;
  // Streams at most `limit` bytes of the record's content.
  Status ReadRange(const FoundItemRecord& record, uint64_t limit, const ContentSink& sink);

  uint16_t tag_ = 0;
  uint64_t startSector_ = 0;
  uint64_t sectorCount_ = 0;
  uint32_t sectorSize_ = 512;
  SectorSource source_;
  CarveContext ctx_;
};

}  // namespace dunmere
