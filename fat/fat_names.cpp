#include "fat/fat_names.h"

#include "base/text.h"
#include "fat/fat_dir_entry.h"

namespace dunmere {

namespace {
// Upper half of code page 437, the OEM code page short names are written in
// by DOS, the Linux driver's default and most cameras.
constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

void AppendOem(std::string& out, uint8_t c) {
  if (c < 0x80)
    out.push_back(char(c));
  else
    AppendUtf8(out, kCp437High[c - 0x80]);
}

// Characters a name from disk may not bring into a path or a listing.
void ReplaceSeparators(std::string& name) {
  for (char& c : name)
    if (c == '/' || c == '\\' || c == '\0') c = '_';
}
}  // namespace

std::string FormatShortName(ByteView entry, bool isDirectory) {
  std::string base, ext;
  size_t baseLen = 8, extLen = 3;
  while (baseLen > 0 && entry.U8(baseLen - 1) == ' ') --baseLen;
  while (extLen > 0 && entry.U8(8 + extLen - 1) == ' ') --extLen;
  for (size_t i = 0; i < baseLen; ++i) {
    uint8_t c = entry.U8(i);
    if (i == 0 && c == kFatDeletedMark) {
      base.push_back('!');  // the first character is lost on deletion
      continue;
    }
    if (i == 0 && c == 0x05) c = 0xE5;  // a real 0xE5 first character is stored as 0x05
    if (c >= 'A' && c <= 'Z') c = uint8_t(c - 'A' + 'a');
    AppendOem(base, c);
  }
  if (!isDirectory && extLen > 0 && entry.U8(8) != ' ') {
    for (size_t i = 0; i < extLen; ++i) {
      uint8_t c = entry.U8(8 + i);
      if (c >= 'A' && c <= 'Z') c = uint8_t(c - 'A' + 'a');
      AppendOem(ext, c);
    }
    base += "." + ext;
  }
  ReplaceSeparators(base);
  return base;
}

void LongNameAssembler::Reset() { pos_ = kUnits; }

bool LongNameAssembler::Add(ByteView entry) {
  if (pos_ < kPartUnits + 1) return false;
  pos_ -= kPartUnits;
  FatDirEntry(entry).LongNameUnits(&units_[pos_]);
  return true;
}

std::string LongNameAssembler::Take() {
  std::string out;
  if (pos_ < kUnits) {
    size_t end = pos_;
    while (end < kUnits && units_[end] != 0) ++end;
    out = Utf16ToUtf8(&units_[pos_], end - pos_);
    ReplaceSeparators(out);
  }
  Reset();
  return out;
}

std::string LostFolderName(uint32_t cluster) { return "LostFolder" + std::to_string(cluster & 0x0FFFFFFFu); }

}  // namespace dunmere
