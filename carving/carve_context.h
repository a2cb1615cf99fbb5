#pragma once
// The state that carving shares with the detectors and size rules: where the
// file being identified starts, the source it lies on, the progress values to
// report while a rule reads ahead, the transport-stream bookkeeping of the
// pass, and the one 64 KiB look-ahead buffer.
//
// Each engine that runs detectors owns one context for as long as it lives and
// passes it down, so two scans (or two tests) never see each other's flags.
#include <cstdint>
#include <memory>
#include <vector>

#include "base/bytes.h"
#include "engine/callbacks.h"
#include "engine/sector_test.h"
#include "base/status.h"

namespace dunmere {

class SectorSource;

inline constexpr uint32_t kLookAheadBytes = 65536;

// Sectors the driver of a carving pass has read already (or is reading
// ahead): a size rule's window is taken from there before the source is
// read again.
class SectorFeed {
 public:
  // `count` sectors from absolute sector `sector`, every one of them read
  // whole; null when the feed does not hold them all. Valid until the
  // carving call that asked returns. `plain`, when not null, is set to a flag
  // per sector (1: PlainSector judged it plain) or to null when they were
  // not all judged.
  virtual const uint8_t* Sectors(uint64_t sector, uint32_t count, const uint8_t** plain) = 0;

 protected:
  ~SectorFeed() = default;
};

// The look-ahead memory. Size rules read their chunks into the window; the
// few detectors that read from the source (OLE, OOXML, transport stream) use
// the probe area, because they also run on sectors of a chunk a rule is still
// walking and must not overwrite it.
class LookAheadBuffer {
 public:
  LookAheadBuffer();
  uint8_t* Window() { return window_.get(); }
  uint8_t* Probe() { return probe_.get(); }
  static constexpr uint32_t kProbeBytes = kLookAheadBytes + 8;

 private:
  std::unique_ptr<uint8_t[]> window_;
  std::unique_ptr<uint8_t[]> probe_;
};

// A transport stream already carved in this pass (absolute sectors, inclusive).
struct CarvedStreamRange {
  uint64_t firstSector = 0;
  uint64_t lastSector = 0;
};

struct CarveProgress {
  uint64_t sectorsDone = 0;
  uint64_t sectorsTotal = 0;
  int64_t secondsLeft = -1;
  uint64_t filesFound = 0;
  ScanProgressCallback callback = nullptr;
  void* user = nullptr;
  int share = 90;
};

class CarveContext {
 public:
  uint32_t sectorSize = 512;
  const SectorSource* source = nullptr;
  uint64_t candidateStart = 0;
  // The sector being examined: the candidate while it is identified, then
  // each sector a size rule looks ahead over.
  uint64_t currentSector = 0;
  CarveProgress progress;
  Status stopResult = kOk;
  // Set by a size rule whose format shows when a file is whole, when the
  // file's own structure did not close where the carve ends (cut short,
  // overwritten, or running off the medium): its end is a guess.
  bool partial = false;
  bool tsContinuation = false;
  bool m2tsContinuation = false;
  std::vector<CarvedStreamRange> streamRanges;
  LookAheadBuffer lookAhead;
  // Directory sectors of file systems carving does not parse itself; they
  // end a carved file like any other metadata. Null: none.
  SectorTest directorySector = nullptr;
  // Asked for a size rule's window before the source; null: the source only.
  SectorFeed* feed = nullptr;

  // Sector sizes the rules can work with: a whole sector fits the window.
  bool UsableSectorSize() const { return sectorSize >= 32 && sectorSize <= kLookAheadBytes; }
  uint32_t SectorsPerWindow() const { return UsableSectorSize() ? kLookAheadBytes / sectorSize : 0; }

  // Reads up to `count` sectors at absolute sector `sector` into the window
  // (never more than it holds, never past the end of the source). Returns the
  // whole sectors that arrived; fewer than asked means the reading must stop.
  uint32_t ReadWindow(uint64_t sector, uint32_t count);
  // The same into the probe area.
  uint32_t ReadProbe(uint64_t sector, uint32_t count, uint32_t offset = 0);
  // Reads `length` bytes at byte `offset` of the file starting at `fileStart`
  // (absolute sector) into the probe area. Empty view when they cannot all be read.
  ByteView ReadFileBytes(uint64_t fileStart, uint64_t offset, uint32_t length);
  ByteView WindowView(uint32_t sectors) { return ByteView(window_, size_t(sectors) * sectorSize); }
  // A flag per sector of the last window read (1: the feed judged it
  // plain, PlainSector), or null when they were not judged.
  const uint8_t* WindowPlain() const { return windowPlain_; }

  // Reports a rule's look-ahead progress; false when the callback asks to
  // stop (its answer is kept in stopResult).
  bool ReportProgress(uint64_t sectorsReadByRule);

  bool InCarvedStream(uint64_t sector) const;

 private:
  // The sectors of `count` from `sector` a read into `capacity` bytes may
  // deliver: none past the end of the source.
  uint32_t Readable(uint32_t capacity, uint64_t sector, uint32_t count) const;
  uint32_t ReadInto(uint8_t* dst, uint32_t capacity, uint64_t sector, uint32_t count);
  const uint8_t* window_ = lookAhead.Window();  // where the last window read lies
  const uint8_t* windowPlain_ = nullptr;         // its sectors' flags, when judged
};

}  // namespace dunmere
