#pragma once
// FILE records of the master file table: the header, the update-sequence
// fix-up and the walk over the attributes. Every offset and length read from
// the record is checked against the record before it is used.
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/bytes.h"
#include "base/status.h"

namespace dunmere {

#pragma pack(push, 1)
struct FileRecordHeader {
  char signature[4];  // "FILE"
  uint16_t usaOffset;
  uint16_t usaCount;  // entries, the sequence number included
  uint64_t logSequence;
  uint16_t sequenceNumber;
  uint16_t linkCount;
  uint16_t firstAttribute;
  uint16_t flags;  // bit 0 in use, bit 1 directory
  uint32_t bytesInUse;
  uint32_t bytesAllocated;
  uint64_t baseRecord;  // 0 for a base record
  uint16_t nextAttributeId;
  uint16_t padding;
  uint32_t recordNumber;  // NTFS 3.1 and later
};

struct AttributeHeader {
  uint32_t type;
  uint32_t length;
  uint8_t nonResident;
  uint8_t nameLength;
  uint16_t nameOffset;
  uint16_t flags;  // 0x00FF compression, 0x4000 encrypted, 0x8000 sparse
  uint16_t id;
};

struct ResidentAttributeHeader {
  AttributeHeader common;
  uint32_t valueLength;
  uint16_t valueOffset;
  uint8_t indexedFlag;
  uint8_t padding;
};

struct NonResidentAttributeHeader {
  AttributeHeader common;
  uint64_t lowestVcn;
  uint64_t highestVcn;
  uint16_t runListOffset;
  uint8_t compressionUnit;  // log2 of clusters per compression unit
  uint8_t padding[5];
  uint64_t allocatedSize;
  uint64_t realSize;
  uint64_t initializedSize;
};
#pragma pack(pop)
static_assert(sizeof(FileRecordHeader) == 48);
static_assert(offsetof(FileRecordHeader, usaOffset) == 4);
static_assert(offsetof(FileRecordHeader, sequenceNumber) == 16);
static_assert(offsetof(FileRecordHeader, firstAttribute) == 20);
static_assert(offsetof(FileRecordHeader, flags) == 22);
static_assert(offsetof(FileRecordHeader, bytesInUse) == 24);
static_assert(offsetof(FileRecordHeader, baseRecord) == 32);
static_assert(offsetof(FileRecordHeader, recordNumber) == 44);
static_assert(sizeof(AttributeHeader) == 16);
static_assert(sizeof(ResidentAttributeHeader) == 24);
static_assert(offsetof(ResidentAttributeHeader, valueOffset) == 20);
static_assert(sizeof(NonResidentAttributeHeader) == 64);
static_assert(offsetof(NonResidentAttributeHeader, runListOffset) == 32);
static_assert(offsetof(NonResidentAttributeHeader, compressionUnit) == 34);
static_assert(offsetof(NonResidentAttributeHeader, realSize) == 48);
static_assert(offsetof(NonResidentAttributeHeader, initializedSize) == 56);

inline constexpr uint16_t kRecordInUse = 0x0001;
inline constexpr uint16_t kRecordIsDirectory = 0x0002;

inline constexpr uint32_t kAttrAttributeList = 0x20;
inline constexpr uint32_t kAttrFileName = 0x30;
inline constexpr uint32_t kAttrData = 0x80;
inline constexpr uint32_t kAttrIndexAllocation = 0xA0;
inline constexpr uint32_t kAttrEnd = 0xFFFFFFFFu;

inline constexpr uint16_t kAttrFlagCompressed = 0x00FF;
inline constexpr uint16_t kAttrFlagEncrypted = 0x4000;

// The fix-up stride is a property of NTFS, not of the disk: one entry per
// 512 bytes of the record, whatever the sector size.
inline constexpr uint32_t kFixupStride = 512;

inline bool HasFileSignature(ByteView rec) { return rec.Equals(0, "FILE"); }

// Puts the saved sector tails back. 13 when the header's array does not fit
// the record; 23 when a sector tail does not carry the update sequence number
// (a torn or damaged record), in which case the record is left as it was.
Status ApplyFixup(std::span<uint8_t> record);

// One attribute of a record, checked: its bytes lie inside the record, and
// the resident value or the run list lies inside the attribute.
struct AttributeView {
  uint32_t type = 0;
  uint32_t offset = 0;  // in the record
  uint32_t length = 0;
  bool nonResident = false;
  uint8_t nameLength = 0;
  uint16_t flags = 0;
  ByteView name;   // UTF-16LE, nameLength units; empty for an unnamed attribute
  ByteView bytes;  // the whole attribute
  // Resident attributes.
  ByteView value;
  // Non-resident attributes.
  uint64_t lowestVcn = 0, highestVcn = 0;
  uint8_t compressionUnit = 0;
  uint64_t allocatedSize = 0, realSize = 0, initializedSize = 0;
  ByteView runList;  // from the run-list offset to the end of the attribute
};

// Walks the attributes of a record (after the fix-up). The walk ends at the
// end marker, at the end of the bytes in use, or at the first attribute whose
// header does not fit: a damaged attribute ends the walk, never the program.
class AttributeWalker {
 public:
  explicit AttributeWalker(ByteView record);
  // False at the end; `malformed()` then tells whether a damaged header ended it.
  bool Next(AttributeView& out);
  bool malformed() const { return malformed_; }

 private:
  ByteView rec_;
  uint32_t pos_ = 0;
  uint32_t limit_ = 0;
  bool done_ = false;
  bool malformed_ = false;
};

// Header fields of a record that passed the signature test.
struct RecordHeaderInfo {
  uint16_t flags = 0;
  uint16_t sequence = 0;
  uint64_t baseRecord = 0;
};
RecordHeaderInfo ReadRecordHeader(ByteView record);

}  // namespace dunmere
