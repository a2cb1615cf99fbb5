#include "engine/scan_resume_entry.h"

#include <cstring>

#include "base/text.h"

namespace dunmere {

namespace {
// The fields sit unaligned in the packed entry: copied out before they are read.
std::string FieldToUtf8(const void* field) {
  char16_t f[kResumePathUnits];
  std::memcpy(f, field, sizeof f);
  size_t n = 0;
  while (n < kResumePathUnits && f[n]) ++n;
  return Utf16ToUtf8(f, n);
}
bool Utf8ToField(void* f, const std::string& s) {
  std::u16string u = Utf8ToUtf16(s);
  if (u.size() >= kResumePathUnits) return false;
  std::memset(f, 0, kResumePathUnits * sizeof(char16_t));
  std::memcpy(f, u.data(), u.size() * sizeof(char16_t));
  return true;
}
}  // namespace

bool EntryScanEnded(const ScanResumeEntry& e) {
  // A pass over free extents ends with no extent left (length 0); one over
  // the whole area with its offset at the area's end.
  const uint64_t length = e.rangeLength, start = e.rangeStart, offset = e.rangeOffset, area = e.partitionSectors;
  return length == 0 || start + offset >= area;
}

std::string EntryImagePath(const ScanResumeEntry& e) { return FieldToUtf8(e.imagePath); }
std::string EntryScanFolder(const ScanResumeEntry& e) { return FieldToUtf8(e.scanFolder); }
bool SetEntryImagePath(ScanResumeEntry& e, const std::string& s) { return Utf8ToField(e.imagePath, s); }
bool SetEntryScanFolder(ScanResumeEntry& e, const std::string& s) { return Utf8ToField(e.scanFolder, s); }

}  // namespace dunmere
