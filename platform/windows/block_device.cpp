#include "platform/block_device.h"

#include <windows.h>

#include <winioctl.h>

#include <cctype>

#include "platform/windows/win_util.h"

namespace dunmere {

using win::Handle;

namespace {

Status QueryHandle(HANDLE h, BlockGeometry& g) {
  g = BlockGeometry{};
  // The length request answers for what the handle is, a disk or a volume;
  // the geometry of a volume is its disk's, whose size is not the volume's.
  GET_LENGTH_INFORMATION length{};
  const bool hasLength = win::DeviceRequest(h, IOCTL_DISK_GET_LENGTH_INFO, &length, sizeof length);
  DISK_GEOMETRY_EX geo{};
  DISK_GEOMETRY plain{};
  const bool hasGeometryEx = win::DeviceRequest(h, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, &geo, sizeof geo);
  if (hasGeometryEx) plain = geo.Geometry;
  const bool hasGeometry = hasGeometryEx || win::DeviceRequest(h, IOCTL_DISK_GET_DRIVE_GEOMETRY, &plain, sizeof plain);
  if (!hasLength && !hasGeometry) {
    // A file.
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(h, &size)) return win::LastStatus();
    g.lengthBytes = uint64_t(size.QuadPart);
    return kOk;
  }
  g.isBlockDevice = true;
  if (hasGeometry) {
    if (plain.BytesPerSector >= 512) g.bytesPerSector = plain.BytesPerSector;
    g.tracksPerCylinder = plain.TracksPerCylinder;
    g.sectorsPerTrack = plain.SectorsPerTrack;
    g.cylinders = uint64_t(plain.Cylinders.QuadPart);
  }
  if (hasLength) g.lengthBytes = uint64_t(length.Length.QuadPart);
  else if (hasGeometryEx) g.lengthBytes = uint64_t(geo.DiskSize.QuadPart);  // a disk asked without read rights
  if (g.tracksPerCylinder && g.sectorsPerTrack && g.lengthBytes)
    g.cylinders = g.lengthBytes / g.bytesPerSector / (uint64_t(g.tracksPerCylinder) * g.sectorsPerTrack);
  if (g.lengthBytes == 0 && g.cylinders == 0) return kNotReady;
  return kOk;
}

// The disk and partition numbers of a disk or volume ("1:2"); empty when it
// answers none.
std::string DeviceNumberText(HANDLE h) {
  STORAGE_DEVICE_NUMBER number{};
  if (!win::DeviceRequest(h, IOCTL_STORAGE_GET_DEVICE_NUMBER, &number, sizeof number)) return {};
  return std::to_string(number.DeviceNumber) + ":" + std::to_string(number.PartitionNumber);
}

HANDLE OpenForQuestions(const std::string& device) {
  return ::CreateFileW(win::LongPath(device).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

}  // namespace

Status QueryBlockGeometry(const File& file, BlockGeometry& g) {
  return QueryHandle(reinterpret_cast<HANDLE>(file.NativeHandle()), g);
}

Status QueryBlockGeometry(const std::string& path, BlockGeometry& g) {
  g = BlockGeometry{};
  Handle h(win::OpenForReading(path));
  // The length of a disk needs the right to read it; its geometry does not.
  if (!h.Valid() && win::IsDevicePath(path)) h.Reset(OpenForQuestions(path));
  if (!h.Valid()) return win::LastStatus();
  return QueryHandle(h.Get(), g);
}

std::string BlockDeviceNumber(const std::string& path) {
  if (!win::IsDevicePath(path)) return {};
  Handle h(OpenForQuestions(path));
  return h.Valid() ? DeviceNumberText(h.Get()) : std::string();
}

Status FileSystemDeviceNumber(const std::string& path, std::string& number) {
  number.clear();
  wchar_t root[MAX_PATH + 1];
  if (!::GetVolumePathNameW(win::LongPath(path).c_str(), root, MAX_PATH)) return win::LastStatus();
  wchar_t volume[MAX_PATH + 1];
  if (!::GetVolumeNameForVolumeMountPointW(root, volume, MAX_PATH)) return win::LastStatus();
  std::wstring device = volume;
  if (!device.empty() && device.back() == L'\\') device.pop_back();
  Handle h(::CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr));
  if (!h.Valid()) return win::LastStatus();
  number = DeviceNumberText(h.Get());
  return number.empty() ? kNotSupported : kOk;
}

namespace {

// The serial number the disk reports, from its descriptor.
std::string SerialOf(HANDLE h) {
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  std::vector<uint8_t> answer(4096, 0);
  DWORD got = 0;
  if (!::DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, answer.data(), DWORD(answer.size()),
                         &got, nullptr) ||
      got < sizeof(STORAGE_DEVICE_DESCRIPTOR))
    return {};
  const auto* d = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(answer.data());
  if (d->SerialNumberOffset == 0 || d->SerialNumberOffset >= got) return {};
  std::string serial(reinterpret_cast<const char*>(answer.data() + d->SerialNumberOffset));
  while (!serial.empty() && serial.back() == ' ') serial.pop_back();
  while (!serial.empty() && serial.front() == ' ') serial.erase(serial.begin());
  return serial;
}

}  // namespace

std::string DeviceIdentity(const std::string& path, const std::string& sysRoot) {
  const std::string number = BlockDeviceNumber(path);
  return number.empty() ? std::string() : DeviceIdentityOfNumber(number, sysRoot);
}

std::string DeviceIdentityOfNumber(const std::string& number, const std::string&) {
  // A partition's identity is its disk's.
  const std::string disk = number.substr(0, number.find(':'));
  if (disk.empty()) return {};
  Handle h(OpenForQuestions("\\\\.\\PhysicalDrive" + disk));
  if (!h.Valid()) return {};
  const std::string serial = SerialOf(h.Get());
  return serial.empty() ? std::string() : "serial=" + serial;
}

// Windows writes a volume's cached data back only for a writer of the volume;
// the program opens nothing for writing, so what the cache holds stays there
// until the system writes it (within seconds).
void FlushSystemCaches() {}

std::string VolumeDeviceOf(const std::string& text) {
  const bool letter = text.size() >= 2 && std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':';
  if (letter && (text.size() == 2 || (text.size() == 3 && (text[2] == '\\' || text[2] == '/'))))
    return "\\\\.\\" + text.substr(0, 2);
  return text;
}

}  // namespace dunmere
