#pragma once
// The 32-byte FAT directory entry and its long-name variant. Fields are read
// through base/bytes.h at the offsets the layout below fixes.
#include <cstddef>
#include <cstdint>

#include "base/bytes.h"

namespace dunmere {

inline constexpr size_t kFatDirEntrySize = 32;

inline constexpr uint8_t kFatAttrReadOnly = 0x01;
inline constexpr uint8_t kFatAttrVolumeLabel = 0x08;
inline constexpr uint8_t kFatAttrDirectory = 0x10;
inline constexpr uint8_t kFatAttrArchive = 0x20;
inline constexpr uint8_t kFatAttrLongName = 0x0F;
inline constexpr uint8_t kFatDeletedMark = 0xE5;

#pragma pack(push, 1)
struct FatDirEntryLayout {
  uint8_t name[8];
  uint8_t ext[3];
  uint8_t attributes;
  uint8_t reserved;
  uint8_t createHundredths;
  uint8_t createTime[2];
  uint8_t createDate[2];
  uint8_t accessDate[2];
  uint8_t clusterHigh[2];
  uint8_t modifyTime[2];
  uint8_t modifyDate[2];
  uint8_t clusterLow[2];
  uint8_t size[4];
};

struct FatLongNameLayout {
  uint8_t sequence;
  uint8_t units1[10];
  uint8_t attributes;
  uint8_t type;
  uint8_t checksum;
  uint8_t units2[12];
  uint8_t zeroCluster[2];
  uint8_t units3[4];
};
#pragma pack(pop)

static_assert(sizeof(FatDirEntryLayout) == kFatDirEntrySize);
static_assert(offsetof(FatDirEntryLayout, ext) == 8);
static_assert(offsetof(FatDirEntryLayout, attributes) == 11);
static_assert(offsetof(FatDirEntryLayout, createHundredths) == 13);
static_assert(offsetof(FatDirEntryLayout, createTime) == 14);
static_assert(offsetof(FatDirEntryLayout, createDate) == 16);
static_assert(offsetof(FatDirEntryLayout, accessDate) == 18);
static_assert(offsetof(FatDirEntryLayout, clusterHigh) == 20);
static_assert(offsetof(FatDirEntryLayout, modifyTime) == 22);
static_assert(offsetof(FatDirEntryLayout, modifyDate) == 24);
static_assert(offsetof(FatDirEntryLayout, clusterLow) == 26);
static_assert(offsetof(FatDirEntryLayout, size) == 28);
static_assert(sizeof(FatLongNameLayout) == kFatDirEntrySize);
static_assert(offsetof(FatLongNameLayout, units1) == 1);
static_assert(offsetof(FatLongNameLayout, attributes) == 11);
static_assert(offsetof(FatLongNameLayout, checksum) == 13);
static_assert(offsetof(FatLongNameLayout, units2) == 14);
static_assert(offsetof(FatLongNameLayout, units3) == 28);

// Read accessors over one entry; a view shorter than 32 bytes reads zeros.
struct FatDirEntry {
  ByteView b;
  explicit FatDirEntry(ByteView v) : b(v.Sub(0, kFatDirEntrySize)) {}

  bool Complete() const { return b.size() == kFatDirEntrySize; }
  uint8_t First() const { return b.U8(0); }
  uint8_t Attributes() const { return b.U8(offsetof(FatDirEntryLayout, attributes)); }
  bool IsDeleted() const { return First() == kFatDeletedMark; }
  bool IsLongName() const { return Attributes() == kFatAttrLongName; }
  bool IsDirectory() const { return (Attributes() & kFatAttrDirectory) != 0; }
  uint16_t ClusterHigh() const { return b.U16(offsetof(FatDirEntryLayout, clusterHigh)); }
  uint16_t ClusterLow() const { return b.U16(offsetof(FatDirEntryLayout, clusterLow)); }
  uint32_t Size() const { return b.U32(offsetof(FatDirEntryLayout, size)); }
  uint8_t CreateHundredths() const { return b.U8(offsetof(FatDirEntryLayout, createHundredths)); }
  uint16_t CreateTime() const { return b.U16(offsetof(FatDirEntryLayout, createTime)); }
  uint16_t CreateDate() const { return b.U16(offsetof(FatDirEntryLayout, createDate)); }
  uint16_t AccessDate() const { return b.U16(offsetof(FatDirEntryLayout, accessDate)); }
  uint16_t ModifyTime() const { return b.U16(offsetof(FatDirEntryLayout, modifyTime)); }
  uint16_t ModifyDate() const { return b.U16(offsetof(FatDirEntryLayout, modifyDate)); }
  // First cluster from both words (FAT32) or the low word only.
  uint32_t FirstCluster(bool fat32) const {
    return fat32 ? (uint32_t(ClusterHigh()) << 16) | ClusterLow() : ClusterLow();
  }
  uint8_t LfnChecksumByte() const { return b.U8(offsetof(FatLongNameLayout, checksum)); }
  // The 13 UTF-16 units of a long-name entry.
  void LongNameUnits(char16_t out[13]) const {
    int k = 0;
    for (int i = 0; i < 5; ++i) out[k++] = char16_t(b.U16(1 + 2 * i));
    for (int i = 0; i < 6; ++i) out[k++] = char16_t(b.U16(14 + 2 * i));
    for (int i = 0; i < 2; ++i) out[k++] = char16_t(b.U16(28 + 2 * i));
  }
};

}  // namespace dunmere
