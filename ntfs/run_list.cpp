#include "ntfs/run_list.h"

namespace dunmere {

Status DecodeRunList(ByteView b, std::vector<DataRun>& out) {
  size_t pos = 0;
  for (;;) {
    if (!b.Has(pos, 1)) return kInvalidData;  // no end marker inside the attribute
    uint8_t header = b.U8(pos);
    if (header == 0) return kOk;
    unsigned lenSize = header & 0x0F, offSize = header >> 4;
    if (lenSize == 0 || lenSize > 8 || offSize > 8 || !b.Has(pos + 1, lenSize + offSize)) return kInvalidData;
    uint64_t count = 0;
    for (unsigned i = 0; i < lenSize; ++i) count |= uint64_t(b.U8(pos + 1 + i)) << (8 * i);
    if (count == 0 || count > (uint64_t(1) << 62)) return kInvalidData;
    DataRun run;
    run.count = count;
    if (offSize == 0) {
      run.sparse = true;
    } else {
      uint64_t raw = 0;
      for (unsigned i = 0; i < offSize; ++i) raw |= uint64_t(b.U8(pos + 1 + lenSize + i)) << (8 * i);
      if (offSize < 8 && (raw >> (8 * offSize - 1)) & 1) raw |= ~uint64_t(0) << (8 * offSize);
      run.lcnDelta = int64_t(raw);
    }
    out.push_back(run);
    pos += 1 + lenSize + offSize;
  }
}

Status PlaceRuns(const std::vector<DataRun>& runs, uint64_t startVcn, uint64_t totalClusters,
                 std::vector<Extent>& out) {
  uint64_t vcn = startVcn;
  int64_t lcn = 0;
  for (const DataRun& r : runs) {
    Extent e;
    e.vcn = vcn;
    e.count = r.count;
    if (vcn + r.count < vcn) return kInvalidData;
    if (r.sparse) {
      e.sparse = true;
    } else {
      if (__builtin_add_overflow(lcn, r.lcnDelta, &lcn) || lcn < 0) return kInvalidData;
      uint64_t end = uint64_t(lcn) + r.count;
      if (end < uint64_t(lcn)) return kInvalidData;
      if (totalClusters && end > totalClusters) return kDataPastEnd;
      e.lcn = uint64_t(lcn);
    }
    out.push_back(e);
    vcn += r.count;
  }
  return kOk;
}

uint64_t ExtentClusters(const std::vector<Extent>& extents) {
  uint64_t n = 0;
  for (const Extent& e : extents) n += e.count;
  return n;
}

}  // namespace dunmere
