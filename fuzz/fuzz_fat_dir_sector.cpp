// The tests that tell a sector of FAT directory entries from other data, as
// the deep scan and the carving pass ask them of every sector, and what a
// free cluster of entries shows of itself to the deleted-folder joining.
#include <cstdint>

#include "fat/quick/deleted_folder_ends.h"
#include "fat/dir_entry_tests.h"
#include "fat/fat_dir_entry.h"

using namespace dunmere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteView buf(data, size);
  (void)IsDirectoryCluster(buf);
  (void)IsDotPair(buf);
  for (size_t off = 0; off + kFatDirEntrySize <= size; off += kFatDirEntrySize) {
    ByteView e = buf.Sub(off, kFatDirEntrySize);
    (void)IsPlausibleDirEntry(e);
    (void)IsPlausibleFileWithoutArchive(e);
  }
  (void)DescribeCandidate(7, buf, false);
  (void)DescribeCandidate(7, buf, true);
  return 0;
}
