#include "exfat/exfat_dir_entry.h"

#include "base/text.h"

namespace dunmere {

namespace {
bool DataEntry(ByteView e, uint8_t type, ExfatDataEntry& out) {
  if (!e.Has(0, kExfatEntrySize) || e.U8(0) != type) return false;
  out.flags = e.U8(1);
  out.checksum = e.U32(4);
  out.firstCluster = e.U32(20);
  out.dataLength = e.U64(24);
  return true;
}
}  // namespace

bool ParseBitmapEntry(ByteView e, ExfatDataEntry& out) { return DataEntry(e, kExfatBitmapEntry, out); }
bool ParseUpcaseEntry(ByteView e, ExfatDataEntry& out) { return DataEntry(e, kExfatUpcaseEntry, out); }

bool ParseVolumeLabel(ByteView e, std::string& label) {
  label.clear();
  if (!e.Has(0, kExfatEntrySize) || e.U8(0) != kExfatLabelEntry) return false;
  const size_t count = e.U8(1);
  if (count > 11) return false;
  std::u16string units;
  for (size_t i = 0; i < count; ++i) {
    const char16_t u = char16_t(e.U16(2 + 2 * i));
    if (u == 0) break;
    units.push_back(u);
  }
  label = ExfatNameToUtf8(units);
  return true;
}

uint16_t ExfatSetChecksum(ByteView set, bool asInUse) {
  uint16_t sum = 0;
  const uint8_t* p = set.data();
  for (size_t i = 0; i < set.size(); ++i) {
    if (i == 2 || i == 3) continue;
    uint8_t byte = p[i];
    if (asInUse && i % kExfatEntrySize == 0) byte |= kExfatInUse;
    sum = uint16_t(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + byte);
  }
  return sum;
}

ExfatSetState ParseExfatFileSet(ByteView from, ExfatFileSet& out) {
  out = ExfatFileSet{};
  if (!from.Has(0, 2 * kExfatEntrySize)) return ExfatSetState::kTruncated;
  const uint8_t type = from.U8(0);
  if ((type | kExfatInUse) != kExfatFileEntry) return ExfatSetState::kMalformed;
  out.deleted = (type & kExfatInUse) == 0;
  const uint32_t secondaries = from.U8(1);
  // A stream extension and at least one name.
  if (secondaries < 2) return ExfatSetState::kMalformed;
  out.entryCount = secondaries + 1;
  // Every secondary entry is one (bit 6 of the type); an in-use set's are in use.
  for (uint32_t i = 1; i < out.entryCount && from.Has(i * kExfatEntrySize, 1); ++i) {
    const uint8_t t = from.U8(i * kExfatEntrySize);
    if ((t & 0x40) == 0 || (!out.deleted && (t & kExfatInUse) == 0)) return ExfatSetState::kMalformed;
  }
  ByteView stream = from.Sub(kExfatEntrySize, kExfatEntrySize);
  if ((stream.U8(0) | kExfatInUse) != kExfatStreamEntry) return ExfatSetState::kMalformed;
  out.streamFlags = stream.U8(1);
  out.nameLength = stream.U8(3);
  out.nameHash = stream.U16(4);
  out.validDataLength = stream.U64(8);
  out.firstCluster = stream.U32(20);
  out.dataLength = stream.U64(24);
  const uint32_t nameEntries = (out.nameLength + kExfatNameUnitsPerEntry - 1) / kExfatNameUnitsPerEntry;
  if (out.nameLength == 0 || secondaries < 1 + nameEntries) return ExfatSetState::kMalformed;
  if (!from.Has(0, out.Bytes())) return ExfatSetState::kTruncated;

  bool ended = false;
  for (uint32_t k = 0; k < nameEntries; ++k) {
    ByteView n = from.Sub((2 + k) * kExfatEntrySize, kExfatEntrySize);
    if ((n.U8(0) | kExfatInUse) != kExfatNameEntry) return ExfatSetState::kMalformed;
    for (size_t u = 0; u < kExfatNameUnitsPerEntry && !ended && out.name.size() < out.nameLength; ++u) {
      const char16_t c = char16_t(n.U16(2 + 2 * u));
      ended = c == 0;
      if (!ended) out.name.push_back(c);
    }
  }
  ByteView file = from.Sub(0, kExfatEntrySize);
  out.checksum = file.U16(2);
  out.attributes = file.U16(4);
  ByteView set = from.Sub(0, out.Bytes());
  if (ExfatSetChecksum(set, true) == out.checksum) return ExfatSetState::kValid;
  if (out.deleted && ExfatSetChecksum(set, false) == out.checksum) return ExfatSetState::kValid;
  return ExfatSetState::kBadChecksum;
}

std::string ExfatNameToUtf8(const std::u16string& name) {
  std::string s = Utf16ToUtf8(name.data(), name.size());
  for (char& c : s)
    if (c == '/' || c == '\\') c = '_';
  return s;
}

}  // namespace dunmere
