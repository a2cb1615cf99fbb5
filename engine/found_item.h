#pragma once
// The fixed 346-byte record every engine reports, identical in memory and in
// every scan log, plus the relation key and the per-folder name entry.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace dunmere {

static_assert(std::endian::native == std::endian::little,
              "scan logs store records in host order, which must be little-endian");

enum SourceKind : uint32_t {
  kSourceQuickNtfs = 0,
  kSourceQuickFat = 1,
  kSourceDeepNtfs = 2,
  kSourceDeepFat = 3,
  kSourceCarving = 4,
  kSourceQuickExfat = 5,
  kSourceDeepExfat = 6,
};

inline constexpr size_t kNameFieldSize = 260;

// FoundItemRecord::contentOk. Logs written before there was a third value
// hold only the first two, which keep their meaning.
inline constexpr uint32_t kContentMismatch = 0;  // the first bytes are not of the format the name promises
inline constexpr uint32_t kContentOk = 1;        // they are, or cannot be judged
// A carved file whose own structure does not close: cut short, or its end a
// guess. What there is of it is copied out, reported as partial.
inline constexpr uint32_t kContentPartial = 2;
inline constexpr uint32_t kNoClusterSize = 0xFFFFFFFFu;

#pragma pack(push, 1)
struct FoundItemRecord {
  uint16_t sourceTag;
  uint32_t sourceKind;
  uint32_t isFolder;
  uint32_t deletedFlag;
  uint32_t contentOk;
  uint32_t recordIndex;
  uint32_t itemId;
  uint32_t clusterBytes;
  uint64_t created;
  uint64_t accessed;
  uint64_t modified;
  uint64_t size;
  uint64_t dataAreaStart;
  uint64_t location;
  uint64_t partitionStart;
  char name[kNameFieldSize];
};

struct FolderNameEntry {
  uint32_t itemId;
  uint32_t recordIndex;
  char name[kNameFieldSize];
};
#pragma pack(pop)

static_assert(sizeof(FoundItemRecord) == 346);
static_assert(offsetof(FoundItemRecord, sourceKind) == 2);
static_assert(offsetof(FoundItemRecord, isFolder) == 6);
static_assert(offsetof(FoundItemRecord, deletedFlag) == 10);
static_assert(offsetof(FoundItemRecord, contentOk) == 14);
static_assert(offsetof(FoundItemRecord, recordIndex) == 18);
static_assert(offsetof(FoundItemRecord, itemId) == 22);
static_assert(offsetof(FoundItemRecord, clusterBytes) == 26);
static_assert(offsetof(FoundItemRecord, created) == 30);
static_assert(offsetof(FoundItemRecord, accessed) == 38);
static_assert(offsetof(FoundItemRecord, modified) == 46);
static_assert(offsetof(FoundItemRecord, size) == 54);
static_assert(offsetof(FoundItemRecord, dataAreaStart) == 62);
static_assert(offsetof(FoundItemRecord, location) == 70);
static_assert(offsetof(FoundItemRecord, partitionStart) == 78);
static_assert(offsetof(FoundItemRecord, name) == 86);
static_assert(sizeof(FolderNameEntry) == 268);
static_assert(offsetof(FolderNameEntry, name) == 8);

inline constexpr size_t kRecordSize = sizeof(FoundItemRecord);

// Low 32 bits: the parent's itemId; high 32 bits: the depth level of the children.
using RelationKey = uint64_t;
inline constexpr RelationKey MakeRelationKey(uint32_t parentId, uint32_t level) {
  return (uint64_t(level) << 32) | parentId;
}
inline constexpr uint32_t RelationParent(RelationKey k) { return uint32_t(k); }
inline constexpr uint32_t RelationLevel(RelationKey k) { return uint32_t(k >> 32); }

// A zeroed record.
FoundItemRecord MakeEmptyRecord();
void SetRecordName(FoundItemRecord& r, std::string_view utf8Name);
std::string RecordName(const FoundItemRecord& r);
void SetEntryName(FolderNameEntry& e, std::string_view utf8Name);
std::string EntryName(const FolderNameEntry& e);

}  // namespace dunmere
