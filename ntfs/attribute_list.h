#pragma once
// Entries of an $ATTRIBUTE_LIST: which record holds which piece of which
// attribute, for files whose attributes do not fit in one record.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/bytes.h"

namespace dunmere {

#pragma pack(push, 1)
struct AttributeListEntryHeader {
  uint32_t type;
  uint16_t length;
  uint8_t nameLength;
  uint8_t nameOffset;
  uint64_t lowestVcn;
  uint64_t recordReference;  // record number (48 bits) and sequence (16 bits)
  uint16_t attributeId;
};
#pragma pack(pop)
static_assert(sizeof(AttributeListEntryHeader) == 26);
static_assert(offsetof(AttributeListEntryHeader, lowestVcn) == 8);
static_assert(offsetof(AttributeListEntryHeader, recordReference) == 16);

struct AttributeListEntry {
  uint32_t type = 0;
  uint8_t nameLength = 0;
  ByteView name;  // UTF-16LE, inside the parsed value; empty when it does not fit the entry
  uint64_t lowestVcn = 0;
  uint64_t record = 0;
};

// Parses the entries of a list's value; stops at the end marker or at the
// first entry that is too short or runs past the value. At most `maxEntries`.
std::vector<AttributeListEntry> ParseAttributeList(ByteView value, size_t maxEntries = 65536);

}  // namespace dunmere
