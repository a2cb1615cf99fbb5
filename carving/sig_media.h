#pragma once
// Audio and video formats: MPEG program streams, the ISO/QuickTime family,
// RealMedia, ASF, SWF, RIFF (AVI, WAV), FLV, Matroska, transport streams
// (TS, M2TS), MXF, MP3, MIDI, APE, MP2 and SMAF.
#include "carving/signature_table.h"

namespace dunmere {

extern const DetectorInfo kMpegDetector, kMp4Detector, kRmDetector, kAsfDetector, kSwfDetector, kAviDetector,
    kFlvDetector, k3gpDetector, kMkvDetector, kTsDetector, kMtsDetector, kMxfDetector, kMp3Detector,
    kMidDetector, kApeDetector, kWavDetector, kMovDetector, kMp2Detector, kMmfDetector;

uint64_t MpegSize(CarveContext& ctx, ByteView sector);
uint64_t Mp4Size(CarveContext& ctx, ByteView sector);
uint64_t RmSize(CarveContext& ctx, ByteView sector);
uint64_t AsfSize(CarveContext& ctx, ByteView sector);
uint64_t SwfSize(CarveContext& ctx, ByteView sector);
uint64_t RiffSize(CarveContext& ctx, ByteView sector);
uint64_t TsSize(CarveContext& ctx, ByteView sector);
uint64_t Mp3Size(CarveContext& ctx, ByteView sector);
uint64_t MidSize(CarveContext& ctx, ByteView sector);
uint64_t ApeSize(CarveContext& ctx, ByteView sector);
uint64_t Mp2Size(CarveContext& ctx, ByteView sector);
uint64_t IsoMediaSize(CarveContext& ctx, ByteView sector);  // 3gp, mov
uint64_t FlvSize(CarveContext& ctx, ByteView sector);
uint64_t MkvSize(CarveContext& ctx, ByteView sector);
uint64_t MxfSize(CarveContext& ctx, ByteView sector);
uint64_t MtsSize(CarveContext& ctx, ByteView sector);
uint64_t MmfSize(CarveContext& ctx, ByteView sector);

}  // namespace dunmere
