// The FAT boot sector: the volume's geometry, clipped to the area it lies in.
#include <cstdint>

#include "fat/fat_boot_sector.h"

using namespace dunmere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  ByteView boot(data + 2, size - 2);
  (void)IsFatBootSector(boot);
  // The first two bytes choose the area's length and the device's sector size.
  static const uint32_t kDeviceSectors[] = {512, 4096, 1024, 2048};
  uint64_t areaSectors = data[0] & 0x80 ? (uint64_t(data[0] & 0x7F) << 20) : uint64_t(data[0]) * 64 + 1;
  FatVolumeGeometry g;
  if (ReadFatGeometry(boot, data[1] >> 2, areaSectors, kDeviceSectors[data[1] & 3], g) == kOk) {
    // What a parsed geometry promises the engines that divide and multiply by it.
    if (g.bytesPerSector == 0 || g.sectorsPerCluster == 0 || g.ClusterBytes() == 0) __builtin_trap();
    for (uint32_t c : {2u, g.MaxCluster(), g.MaxCluster() + 1, 0u, 0xFFFFFFFFu}) (void)ClusterToOffset(g, c);
    (void)g.DataBytes();
    (void)g.RootAreaOffset();
  }
  return 0;
}
