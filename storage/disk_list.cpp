#include "storage/disk_list.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/block_device.h"
#include "platform/sysfs.h"
#include "platform/volume_probe.h"
#include "storage/disk_table.h"
#include "platform/native_path.h"

namespace fs = std::filesystem;

namespace dunmere {

namespace {

constexpr uint64_t kDefaultExpectedStart = 63;
constexpr uint64_t kDefaultCylinder = 16065;

uint64_t ReadNumber(const fs::path& p, uint64_t fallback = 0) { return ReadSysfsNumber(p.string(), fallback); }
std::string ReadLine(const fs::path& p) { return ReadSysfsLine(p.string()); }

using Probe = SuperblockProbe;

// The udev database's view of a device, for when the device cannot be read.
std::map<std::string, std::string> UdevProperties(const EnumerationRoots& roots, const std::string& devNumber) {
  std::map<std::string, std::string> out;
  std::ifstream in(fs::path(roots.udevData) / ("b" + devNumber));
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("E:", 0) != 0) continue;
    size_t eq = line.find('=');
    if (eq != std::string::npos) out[line.substr(2, eq - 2)] = line.substr(eq + 1);
  }
  return out;
}

// udev writes labels with "\x20"-style escapes.
std::string UnescapeUdev(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' && isxdigit(uint8_t(s[i + 2])) &&
        isxdigit(uint8_t(s[i + 3]))) {
      out += char(std::stoi(s.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

void ProbeFromUdev(const EnumerationRoots& roots, const std::string& devNumber, Probe& out, int* typeByte) {
  auto props = UdevProperties(roots, devNumber);
  out.type = props["ID_FS_TYPE"];
  out.version = props["ID_FS_VERSION"];
  out.label = props.count("ID_FS_LABEL_ENC") ? UnescapeUdev(props["ID_FS_LABEL_ENC"]) : props["ID_FS_LABEL"];
  if (typeByte && props["ID_PART_ENTRY_SCHEME"] == "dos") {
    try {
      *typeByte = std::stoi(props["ID_PART_ENTRY_TYPE"], nullptr, 16) & 0xFF;
    } catch (...) {
    }
  }
}

// The list's file-system name of a probe: "NTFS", "FAT32", "FAT", "exFAT", or
// blkid's own type name.
std::string FsNameOf(const Probe& p) {
  if (p.type == "ntfs") return "NTFS";
  if (p.type == "vfat" || p.type == "msdos") {
    if (p.version == "FAT32") return "FAT32";
    if (p.version == "FAT12" || p.version == "FAT16") return "FAT";
    return p.type == "vfat" ? "vfat" : "FAT";
  }
  if (p.type == "exfat") return "exFAT";
  return p.type;
}

uint8_t FsTypeOf(const std::string& fsName, int typeByte) {
  if (fsName == "NTFS") return kFsTypeNtfs;
  if (fsName == "FAT32") return kFsTypeFat32;
  if (fsName == "FAT") return kFsTypeFat;
  return uint8_t(typeByte > 0 ? typeByte : 0);
}

// Mount points by device number "major:minor" (the first mount of each).
std::map<std::string, std::string> MountPoints(const EnumerationRoots& roots) {
  std::map<std::string, std::string> out;
  std::ifstream in(roots.mountInfo);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string id, parent, devno, root, mountPoint;
    if (!(ls >> id >> parent >> devno >> root >> mountPoint) || root != "/" || out.count(devno)) continue;
    std::string decoded;
    for (size_t i = 0; i < mountPoint.size(); ++i) {
      if (mountPoint[i] == '\\' && i + 3 < mountPoint.size()) {
        decoded += char(std::stoi(mountPoint.substr(i + 1, 3), nullptr, 8));
        i += 3;
      } else {
        decoded += mountPoint[i];
      }
    }
    out[devno] = decoded;
  }
  return out;
}

void FillSizes(VolumeInfo& v) {
  v.totalBytes = v.sectorCount * v.bytesPerSector;
  v.freeBytes = 0;
  VolumeSpace space;
  if (!v.mountPoint.empty() && QueryVolumeSpace(v.mountPoint, space) == kOk) {
    v.totalBytes = space.totalBytes;
    v.freeBytes = space.freeBytes;
  }
  v.usedBytes = v.totalBytes >= v.freeBytes ? v.totalBytes - v.freeBytes : 0;
}

// libblkid names no file system where it finds two. An ext superblock
// beside another file system's signature is the newer of them: mke2fs leaves
// the area's first sectors alone, while mkntfs, mkfs.fat and mkfs.exfat write
// over the superblock at 1024. ext is what the system mounts; the other lies
// under it.
bool ProbeLayered(const std::string& path, uint64_t offset, uint64_t size, Probe& p, std::string& older) {
  const std::vector<Probe> found = ProbeEverySuperblock(path, offset, size);
  auto ext = std::find_if(found.begin(), found.end(), [](const Probe& f) { return f.type.rfind("ext", 0) == 0; });
  if (ext == found.end() || found.size() < 2) return false;
  p = *ext;
  for (const Probe& f : found)
    if (&f != &*ext) {
      older = FsNameOf(f);
      break;
    }
  return true;
}

// Probes a device node (or the file standing for it), then the udev database.
void ProbeVolume(const EnumerationRoots& roots, const std::string& node, const std::string& devNumber, Probe& p,
                 std::string& older, int* udevTypeByte) {
  if (!ProbeSuperblock(node, p) && !ProbeLayered(node, 0, 0, p, older)) {
    p = Probe{};
    ProbeFromUdev(roots, devNumber, p, udevTypeByte);
  } else if (udevTypeByte) {
    Probe ignored;
    ProbeFromUdev(roots, devNumber, ignored, udevTypeByte);
  }
}

struct DiskGeometry {
  uint64_t expectedStart = kDefaultExpectedStart;
  uint64_t cylinder = kDefaultCylinder;
};

DiskGeometry ReadGeometry(const std::string& node) {
  DiskGeometry g;
  BlockGeometry bg;
  if (QueryBlockGeometry(node, bg) == kOk && bg.sectorsPerTrack && bg.tracksPerCylinder) {
    g.expectedStart = bg.sectorsPerTrack;
    g.cylinder = uint64_t(bg.sectorsPerTrack) * bg.tracksPerCylinder;
  }
  return g;
}

bool StartLess(const VolumeInfo& a, const VolumeInfo& b) { return a.startSector < b.startSector; }

}  // namespace

std::vector<SectorRange> UnallocatedStretches(const std::vector<SectorRange>& parts, uint64_t expected,
                                              uint64_t cylinder, uint64_t diskSectors) {
  std::vector<SectorRange> out;
  for (const SectorRange& p : parts) {
    if (p.start > expected && p.start - expected > cylinder) out.push_back({expected, p.start - expected});
    // Overlapping entries of a damaged table never move the position back.
    expected = std::max(expected, p.start + p.count);
  }
  if (diskSectors > expected && diskSectors - expected > cylinder) out.push_back({expected, diskSectors - expected});
  return out;
}

namespace {

// The stretches between the entries (sorted by start, not partitions of a
// table) as unallocated entries of the disk `diskNumber`, in place.
void AddUnallocated(std::vector<VolumeInfo>& entries, int32_t diskNumber, uint32_t bytesPerSector,
                    uint64_t expectedStart, uint64_t cylinder, uint64_t diskSectors) {
  std::sort(entries.begin(), entries.end(), StartLess);
  std::vector<SectorRange> parts;
  for (const VolumeInfo& v : entries) parts.push_back({v.startSector, v.sectorCount});
  for (const SectorRange& r : UnallocatedStretches(parts, expectedStart, cylinder, diskSectors)) {
    VolumeInfo u;
    u.kind = EntryKind::kUnallocated;
    u.diskNumber = diskNumber;
    u.bytesPerSector = bytesPerSector;
    u.startSector = r.start;
    u.sectorCount = r.count;
    u.totalBytes = u.freeBytes = r.count * bytesPerSector;
    entries.push_back(u);
  }
  std::stable_sort(entries.begin(), entries.end(), StartLess);
}

VolumeInfo FromSystemVolume(VolumeInfo v, const SystemVolume& volume) {
  v.volumePath = volume.devicePath;
  v.mountPoint = volume.mountPoint;
  v.fsName = volume.fileSystem;
  v.label = volume.label;
  v.totalBytes = volume.totalBytes ? volume.totalBytes : v.sectorCount * v.bytesPerSector;
  v.freeBytes = volume.totalBytes ? volume.freeBytes : 0;
  v.usedBytes = v.totalBytes >= v.freeBytes ? v.totalBytes - v.freeBytes : 0;
  return v;
}

// A stretch of a disk without a mounted volume: its file system as the first
// sector tells it (readable to administrators only).
VolumeInfo FromProbe(VolumeInfo v, const std::string& diskPath) {
  Probe p;
  const uint64_t offset = v.startSector * v.bytesPerSector, size = v.sectorCount * v.bytesPerSector;
  if (ProbeSuperblockAt(diskPath, offset, size, p)) {
    v.fsName = FsNameOf(p);
    v.label = p.label;
  }
  v.totalBytes = size;
  v.usedBytes = size;
  return v;
}

}  // namespace

void DiskListFromSystemDisks(const std::vector<SystemDisk>& disks, DiskList& list) {
  list.clear();
  for (const SystemDisk& disk : disks) {
    if (disk.number >= kMaxListedDisks || disk.lengthBytes == 0) continue;
    const uint32_t bps = disk.bytesPerSector >= 512 ? disk.bytesPerSector : 512;
    const uint64_t diskSectors = disk.lengthBytes / bps;
    std::vector<VolumeInfo> entries;
    for (const SystemPartition& p : disk.partitions) {
      // A container of logical partitions is no place of its own: they are.
      if (p.extended || p.lengthBytes <= 2 * 512) continue;
      VolumeInfo v;
      v.diskNumber = int32_t(disk.number);
      v.partitionNumber = p.number;
      v.bytesPerSector = bps;
      v.startSector = p.startByte / bps;
      v.sectorCount = p.lengthBytes / bps;
      v = p.hasVolume ? FromSystemVolume(v, p.volume) : FromProbe(v, disk.devicePath);
      v.fsType = FsTypeOf(v.fsName, p.mbrType);
      entries.push_back(std::move(v));
    }
    if (entries.empty()) {
      VolumeInfo v;
      v.diskNumber = int32_t(disk.number);
      v.bytesPerSector = bps;
      v.sectorCount = diskSectors;
      v = disk.hasVolume ? FromSystemVolume(v, disk.volume) : FromProbe(v, disk.devicePath);
      if (!v.fsName.empty()) {
        v.kind = EntryKind::kVolume;
        v.partitionNumber = 0;
        if (v.volumePath.empty()) v.volumePath = disk.devicePath;
        v.fsType = FsTypeOf(v.fsName, -1);
      } else {
        v.kind = EntryKind::kWholeDisk;
        v.volumePath = disk.devicePath;
        v.totalBytes = v.freeBytes = diskSectors * bps;
        v.usedBytes = 0;
      }
      if (diskSectors > 0) entries.push_back(std::move(v));
    } else {
      DiskGeometry g;
      if (disk.sectorsPerTrack && disk.tracksPerCylinder) {
        g.expectedStart = disk.sectorsPerTrack;
        g.cylinder = uint64_t(disk.sectorsPerTrack) * disk.tracksPerCylinder;
      }
      AddUnallocated(entries, int32_t(disk.number), bps, g.expectedStart, g.cylinder, diskSectors);
    }
    if (!entries.empty()) list[disk.number] = std::move(entries);
  }
  uint16_t counter = 0;
  for (auto& [disk, entries] : list)
    for (VolumeInfo& v : entries) v.letter = ++counter;
}

int RebuildDiskList(DiskList& list, const EnumerationRoots& roots) {
  list.clear();
  if (SystemDescribesDisks()) {
    DiskListFromSystemDisks(DescribeSystemDisks(), list);
    return 1;
  }
  std::error_code ec;
  if (!fs::is_directory(roots.sysBlock, ec)) return 0;
  std::vector<std::string> disks = DiskTable::ScanSysfs(roots.sysBlock, roots.dev);
  auto mounts = MountPoints(roots);
  for (size_t index = 0; index < disks.size() && index < kMaxListedDisks; ++index) {
    const std::string& diskNode = disks[index];
    std::string name = fs::path(diskNode).filename().string();
    fs::path sys = fs::path(roots.sysBlock) / name;
    uint32_t bps = uint32_t(ReadNumber(sys / "queue/logical_block_size", 512));
    if (bps < 512) bps = 512;
    uint64_t diskSectors = ReadNumber(sys / "size") * 512 / bps;
    std::vector<VolumeInfo> entries;

    // Partitions, in the kernel's view; the table's type bytes when readable.
    std::vector<TablePartition> table = ProbePartitionTable(diskNode);
    std::map<int, int> typeBytes;
    for (const TablePartition& t : table) typeBytes[t.number] = t.typeByte;
    std::vector<fs::path> partDirs;
    for (const auto& de : fs::directory_iterator(sys, ec))
      if (fs::exists(de.path() / "partition")) partDirs.push_back(de.path());
    for (const fs::path& pd : partDirs) {
      uint64_t size512 = ReadNumber(pd / "size");
      if (size512 <= 2) continue;  // the stub of an extended partition
      VolumeInfo v;
      v.diskNumber = int32_t(index);
      v.partitionNumber = int32_t(ReadNumber(pd / "partition"));
      v.bytesPerSector = bps;
      v.startSector = ReadNumber(pd / "start") * 512 / bps;
      v.sectorCount = size512 * 512 / bps;
      v.volumePath = (fs::path(roots.dev) / pd.filename()).string();
      std::string devNumber = ReadLine(pd / "dev");
      int typeByte = typeBytes.count(v.partitionNumber) ? typeBytes[v.partitionNumber] : -1;
      Probe p;
      ProbeVolume(roots, v.volumePath, devNumber, p, v.olderFsName, typeByte < 0 ? &typeByte : nullptr);
      v.fsName = FsNameOf(p);
      v.label = p.label;
      v.fsType = FsTypeOf(v.fsName, typeByte);
      if (mounts.count(devNumber)) v.mountPoint = mounts[devNumber];
      FillSizes(v);
      entries.push_back(std::move(v));
    }

    if (entries.empty() && partDirs.empty()) {
      // A table the kernel has not split into devices (a loop device attached
      // without partition scanning, a container without udev): its
      // partitions are still places to scan, by sector range.
      for (const TablePartition& t : table) {
        if (t.size512 <= 2) continue;
        VolumeInfo v;
        v.diskNumber = int32_t(index);
        v.partitionNumber = t.number;
        v.bytesPerSector = bps;
        v.startSector = t.start512 * 512 / bps;
        v.sectorCount = t.size512 * 512 / bps;
        Probe p;
        if (!ProbeSuperblockAt(diskNode, t.start512 * 512, t.size512 * 512, p))
          ProbeLayered(diskNode, t.start512 * 512, t.size512 * 512, p, v.olderFsName);
        v.fsName = FsNameOf(p);
        v.label = p.label;
        v.fsType = FsTypeOf(v.fsName, t.typeByte);
        FillSizes(v);
        entries.push_back(std::move(v));
      }
    }

    if (entries.empty()) {
      // No partition: a file system on the whole disk is its volume,
      // anything else is offered as the whole disk.
      std::string devNumber = ReadLine(sys / "dev");
      Probe p;
      std::string older;
      ProbeVolume(roots, diskNode, devNumber, p, older, nullptr);
      VolumeInfo v;
      v.olderFsName = older;
      v.diskNumber = int32_t(index);
      v.bytesPerSector = bps;
      v.startSector = 0;
      v.sectorCount = diskSectors;
      v.volumePath = diskNode;
      v.fsName = FsNameOf(p);
      if (!v.fsName.empty()) {
        v.kind = EntryKind::kVolume;
        v.partitionNumber = 0;
        v.label = p.label;
        v.fsType = FsTypeOf(v.fsName, -1);
        if (mounts.count(devNumber)) v.mountPoint = mounts[devNumber];
        FillSizes(v);
      } else {
        v.kind = EntryKind::kWholeDisk;
        v.totalBytes = v.freeBytes = diskSectors * bps;
      }
      if (diskSectors > 0) entries.push_back(std::move(v));
    } else {
      const DiskGeometry g = ReadGeometry(diskNode);
      AddUnallocated(entries, int32_t(index), bps, g.expectedStart, g.cylinder, diskSectors);
    }
    if (!entries.empty()) list[uint32_t(index)] = std::move(entries);
  }
  uint16_t counter = 0;
  for (auto& [disk, entries] : list)
    for (VolumeInfo& v : entries) v.letter = ++counter;
  return 1;
}

std::vector<VolumeInfo> ListImageEntries(const std::string& imagePath) {
  std::vector<VolumeInfo> entries;
  std::error_code ec;
  const uint64_t sectors = fs::file_size(NativePath(imagePath), ec) / 512;
  if (ec || sectors == 0) return entries;
  for (const TablePartition& t : ProbePartitionTable(imagePath)) {
    // An extended partition only holds the logical ones, listed on their
    // own (its table lists its whole extent, where the kernel shows a stub);
    // entries reaching past the file's end (a truncated copy) are left to a
    // scan of the whole image.
    if (t.extended || t.size512 <= 2 || t.start512 >= sectors) continue;
    VolumeInfo v;
    v.partitionNumber = t.number;
    v.startSector = t.start512;
    v.sectorCount = std::min(t.size512, sectors - t.start512);
    Probe p;
    if (!ProbeSuperblockAt(imagePath, v.startSector * 512, v.sectorCount * 512, p))
      ProbeLayered(imagePath, v.startSector * 512, v.sectorCount * 512, p, v.olderFsName);
    v.fsName = FsNameOf(p);
    v.label = p.label;
    v.fsType = FsTypeOf(v.fsName, t.typeByte);
    FillSizes(v);
    entries.push_back(std::move(v));
  }
  if (entries.empty()) return entries;
  // A file has no geometry: the gap rule of a disk that reports none.
  AddUnallocated(entries, -1, 512, kDefaultExpectedStart, kDefaultCylinder, sectors);
  return entries;
}

void DetectRemovedVolumes(DiskList& list, const std::vector<VolumeInfo>& previous, std::vector<VolumeInfo>& removed,
                          const EnumerationRoots& roots) {
  RebuildDiskList(list, roots);
  for (const VolumeInfo& old : previous) {
    bool present = false;
    auto it = list.find(uint32_t(old.diskNumber));
    if (old.diskNumber >= 0 && it != list.end())
      for (const VolumeInfo& v : it->second)
        if (v.startSector == old.startSector) present = true;
    if (!present) removed.push_back(old);
  }
}

void FlattenDiskList(const DiskList& list, std::vector<VolumeInfo>& out) {
  out.clear();
  for (const auto& [disk, entries] : list) out.insert(out.end(), entries.begin(), entries.end());
}

int DiskListIterator::Next(VolumeInfo& out) {
  while (disk_ != list_.end()) {
    if (entry_ < disk_->second.size()) {
      out = disk_->second[entry_++];
      return 1;
    }
    ++disk_;
    entry_ = 0;
  }
  return 0;
}

bool IsRemovableDisk(uint32_t diskNumber, const EnumerationRoots& roots) {
  if (SystemDescribesDisks()) {
    for (const SystemDisk& d : DescribeSystemDisks())
      if (d.number == diskNumber) return d.removable;
    return false;
  }
  std::vector<std::string> disks = DiskTable::ScanSysfs(roots.sysBlock, roots.dev);
  if (diskNumber >= disks.size()) return false;
  std::string name = fs::path(disks[diskNumber]).filename().string();
  fs::path sys = fs::path(roots.sysBlock) / name;
  if (ReadNumber(sys / "removable") == 1) return true;
  // The bus: the device's place in the sysfs tree names it.
  std::error_code ec;
  std::string real = fs::canonical(sys, ec).string();
  if (ec) real = sys.string();
  if (real.find("/usb") != std::string::npos) return true;
  if (name.rfind("mmcblk", 0) == 0 || real.find("/mmc") != std::string::npos) return true;
  return false;
}

Status GetDiskLengthBytes(uint64_t& bytes, uint32_t diskNumber, const EnumerationRoots& roots) {
  bytes = 0;
  if (SystemDescribesDisks()) {
    BlockGeometry g;
    const std::string path = DiskTable::DevicePath(diskNumber);
    if (path.empty()) return kFileNotFound;
    if (Status s = QueryBlockGeometry(path, g)) return s;
    bytes = g.lengthBytes;
    return bytes ? kOk : kNotReady;
  }
  std::vector<std::string> disks = DiskTable::ScanSysfs(roots.sysBlock, roots.dev);
  if (diskNumber >= disks.size()) return kFileNotFound;
  bytes = ReadNumber(fs::path(roots.sysBlock) / fs::path(disks[diskNumber]).filename() / "size") * 512;
  return bytes ? kOk : kNotReady;
}

Status GetVolumeFreeBytes(const std::string& path, uint64_t& bytes) {
  bytes = 0;
  VolumeSpace space;
  if (Status s = QueryVolumeSpace(path, space)) return s;
  bytes = space.freeBytes;
  return kOk;
}

Status GetVolumeFsName(const std::string& path, std::string& name, const EnumerationRoots& roots) {
  name.clear();
  if (SystemFileSystemName(path, name)) return kOk;
  std::string want;
  if (Status s = FileSystemDeviceNumber(path, want)) return s;
  std::ifstream in(roots.mountInfo);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string id, parent, devno;
    if (!(ls >> id >> parent >> devno) || devno != want) continue;
    size_t sep = line.find(" - ");
    if (sep == std::string::npos) continue;
    std::istringstream tail(line.substr(sep + 3));
    std::string fstype, source;
    tail >> fstype >> source;
    Probe p;
    p.type = fstype;
    if (fstype == "vfat" || fstype == "msdos") {
      Probe probed;
      if (ProbeSuperblock(source, probed) && (probed.type == "vfat" || probed.type == "msdos"))
        p.version = probed.version;
      else
        ProbeFromUdev(roots, want, probed, nullptr), p.version = probed.version;
    } else if (fstype == "ntfs3") {
      p.type = "ntfs";
    } else if (fstype == "fuse.fusefat") {
      // A FAT image mounted by fusefat: its variant is not told.
      p.type = "vfat";
    } else if (fstype == "fuseblk") {
      // ntfs-3g and exfat-fuse both mount as fuseblk: the device says which.
      Probe probed;
      if (ProbeSuperblock(source, probed) && (probed.type == "ntfs" || probed.type == "exfat")) p.type = probed.type;
    }
    name = FsNameOf(p);
    return kOk;
  }
  return kFileNotFound;
}

}  // namespace dunmere
