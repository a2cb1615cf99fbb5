#pragma once
// What the quick scan needs from one FILE record (after the fix-up): its best
// name, where its unnamed data lives, and whether an attribute list exists.
#include <cstdint>

#include "base/bytes.h"
#include "ntfs/file_name_attr.h"
#include "ntfs/mft_record.h"
#include "engine/found_item.h"
#include "storage/sector_source.h"

namespace dunmere {

struct RecordSummary {
  RecordHeaderInfo header;
  bool hasName = false;
  FileNameInfo name;  // the long name when the record has one
  // The unnamed $DATA piece at VCN 0 when it is in this record.
  bool hasData = false;
  bool dataResident = false;
  ByteView residentData;
  uint64_t dataSize = 0;
  bool hasFirstCluster = false;  // the data starts in an allocated cluster
  uint64_t firstCluster = 0;
  bool dataCompressedOrEncrypted = false;
  bool hasAttributeList = false;
  bool hasNamedData = false;  // a named $DATA attribute (a stream) is in this record
  bool malformed = false;  // a damaged attribute ended the walk
};

void SummarizeRecord(ByteView record, RecordSummary& out);

// The medium sector of the first data run of the FILE record a record was
// made from (read again from `source`), of the stream a stream's item names;
// false when it has none in that record.
bool NtfsRecordFirstSector(const SectorSource& source, uint32_t sectorSize, const FoundItemRecord& r,
                           uint64_t& sector);

}  // namespace dunmere
