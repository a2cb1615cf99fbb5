#include "platform/volume_probe.h"

#include <cstring>

#include <vector>

#include "base/text.h"
#include "platform/file.h"
#include "platform/windows/win_util.h"

// Windows has no libblkid: the few boot sectors and partition tables the
// program lists are recognised here from their first sectors. The engines
// recognise file systems themselves (scan/file_systems); this only names
// them in lists.
namespace dunmere {

namespace {

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return uint32_t(Le16(p)) | uint32_t(Le16(p + 2)) << 16; }
uint64_t Le64(const uint8_t* p) { return uint64_t(Le32(p)) | uint64_t(Le32(p + 4)) << 32; }

bool Has(const uint8_t* p, const char* text) { return std::memcmp(p, text, std::strlen(text)) == 0; }

std::string LabelField(const uint8_t* p, size_t n) {
  std::string s(reinterpret_cast<const char*>(p), n);
  while (!s.empty() && (s.back() == ' ' || s.back() == 0)) s.pop_back();
  return s == "NO NAME" ? std::string() : s;
}

bool ReadAt(const File& f, uint64_t offset, uint8_t* buf, size_t len) {
  size_t got = 0;
  return f.ReadAt(offset, buf, len, got) == kOk && got == len;
}

// An exFAT volume's label is an entry of its root folder (type 0x83), found
// in the folder's first cluster.
std::string ExfatLabel(const File& f, uint64_t volume, const uint8_t* boot) {
  const unsigned sectorShift = boot[108], clusterShift = boot[109];
  if (sectorShift < 9 || sectorShift > 12 || clusterShift > 25 - sectorShift) return {};
  const uint64_t heap = uint64_t(Le32(boot + 88)) << sectorShift;
  const uint32_t root = Le32(boot + 96);
  const size_t cluster = size_t(1) << (sectorShift + clusterShift);
  if (root < 2) return {};
  std::vector<uint8_t> entries(std::min<size_t>(cluster, 64 * 1024));
  if (!ReadAt(f, volume + heap + uint64_t(root - 2) * cluster, entries.data(), entries.size())) return {};
  for (size_t at = 0; at + 32 <= entries.size(); at += 32) {
    const uint8_t type = entries[at];
    if (type == 0) break;  // the end of the folder
    if (type != 0x83) continue;
    const size_t count = std::min<size_t>(entries[at + 1], 11);
    std::u16string name;
    for (size_t i = 0; i < count; ++i) name += char16_t(Le16(&entries[at + 2 + 2 * i]));
    return Utf16ToUtf8(name.data(), name.size());
  }
  return {};
}

bool Recognise(const File& f, uint64_t offset, const uint8_t* sector, SuperblockProbe& out) {
  if (Has(sector + 3, "NTFS    ")) {
    out = {"ntfs", "", ""};
    return true;
  }
  if (Has(sector + 3, "EXFAT   ")) {
    out = {"exfat", "", ExfatLabel(f, offset, sector)};
    return true;
  }
  if (sector[510] != 0x55 || sector[511] != 0xAA) return false;
  if (Has(sector + 82, "FAT32   ")) {
    out = {"vfat", "FAT32", LabelField(sector + 71, 11)};
    return true;
  }
  for (const char* kind : {"FAT12   ", "FAT16   ", "FAT     "})
    if (Has(sector + 54, kind)) {
      out = {"vfat", kind[3] == ' ' ? "FAT16" : std::string(kind, 5), LabelField(sector + 43, 11)};
      return true;
    }
  return false;
}


bool IsExtended(int type) { return type == 0x05 || type == 0x0F || type == 0x85; }

void ReadGpt(const File& f, std::vector<TablePartition>& out) {
  uint8_t header[512];
  if (!ReadAt(f, 512, header, sizeof header) || !Has(header, "EFI PART")) return;
  const uint64_t entriesAt = Le64(header + 72);
  const uint32_t count = std::min<uint32_t>(Le32(header + 80), 256);
  const uint32_t size = Le32(header + 84);
  if (size < 128 || size > 4096) return;
  std::vector<uint8_t> entry(size);
  for (uint32_t i = 0; i < count; ++i) {
    if (!ReadAt(f, entriesAt * 512 + uint64_t(i) * size, entry.data(), size)) return;
    bool used = false;
    for (int b = 0; b < 16; ++b) used |= entry[b] != 0;
    const uint64_t first = Le64(entry.data() + 32), last = Le64(entry.data() + 40);
    if (!used || last < first) continue;
    out.push_back({int(i + 1), first, last - first + 1, -1, false});
  }
}

}  // namespace

bool ProbeSuperblockAt(const std::string& diskPath, uint64_t offset, uint64_t size, SuperblockProbe& out) {
  File f;
  if (size < 512 || f.Open(diskPath, File::Mode::kRead)) return false;
  uint8_t sector[512];
  return ReadAt(f, offset, sector, sizeof sector) && Recognise(f, offset, sector, out);
}

bool ProbeSuperblock(const std::string& path, SuperblockProbe& out) {
  // A mounted volume: the system names it.
  if (win::IsDevicePath(path) && path.size() == 6 && path[5] == ':') {
    std::string name;
    const std::string root = path.substr(4) + "\\";
    if (SystemFileSystemName(root, name)) {
      wchar_t label[MAX_PATH + 1] = {};
      ::GetVolumeInformationW(win::Wide(root).c_str(), label, MAX_PATH, nullptr, nullptr, nullptr, nullptr, 0);
      out.label = win::Narrow(label, wcslen(label));
      if (name == "NTFS") out.type = "ntfs";
      else if (name == "exFAT") out.type = "exfat";
      else if (name == "FAT32" || name == "FAT") out.type = "vfat", out.version = name == "FAT32" ? "FAT32" : "FAT16";
      else out.type = name;
      return true;
    }
  }
  return ProbeSuperblockAt(path, 0, 512, out);
}

std::vector<SuperblockProbe> ProbeEverySuperblock(const std::string& path, uint64_t offset, uint64_t size) {
  std::vector<SuperblockProbe> out;
  File f;
  if (f.Open(path, File::Mode::kRead)) return out;
  uint8_t sector[512];
  SuperblockProbe p;
  if (ReadAt(f, offset, sector, sizeof sector) && Recognise(f, offset, sector, p)) out.push_back(p);
  // An ext superblock sits at 1024, beyond the boot sector another file
  // system may have left there.
  uint8_t ext[1024];
  if ((size == 0 || size >= 2048) && ReadAt(f, offset + 1024, ext, sizeof ext) && Le16(ext + 56) == 0xEF53) {
    const uint32_t compat = Le32(ext + 92), incompat = Le32(ext + 96);
    const char* type = (incompat & 0x40) ? "ext4" : (compat & 0x4) ? "ext3" : "ext2";
    out.push_back({type, "", LabelField(ext + 120, 16)});
  }
  return out;
}

std::vector<TablePartition> ProbePartitionTable(const std::string& diskPath) {
  std::vector<TablePartition> out;
  File f;
  if (f.Open(diskPath, File::Mode::kRead)) return out;
  uint8_t mbr[512];
  if (!ReadAt(f, 0, mbr, sizeof mbr) || mbr[510] != 0x55 || mbr[511] != 0xAA) return out;
  // A boot sector of a file system is no table, though it ends the same way.
  SuperblockProbe fs;
  if (Recognise(f, 0, mbr, fs)) return out;
  for (int i = 0; i < 4; ++i) {
    const uint8_t* e = mbr + 446 + 16 * i;
    if (e[4] == 0xEE) {
      ReadGpt(f, out);
      return out;
    }
  }
  for (int i = 0; i < 4; ++i) {
    const uint8_t* e = mbr + 446 + 16 * i;
    const int type = e[4];
    const uint32_t start = Le32(e + 8), count = Le32(e + 12);
    if (type == 0 || count == 0) continue;
    out.push_back({i + 1, start, count, type, IsExtended(type)});
    if (!IsExtended(type)) continue;
    // The chain of logical partitions, numbered from 5 as Linux numbers them.
    uint64_t ebr = start;
    int number = 5;
    for (int hops = 0; hops < 128; ++hops) {
      uint8_t sector[512];
      if (!ReadAt(f, ebr * 512, sector, sizeof sector) || sector[510] != 0x55 || sector[511] != 0xAA) break;
      const uint8_t* data = sector + 446;
      const uint8_t* next = sector + 462;
      if (data[4] != 0 && Le32(data + 12) != 0)
        out.push_back({number++, ebr + Le32(data + 8), Le32(data + 12), data[4], false});
      if (!IsExtended(next[4]) || Le32(next + 8) == 0) break;
      ebr = start + Le32(next + 8);
    }
  }
  return out;
}

Status QueryVolumeSpace(const std::string& path, VolumeSpace& out) {
  out = VolumeSpace{};
  ULARGE_INTEGER available{}, total{}, free{};
  std::wstring folder = win::LongPath(path);
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  if (!::GetDiskFreeSpaceExW(folder.c_str(), &available, &total, &free)) return win::LastStatus();
  out.totalBytes = total.QuadPart;
  out.freeBytes = available.QuadPart;
  return kOk;
}

bool SystemFileSystemName(const std::string& path, std::string& name) {
  name.clear();
  wchar_t root[MAX_PATH + 1];
  if (!::GetVolumePathNameW(win::LongPath(path).c_str(), root, MAX_PATH)) return false;
  wchar_t fs[MAX_PATH + 1] = {};
  if (!::GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, nullptr, fs, MAX_PATH)) return false;
  name = win::Narrow(fs, wcslen(fs));
  return !name.empty();
}

}  // namespace dunmere
