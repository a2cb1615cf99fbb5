// The NTFS boot sector: the numbers that place the master file table.
#include <cstdint>

#include "ntfs/ntfs_boot_sector.h"

using namespace dunmere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteView boot(data, size);
  (void)IsNtfsBootSector(boot);
  NtfsBootInfo info;
  if (ParseNtfsBootSector(boot, info) == kOk) {
    // What a parsed boot sector promises the engines that divide by it.
    if (info.bytesPerSector == 0 || info.clusterBytes == 0 || info.recordBytes == 0) __builtin_trap();
  }
  if (size >= 14) (void)DecodeNtfsSectorsPerCluster(data[13], uint32_t(data[11] | data[12] << 8));
  return 0;
}
