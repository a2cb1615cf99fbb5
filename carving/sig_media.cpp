#include "carving/sig_media.h"

#include <algorithm>
#include <string_view>

#include "carving/scan_frame.h"

namespace dunmere {
using namespace std::literals;
namespace {

const uint8_t kPackStart[] = {0, 0, 1, 0xBA};
const uint8_t kSystemHeader[] = {0, 0, 1, 0xBB};
const uint8_t kSequenceStart[] = {0, 0, 1, 0xB3};
const uint8_t kGopStart[] = {0, 0, 1, 0xB8};
const uint8_t kSequenceEnd[] = {0, 0, 1, 0xB7};
const uint8_t kProgramEnd[] = {0, 0, 1, 0xB9};
const uint8_t kIsoMediaTail[] = {'f', 'r', 'e', 'e', 'I', 's', 'o', 'M', 'e', 'd', 'i', 'a', ' ',
                                 'F', 'i', 'l', 'e', ' ', 'P', 'r', 'o', 'd', 'u', 'c', 'e', 'd'};
const uint8_t kRmIndex[] = {'I', 'N', 'D', 'X', 0, 0, 0, 0x14, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0};
const uint8_t kAsfHeader[] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                              0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const uint8_t kAsfFileProperties[] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                      0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const uint8_t kMxfPartition[] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01,
                                 0x0D, 0x01, 0x02, 0x01, 0x01, 0x02, 0x04, 0x00};
const uint8_t kM2tsPat[] = {0x00, 0x00, 0xB0, 0x11, 0x00, 0x00, 0xC1, 0x00};
const uint8_t kTag[] = {'T', 'A', 'G'};
const uint8_t kApeTag[] = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X', 0xD0, 0x07};
constexpr uint32_t kTsPacket = 188;

bool Bytes(ByteView s, size_t off, const uint8_t* pat, size_t len) {
  return s.Has(off, len) && std::equal(pat, pat + len, s.data() + off);
}

FileTypeCode DetectMpeg(CarveContext&, ByteView s) {
  if (s.size() < 16) return kNoMatch;
  ByteView head = s.Sub(0, 32);
  if (Bytes(s, 0, kPackStart, 4)) return FindFirst(head, kSystemHeader, 4) != kNotFound ? kMpeg : kNoMatch;
  if (Bytes(s, 0, kSequenceStart, 4)) return FindFirst(head, kGopStart, 4) != kNotFound ? kMpeg : kNoMatch;
  return kNoMatch;
}

FileTypeCode DetectMp4(CarveContext&, ByteView s) {
  if (s.size() < 32 || !s.Equals(4, "ftyp")) return kNoMatch;
  return s.Equals(8, "iso") || s.Equals(8, "mp42") ? kMp4 : kNoMatch;
}

FileTypeCode Detect3gp(CarveContext&, ByteView s) {
  return s.size() >= 32 && s.Equals(4, "ftyp") && s.Equals(8, "3gp") ? k3gp : kNoMatch;
}

FileTypeCode DetectMov(CarveContext&, ByteView s) {
  if (s.size() < 16) return kNoMatch;
  return s.Equals(0, "moov") || (s.Equals(4, "ftyp") && s.Equals(8, "qt  ")) ? kMov : kNoMatch;
}

FileTypeCode DetectRm(CarveContext&, ByteView s) { return s.size() >= 4 && s.Equals(0, ".RMF") ? kRmvb : kNoMatch; }

FileTypeCode DetectAsf(CarveContext&, ByteView s) {
  return s.size() >= 24 && Bytes(s, 0, kAsfHeader, 16) ? kWmv : kNoMatch;
}

FileTypeCode DetectSwf(CarveContext&, ByteView s) {
  if (s.size() < 8) return kNoMatch;
  uint8_t v = s.U8(3);
  if (s.Equals(0, "CWS") && v >= 6 && v <= 15) return kSwf;
  if (s.Equals(0, "FWS") && v < 6) return kSwf;
  return kNoMatch;
}

FileTypeCode DetectAvi(CarveContext&, ByteView s) {
  return s.size() >= 16 && s.Equals(0, "RIFF") && s.Equals(8, "AVI ") && s.Equals(12, "LIST") ? kAvi : kNoMatch;
}

FileTypeCode DetectWav(CarveContext&, ByteView s) {
  return s.size() >= 16 && s.Equals(0, "RIFF") && s.Equals(8, "WAVE") && s.Equals(12, "fmt ") ? kWav : kNoMatch;
}

FileTypeCode DetectFlv(CarveContext&, ByteView s) {
  return s.size() >= 16 && s.Equals(0, "FLV") && s.U8(3) == 1 && s.Equals(5, "\0\0\0\x09"sv) ? kFlv : kNoMatch;
}

FileTypeCode DetectMkv(CarveContext&, ByteView s) {
  return s.size() >= 16 && s.Equals(0, "\x1A\x45\xDF\xA3"sv) ? kMkv : kNoMatch;
}

// A transport stream starts where 188-byte packets begin; a sector inside a
// stream already being carved (or already carved) is not a new one.
FileTypeCode DetectTs(CarveContext& ctx, ByteView s) {
  if (s.size() < kTsPacket || s.U8(0) != 0x47) return kNoMatch;
  if (s.U8(1) == 0 && s.U8(2) == 0 && s.U8(3) == 0) return kNoMatch;
  for (size_t p = kTsPacket; p < s.size(); p += kTsPacket)
    if (s.U8(p) != 0x47) return kNoMatch;
  uint32_t ss = ctx.sectorSize;
  if (!ctx.UsableSectorSize()) return kNoMatch;
  uint32_t want = (4096 + ss - 1) / ss;
  uint32_t got = ctx.ReadProbe(ctx.currentSector, want);
  ByteView probe(ctx.lookAhead.Probe(), size_t(got) * ss);
  for (uint32_t i = 0; i < 22; ++i)
    if (!probe.Has(i * kTsPacket, 1) || probe.U8(i * kTsPacket) != 0x47) return kNoMatch;
  if (ctx.tsContinuation && ctx.currentSector > 0 && ctx.ReadProbe(ctx.currentSector - 1, 1) == 1) {
    ByteView before(ctx.lookAhead.Probe(), ss);
    for (uint32_t back = kTsPacket; back <= ss; back += kTsPacket)
      if (before.U8(ss - back) == 0x47) return kNoMatch;
  }
  if (ctx.InCarvedStream(ctx.currentSector)) return kNoMatch;
  return kTs;
}

FileTypeCode DetectMts(CarveContext& ctx, ByteView s) {
  if (s.size() < 16 || !Bytes(s, 8, kM2tsPat, sizeof kM2tsPat)) return kNoMatch;
  return s.U32(0) == 0 || !ctx.m2tsContinuation ? kMts : kNoMatch;
}

FileTypeCode DetectMxf(CarveContext&, ByteView s) {
  return s.size() >= 16 && Bytes(s, 0, kMxfPartition, 16) ? kMxf : kNoMatch;
}

FileTypeCode DetectMp3(CarveContext&, ByteView s) {
  if (s.size() < 10 || !s.Equals(0, "ID3") || s.U8(3) == 0xFF || s.U8(4) == 0xFF || (s.U8(5) & 0x1F)) return kNoMatch;
  for (size_t i = 6; i < 10; ++i)
    if (s.U8(i) >= 0x80) return kNoMatch;
  return kMp3;
}

FileTypeCode DetectMid(CarveContext&, ByteView s) {
  return s.size() >= 16 && s.Equals(0, "MThd") && s.B32(4) == 6 && s.Equals(14, "MTrk") ? kMid : kNoMatch;
}

FileTypeCode DetectApe(CarveContext&, ByteView s) { return s.size() >= 4 && s.Equals(0, "MAC ") ? kApe : kNoMatch; }

FileTypeCode DetectMp2(CarveContext&, ByteView s) {
  return s.size() >= 4 && s.Equals(0, "\xFF\xFD\xE4\x00"sv) ? kMp2 : kNoMatch;
}

FileTypeCode DetectMmf(CarveContext&, ByteView s) { return s.size() >= 4 && s.Equals(0, "MMMD") ? kMmf : kNoMatch; }

class MpegEnd : public EndSearch {
 public:
  explicit MpegEnd(bool sequence) : code_(sequence ? kSequenceEnd : kProgramEnd) {}
  bool Search(CarveContext& ctx, ByteView b, uint64_t off, uint64_t& end) override {
    for (size_t p = FindFirst(b, code_, 4); p != kNotFound; p = FindFirst(b, code_, 4, p + 1)) {
      if (ZeroPaddingOk(b, p + 4, ctx.sectorSize)) {
        end = off + p + 4;
        return true;
      }
    }
    return false;
  }

 private:
  const uint8_t* code_;
};

// Ends right after a fixed record (and, for the ISO media tail, after the
// non-zero text that follows it).
class RecordEnd : public EndSearch {
 public:
  RecordEnd(const uint8_t* pat, size_t len, bool withText) : pat_(pat), len_(len), withText_(withText) {}
  bool Search(CarveContext&, ByteView b, uint64_t off, uint64_t& end) override {
    size_t p = FindFirst(b, pat_, len_);
    if (p == kNotFound) return false;
    size_t e = p + len_;
    if (withText_)
      while (e < b.size() && b.data()[e] != 0) ++e;
    end = off + e;
    return true;
  }

 private:
  const uint8_t* pat_;
  size_t len_;
  bool withText_;
};

// ID3v1: a "TAG" block is a candidate end; later chunks replace it.
class Id3v1End : public EndSearch {
 public:
  uint64_t candidate = 0;
  bool Search(CarveContext&, ByteView b, uint64_t off, uint64_t&) override {
    if (off == 0) return false;  // the first sector holds the ID3v2 header
    size_t p = FindFirst(b, kTag, 3);
    if (p != kNotFound) candidate = off + p + 128;
    return false;
  }
};

class ApeEnd : public EndSearch {
 public:
  bool Search(CarveContext&, ByteView b, uint64_t off, uint64_t& end) override {
    size_t p = FindFirst(b, kApeTag, sizeof kApeTag);
    if (p == kNotFound) return false;
    size_t q = FindFirst(b, kApeTag, sizeof kApeTag, p + 1);
    end = q != kNotFound ? off + q + 32 : off + b.size();
    return true;
  }
};

// MIDI: the header chunk, then chunks of 8 header bytes plus their length;
// the file ends after the announced number of track chunks.
class MidiEnd : public EndSearch {
 public:
  explicit MidiEnd(uint32_t tracks) : tracks_(tracks) {}
  bool Search(CarveContext&, ByteView b, uint64_t off, uint64_t& end) override {
    uint64_t limit = off + b.size();
    while (counted_ < tracks_) {
      uint8_t head[8];
      if (!Fetch(b, off, next_, head)) break;
      bool track = std::equal(head, head + 4, "MTrk");
      bool printable = std::all_of(head, head + 4, [](uint8_t c) { return c >= 0x20 && c < 0x7F; });
      if (!track && !printable) {  // not a chunk: the file ends before it
        end = std::min(next_, limit);
        return true;
      }
      next_ += 8 + uint64_t(Be32(head + 4));
      if (track) ++counted_;
    }
    // Keep the last bytes for a chunk header that straddles two chunks.
    size_t keep = std::min<size_t>(b.size(), sizeof tail_);
    std::copy(b.data() + b.size() - keep, b.data() + b.size(), tail_);
    tailLen_ = keep;
    tailOff_ = limit - keep;
    if (counted_ >= tracks_) {
      end = std::min(next_, limit);
      return true;
    }
    return false;
  }

 private:
  bool Fetch(ByteView b, uint64_t off, uint64_t at, uint8_t* out) const {
    for (int i = 0; i < 8; ++i) {
      uint64_t pos = at + i;
      if (pos >= off && pos - off < b.size()) out[i] = b.data()[pos - off];
      else if (pos >= tailOff_ && pos - tailOff_ < tailLen_) out[i] = tail_[pos - tailOff_];
      else return false;
    }
    return true;
  }
  uint32_t tracks_;
  uint32_t counted_ = 0;
  uint64_t next_ = 14;
  uint8_t tail_[8] = {};
  size_t tailLen_ = 0;
  uint64_t tailOff_ = 0;
};

// Transport stream: the run of 188-byte packets that start with 47 from the
// first byte of the file. Once the run ends the size is known.
class TsEnd : public EndSearch {
 public:
  bool Search(CarveContext&, ByteView b, uint64_t off, uint64_t& end) override {
    uint64_t limit = off + b.size();
    while (next_ < limit) {
      if (next_ >= off && b.data()[next_ - off] != 0x47) {
        end = next_;
        return true;
      }
      next_ += kTsPacket;
    }
    return false;
  }
  uint64_t next_ = 0;
};

}  // namespace

const DetectorInfo kMpegDetector{DetectMpeg, {0x00, -1, -1, -1}};
const DetectorInfo kMp4Detector{DetectMp4, {-1, -1, -1, -1}, true};
const DetectorInfo kRmDetector{DetectRm, {'.', -1, -1, -1}};
const DetectorInfo kAsfDetector{DetectAsf, {0x30, -1, -1, -1}};
const DetectorInfo kSwfDetector{DetectSwf, {'C', 'F', -1, -1}};
const DetectorInfo kAviDetector{DetectAvi, {'R', -1, -1, -1}};
const DetectorInfo kFlvDetector{DetectFlv, {'F', -1, -1, -1}};
const DetectorInfo k3gpDetector{Detect3gp, {-1, -1, -1, -1}, true};
const DetectorInfo kMkvDetector{DetectMkv, {0x1A, -1, -1, -1}};
const DetectorInfo kTsDetector{DetectTs, {0x47, -1, -1, -1}};
const DetectorInfo kMtsDetector{DetectMts, {-1, -1, -1, -1}, true};
const DetectorInfo kMxfDetector{DetectMxf, {0x06, -1, -1, -1}};
const DetectorInfo kMp3Detector{DetectMp3, {'I', -1, -1, -1}};
const DetectorInfo kMidDetector{DetectMid, {'M', -1, -1, -1}};
const DetectorInfo kApeDetector{DetectApe, {'M', -1, -1, -1}};
const DetectorInfo kWavDetector{DetectWav, {'R', -1, -1, -1}};
const DetectorInfo kMovDetector{DetectMov, {-1, -1, -1, -1}, true};
const DetectorInfo kMp2Detector{DetectMp2, {0xFF, -1, -1, -1}};
const DetectorInfo kMmfDetector{DetectMmf, {'M', -1, -1, -1}};

uint64_t MpegSize(CarveContext& ctx, ByteView s) {
  MpegEnd search(Bytes(s, 0, kSequenceStart, 4));
  return RunScanFrame(ctx, s, kCap6GiB, &search, kMpeg);
}

uint64_t Mp4Size(CarveContext& ctx, ByteView s) {
  RecordEnd search(kIsoMediaTail, sizeof kIsoMediaTail, true);
  return RunScanFrame(ctx, s, kCap6GiB, &search);
}

uint64_t RmSize(CarveContext& ctx, ByteView s) {
  RecordEnd search(kRmIndex, sizeof kRmIndex, false);
  return RunScanFrame(ctx, s, kCap6GiB, &search);
}

uint64_t AsfSize(CarveContext& ctx, ByteView s) {
  size_t g = FindFirst(s, kAsfFileProperties, sizeof kAsfFileProperties, 30);
  if (g == kNotFound || !s.Has(g, 92) || (s.U32(g + 88) & 1)) return ctx.sectorSize;
  uint64_t size = s.U64(g + 40);
  if (size >> 32) return kCap256MiB;
  return std::min(size, kCap256MiB);
}

uint64_t SwfSize(CarveContext& ctx, ByteView s) {
  if (s.Equals(0, "FWS")) return std::min<uint64_t>(s.U32(4), kCap256MiB);
  return ctx.sectorSize;
}

uint64_t RiffSize(CarveContext& ctx, ByteView s) {
  if (s.size() < 16) return ctx.sectorSize;
  return uint64_t(s.U32(4)) + 8;
}

uint64_t TsSize(CarveContext& ctx, ByteView s) {
  TsEnd search;
  uint64_t size = RunScanFrame(ctx, s, kCap64GiB, &search);
  if (size > 0 && ctx.UsableSectorSize()) {
    uint64_t sectors = (size + ctx.sectorSize - 1) / ctx.sectorSize;
    ctx.streamRanges.push_back({ctx.candidateStart, ctx.candidateStart + sectors - 1});
  }
  return size;
}

uint64_t Mp3Size(CarveContext& ctx, ByteView s) {
  Id3v1End search;
  uint64_t size = RunScanFrame(ctx, s, kCap2GiB, &search);
  return search.candidate && search.candidate < size ? search.candidate : size;
}

uint64_t MidSize(CarveContext& ctx, ByteView s) {
  MidiEnd search(s.B16(10));
  return RunScanFrame(ctx, s, kCap8MiB, &search);
}

uint64_t ApeSize(CarveContext& ctx, ByteView s) {
  ApeEnd search;
  return RunScanFrame(ctx, s, kCap2GiB, &search);
}

uint64_t ScanCap512MiB(CarveContext& ctx, ByteView s) { return RunScanFrame(ctx, s, kCap512MiB, nullptr); }

// An MP2 stream is nothing but frames, and every fourth frame starts a sector
// with the very bytes that identify the format; those frames do not end it.
uint64_t Mp2Size(CarveContext& ctx, ByteView s) { return RunScanFrame(ctx, s, kCap512MiB, nullptr, kMp2); }
uint64_t ScanCap6GiB(CarveContext& ctx, ByteView s) { return RunScanFrame(ctx, s, kCap6GiB, nullptr); }
uint64_t ScanCap64GiB(CarveContext& ctx, ByteView s) { return RunScanFrame(ctx, s, kCap64GiB, nullptr); }

}  // namespace dunmere
