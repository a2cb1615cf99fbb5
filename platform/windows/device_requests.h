#pragma once
// The requests that describe disks and volumes, behind one seam: the system's
// answers in the program, recorded answers in tests (Wine opens no physical
// drive). DescribeDisks reads only what comes through it.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/system_disks.h"

namespace dunmere::win {

class DeviceRequests {
 public:
  virtual ~DeviceRequests() = default;
  // The answer of control request `code` (with `input`) to a device such as
  // \\.\PhysicalDrive0 or \\.\E:, whole whatever its length; false when the
  // device is missing or refuses the request.
  virtual bool Ask(const std::string& device, DWORD code, const std::vector<uint8_t>& input,
                   std::vector<uint8_t>& answer) = 0;
  // Roots of the drive letters of local volumes ("C:\", "E:\").
  virtual std::vector<std::string> MountPoints() = 0;
  // Label, file system and sizes of the volume at a root.
  virtual bool VolumeFacts(const std::string& mountPoint, SystemVolume& out) = 0;
};

// The system's own answers: devices opened for reading where the rights allow
// (administrators), else for questions only, which the layout and geometry
// requests also answer.
std::unique_ptr<DeviceRequests> SystemDeviceRequests();

// Disks 0 .. maxDisks-1 that answer, each with its geometry, its partitions
// (MBR or GPT layout) and the volumes that lie on them.
std::vector<SystemDisk> DescribeDisks(DeviceRequests& requests, uint32_t maxDisks = 64);

}  // namespace dunmere::win
