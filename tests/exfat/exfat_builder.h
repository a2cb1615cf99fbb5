#pragma once
// A small exFAT volume made byte by byte, for what no formatter writes:
// damaged sets, chains that loop, clusters outside the heap, hostile names.
// Boot regions with their checksums, one FAT, the allocation bitmap in
// cluster 2, a short up-case table in cluster 3, the root directory in
// cluster 4; every folder made here has one cluster.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/bytes.h"

namespace dunmere::test {

class ExfatBuilder {
 public:
  struct Options {
    uint32_t bytesPerSector = 512;
    uint32_t clusterBytes = 4096;
    uint32_t clusterCount = 512;
    std::u16string label = u"SYNTH";
    uint64_t partitionStart = 0;  // in 512-byte sectors: where the volume lies in the image
  };
  // 2024-05-17 13:45:30.50 local, written in UTC+02:00.
  static constexpr uint32_t kStamp = (44u << 25) | (5u << 21) | (17u << 16) | (13u << 11) | (45u << 5) | 15u;
  static constexpr uint8_t kTenMs = 50;
  static constexpr uint8_t kUtcOffset = 0x80 | 8;

  struct Set {
    std::u16string name;
    bool directory = false;
    bool deleted = false;
    uint32_t firstCluster = 0;
    uint64_t dataLength = 0;
    uint64_t validDataLength = UINT64_MAX;  // the data length unless given
    bool noFatChain = true;
    uint8_t extraSecondaries = 0;           // vendor entries after the names
    uint8_t nameLengthOverride = 0;         // 0: the name's length
  };
  // The entries of a set, its checksum summed while in use, then deleted
  // when asked (bit 7 of every type cleared, the checksum left).
  static std::vector<uint8_t> MakeSet(const Set& s);

  explicit ExfatBuilder(Options o);
  ExfatBuilder() : ExfatBuilder(Options{}) {}

  uint32_t RootCluster() const { return 4; }
  uint32_t ClusterBytes() const { return o_.clusterBytes; }
  uint32_t ClusterCount() const { return o_.clusterCount; }
  uint64_t ClusterOffset(uint32_t c) const;  // in the image

  // The next `n` clusters after the last taken, marked in use and, unless
  // `noFatChain`, chained in the FAT.
  uint32_t Allocate(uint32_t n, bool noFatChain = true);
  void SetFat(uint32_t cluster, uint32_t value);
  void SetInUse(uint32_t cluster, bool used);
  void Put(uint64_t imageOffset, const std::vector<uint8_t>& bytes);
  // Appends entries to a folder (by its cluster), after those it has.
  void AddEntries(uint32_t folder, const std::vector<uint8_t>& entries);
  // A folder of one cluster, its set in `parent`. Deleted: its cluster is freed.
  uint32_t AddFolder(uint32_t parent, const std::u16string& name, bool deleted = false);
  // A file with this content in clusters of its own. Deleted: its clusters
  // are freed, and its chain cleared as exfat-fuse does.
  uint32_t AddFile(uint32_t parent, const std::u16string& name, const std::vector<uint8_t>& content,
                   bool deleted = false, bool noFatChain = true);
  // Where the next entry of a folder will go, in the image.
  uint64_t NextEntryOffset(uint32_t folder) const;

  // The image with the boot regions (and their checksums) written.
  const std::vector<uint8_t>& Image();
  void Save(const std::string& path);
  uint8_t* Bytes(uint64_t imageOffset) { return image_.data() + imageOffset; }
  // Writes both boot regions again (after a change to sector 0).
  void WriteBootRegions();
  // Sector 0 as written (for damaging it before WriteBootRegions).
  std::vector<uint8_t>& BootSector() { return boot_; }

 private:
  uint64_t VolumeOffset() const { return o_.partitionStart * 512; }
  Options o_;
  uint32_t sectorsPerCluster_ = 8;
  uint32_t fatOffset_ = 24, fatLength_ = 0, heapOffset_ = 0;
  uint64_t volumeSectors_ = 0;
  uint32_t nextFree_ = 5;
  std::vector<uint8_t> boot_;
  std::vector<uint8_t> image_;
  std::map<uint32_t, uint32_t> used_;  // folder cluster -> bytes of entries written
};

// Random-looking content of `n` bytes.
std::vector<uint8_t> PatternBytes(size_t n, uint32_t seed);

}  // namespace dunmere::test
