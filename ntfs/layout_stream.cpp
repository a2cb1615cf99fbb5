#include "ntfs/layout_stream.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "ntfs/lznt1.h"

namespace dunmere {

namespace {
constexpr size_t kPieceBytes = 65536;       // what a sink receives at most
constexpr size_t kReadBytes = 1024 * 1024;  // what one read asks for at most
}  // namespace

Status StreamDataLayout(const DataLayout& L, uint32_t clusterBytes, const VolumeReader& read,
                        const std::function<int(const uint8_t*, size_t)>& sink) {
  if (L.encrypted) return kNotSupported;
  const uint64_t cb = clusterBytes;
  if (cb == 0) return kInvalidArg;
  uint64_t remaining = L.realSize;
  uint64_t produced = 0;  // bytes of the attribute handed on so far
  std::vector<uint8_t> buf;
  static const std::vector<uint8_t> zeros(kPieceBytes, 0);
  auto emit = [&](const uint8_t* data, uint64_t len) -> int {
    // Bytes past the initialized size were never written: they read as zeros.
    while (len > 0 && remaining > 0) {
      size_t piece = size_t(std::min<uint64_t>({len, remaining, kPieceBytes}));
      const uint8_t* p = data;
      if (produced >= L.initializedSize) {
        p = zeros.data();
      } else if (produced + piece > L.initializedSize) {
        piece = size_t(L.initializedSize - produced);
      }
      if (int a = sink(p, piece)) return a;
      data += piece;
      len -= piece;
      remaining -= piece;
      produced += piece;
    }
    return 0;
  };
  auto emitZeros = [&](uint64_t len) -> int {
    while (len > 0 && remaining > 0) {
      uint64_t piece = std::min<uint64_t>(len, kPieceBytes);
      if (int a = emit(zeros.data(), piece)) return a;
      len -= piece;
    }
    return 0;
  };

  if (!L.compressed) {
    for (const Extent& e : L.extents) {
      uint64_t done = 0;
      while (done < e.count && remaining > 0) {
        uint64_t clusters = std::min<uint64_t>(e.count - done, std::max<uint64_t>(1, kReadBytes / cb));
        uint64_t bytes = clusters * cb;
        // Never read clusters past the data's end.
        uint64_t needed = (remaining + cb - 1) / cb * cb;
        if (bytes > needed) {
          bytes = needed;
          clusters = bytes / cb;
        }
        if (e.sparse || produced >= L.initializedSize) {
          // Holes and never-written data: zeros, with nothing to read.
          if (int a = emitZeros(bytes)) return a;
        } else {
          buf.resize(size_t(bytes));
          if (Status s = read((e.lcn + done) * cb, size_t(bytes), buf.data())) return s;
          if (int a = emit(buf.data(), bytes)) return a;
        }
        done += clusters;
      }
      if (remaining == 0) break;
    }
    return remaining == 0 ? kOk : kInvalidData;
  }

  // Compressed: each unit of N clusters is stored plain (all N allocated),
  // as zeros (none allocated) or LZNT1-compressed in its first clusters.
  const uint64_t unitClusters = L.compressionUnitClusters;
  const uint64_t unitBytes = unitClusters * cb;
  if (unitBytes > (uint64_t(4) << 20)) return kUnsupportedCompression;
  std::vector<uint8_t> raw;
  std::vector<uint8_t> unit(static_cast<size_t>(unitBytes));
  size_t ei = 0;
  for (uint64_t vcn = 0; remaining > 0; vcn += unitClusters) {
    raw.clear();
    uint64_t allocated = 0;
    for (uint64_t c = vcn; c < vcn + unitClusters; ++c) {
      while (ei < L.extents.size() && L.extents[ei].vcn + L.extents[ei].count <= c) ++ei;
      if (ei >= L.extents.size()) break;
      const Extent& e = L.extents[ei];
      if (c < e.vcn || e.sparse) continue;
      // Take the whole stretch of this extent inside the unit in one read.
      uint64_t upto = std::min(e.vcn + e.count, vcn + unitClusters);
      size_t at = raw.size();
      raw.resize(at + size_t((upto - c) * cb));
      if (Status s = read((e.lcn + (c - e.vcn)) * cb, size_t((upto - c) * cb),
                               raw.data() + at))
        return s;
      allocated += upto - c;
      c = upto - 1;
    }
    if (allocated == unitClusters) {
      std::memcpy(unit.data(), raw.data(), unit.size());
    } else if (allocated == 0) {
      std::fill(unit.begin(), unit.end(), 0);
    } else {
      size_t got = 0;
      if (Lznt1Decompress(ByteView(raw.data(), raw.size()), unit.data(), unit.size(), got))
        return kUnsupportedCompression;
      std::fill(unit.begin() + got, unit.end(), 0);
    }
    if (int a = emit(unit.data(), unitBytes)) return a;
    if (vcn + unitClusters < vcn) break;
  }
  return kOk;
}

}  // namespace dunmere
