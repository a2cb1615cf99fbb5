#include "platform/system_disks.h"

#include <windows.h>

#include <winioctl.h>

#include <cstring>

#include "platform/windows/device_requests.h"
#include "platform/windows/win_util.h"

namespace dunmere {
namespace win {

namespace {

// A fixed structure at the start of an answer; false when the answer is shorter.
template <class T>
bool Read(const std::vector<uint8_t>& bytes, size_t offset, T& out) {
  if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return false;
  std::memcpy(&out, bytes.data() + offset, sizeof(T));
  return true;
}

bool IsExtendedType(uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

void ReadGeometry(DeviceRequests& requests, SystemDisk& disk) {
  std::vector<uint8_t> answer;
  DISK_GEOMETRY_EX geo{};
  if (requests.Ask(disk.devicePath, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, {}, answer) &&
      Read(answer, 0, geo.Geometry) && Read(answer, offsetof(DISK_GEOMETRY_EX, DiskSize), geo.DiskSize)) {
    if (geo.Geometry.BytesPerSector >= 512) disk.bytesPerSector = geo.Geometry.BytesPerSector;
    disk.sectorsPerTrack = geo.Geometry.SectorsPerTrack;
    disk.tracksPerCylinder = geo.Geometry.TracksPerCylinder;
    disk.lengthBytes = uint64_t(geo.DiskSize.QuadPart);
    disk.removable = geo.Geometry.MediaType == RemovableMedia;
  }
  GET_LENGTH_INFORMATION length{};
  if (disk.lengthBytes == 0 && requests.Ask(disk.devicePath, IOCTL_DISK_GET_LENGTH_INFO, {}, answer) &&
      Read(answer, 0, length))
    disk.lengthBytes = uint64_t(length.Length.QuadPart);
  // A card reader or USB stick: the bus says so even for a fixed medium.
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  std::vector<uint8_t> in(sizeof query);
  std::memcpy(in.data(), &query, sizeof query);
  STORAGE_DEVICE_DESCRIPTOR descriptor{};
  if (requests.Ask(disk.devicePath, IOCTL_STORAGE_QUERY_PROPERTY, in, answer) && Read(answer, 0, descriptor)) {
    if (descriptor.RemovableMedia || descriptor.BusType == BusTypeUsb || descriptor.BusType == BusTypeSd ||
        descriptor.BusType == BusTypeMmc)
      disk.removable = true;
  }
}

void ReadLayout(DeviceRequests& requests, SystemDisk& disk) {
  std::vector<uint8_t> answer;
  if (!requests.Ask(disk.devicePath, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, {}, answer)) return;
  DWORD style = 0, count = 0;
  if (!Read(answer, offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionStyle), style) ||
      !Read(answer, offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionCount), count))
    return;
  if (style == PARTITION_STYLE_MBR) disk.style = PartitionStyle::kMbr;
  else if (style == PARTITION_STYLE_GPT) disk.style = PartitionStyle::kGpt;
  else return;  // RAW: no table
  const size_t first = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry);
  for (DWORD i = 0; i < count; ++i) {
    PARTITION_INFORMATION_EX e;
    if (!Read(answer, first + i * sizeof e, e)) break;
    if (e.PartitionLength.QuadPart <= 0) continue;
    SystemPartition p;
    p.startByte = uint64_t(e.StartingOffset.QuadPart);
    p.lengthBytes = uint64_t(e.PartitionLength.QuadPart);
    p.number = int(e.PartitionNumber);
    if (e.PartitionStyle == PARTITION_STYLE_MBR) {
      // The MBR layout lists every slot of every table: empty ones have
      // type 0, the containers of logical partitions number 0.
      if (e.Mbr.PartitionType == PARTITION_ENTRY_UNUSED) continue;
      p.mbrType = e.Mbr.PartitionType;
      p.extended = IsExtendedType(e.Mbr.PartitionType);
    }
    if (!p.extended && p.number == 0) continue;
    disk.partitions.push_back(p);
  }
}

// Places each volume on the partition (or disk) its first extent starts on.
void PlaceVolumes(DeviceRequests& requests, std::vector<SystemDisk>& disks) {
  for (const std::string& root : requests.MountPoints()) {
    if (root.size() < 2 || root[1] != ':') continue;
    const std::string device = "\\\\.\\" + root.substr(0, 2);
    std::vector<uint8_t> answer;
    DWORD extents = 0;
    DISK_EXTENT extent{};
    if (!requests.Ask(device, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, {}, answer) ||
        !Read(answer, offsetof(VOLUME_DISK_EXTENTS, NumberOfDiskExtents), extents) || extents == 0 ||
        !Read(answer, offsetof(VOLUME_DISK_EXTENTS, Extents), extent))
      continue;
    // The partition number, where the volume is a basic disk's partition.
    STORAGE_DEVICE_NUMBER number{};
    const bool numbered = requests.Ask(device, IOCTL_STORAGE_GET_DEVICE_NUMBER, {}, answer) && Read(answer, 0, number);
    SystemVolume v;
    if (!requests.VolumeFacts(root, v)) continue;
    v.devicePath = device;
    v.mountPoint = root;
    for (SystemDisk& disk : disks) {
      if (disk.number != extent.DiskNumber) continue;
      bool placed = false;
      for (SystemPartition& p : disk.partitions) {
        if (p.extended) continue;
        if (p.startByte == uint64_t(extent.StartingOffset.QuadPart) ||
            (numbered && number.DeviceNumber == disk.number && number.PartitionNumber == DWORD(p.number) &&
             number.PartitionNumber != 0)) {
          p.hasVolume = true;
          p.volume = v;
          placed = true;
          break;
        }
      }
      if (!placed && disk.partitions.empty() && extent.StartingOffset.QuadPart == 0) {
        disk.hasVolume = true;
        disk.volume = v;
      }
    }
  }
}

}  // namespace

std::vector<SystemDisk> DescribeDisks(DeviceRequests& requests, uint32_t maxDisks) {
  std::vector<SystemDisk> disks;
  for (uint32_t n = 0; n < maxDisks; ++n) {
    SystemDisk disk;
    disk.number = n;
    disk.devicePath = "\\\\.\\PhysicalDrive" + std::to_string(n);
    ReadGeometry(requests, disk);
    if (disk.lengthBytes == 0) continue;  // no such disk, or a reader without a card
    ReadLayout(requests, disk);
    disks.push_back(std::move(disk));
  }
  PlaceVolumes(requests, disks);
  return disks;
}

namespace {

class SystemRequests final : public DeviceRequests {
 public:
  bool Ask(const std::string& device, DWORD code, const std::vector<uint8_t>& input,
           std::vector<uint8_t>& answer) override {
    Handle h(OpenForReading(device));
    if (!h.Valid()) {
      // Without the rights to read: the questions that need none.
      h.Reset(::CreateFileW(LongPath(device).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr));
      if (!h.Valid()) return false;
    }
    answer.assign(4096, 0);
    for (int tries = 0; tries < 8; ++tries) {
      DWORD got = 0;
      if (::DeviceIoControl(h.Get(), code, input.empty() ? nullptr : const_cast<uint8_t*>(input.data()),
                            DWORD(input.size()), answer.data(), DWORD(answer.size()), &got, nullptr)) {
        answer.resize(got);
        return true;
      }
      const DWORD e = ::GetLastError();
      if (e != ERROR_INSUFFICIENT_BUFFER && e != ERROR_MORE_DATA) return false;
      answer.assign(answer.size() * 4, 0);  // a layout of many partitions
    }
    return false;
  }

  std::vector<std::string> MountPoints() override {
    std::vector<std::string> out;
    wchar_t buffer[512];
    const DWORD n = ::GetLogicalDriveStringsW(DWORD(std::size(buffer)), buffer);
    if (n == 0 || n > std::size(buffer)) return out;
    for (const wchar_t* p = buffer; *p; p += wcslen(p) + 1) {
      const UINT type = ::GetDriveTypeW(p);
      if (type == DRIVE_FIXED || type == DRIVE_REMOVABLE) out.push_back(Narrow(p, wcslen(p)));
    }
    return out;
  }

  bool VolumeFacts(const std::string& mountPoint, SystemVolume& out) override {
    const std::wstring root = Wide(mountPoint);
    wchar_t label[MAX_PATH + 1] = {}, fs[MAX_PATH + 1] = {};
    // A reader without a card has a letter and no volume.
    if (!::GetVolumeInformationW(root.c_str(), label, MAX_PATH, nullptr, nullptr, nullptr, fs, MAX_PATH))
      return false;
    out.label = Narrow(label, wcslen(label));
    out.fileSystem = Narrow(fs, wcslen(fs));
    ULARGE_INTEGER available{}, total{}, free{};
    if (::GetDiskFreeSpaceExW(root.c_str(), &available, &total, &free)) {
      out.totalBytes = total.QuadPart;
      out.freeBytes = available.QuadPart;
    }
    return true;
  }
};

}  // namespace

std::unique_ptr<DeviceRequests> SystemDeviceRequests() { return std::make_unique<SystemRequests>(); }

}  // namespace win

bool SystemDescribesDisks() { return true; }

std::vector<SystemDisk> DescribeSystemDisks() { return win::DescribeDisks(*win::SystemDeviceRequests()); }

std::vector<std::string> SystemDiskPaths() {
  std::vector<std::string> out;
  uint32_t misses = 0;
  // Numbers can have gaps where a disk went; a run of missing ones ends the list.
  for (uint32_t n = 0; n < 64 && misses < 16; ++n) {
    const std::string path = "\\\\.\\PhysicalDrive" + std::to_string(n);
    win::Handle h(::CreateFileW(win::LongPath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
    if (!h.Valid()) {
      ++misses;
      continue;
    }
    misses = 0;
    out.resize(n + 1);
    out[n] = path;
  }
  return out;
}

}  // namespace dunmere
