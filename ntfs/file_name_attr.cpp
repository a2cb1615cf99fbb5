#include "ntfs/file_name_attr.h"

#include "base/text.h"

namespace dunmere {

bool ParseFileName(ByteView v, FileNameInfo& out) {
  if (!v.Has(0, sizeof(FileNameValue))) return false;
  size_t units = v.U8(offsetof(FileNameValue, nameLength));
  if (units == 0 || !v.Has(sizeof(FileNameValue), units * 2)) return false;
  uint64_t ref = v.U64(offsetof(FileNameValue, parentReference));
  out.parentRecord = ref & 0x0000FFFFFFFFFFFFull;
  out.parentSequence = uint16_t(ref >> 48);
  out.created = v.U64(offsetof(FileNameValue, created));
  out.modified = v.U64(offsetof(FileNameValue, modified));
  out.accessed = v.U64(offsetof(FileNameValue, accessed));
  out.realSize = v.U64(offsetof(FileNameValue, realSize));
  out.nameSpace = v.U8(offsetof(FileNameValue, nameSpace));
  std::u16string name(units, u'\0');
  for (size_t i = 0; i < units; ++i) name[i] = char16_t(v.U16(sizeof(FileNameValue) + 2 * i));
  out.name = Utf16ToUtf8(name.data(), name.size());
  return true;
}

}  // namespace dunmere
