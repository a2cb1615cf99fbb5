#include "carving/metadata_sector.h"

#include <algorithm>
#include <string_view>

namespace dunmere {
using namespace std::literals;

bool IsMetadataSector(ByteView s, SectorTest directorySector) {
  if (s.size() < 32) return false;
  if (s.Equals(0, "FILE") || s.Equals(0, "INDX")) return true;
  if (s.Equals(0, "RSTR")) {
    static const uint8_t kNtfs[] = {'N', 0, 'T', 0, 'F', 0, 'S', 0};
    for (size_t i = 0; i + 8 <= s.size(); ++i)
      if (s.data()[i] == 'N' && std::equal(kNtfs, kNtfs + 8, s.data() + i)) return true;
  }
  if (s.Equals(0, "$\0S\0T\0A\0"sv)) return true;
  if (s.U8(0) == 0xEB && s.U8(2) == 0x90) {
    for (auto oem : {"MSDOS5.0"sv, "MSWIN4.0"sv, "MSWIN4.1"sv, "NTFS    "sv, "EXFAT   "sv})
      if (s.Equals(3, oem)) return true;
  }
  return directorySector && directorySector(s);
}

}  // namespace dunmere
