#pragma once
// Builds raw FAT directory entries for the parser tests.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/bytes.h"

namespace dunmere::test {

// Date and time words as FAT stores them.
inline uint16_t FatDate(int y, int m, int d) { return uint16_t(((y - 1980) << 9) | (m << 5) | d); }
inline uint16_t FatTime(int h, int mi, int s) { return uint16_t((h << 11) | (mi << 5) | (s / 2)); }

struct EntrySpec {
  std::string name11 = "FILE    TXT";
  uint8_t attr = 0x20;
  uint32_t cluster = 5;
  uint32_t size = 100;
  uint16_t date = FatDate(2020, 5, 17);
  uint16_t time = FatTime(12, 30, 44);
  uint8_t hundredths = 0;
};

inline std::vector<uint8_t> MakeEntry(const EntrySpec& s) {
  std::vector<uint8_t> e(32, 0);
  std::memcpy(e.data(), s.name11.data(), s.name11.size() < 11 ? s.name11.size() : 11);
  e[11] = s.attr;
  e[13] = s.hundredths;
  PutLe16(&e[14], s.time);
  PutLe16(&e[16], s.date);
  PutLe16(&e[18], s.date);
  PutLe16(&e[20], uint16_t(s.cluster >> 16));
  PutLe16(&e[22], s.time);
  PutLe16(&e[24], s.date);
  PutLe16(&e[26], uint16_t(s.cluster));
  PutLe32(&e[28], s.size);
  return e;
}

// One long-name part: sequence byte, 13 units of `part` (0-terminated then 0xFFFF), checksum.
inline std::vector<uint8_t> MakeLfn(uint8_t seq, const std::u16string& part, uint8_t checksum) {
  std::vector<uint8_t> e(32, 0);
  e[0] = seq;
  e[11] = 0x0F;
  e[13] = checksum;
  static const int kOff[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  for (int i = 0; i < 13; ++i) {
    uint16_t u = i < int(part.size()) ? uint16_t(part[i]) : (i == int(part.size()) ? 0 : 0xFFFF);
    PutLe16(&e[kOff[i]], u);
  }
  return e;
}

inline void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& e) { out.insert(out.end(), e.begin(), e.end()); }

}  // namespace dunmere::test
