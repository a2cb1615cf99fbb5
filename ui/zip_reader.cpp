#include "ui/zip_reader.h"

#include <zlib.h>

#include <algorithm>

#include "base/text.h"

namespace dunmere::ui {
namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr size_t kEndSize = 22;
constexpr size_t kCentralSize = 46;
constexpr size_t kLocalSize = 30;

bool InflateRaw(ByteView in, uint32_t expected, std::vector<uint8_t>& out) {
  out.assign(expected, 0);
  z_stream zs{};
  if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return false;
  zs.next_in = const_cast<Bytef*>(in.data());
  zs.avail_in = uInt(in.size());
  // One spare byte so that a member longer than its recorded size shows up.
  uint8_t spare = 0;
  zs.next_out = out.empty() ? &spare : out.data();
  zs.avail_out = out.empty() ? 1 : uInt(out.size());
  int rc = inflate(&zs, Z_FINISH);
  const size_t produced = out.empty() ? (1 - zs.avail_out) : out.size() - zs.avail_out;
  inflateEnd(&zs);
  if (rc != Z_STREAM_END) return false;
  return produced == expected;
}

}  // namespace

const char* ZipErrorText(ZipError e) {
  switch (e) {
    case ZipError::kNone: return "ok";
    case ZipError::kNotFound: return "member not found";
    case ZipError::kBadArchive: return "not a readable zip archive";
    case ZipError::kBadLocalHeader: return "bad local header";
    case ZipError::kUnsupported: return "unsupported member";
    case ZipError::kInflateFailed: return "inflate failed";
    case ZipError::kSizeMismatch: return "size mismatch";
    case ZipError::kCrcMismatch: return "CRC mismatch";
  }
  return "?";
}

std::string ZipReader::NormalizeName(std::string_view name) {
  std::string s(name);
  std::replace(s.begin(), s.end(), '\\', '/');
  while (!s.empty() && s.front() == '/') s.erase(s.begin());
  return s;
}

bool ZipReader::Open(ByteView archive) {
  data_ = archive;
  open_ = false;
  members_.clear();
  byName_.clear();
  byLowerName_.clear();
  if (archive.size() < kEndSize) return false;

  // The end record sits at most 64 KiB (its comment) from the end.
  size_t endPos = SIZE_MAX;
  const size_t lowest = archive.size() > kEndSize + 0xFFFF ? archive.size() - kEndSize - 0xFFFF : 0;
  for (size_t pos = archive.size() - kEndSize + 1; pos-- > lowest;) {
    if (archive.U32(pos) == kEndSignature &&
        pos + kEndSize + archive.U16(pos + 20) == archive.size()) {
      endPos = pos;
      break;
    }
  }
  if (endPos == SIZE_MAX) return false;
  const uint16_t count = archive.U16(endPos + 10);
  const uint32_t dirSize = archive.U32(endPos + 12);
  const uint32_t dirOffset = archive.U32(endPos + 16);
  if (uint64_t(dirOffset) + dirSize > endPos) return false;

  ByteView dir = archive.Sub(dirOffset, dirSize);
  size_t pos = 0;
  for (uint16_t i = 0; i < count; ++i) {
    if (!dir.Has(pos, kCentralSize) || dir.U32(pos) != kCentralSignature) return false;
    const uint16_t nameLen = dir.U16(pos + 28);
    const uint16_t extraLen = dir.U16(pos + 30);
    const uint16_t commentLen = dir.U16(pos + 32);
    if (!dir.Has(pos + kCentralSize, size_t(nameLen) + extraLen + commentLen)) return false;
    ZipMember m;
    m.method = dir.U16(pos + 10);
    m.crc = dir.U32(pos + 16);
    m.compressedSize = dir.U32(pos + 20);
    m.size = dir.U32(pos + 24);
    m.localHeaderOffset = dir.U32(pos + 42);
    m.name = NormalizeName(std::string_view(
        reinterpret_cast<const char*>(dir.data() + pos + kCentralSize), nameLen));
    pos += kCentralSize + nameLen + extraLen + commentLen;
    if (m.name.empty() || m.name.back() == '/') continue;  // folders
    byName_.emplace(m.name, members_.size());
    byLowerName_.emplace(AsciiLower(m.name), members_.size());
    members_.push_back(std::move(m));
  }
  open_ = true;
  return true;
}

const ZipMember* ZipReader::Find(std::string_view name) const {
  const std::string n = NormalizeName(name);
  if (auto it = byName_.find(n); it != byName_.end()) return &members_[it->second];
  if (auto it = byLowerName_.find(AsciiLower(n)); it != byLowerName_.end())
    return &members_[it->second];
  return nullptr;
}

ZipError ZipReader::Read(std::string_view name, std::vector<uint8_t>& out) const {
  out.clear();
  if (!open_) return ZipError::kBadArchive;
  const ZipMember* m = Find(name);
  if (!m) return ZipError::kNotFound;
  return Read(*m, out);
}

ZipError ZipReader::Read(const ZipMember& m, std::vector<uint8_t>& out) const {
  out.clear();
  if (!open_) return ZipError::kBadArchive;
  if (m.size > kMaxMemberSize) return ZipError::kUnsupported;
  const size_t lh = m.localHeaderOffset;
  if (!data_.Has(lh, kLocalSize) || data_.U32(lh) != kLocalSignature)
    return ZipError::kBadLocalHeader;
  const size_t dataPos = lh + kLocalSize + data_.U16(lh + 26) + data_.U16(lh + 28);
  if (!data_.Has(dataPos, m.compressedSize)) return ZipError::kBadLocalHeader;
  ByteView raw = data_.Sub(dataPos, m.compressedSize);

  if (m.method == 0) {
    if (m.compressedSize != m.size) return ZipError::kSizeMismatch;
    out.assign(raw.data(), raw.data() + raw.size());
  } else if (m.method == 8) {
    if (!InflateRaw(raw, m.size, out)) {
      out.clear();
      return ZipError::kInflateFailed;
    }
  } else {
    return ZipError::kUnsupported;
  }
  const uLong crc = crc32(crc32(0L, Z_NULL, 0), out.data(), uInt(out.size()));
  if (uint32_t(crc) != m.crc) {
    out.clear();
    return ZipError::kCrcMismatch;
  }
  return ZipError::kNone;
}

}  // namespace dunmere::ui
