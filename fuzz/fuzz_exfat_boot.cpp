// The exFAT boot region: sector 0's geometry and the region's checksum, over
// any sector size the fields may claim.
#include <cstdint>

#include "exfat/exfat_boot_sector.h"

using namespace dunmere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteView region(data, size);
  (void)IsExfatBootSector(region);
  ExfatGeometry g;
  // The area the volume lies in: a few sectors to far more than it claims.
  g.areaSectors = size > 0 ? uint64_t(data[0]) << (size > 1 ? data[1] % 40 : 0) : 0;
  g.partitionStart = size > 2 ? data[2] : 0;
  if (ParseExfatBootSector(region, g) == kOk) {
    // What a parsed geometry promises the engine that divides and multiplies by it.
    if (g.bytesPerSector < 512 || g.bytesPerSector > 4096 || g.ClusterBytes() == 0 ||
        g.ClusterBytes() > (32u << 20) || !g.ValidCluster(g.rootCluster) || g.clusterCount == 0)
      __builtin_trap();
    for (uint32_t c : {2u, g.rootCluster, g.MaxCluster()}) (void)g.ClusterOffset(c);
    (void)g.EndByteOffset();
    (void)g.FatByteOffset();
    (void)ExfatBootRegionChecksumOk(region, g.bytesPerSector);
  }
  (void)ExfatBootRegionChecksumOk(region, 512);
  (void)ExfatBootChecksum(region);
  return 0;
}
