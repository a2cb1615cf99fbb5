#pragma once
// A tiny hand-made NTFS volume for the cases no formatter produces: damaged
// records, loops, lists that point to themselves. 512-byte sectors and
// clusters, 1 KiB records, the $MFT at cluster 64 with 64 records, data from
// cluster 256 on.
#include <cstdint>
#include <string>
#include <vector>

#include "base/bytes.h"

namespace dunmere::test {

class SyntheticVolume {
 public:
  static constexpr uint32_t kSector = 512;
  static constexpr uint64_t kSectors = 4096;
  static constexpr uint64_t kMftLcn = 64;
  static constexpr uint32_t kMftRecords = 64;
  static constexpr uint16_t kInUse = 1, kDir = 2;

  SyntheticVolume();

  // Attribute builders (whole attributes, 8-byte aligned).
  static std::vector<uint8_t> FileName(uint64_t parent, const std::u16string& name, uint8_t nameSpace = 1);
  static std::vector<uint8_t> ResidentData(const std::vector<uint8_t>& value);
  static std::vector<uint8_t> NonResident(uint32_t type, const std::vector<uint8_t>& runList, uint64_t realSize,
                                          uint64_t lowestVcn, uint64_t highestVcn, uint64_t initSize = ~0ull);
  // The same attribute under a name (a named stream when it is $DATA).
  static std::vector<uint8_t> Named(const std::vector<uint8_t>& attribute, const std::u16string& name);
  struct ListEntry {
    uint32_t type;
    uint64_t lowestVcn;
    uint64_t record;
    std::u16string name = {};
  };
  static std::vector<uint8_t> AttributeList(const std::vector<ListEntry>& entries);

  // Writes record n (fix-up applied as on disk). baseRecord != 0 makes it an extension.
  void PutRecord(uint32_t n, uint16_t flags, const std::vector<std::vector<uint8_t>>& attributes,
                 uint64_t baseRecord = 0);
  uint8_t* RecordBytes(uint32_t n);  // record n inside the image, for damaging it
  void PutCluster(uint64_t lcn, const std::vector<uint8_t>& bytes);
  void Save(const std::string& path) const;

 private:
  std::vector<uint8_t> image_;
};

}  // namespace dunmere::test
