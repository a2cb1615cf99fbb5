// FAT directory entries as the deep scan parses a directory buffer: short
// names, long names assembled from their parts, time stamps; and the quick
// scan's own long-name assembly over the same bytes.
#include <cstdint>
#include <string>

#include "fat/dir_entry_tests.h"
#include "fat/fat_dir_entry.h"
#include "fat/fat_names.h"
#include "fat/fat_timestamps.h"
#include "fat/deep/dir_buffer.h"

using namespace dunmere;

namespace {
class Sink : public FatDirEntrySink {
 public:
  void OnDirEnd(uint32_t) override {}
  void OnFolderEntry(ByteView entry, const std::string& name, uint32_t, uint64_t) override { Look(entry, name); }
  void OnFileEntry(ByteView entry, const std::string& name, uint32_t, uint64_t) override { Look(entry, name); }

 private:
  static void Look(ByteView entry, const std::string& name) {
    (void)FormatShortName(entry, true);
    (void)DecodeFatTimestamps(entry);
  }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[0];
  ByteView buf(data + 1, size - 1);
  FatBufferPlace place;
  place.cluster = choice & 0x0F;
  place.dirSector = 100;
  place.firstSector = 100;
  if (choice & 0x10) {
    place.joinAt = (size_t(choice) * 32) % (buf.size() + 1);
    place.joinSector = 101;
  }
  static const uint32_t kSectorSizes[] = {512, 4096, 32, 1024};
  Sink sink;
  (void)ParseFatDirBuffer(buf, place, kSectorSizes[(choice >> 5) & 3], 2, sink);
  // The quick scan's way: long-name parts collected before their short entry.
  LongNameAssembler lfn;
  for (size_t off = 0; off + kFatDirEntrySize <= buf.size(); off += kFatDirEntrySize) {
    ByteView e = buf.Sub(off, kFatDirEntrySize);
    if (e.U8(11) == kFatAttrLongName) {
      if (!lfn.Add(e)) lfn.Reset();
      continue;
    }
    (void)FormatShortName(e, e.U8(11) & kFatAttrDirectory);
    (void)LfnChecksum(e.Sub(0, 11));
    (void)DecodeFatTimestamps(e);
    if (!lfn.Empty()) (void)lfn.Take();
    lfn.Reset();
  }
  return 0;
}
