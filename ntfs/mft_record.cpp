#include "ntfs/mft_record.h"

namespace dunmere {

Status ApplyFixup(std::span<uint8_t> record) {
  ByteView v(record.data(), record.size());
  if (!HasFileSignature(v)) return kInvalidData;
  uint32_t usaOffset = v.U16(offsetof(FileRecordHeader, usaOffset));
  uint32_t usaCount = v.U16(offsetof(FileRecordHeader, usaCount));
  if (usaCount < 2 || (usaOffset & 1) || !v.Has(usaOffset, size_t(usaCount) * 2)) return kInvalidData;
  uint32_t sectors = usaCount - 1;
  if (size_t(sectors) * kFixupStride > record.size()) return kInvalidData;
  uint16_t usn = v.U16(usaOffset);
  // Check every tail first, so a torn record is left untouched.
  for (uint32_t i = 1; i <= sectors; ++i) {
    size_t tail = size_t(i) * kFixupStride - 2;
    if (tail < usaOffset + size_t(usaCount) * 2 && tail + 2 > usaOffset) return kInvalidData;
    if (v.U16(tail) != usn) return kCrcError;
  }
  for (uint32_t i = 1; i <= sectors; ++i) {
    size_t tail = size_t(i) * kFixupStride - 2;
    uint8_t* p = record.data() + tail;
    const uint8_t* saved = record.data() + usaOffset + 2 * i;
    p[0] = saved[0];
    p[1] = saved[1];
  }
  return kOk;
}

AttributeWalker::AttributeWalker(ByteView record) : rec_(record) {
  pos_ = rec_.U16(offsetof(FileRecordHeader, firstAttribute));
  uint32_t inUse = rec_.U32(offsetof(FileRecordHeader, bytesInUse));
  limit_ = inUse < rec_.size() ? inUse : uint32_t(rec_.size());
  if (pos_ < sizeof(FileRecordHeader) - 4 || pos_ >= limit_) done_ = true;
}

bool AttributeWalker::Next(AttributeView& a) {
  if (done_) return false;
  ByteView window = rec_.Sub(0, limit_);
  auto fail = [&] {
    done_ = true;
    malformed_ = true;
    return false;
  };
  if (!window.Has(pos_, 4)) return fail();
  uint32_t type = window.U32(pos_);
  if (type == kAttrEnd) {
    done_ = true;
    return false;
  }
  if (!window.Has(pos_, sizeof(AttributeHeader))) return fail();
  uint32_t len = window.U32(pos_ + offsetof(AttributeHeader, length));
  if (type == 0 || len < sizeof(AttributeHeader) || (len & 7) || !window.Has(pos_, len)) return fail();
  a = AttributeView{};
  a.type = type;
  a.offset = pos_;
  a.length = len;
  a.bytes = window.Sub(pos_, len);
  a.nonResident = a.bytes.U8(offsetof(AttributeHeader, nonResident)) != 0;
  a.nameLength = a.bytes.U8(offsetof(AttributeHeader, nameLength));
  a.flags = a.bytes.U16(offsetof(AttributeHeader, flags));
  uint32_t nameOff = a.bytes.U16(offsetof(AttributeHeader, nameOffset));
  if (a.nameLength && !a.bytes.Has(nameOff, size_t(a.nameLength) * 2)) return fail();
  if (a.nameLength) a.name = a.bytes.Sub(nameOff, size_t(a.nameLength) * 2);
  if (!a.nonResident) {
    if (len < sizeof(ResidentAttributeHeader)) return fail();
    uint32_t vlen = a.bytes.U32(offsetof(ResidentAttributeHeader, valueLength));
    uint32_t voff = a.bytes.U16(offsetof(ResidentAttributeHeader, valueOffset));
    if (!a.bytes.Has(voff, vlen)) return fail();
    a.value = a.bytes.Sub(voff, vlen);
  } else {
    if (len < sizeof(NonResidentAttributeHeader)) return fail();
    a.lowestVcn = a.bytes.U64(offsetof(NonResidentAttributeHeader, lowestVcn));
    a.highestVcn = a.bytes.U64(offsetof(NonResidentAttributeHeader, highestVcn));
    a.compressionUnit = a.bytes.U8(offsetof(NonResidentAttributeHeader, compressionUnit));
    a.allocatedSize = a.bytes.U64(offsetof(NonResidentAttributeHeader, allocatedSize));
    a.realSize = a.bytes.U64(offsetof(NonResidentAttributeHeader, realSize));
    a.initializedSize = a.bytes.U64(offsetof(NonResidentAttributeHeader, initializedSize));
    uint32_t runOff = a.bytes.U16(offsetof(NonResidentAttributeHeader, runListOffset));
    // Extension pieces (lowest VCN above 0) carry no sizes; only the run list matters.
    if (runOff < 0x40 || runOff > len) return fail();
    a.runList = a.bytes.Sub(runOff, len - runOff);
  }
  pos_ += len;
  if (pos_ >= limit_) done_ = true;
  return true;
}

RecordHeaderInfo ReadRecordHeader(ByteView r) {
  RecordHeaderInfo h;
  h.flags = r.U16(offsetof(FileRecordHeader, flags));
  h.sequence = r.U16(offsetof(FileRecordHeader, sequenceNumber));
  h.baseRecord = r.U64(offsetof(FileRecordHeader, baseRecord)) & 0x0000FFFFFFFFFFFFull;
  return h;
}

}  // namespace dunmere
