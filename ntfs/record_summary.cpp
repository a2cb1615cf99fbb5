#include "ntfs/record_summary.h"

#include <algorithm>
#include <span>
#include <vector>

#include "ntfs/named_streams.h"
#include "ntfs/run_list.h"

namespace dunmere {

void SummarizeRecord(ByteView record, RecordSummary& s) {
  s = RecordSummary{};
  s.header = ReadRecordHeader(record);
  AttributeWalker walk(record);
  AttributeView a;
  while (walk.Next(a)) {
    if (a.type == kAttrAttributeList) {
      s.hasAttributeList = true;
    } else if (a.type == kAttrFileName && !a.nonResident) {
      FileNameInfo fn;
      if (!ParseFileName(a.value, fn)) continue;
      // The first name counts unless a long name follows a short (DOS) one.
      if (!s.hasName || (s.name.nameSpace == kNameSpaceDos && fn.nameSpace != kNameSpaceDos)) {
        s.name = std::move(fn);
        s.hasName = true;
      }
    } else if (a.type == kAttrData && a.nameLength != 0) {
      s.hasNamedData = true;
    } else if (a.type == kAttrData && a.nameLength == 0 && !s.hasData) {
      if (!a.nonResident) {
        s.hasData = true;
        s.dataResident = true;
        s.residentData = a.value;
        s.dataSize = a.value.size();
      } else if (a.lowestVcn == 0) {
        s.hasData = true;
        s.dataSize = a.realSize;
        s.dataCompressedOrEncrypted = (a.flags & (kAttrFlagCompressed | kAttrFlagEncrypted)) != 0;
        std::vector<DataRun> runs;
        (void)DecodeRunList(a.runList, runs);
        if (!runs.empty() && !runs.front().sparse && runs.front().lcnDelta > 0) {
          s.hasFirstCluster = true;
          s.firstCluster = uint64_t(runs.front().lcnDelta);
        }
      }
    }
  }
  s.malformed = walk.malformed();
}

bool NtfsRecordFirstSector(const SectorSource& source, uint32_t sectorSize, const FoundItemRecord& r,
                           uint64_t& sector) {
  if (r.clusterBytes == 0 || r.clusterBytes == kNoClusterSize || sectorSize == 0) return false;
  std::vector<uint8_t> rec(4096);
  uint32_t got = 0;
  (void)source.ReadSectors(uint32_t(rec.size() / sectorSize), rec.data(), r.location, sectorSize, got);
  if (got == 0) return false;
  rec.resize(size_t(got) * sectorSize);
  ByteView v(rec.data(), rec.size());
  uint32_t recordBytes = std::min<uint32_t>(v.U32(28), uint32_t(rec.size()));
  if (!HasFileSignature(v) || recordBytes < 512) return false;
  std::span<uint8_t> span(rec.data(), recordBytes);
  if (ApplyFixup(span) != kOk) return false;
  const DataSelector want = DataSelector::Of(r);
  AttributeWalker walk(ByteView(rec.data(), recordBytes));
  AttributeView a;
  while (walk.Next(a)) {
    if (a.type != kAttrData || !a.nonResident || a.lowestVcn != 0 || !want.Matches(a)) continue;
    std::vector<DataRun> runs;
    (void)DecodeRunList(a.runList, runs);
    if (runs.empty() || runs.front().sparse || runs.front().lcnDelta <= 0) return false;
    sector = r.partitionStart + uint64_t(runs.front().lcnDelta) * r.clusterBytes / sectorSize;
    return true;
  }
  return false;
}

}  // namespace dunmere
