#include "engine/found_item.h"

#include <cstring>

#include "base/text.h"

namespace dunmere {

FoundItemRecord MakeEmptyRecord() {
  FoundItemRecord r;
  std::memset(&r, 0, sizeof r);
  return r;
}

void SetRecordName(FoundItemRecord& r, std::string_view n) { CopyToField(r.name, sizeof r.name, n); }
std::string RecordName(const FoundItemRecord& r) { return FieldText(r.name, sizeof r.name); }
void SetEntryName(FolderNameEntry& e, std::string_view n) { CopyToField(e.name, sizeof e.name, n); }
std::string EntryName(const FolderNameEntry& e) { return FieldText(e.name, sizeof e.name); }

}  // namespace dunmere
