#include "platform/volume_probe.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace dunmere {

namespace {

void ReadProbeValues(blkid_probe pr, SuperblockProbe& out) {
  const char* v = nullptr;
  size_t len = 0;
  if (blkid_probe_lookup_value(pr, "TYPE", &v, &len) == 0 && v) out.type = v;
  if (blkid_probe_lookup_value(pr, "VERSION", &v, &len) == 0 && v) out.version = v;
  if (blkid_probe_lookup_value(pr, "LABEL", &v, &len) == 0 && v) out.label = v;
}

void AskForSuperblocks(blkid_probe pr) {
  blkid_probe_enable_superblocks(pr, 1);
  blkid_probe_set_superblocks_flags(pr, BLKID_SUBLKS_TYPE | BLKID_SUBLKS_LABEL | BLKID_SUBLKS_VERSION);
  blkid_probe_enable_partitions(pr, 0);
}

}  // namespace

bool ProbeSuperblock(const std::string& path, SuperblockProbe& out) {
  blkid_probe pr = blkid_new_probe_from_filename(path.c_str());
  if (!pr) return false;
  AskForSuperblocks(pr);
  bool found = blkid_do_safeprobe(pr) == 0;
  if (found) ReadProbeValues(pr, out);
  blkid_free_probe(pr);
  return found && !out.type.empty();
}

bool ProbeSuperblockAt(const std::string& diskPath, uint64_t offset, uint64_t size, SuperblockProbe& out) {
  int fd = ::open(diskPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool found = false;
  if (blkid_probe pr = blkid_new_probe()) {
    if (blkid_probe_set_device(pr, fd, blkid_loff_t(offset), blkid_loff_t(size)) == 0) {
      AskForSuperblocks(pr);
      if (blkid_do_safeprobe(pr) == 0) {
        ReadProbeValues(pr, out);
        found = !out.type.empty();
      }
    }
    blkid_free_probe(pr);
  }
  ::close(fd);
  return found;
}

std::vector<SuperblockProbe> ProbeEverySuperblock(const std::string& path, uint64_t offset, uint64_t size) {
  std::vector<SuperblockProbe> out;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return out;
  if (blkid_probe pr = blkid_new_probe()) {
    if (blkid_probe_set_device(pr, fd, blkid_loff_t(offset), blkid_loff_t(size)) == 0) {
      AskForSuperblocks(pr);
      // Each call gives the next prober's match; a bounded walk, whatever a
      // damaged area makes of it.
      for (int i = 0; i < 16 && blkid_do_probe(pr) == 0; ++i) {
        SuperblockProbe p;
        ReadProbeValues(pr, p);
        if (!p.type.empty()) out.push_back(std::move(p));
      }
    }
    blkid_free_probe(pr);
  }
  ::close(fd);
  return out;
}

std::vector<TablePartition> ProbePartitionTable(const std::string& diskPath) {
  std::vector<TablePartition> out;
  blkid_probe pr = blkid_new_probe_from_filename(diskPath.c_str());
  if (!pr) return out;
  blkid_probe_enable_superblocks(pr, 0);
  blkid_probe_enable_partitions(pr, 1);
  if (blkid_partlist ls = blkid_probe_get_partitions(pr)) {
    blkid_parttable tab = blkid_partlist_get_table(ls);
    const char* kind = tab ? blkid_parttable_get_type(tab) : nullptr;
    bool dos = kind && std::string(kind) == "dos";
    int n = blkid_partlist_numof_partitions(ls);
    for (int i = 0; i < n; ++i) {
      blkid_partition p = blkid_partlist_get_partition(ls, i);
      if (!p) continue;
      int type = dos ? (blkid_partition_get_type(p) & 0xFF) : -1;
      blkid_loff_t start = blkid_partition_get_start(p), size = blkid_partition_get_size(p);
      if (start < 0 || size < 0) continue;
      out.push_back({blkid_partition_get_partno(p), uint64_t(start), uint64_t(size), type,
                     blkid_partition_is_extended(p) != 0});
    }
  }
  blkid_free_probe(pr);
  return out;
}

Status QueryVolumeSpace(const std::string& path, VolumeSpace& out) {
  out = VolumeSpace{};
  struct statvfs sv;
  if (::statvfs(path.c_str(), &sv) != 0) return LastSystemStatus();
  out.totalBytes = uint64_t(sv.f_blocks) * sv.f_frsize;
  out.freeBytes = uint64_t(sv.f_bavail) * sv.f_frsize;
  return kOk;
}

}  // namespace dunmere
