#pragma once
// Size and geometry of an open block device (or of a regular file standing in
// for one): the platform's answer to the drive-geometry and length requests.
#include <cstdint>
#include <string>

#include "base/status.h"
#include "platform/file.h"

namespace dunmere {

struct BlockGeometry {
  uint32_t bytesPerSector = 512;
  uint64_t lengthBytes = 0;  // 0 when the length request failed
  uint64_t cylinders = 0;
  uint32_t tracksPerCylinder = 0;
  uint32_t sectorsPerTrack = 0;
  bool isBlockDevice = false;
};

// Fails only when neither the geometry nor the length can be learned.
Status QueryBlockGeometry(const File& file, BlockGeometry& g);
// The same of a device by name, opened only for the question and without
// waiting for a medium (a card reader with no card answers at once).
Status QueryBlockGeometry(const std::string& path, BlockGeometry& g);

// "MAJOR:MINOR", the way sysfs and mountinfo write device numbers, of a block
// device node (links followed); empty when path names none.
std::string BlockDeviceNumber(const std::string& path);
// The same of the device holding the file system that path is on.
Status FileSystemDeviceNumber(const std::string& path, std::string& number);
// What tells this device's medium from another of the same make and size: the
// world-wide name, the card's identification or the serial number the
// kernel reports (for a card in a reader, the reader's), or a loop device's
// backing file. Empty for a regular file or when the kernel gives none.
// `sysRoot` is where the kernel's device tree is read; tests fake it.
std::string DeviceIdentity(const std::string& path, const std::string& sysRoot = "/sys");
// The same of a device by its number ("MAJOR:MINOR").
std::string DeviceIdentityOfNumber(const std::string& number, const std::string& sysRoot = "/sys");
// A volume as a person names it ("E:" or "E:\" on Windows) as the device
// that reads it ("\\.\E:"); any other text as it is (Linux names devices
// by their paths).
std::string VolumeDeviceOf(const std::string& text);
// Asks the kernel to write cached data of mounted file systems back before a
// raw read of the device.
void FlushSystemCaches();

}  // namespace dunmere
