// exFAT directory entries as the quick scan meets them: every offset of the
// bytes is tried as the start of a file's entry set (in use or deleted), and
// the root's entries of the bitmap, the up-case table and the label.
#include <cstdint>
#include <string>

#include "exfat/exfat_dir_entry.h"
#include "exfat/exfat_timestamps.h"
#include "exfat/exfat_upcase.h"

using namespace dunmere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteView all(data, size);
  ExfatUpcaseTable none;
  for (size_t at = 0; at + kExfatEntrySize <= size; at += kExfatEntrySize) {
    ByteView from = all.Sub(at, kExfatMaxSetBytes);
    ExfatFileSet set;
    const ExfatSetState state = ParseExfatFileSet(from, set);
    if (state == ExfatSetState::kValid || state == ExfatSetState::kBadChecksum) {
      // A whole set is inside the bytes given, and its name within its length.
      if (set.Bytes() > from.size() || set.name.size() > set.nameLength || set.entryCount < 3) __builtin_trap();
      const std::string name = ExfatNameToUtf8(set.name);
      if (name.find('/') != std::string::npos) __builtin_trap();
      (void)ExfatNameHash(set.name, none);
      (void)DecodeExfatTimes(from);
      (void)ExfatSetChecksum(from.Sub(0, set.Bytes()), true);
    }
    ByteView e = all.Sub(at, kExfatEntrySize);
    ExfatDataEntry d;
    (void)ParseBitmapEntry(e, d);
    (void)ParseUpcaseEntry(e, d);
    std::string label;
    (void)ParseVolumeLabel(e, label);
  }
  return 0;
}
