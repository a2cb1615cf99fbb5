#include "ntfs/attribute_list.h"

namespace dunmere {

std::vector<AttributeListEntry> ParseAttributeList(ByteView v, size_t maxEntries) {
  std::vector<AttributeListEntry> out;
  size_t pos = 0;
  while (out.size() < maxEntries && v.Has(pos, sizeof(AttributeListEntryHeader))) {
    uint32_t type = v.U32(pos);
    uint16_t len = v.U16(pos + offsetof(AttributeListEntryHeader, length));
    if (type == 0 || type == 0xFFFFFFFFu || len < sizeof(AttributeListEntryHeader) || !v.Has(pos, len)) break;
    AttributeListEntry e;
    e.type = type;
    e.nameLength = v.U8(pos + offsetof(AttributeListEntryHeader, nameLength));
    const size_t nameOff = v.U8(pos + offsetof(AttributeListEntryHeader, nameOffset));
    if (e.nameLength && nameOff + size_t(e.nameLength) * 2 <= len)
      e.name = v.Sub(pos + nameOff, size_t(e.nameLength) * 2);
    e.lowestVcn = v.U64(pos + offsetof(AttributeListEntryHeader, lowestVcn));
    e.record = v.U64(pos + offsetof(AttributeListEntryHeader, recordReference)) & 0x0000FFFFFFFFFFFFull;
    out.push_back(e);
    pos += len;
  }
  return out;
}

}  // namespace dunmere
