// Disks and volumes as the Windows requests describe them, read from
// recorded answers through the seam the program's own requests go through
// (Wine opens no physical drive). The answers are laid out as the system
// lays them out: the layout of an MBR disk lists every slot of every
// partition table, a GPT disk's lists its used entries.
#include <windows.h>

#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "platform/windows/device_requests.h"

namespace dunmere::win {
namespace {

template <class T>
std::vector<uint8_t> BytesOf(const T& value) {
  std::vector<uint8_t> out(sizeof(T));
  std::memcpy(out.data(), &value, sizeof(T));
  return out;
}

struct Slot {
  int number;
  uint64_t start, length;
  uint8_t mbrType;  // MBR
  GUID gptType;     // GPT
};

std::vector<uint8_t> Layout(DWORD style, const std::vector<Slot>& slots) {
  std::vector<uint8_t> out(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) +
                           slots.size() * sizeof(PARTITION_INFORMATION_EX));
  auto* layout = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(out.data());
  layout->PartitionStyle = style;
  layout->PartitionCount = DWORD(slots.size());
  for (size_t i = 0; i < slots.size(); ++i) {
    PARTITION_INFORMATION_EX e{};
    e.PartitionStyle = PARTITION_STYLE(style);
    e.StartingOffset.QuadPart = LONGLONG(slots[i].start);
    e.PartitionLength.QuadPart = LONGLONG(slots[i].length);
    e.PartitionNumber = DWORD(slots[i].number);
    if (style == PARTITION_STYLE_MBR) {
      e.Mbr.PartitionType = slots[i].mbrType;
      e.Mbr.RecognizedPartition = slots[i].mbrType != 0;
    } else {
      e.Gpt.PartitionType = slots[i].gptType;
    }
    std::memcpy(out.data() + offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) + i * sizeof e, &e, sizeof e);
  }
  return out;
}

std::vector<uint8_t> Geometry(uint64_t length, DWORD bytesPerSector, MEDIA_TYPE media) {
  DISK_GEOMETRY_EX g{};
  g.Geometry.BytesPerSector = bytesPerSector;
  g.Geometry.SectorsPerTrack = 63;
  g.Geometry.TracksPerCylinder = 255;
  g.Geometry.Cylinders.QuadPart = LONGLONG(length / bytesPerSector / (63 * 255));
  g.Geometry.MediaType = media;
  g.DiskSize.QuadPart = LONGLONG(length);
  return BytesOf(g);
}

std::vector<uint8_t> Descriptor(STORAGE_BUS_TYPE bus, bool removable) {
  STORAGE_DEVICE_DESCRIPTOR d{};
  d.Version = sizeof d;
  d.Size = sizeof d;
  d.BusType = bus;
  d.RemovableMedia = removable;
  return BytesOf(d);
}

std::vector<uint8_t> Extent(DWORD disk, uint64_t start, uint64_t length) {
  VOLUME_DISK_EXTENTS e{};
  e.NumberOfDiskExtents = 1;
  e.Extents[0].DiskNumber = disk;
  e.Extents[0].StartingOffset.QuadPart = LONGLONG(start);
  e.Extents[0].ExtentLength.QuadPart = LONGLONG(length);
  return BytesOf(e);
}

std::vector<uint8_t> DeviceNumber(DWORD disk, DWORD partition) {
  STORAGE_DEVICE_NUMBER n{};
  n.DeviceType = FILE_DEVICE_DISK;
  n.DeviceNumber = disk;
  n.PartitionNumber = partition;
  return BytesOf(n);
}

constexpr uint64_t MiB = 1ull << 20, GiB = 1ull << 30;
const GUID kBasicData = {0xEBD0A0A2, 0xB9E5, 0x4433, {0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7}};
const GUID kEfiSystem = {0xC12A7328, 0xF81F, 0x11D2, {0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B}};
const GUID kReserved = {0xE3C9E316, 0x0B5C, 0x4DB8, {0x81, 0x7D, 0xF9, 0x2D, 0xF0, 0x02, 0x15, 0xAE}};

// Disk 0: MBR, 16 GiB, a primary NTFS partition (E:), an extended partition
// holding one logical FAT32 partition (F:). Disk 1: a GPT USB disk of 4 KiB
// sectors, an EFI system partition, a reserved one and an NTFS volume (G:).
// Disk 2 is missing; Z: is a drive of no disk (a network or Wine's own).
class RecordedRequests final : public DeviceRequests {
 public:
  RecordedRequests() {
    const std::string d0 = "\\\\.\\PhysicalDrive0", d1 = "\\\\.\\PhysicalDrive1";
    answers_[{d0, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX}] = Geometry(16 * GiB, 512, FixedMedia);
    answers_[{d0, IOCTL_STORAGE_QUERY_PROPERTY}] = Descriptor(BusTypeSata, false);
    answers_[{d0, IOCTL_DISK_GET_DRIVE_LAYOUT_EX}] = Layout(
        PARTITION_STYLE_MBR, {{1, 1 * MiB, 8 * GiB, 0x07, {}},
                              {0, 8 * GiB + 1 * MiB, 7 * GiB, 0x0F, {}},
                              {0, 0, 0, 0, {}},
                              {0, 0, 0, 0, {}},
                              // The first logical partition's table: it, and no link on.
                              {2, 8 * GiB + 2 * MiB, 7 * GiB - 1 * MiB, 0x0C, {}},
                              {0, 0, 0, 0, {}},
                              {0, 0, 0, 0, {}},
                              {0, 0, 0, 0, {}}});
    answers_[{d1, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX}] = Geometry(256 * GiB, 4096, FixedMedia);
    answers_[{d1, IOCTL_STORAGE_QUERY_PROPERTY}] = Descriptor(BusTypeUsb, false);
    answers_[{d1, IOCTL_DISK_GET_DRIVE_LAYOUT_EX}] =
        Layout(PARTITION_STYLE_GPT, {{1, 1 * MiB, 100 * MiB, 0, kEfiSystem},
                                     {2, 101 * MiB, 16 * MiB, 0, kReserved},
                                     {3, 117 * MiB, 200 * GiB, 0, kBasicData}});
    answers_[{"\\\\.\\E:", IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS}] = Extent(0, 1 * MiB, 8 * GiB);
    answers_[{"\\\\.\\E:", IOCTL_STORAGE_GET_DEVICE_NUMBER}] = DeviceNumber(0, 1);
    answers_[{"\\\\.\\F:", IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS}] = Extent(0, 8 * GiB + 2 * MiB, 7 * GiB - 1 * MiB);
    answers_[{"\\\\.\\F:", IOCTL_STORAGE_GET_DEVICE_NUMBER}] = DeviceNumber(0, 2);
    answers_[{"\\\\.\\G:", IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS}] = Extent(1, 117 * MiB, 200 * GiB);
    answers_[{"\\\\.\\G:", IOCTL_STORAGE_GET_DEVICE_NUMBER}] = DeviceNumber(1, 3);
    facts_["E:\\"] = {"", "", "NTFS", "SYSTEM", 8 * GiB, 3 * GiB};
    facts_["F:\\"] = {"", "", "FAT32", "PHOTOS", 7 * GiB - 1 * MiB, 1 * GiB};
    facts_["G:\\"] = {"", "", "NTFS", "BACKUP", 200 * GiB, 150 * GiB};
    facts_["Z:\\"] = {"", "", "NTFS", "", 100 * GiB, 50 * GiB};
  }

  bool Ask(const std::string& device, DWORD code, const std::vector<uint8_t>&, std::vector<uint8_t>& answer) override {
    ++asked_;
    auto it = answers_.find({device, code});
    if (it == answers_.end()) return false;
    answer = it->second;
    return true;
  }
  std::vector<std::string> MountPoints() override { return {"E:\\", "F:\\", "G:\\", "Z:\\"}; }
  bool VolumeFacts(const std::string& mountPoint, SystemVolume& out) override {
    auto it = facts_.find(mountPoint);
    if (it == facts_.end()) return false;
    out = it->second;
    return true;
  }
  int asked_ = 0;

 private:
  std::map<std::pair<std::string, DWORD>, std::vector<uint8_t>> answers_;
  std::map<std::string, SystemVolume> facts_;
};

TEST(SystemDisks, MbrDiskWithALogicalPartitionAndTheirVolumes) {
  RecordedRequests requests;
  const std::vector<SystemDisk> disks = DescribeDisks(requests, 4);
  ASSERT_EQ(disks.size(), 2u);  // disk 2 answers nothing
  const SystemDisk& d = disks[0];
  EXPECT_EQ(d.number, 0u);
  EXPECT_EQ(d.devicePath, "\\\\.\\PhysicalDrive0");
  EXPECT_EQ(d.style, PartitionStyle::kMbr);
  EXPECT_EQ(d.lengthBytes, 16 * GiB);
  EXPECT_EQ(d.bytesPerSector, 512u);
  EXPECT_EQ(d.sectorsPerTrack, 63u);
  EXPECT_FALSE(d.removable);
  // Empty slots and the link of the logical chain are no partitions; the
  // extended partition is kept, marked as the container it is.
  ASSERT_EQ(d.partitions.size(), 3u);
  EXPECT_EQ(d.partitions[0].number, 1);
  EXPECT_EQ(d.partitions[0].mbrType, 0x07);
  EXPECT_TRUE(d.partitions[0].hasVolume);
  EXPECT_EQ(d.partitions[0].volume.devicePath, "\\\\.\\E:");
  EXPECT_EQ(d.partitions[0].volume.mountPoint, "E:\\");
  EXPECT_EQ(d.partitions[0].volume.label, "SYSTEM");
  EXPECT_EQ(d.partitions[0].volume.freeBytes, 3 * GiB);
  EXPECT_TRUE(d.partitions[1].extended);
  EXPECT_FALSE(d.partitions[1].hasVolume);
  EXPECT_EQ(d.partitions[2].number, 2);
  EXPECT_EQ(d.partitions[2].startByte, 8 * GiB + 2 * MiB);
  EXPECT_EQ(d.partitions[2].volume.fileSystem, "FAT32");
  EXPECT_EQ(d.partitions[2].volume.devicePath, "\\\\.\\F:");
}

TEST(SystemDisks, GptUsbDiskWithFourKilobyteSectors) {
  RecordedRequests requests;
  const std::vector<SystemDisk> disks = DescribeDisks(requests, 4);
  ASSERT_EQ(disks.size(), 2u);
  const SystemDisk& d = disks[1];
  EXPECT_EQ(d.number, 1u);
  EXPECT_EQ(d.style, PartitionStyle::kGpt);
  EXPECT_EQ(d.bytesPerSector, 4096u);
  EXPECT_TRUE(d.removable);  // on USB, though its medium is fixed
  ASSERT_EQ(d.partitions.size(), 3u);
  for (const SystemPartition& p : d.partitions) EXPECT_EQ(p.mbrType, -1);
  EXPECT_FALSE(d.partitions[0].hasVolume);
  EXPECT_FALSE(d.partitions[1].hasVolume);
  ASSERT_TRUE(d.partitions[2].hasVolume);
  EXPECT_EQ(d.partitions[2].volume.label, "BACKUP");
  EXPECT_EQ(d.partitions[2].lengthBytes, 200 * GiB);
}

TEST(SystemDisks, ShortOrMissingAnswersCostTheirDiskOnly) {
  class Truncated final : public DeviceRequests {
   public:
    bool Ask(const std::string& device, DWORD code, const std::vector<uint8_t>& in,
             std::vector<uint8_t>& answer) override {
      if (!inner.Ask(device, code, in, answer)) return false;
      // A layout cut inside its second entry: the first is still read.
      if (code == IOCTL_DISK_GET_DRIVE_LAYOUT_EX && device.back() == '0')
        answer.resize(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) + sizeof(PARTITION_INFORMATION_EX) + 8);
      // A geometry cut short reads as no disk.
      if (code == IOCTL_DISK_GET_DRIVE_GEOMETRY_EX && device.back() == '1') answer.resize(8);
      return true;
    }
    std::vector<std::string> MountPoints() override { return inner.MountPoints(); }
    bool VolumeFacts(const std::string& m, SystemVolume& out) override { return inner.VolumeFacts(m, out); }
    RecordedRequests inner;
  } requests;
  const std::vector<SystemDisk> disks = DescribeDisks(requests, 4);
  ASSERT_EQ(disks.size(), 1u);
  ASSERT_EQ(disks[0].partitions.size(), 1u);
  EXPECT_TRUE(disks[0].partitions[0].hasVolume);
}

}  // namespace
}  // namespace dunmere::win
