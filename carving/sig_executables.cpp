#include "carving/sig_executables.h"

namespace dunmere {
namespace {

constexpr uint16_t kExecutableImage = 0x0002;
constexpr uint16_t kSystemFile = 0x1000;
constexpr uint16_t kDynamicLibrary = 0x2000;

// One detector for the three rows: the characteristics bits tell them apart
// and exclude each other, so answering in one place gives the same result as
// asking the exe, dll and sys rows in turn.
FileTypeCode DetectPe(CarveContext&, ByteView s) {
  if (s.size() < 512 || !s.Equals(0, "MZ")) return kNoMatch;
  uint32_t pe = s.U32(60);
  if (pe > 488 || !s.Equals(pe, std::string_view("PE\0\0", 4))) return kNoMatch;
  uint16_t ch = s.U16(pe + 22);
  if (!(ch & kExecutableImage)) return kNoMatch;
  if (ch & kSystemFile) return kSys;
  if (ch & kDynamicLibrary) return kDll;
  return kExe;
}

}  // namespace

const DetectorInfo kPeDetector{DetectPe, {'M', -1, -1, -1}};

}  // namespace dunmere
