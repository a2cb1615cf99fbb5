#include "carving/sig_media.h"

#include <algorithm>
#include <string_view>

#include "carving/ebml_walk.h"
#include "carving/flv_walk.h"
#include "carving/iso_media_walk.h"
#include "carving/midi_walk.h"
#include "carving/mpeg_audio_walk.h"
#include "carving/mpeg_ps_walk.h"
#include "carving/mxf_walk.h"
#include "carving/real_media_walk.h"
#include "carving/scan_frame.h"
#include "carving/structure_walk.h"

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
constexpr uint32_t kM2tsPacket = 192;  // a 4-byte arrival time stamp, then a transport packet

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

// The major brands of MPEG-4 files besides "iso*" and "mp42": "mp41"
// (ffmpeg's -brand mp41, older cameras and encoders), "avc1", the iTunes
// "M4V "/"M4A ", Adobe's "f4v ", DASH segments and the camera brands. The
// QuickTime and 3GPP brands stay with their own rows.
FileTypeCode DetectMp4(CarveContext&, ByteView s) {
  if (s.size() < 32 || !s.Equals(4, "ftyp")) return kNoMatch;
  if (s.Equals(8, "iso")) return kMp4;
  for (std::string_view brand : {"mp42"sv, "mp41"sv, "avc1"sv, "M4V "sv, "M4A "sv, "f4v "sv, "dash"sv, "mmp4"sv,
                                 "MSNV"sv, "XAVC"sv})
    if (s.Equals(8, brand)) return kMp4;
  return kNoMatch;
}

FileTypeCode Detect3gp(CarveContext&, ByteView s) {
  return s.size() >= 32 && s.Equals(4, "ftyp") && s.Equals(8, "3gp") ? k3gp : kNoMatch;
}

// A QuickTime movie opens with its file-type box or, as older ones do, with
// the movie box, whose header box comes first in it. A sector that opens
// with "moov" holds the type of a movie box whose size field ended the
// sector before: the middle of a movie, no start.
FileTypeCode DetectMov(CarveContext&, ByteView s) {
  if (s.size() < 16) return kNoMatch;
  if (s.Equals(4, "ftyp") && s.Equals(8, "qt  ")) return kMov;
  const bool movieBox = s.Equals(4, "moov") && s.B32(0) >= 16 && (s.Equals(12, "mvhd") || s.Equals(12, "cmov"));
  return movieBox ? kMov : kNoMatch;
}

FileTypeCode DetectRm(CarveContext&, ByteView s) { return s.size() >= 4 && s.Equals(0, ".RMF") ? kRmvb : kNoMatch; }

FileTypeCode DetectAsf(CarveContext&, ByteView s) {
  return s.size() >= 24 && Bytes(s, 0, kAsfHeader, 16) ? kWmv : kNoMatch;
}

FileTypeCode DetectSwf(CarveContext&, ByteView s) {
  if (s.size() < 8) return kNoMatch;
  uint8_t v = s.U8(3);
  if (s.Equals(0, "CWS") && v >= 6 && v <= 50) return kSwf;
  if (s.Equals(0, "FWS") && v < 6) return kSwf;
  // Uncompressed files are written for later versions too (ffmpeg writes 6
  // and up for Sorenson and VP6 video); for those a length that holds at
  // least the header and the end tag is asked for as well.
  if (s.Equals(0, "FWS") && v <= 50 && s.U32(4) >= 21) return kSwf;
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

// M2TS: 192-byte packets. Cameras open the stream with the program
// association table; other writers (ffmpeg) open it with another table, so a
// run of 192-byte packets whose sync bytes hold over 4 KiB starts one too,
// unless the sector before continues the same packet rhythm.
FileTypeCode DetectMts(CarveContext& ctx, ByteView s) {
  if (s.size() < 16) return kNoMatch;
  if (Bytes(s, 8, kM2tsPat, sizeof kM2tsPat)) return s.U32(0) == 0 || !ctx.m2tsContinuation ? kMts : kNoMatch;
  if (s.U8(4) != 0x47 || (s.U8(5) & 0x80) || s.size() < kM2tsPacket + 5) return kNoMatch;
  for (size_t p = 4; p < s.size(); p += kM2tsPacket)
    if (s.U8(p) != 0x47) return kNoMatch;
  if (!ctx.UsableSectorSize()) return kNoMatch;
  const uint32_t ss = ctx.sectorSize;
  const uint32_t got = ctx.ReadProbe(ctx.currentSector, (4096 + ss - 1) / ss);
  ByteView probe(ctx.lookAhead.Probe(), size_t(got) * ss);
  for (uint32_t i = 0; i < 21; ++i)
    if (!probe.Has(4 + i * kM2tsPacket, 1) || probe.U8(4 + i * kM2tsPacket) != 0x47) return kNoMatch;
  if (ctx.currentSector > 0 && ctx.ReadProbe(ctx.currentSector - 1, 1) == 1) {
    ByteView before(ctx.lookAhead.Probe(), ss);
    if (ss >= kM2tsPacket - 4 && before.U8(ss - (kM2tsPacket - 4)) == 0x47) return kNoMatch;
  }
  if (ctx.InCarvedStream(ctx.currentSector)) return kNoMatch;
  return kMts;
}

// The header partition pack; its byte 14 says whether the partition is open
// or closed, complete or not (1 to 4). A file written to a pipe or still
// being recorded keeps an open one (ffmpeg writes 1 when it cannot seek back).
FileTypeCode DetectMxf(CarveContext&, ByteView s) {
  if (s.size() < 16 || !Bytes(s, 0, kMxfPartition, 14) || s.U8(15) != 0) return kNoMatch;
  return s.U8(14) >= 1 && s.U8(14) <= 4 ? kMxf : kNoMatch;
}

FileTypeCode DetectMp3(CarveContext&, ByteView s) {
  if (s.size() < 10 || !s.Equals(0, "ID3") || s.U8(3) == 0xFF || s.U8(4) == 0xFF || (s.U8(5) & 0x1F)) return kNoMatch;
  for (size_t i = 6; i < 10; ++i)
    if (s.U8(i) >= 0x80) return kNoMatch;
  return kMp3;
}

// An MPEG audio frame header (layers I to III): the frame's length, or 0
// when the header is not valid.
uint32_t MpegAudioFrameBytes(ByteView s, size_t at) {
  if (!s.Has(at, 4) || s.U8(at) != 0xFF || (s.U8(at + 1) & 0xE0) != 0xE0) return 0;
  const uint32_t version = (s.U8(at + 1) >> 3) & 3;  // 0: 2.5, 2: 2, 3: 1
  const uint32_t layer = (s.U8(at + 1) >> 1) & 3;    // 1: III, 2: II, 3: I
  const uint32_t rateIndex = s.U8(at + 2) >> 4, freqIndex = (s.U8(at + 2) >> 2) & 3;
  const uint32_t padding = (s.U8(at + 2) >> 1) & 1;
  if (version == 1 || layer == 0 || rateIndex == 0 || rateIndex == 15 || freqIndex == 3) return 0;
  static const uint16_t kRates[2][3][15] = {
      // MPEG-1: layer I, II, III
      {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
       {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
       {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
      // MPEG-2 and 2.5
      {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
  static const uint32_t kFreqs[3] = {44100, 48000, 32000};
  const bool mpeg1 = version == 3;
  const uint32_t freq = kFreqs[freqIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
  const uint32_t kbps = kRates[mpeg1 ? 0 : 1][3 - layer][rateIndex];
  if (layer == 3) return (12000 * kbps / freq + padding) * 4;  // layer I: 4-byte slots
  const uint32_t perFrame = (layer == 1 && !mpeg1) ? 72000 : 144000;
  return perFrame * kbps / freq + padding;
}

// An MP3 (layer III) or MP2 (layer II) without a tag starts with its first
// frame. One header alone is a few bits of chance, so where the next frame
// fits in the sector it must follow right where the first one ends; a first
// frame longer than the sector is taken on its header.
bool NamedMpegAudioStart(ByteView s, uint32_t layer) {
  const uint32_t first = MpegAudioFrameBytes(s, 0);
  if (first == 0 || ((s.U8(1) >> 1) & 3) != layer) return false;
  if (!s.Has(first, 4)) return true;
  return MpegAudioFrameBytes(s, first) != 0 && (s.U8(first + 1) & 0xFE) == (s.U8(1) & 0xFE) &&
         (s.U8(first + 2) & 0x0C) == (s.U8(2) & 0x0C);
}
bool NamedMp3Start(ByteView s) { return NamedMpegAudioStart(s, 1); }
bool NamedMp2Start(ByteView s) { return NamedMpegAudioStart(s, 2); }

// A transport stream of 192-byte packets (a 4-byte time code before each
// 188-byte packet), as cameras and ffmpeg's m2ts mode write it: its first
// packet need not be the program table that starts a carve.
bool NamedM2tsStart(ByteView s) {
  if (s.size() < 400) return false;
  for (size_t p = 4; p + 1 < s.size(); p += 192)
    if (s.U8(p) != 0x47) return false;
  return true;
}

// A wave file whose first chunk is not "fmt " (a "JUNK", "bext" or "LIST"
// chunk first), or the 64-bit "RF64" form ffmpeg writes for long recordings.
bool NamedWavStart(ByteView s) {
  return s.size() >= 16 && (s.Equals(0, "RIFF") || s.Equals(0, "RF64")) && s.Equals(8, "WAVE");
}

FileTypeCode DetectMid(CarveContext&, ByteView s) {
  return s.size() >= 16 && s.Equals(0, "MThd") && s.B32(4) == 6 && s.Equals(14, "MTrk") ? kMid : kNoMatch;
}

FileTypeCode DetectApe(CarveContext&, ByteView s) { return s.size() >= 4 && s.Equals(0, "MAC ") ? kApe : kNoMatch; }

// MP2: the frame header of 384 kbit/s at 48 kHz in stereo alone, as always;
// any other Layer II frame header with two more frames right after it (the
// bit rate, sample rate and channel mode are the encoder's choice: ffmpeg's
// defaults were never found). Frames past the sector are read through the
// probe area.
FileTypeCode DetectMp2(CarveContext& ctx, ByteView s) {
  if (s.size() < 4 || s.U8(0) != 0xFF || (s.U8(1) & 0xE6) != 0xE4) return kNoMatch;
  if (s.Equals(0, "\xFF\xFD\xE4\x00"sv)) return kMp2;
  uint64_t at = 0;
  for (int frame = 0; frame < 3; ++frame) {
    uint8_t h[4];
    if (s.Has(at, 4)) {
      std::copy_n(s.data() + at, 4, h);
    } else {
      ByteView v = ctx.ReadFileBytes(ctx.currentSector, at, 4);
      if (v.size() != 4) return kNoMatch;
      std::copy_n(v.data(), 4, h);
    }
    const uint32_t length = Mp2FrameLength(h);
    if (length < 4) return kNoMatch;
    at += length;
  }
  return kMp2;
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

// M2TS: the run of 192-byte packets whose sync byte (after the 4-byte time
// stamp) holds, counted from the start of the file.
class M2tsEnd : public EndSearch {
 public:
  bool Search(CarveContext&, ByteView b, uint64_t off, uint64_t& end) override {
    const uint64_t limit = off + b.size();
    while (next_ + 4 < limit) {
      if (next_ + 4 >= off && b.data()[next_ + 4 - off] != 0x47) {
        end = next_;
        return true;
      }
      next_ += kM2tsPacket;
    }
    return false;
  }
  bool HoldsHeaderAt(CarveContext&, ByteView, uint64_t, uint64_t) override { return false; }
  uint64_t next_ = 0;
};

void RememberStream(CarveContext& ctx, uint64_t size) {
  if (size > 0 && ctx.UsableSectorSize()) {
    uint64_t sectors = (size + ctx.sectorSize - 1) / ctx.sectorSize;
    ctx.streamRanges.push_back({ctx.candidateStart, ctx.candidateStart + sectors - 1});
  }
}

}  // namespace

const DetectorInfo kMpegDetector{DetectMpeg, {0x00, -1, -1, -1}};
// The box type follows its size: "ftyp" (or "moov") at offset 4.
const DetectorInfo kMp4Detector{DetectMp4, {-1, -1, -1, -1}, true, nullptr, {'f', -1}};
const DetectorInfo kRmDetector{DetectRm, {'.', -1, -1, -1}};
const DetectorInfo kAsfDetector{DetectAsf, {0x30, -1, -1, -1}};
const DetectorInfo kSwfDetector{DetectSwf, {'C', 'F', -1, -1}};
const DetectorInfo kAviDetector{DetectAvi, {'R', -1, -1, -1}};
const DetectorInfo kFlvDetector{DetectFlv, {'F', -1, -1, -1}};
const DetectorInfo k3gpDetector{Detect3gp, {-1, -1, -1, -1}, true, nullptr, {'f', -1}};
const DetectorInfo kMkvDetector{DetectMkv, {0x1A, -1, -1, -1}};
namespace {
// Any sector starting with a sync byte may be a stream's: the sectors around
// it and the streams carved so far decide.
bool TsLooksFurther(ByteView) { return true; }
// The table that opens a camera's stream (the flag of the pass decides), or
// a first packet's sync byte (the next 4 KiB decide).
bool MtsLooksFurther(ByteView s) {
  return s.size() >= 16 && (Bytes(s, 8, kM2tsPat, sizeof kM2tsPat) || s.U8(4) == 0x47);
}
// A Layer II frame header: the frames after it decide.
bool Mp2LooksFurther(ByteView s) { return s.size() >= 4 && s.U8(0) == 0xFF && (s.U8(1) & 0xE6) == 0xE4; }
}  // namespace
const DetectorInfo kTsDetector{DetectTs, {0x47, -1, -1, -1}, false, nullptr, {-1, -1}, TsLooksFurther};
const DetectorInfo kMtsDetector{DetectMts, {-1, -1, -1, -1}, true, NamedM2tsStart, {-1, -1}, MtsLooksFurther};
const DetectorInfo kMxfDetector{DetectMxf, {0x06, -1, -1, -1}};
const DetectorInfo kMp3Detector{DetectMp3, {'I', -1, -1, -1}, false, NamedMp3Start};
const DetectorInfo kMidDetector{DetectMid, {'M', -1, -1, -1}};
const DetectorInfo kApeDetector{DetectApe, {'M', -1, -1, -1}};
const DetectorInfo kWavDetector{DetectWav, {'R', -1, -1, -1}, false, NamedWavStart};
const DetectorInfo kMovDetector{DetectMov, {-1, -1, -1, -1}, true, nullptr, {'f', 'm'}};
const DetectorInfo kMp2Detector{DetectMp2, {0xFF, -1, -1, -1}, false, NamedMp2Start, {-1, -1}, Mp2LooksFurther};
const DetectorInfo kMmfDetector{DetectMmf, {'M', -1, -1, -1}};

// The rules below follow the file's structure to its exact end where it
// holds, whatever lies in the rest of its last sector, and fall back on the
// format's end marker or the next header where it breaks. (The next header
// alone made every such file run on over the old data after it.)
uint64_t MpegSize(CarveContext& ctx, ByteView s) {
  MpegEnd markers(Bytes(s, 0, kSequenceStart, 4));
  MpegPsWalk walk;
  return SizeByWalk(ctx, s, kCap6GiB, walk, &markers, kMpeg);
}

// A movie without both its movie box and its media data, or whose boxes run
// past where it could be read, is partial.
uint64_t Mp4Size(CarveContext& ctx, ByteView s) {
  RecordEnd markers(kIsoMediaTail, sizeof kIsoMediaTail, true);
  IsoMediaWalk walk;
  return SizeByClosingWalk(ctx, s, kCap6GiB, walk, &markers);
}

uint64_t IsoMediaSize(CarveContext& ctx, ByteView s) {
  IsoMediaWalk walk;
  return SizeByClosingWalk(ctx, s, kCap6GiB, walk, nullptr);
}

uint64_t RmSize(CarveContext& ctx, ByteView s) {
  RecordEnd markers(kRmIndex, sizeof kRmIndex, false);
  RealMediaWalk walk;
  return SizeByWalk(ctx, s, kCap6GiB, walk, &markers);
}

uint64_t FlvSize(CarveContext& ctx, ByteView s) {
  FlvWalk walk;
  return SizeByWalk(ctx, s, kCap6GiB, walk, nullptr);
}

uint64_t MkvSize(CarveContext& ctx, ByteView s) {
  EbmlWalk walk;
  return SizeByWalk(ctx, s, kCap64GiB, walk, nullptr);
}

uint64_t MxfSize(CarveContext& ctx, ByteView s) {
  MxfWalk walk;
  return SizeByWalk(ctx, s, kCap6GiB, walk, nullptr);
}

// The packets of the stream repeat the bytes that identify it: they do not
// end it, and once carved its sectors start no new file.
uint64_t MtsSize(CarveContext& ctx, ByteView s) {
  M2tsEnd search;
  uint64_t size = RunScanFrame(ctx, s, kCap6GiB, &search, kMts);
  RememberStream(ctx, size);
  return size;
}

// SMAF: the "MMMD" chunk's length covers the whole file.
uint64_t MmfSize(CarveContext& ctx, ByteView s) {
  const uint64_t size = uint64_t(s.B32(4)) + 8;
  if (size > 16 && size <= kCap512MiB) return size;
  return RunScanFrame(ctx, s, kCap512MiB, nullptr);
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
  RememberStream(ctx, size);
  return size;
}

uint64_t Mp3Size(CarveContext& ctx, ByteView s) {
  Id3v1End search;
  uint64_t size = RunScanFrame(ctx, s, kCap2GiB, &search);
  return search.candidate && search.candidate < size ? search.candidate : size;
}

// MIDI: the chunks to the last track's end-of-track event. (Counting track
// chunks alone ended a file whose track reached past the first sector at
// that sector.) A broken chain runs to the next header.
uint64_t MidSize(CarveContext& ctx, ByteView s) {
  MidiWalk walk;
  return SizeByWalk(ctx, s, kCap8MiB, walk, nullptr);
}

uint64_t ApeSize(CarveContext& ctx, ByteView s) {
  ApeEnd search;
  return RunScanFrame(ctx, s, kCap2GiB, &search);
}

// An MP2 stream is nothing but frames, and every fourth frame starts a sector
// with the very bytes that identify the format; those frames do not end it.
uint64_t Mp2Size(CarveContext& ctx, ByteView s) {
  Mp2Walk walk;
  return SizeByWalk(ctx, s, kCap512MiB, walk, nullptr, kMp2);
}

}  // namespace dunmere
