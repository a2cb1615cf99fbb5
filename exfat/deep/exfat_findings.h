#pragma once
// What the deep pass met of exFAT, kept in one append-only file of the scan
// folder: entry sets with their bytes, sets cut by a cluster boundary, root
// sectors and boot sectors. Memory holds only a buffer of what is not
// written yet, so a disk of millions of files costs disk space, not memory;
// and because the file stays with the scan's logs, a resumed scan starts
// from everything the stopped one found and gives the same records as an
// unbroken one. Reading it back sorts by place and drops what was met twice
// (a resumed pass reads again the stretch after its last saved position).
#include <cstdint>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/status.h"
#include "platform/file.h"

namespace dunmere {

enum class ExfatFindingKind : uint8_t {
  kSet = 1,      // bytes: the whole set
  kCutSet = 2,   // no bytes: the set is read again from its folder's next cluster
  kRoot = 3,     // bytes: the sector holding the root's bitmap and up-case entries
  kBoot = 4,     // bytes: the boot sector; `at` is the volume's start, not the sector's
};

struct ExfatFinding {
  ExfatFindingKind kind = ExfatFindingKind::kSet;
  uint64_t at = 0;        // absolute medium byte
  uint64_t offset = 0;    // where its bytes lie in the file (or the buffer)
  uint32_t bytes = 0;
};

class ExfatFindings {
 public:
  static constexpr size_t kBufferBytes = 1 << 20;
  // More are dropped and counted: placing them all when the pass ends takes
  // about 160 bytes of memory each.
  static constexpr uint64_t kMaxFindings = uint64_t(1) << 22;

  ExfatFindings() = default;
  ~ExfatFindings() { (void)Close(); }
  ExfatFindings(const ExfatFindings&) = delete;
  ExfatFindings& operator=(const ExfatFindings&) = delete;

  // `path` empty: kept in memory only. `keep`: what an earlier run wrote
  // there stays (a resume; a record its end cut short is dropped), else the
  // file starts empty.
  Status Open(const std::string& path, bool keep);
  Status Close();
  // Drops everything and deletes the file.
  void Remove();

  void Add(ExfatFindingKind kind, uint64_t at, ByteView bytes);
  Status Flush();
  // Every finding, sorted by kind and place, each place once.
  Status List(std::vector<ExfatFinding>& out);
  // The bytes of a finding from List.
  Status Read(const ExfatFinding& f, std::vector<uint8_t>& out) const;

  uint64_t Count() const { return count_; }
  uint64_t Dropped() const { return dropped_; }
  Status WriteError() const { return writeError_; }

 private:
  std::string path_;
  File file_;
  uint64_t fileBytes_ = 0;          // written to the file
  std::vector<uint8_t> buffer_;     // after them, not written yet
  bool memoryOnly_ = false;
  uint64_t count_ = 0, dropped_ = 0;
  Status writeError_ = kOk;
};

}  // namespace dunmere
