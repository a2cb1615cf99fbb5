#pragma once
// The type codes of the carvable formats. The numbers are stored nowhere but
// are shared with the type names of the result views, so they never change.
#include <cstdint>

namespace dunmere {

enum FileTypeCode : int32_t {
  kDoc = 0, kDocx = 1, kOle = 2, kXls = 3, kXlsx = 4, kPpt = 5, kPptx = 6, kMso07 = 7,
  kPdf = 8, kGho = 9, kJpg = 10, kMp2 = 11, kMp3 = 12, kMid = 13, kMmf = 14, kMpeg = 15,
  k3gp = 16, kMov = 17, kMp4 = 18, kMkv = 19, kTs = 20, kWav = 21, kAvi = 22, kRmvb = 23,
  kWmv = 24, kApe = 25, kSwf = 26, kFlv = 27, kPsd = 28, kBmp = 29, kPng = 30, kGif = 31,
  kTif = 32, kCab = 33, k7z = 34, kZip = 35, kGz = 36, kRar = 37, kPst = 38, kDb = 39,
  kDbx = 40, kExe = 41, kDll = 42, kSys = 43, kFla = 44, kTtf = 45, kIco = 46, kMts = 47,
  kMxf = 48,
  kNoMatch = 49,
};

}  // namespace dunmere
