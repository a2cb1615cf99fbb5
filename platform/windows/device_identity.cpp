#include "platform/device_identity.h"

#include <windows.h>

#include <winioctl.h>

#include <cstring>
#include <vector>

#include "platform/windows/win_util.h"

namespace dunmere {

using win::Handle;

// On Windows a device of the set is a disk number: a disk is the medium of
// every volume on it, whichever letters they have.
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The disks a volume lies on (several for a spanned or mirrored volume).
DeviceSet DisksOfVolume(const std::wstring& volumeDevice) {
  DeviceSet out;
  Handle h(::CreateFileW(volumeDevice.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!h.Valid()) return out;
  std::vector<uint8_t> answer(sizeof(VOLUME_DISK_EXTENTS) + 31 * sizeof(DISK_EXTENT));
  DWORD got = 0;
  if (!::DeviceIoControl(h.Get(), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, answer.data(),
                         DWORD(answer.size()), &got, nullptr))
    return out;
  const auto* extents = reinterpret_cast<const VOLUME_DISK_EXTENTS*>(answer.data());
  for (DWORD i = 0; i < extents->NumberOfDiskExtents && i < 32; ++i)
    out.insert(dev_t(extents->Extents[i].DiskNumber));
  return out;
}

// The volume's own name ("\\?\Volume{...}") of the nearest existing folder of
// `path`; empty when it has none.
std::wstring VolumeNameOf(const std::string& path) {
  wchar_t root[MAX_PATH + 1];
  if (!::GetVolumePathNameW(win::LongPath(path).c_str(), root, MAX_PATH)) return {};
  wchar_t volume[MAX_PATH + 1];
  if (!::GetVolumeNameForVolumeMountPointW(root, volume, MAX_PATH)) return {};
  std::wstring v = volume;
  if (!v.empty() && v.back() == L'\\') v.pop_back();
  return v;
}

std::string NearestExisting(std::string path) {
  while (!path.empty() && ::GetFileAttributesW(win::LongPath(path).c_str()) == INVALID_FILE_ATTRIBUTES) {
    const std::string up = win::ParentOf(path);
    if (up.empty() || up == path) return {};
    path = up;
  }
  return path;
}

// "\\.\PhysicalDriveN": N; -1 for any other name.
long DiskNumberOfName(const std::string& path) {
  if (!win::IsDevicePath(path)) return -1;
  const std::string rest = path.substr(4);
  const std::string prefix = "PhysicalDrive";
  if (rest.size() <= prefix.size() || _strnicmp(rest.c_str(), prefix.c_str(), prefix.size()) != 0) return -1;
  char* end = nullptr;
  const long n = std::strtol(rest.c_str() + prefix.size(), &end, 10);
  return end && *end == 0 && n >= 0 ? n : -1;
}

}  // namespace

DeviceSet PartitionsOfDisk(dev_t disk, const std::string&) { return {disk}; }

DeviceSet MediumOfDevice(dev_t device, const IdentityRoots&) { return {device}; }

DeviceSet SourceDevices(const std::string& sourcePath, const IdentityRoots&) {
  if (const long n = DiskNumberOfName(sourcePath); n >= 0) return {dev_t(n)};
  if (!win::IsDevicePath(sourcePath)) return {};
  return DisksOfVolume(win::LongPath(sourcePath));
}

StorageChain DestinationChain(const std::string& destination, const IdentityRoots&) {
  StorageChain out;
  const std::string at = NearestExisting(destination);
  if (at.empty()) return out;
  const std::wstring volume = VolumeNameOf(at);
  if (!volume.empty()) out.devices = DisksOfVolume(volume);
  return out;
}

bool DestinationOnSource(const std::string& destination, const std::string& sourcePath, const IdentityRoots& roots) {
  // An image file is a copy: writing beside it cannot change it.
  if (!win::IsDevicePath(sourcePath)) return false;
  const std::string at = NearestExisting(destination);
  if (at.empty()) return false;
  // The same volume, also where its disks cannot be learned (a volume of
  // several disks, a virtual drive).
  if (DiskNumberOfName(sourcePath) < 0) {
    const std::wstring source = VolumeNameOf(sourcePath.substr(4) + "\\");
    if (!source.empty() && source == VolumeNameOf(at)) return true;
  }
  return ChainTouches(DestinationChain(at, roots), SourceDevices(sourcePath, roots));
}

}  // namespace dunmere
