// The list of places to scan built from the disks a system describes
// (storage/disk_list.h DiskListFromSystemDisks): the Windows route, checked
// on every system with descriptions made here.
#include <gtest/gtest.h>

#include "storage/disk_list.h"

namespace dunmere {
namespace {

SystemVolume Volume(const std::string& letter, const std::string& fs, const std::string& label) {
  SystemVolume v;
  v.devicePath = "\\\\.\\" + letter + ":";
  v.mountPoint = letter + ":\\";
  v.fileSystem = fs;
  v.label = label;
  v.totalBytes = 1000ull << 20;
  v.freeBytes = 400ull << 20;
  return v;
}

// An MBR disk of 8 GiB: a primary NTFS partition with a letter, an extended
// partition with one logical FAT32 partition without a letter, and free
// space at the end.
SystemDisk MbrDisk() {
  SystemDisk d;
  d.number = 1;
  d.devicePath = "\\\\.\\PhysicalDrive1";
  d.lengthBytes = 8ull << 30;
  d.sectorsPerTrack = 63;
  d.tracksPerCylinder = 255;
  d.style = PartitionStyle::kMbr;
  SystemPartition ntfs{1, 1ull << 20, 2ull << 30, 0x07, false, true, Volume("E", "NTFS", "DATA")};
  SystemPartition extended{0, (2ull << 30) + (1ull << 20), 3ull << 30, 0x0F, true, false, {}};
  SystemPartition logical{5, (2ull << 30) + (2ull << 20), (3ull << 30) - (1ull << 20), 0x0B, false, false, {}};
  d.partitions = {ntfs, extended, logical};
  return d;
}

// A GPT disk of 4 KiB sectors whose one partition is an exFAT volume.
SystemDisk GptDisk() {
  SystemDisk d;
  d.number = 0;
  d.devicePath = "\\\\.\\PhysicalDrive0";
  d.bytesPerSector = 4096;
  d.lengthBytes = 64ull << 30;
  d.style = PartitionStyle::kGpt;
  d.removable = true;
  SystemPartition p{1, 1ull << 20, (64ull << 30) - (2ull << 20), -1, false, true, Volume("F", "exFAT", "CARD")};
  d.partitions = {p};
  return d;
}

TEST(SystemDiskList, PartitionsVolumesAndFreeSpaceOfAnMbrAndAGptDisk) {
  DiskList list;
  DiskListFromSystemDisks({GptDisk(), MbrDisk()}, list);
  ASSERT_EQ(list.size(), 2u);

  const std::vector<VolumeInfo>& gpt = list.at(0);
  ASSERT_EQ(gpt.size(), 1u);  // the stretch before 1 MiB is less than a cylinder
  EXPECT_EQ(gpt[0].kind, EntryKind::kVolume);
  EXPECT_EQ(gpt[0].fsName, "exFAT");
  EXPECT_EQ(gpt[0].label, "CARD");
  EXPECT_EQ(gpt[0].bytesPerSector, 4096u);
  EXPECT_EQ(gpt[0].startSector, (1u << 20) / 4096);
  EXPECT_EQ(gpt[0].volumePath, "\\\\.\\F:");
  EXPECT_EQ(gpt[0].mountPoint, "F:\\");
  EXPECT_EQ(gpt[0].freeBytes, 400ull << 20);
  EXPECT_EQ(gpt[0].usedBytes, 600ull << 20);

  const std::vector<VolumeInfo>& mbr = list.at(1);
  ASSERT_EQ(mbr.size(), 3u);
  EXPECT_EQ(mbr[0].partitionNumber, 1);
  EXPECT_EQ(mbr[0].fsName, "NTFS");
  EXPECT_EQ(mbr[0].fsType, kFsTypeNtfs);
  EXPECT_EQ(mbr[0].startSector, 2048u);
  // The container is no place to scan; its logical partition is, scanned by
  // its sectors since it has no letter.
  EXPECT_EQ(mbr[1].partitionNumber, 5);
  EXPECT_TRUE(mbr[1].volumePath.empty());
  EXPECT_EQ(mbr[1].fsType, 0x0B);
  EXPECT_EQ(mbr[2].kind, EntryKind::kUnallocated);
  EXPECT_EQ(mbr[2].startSector, ((5ull << 30) + (1ull << 20)) / 512);
  EXPECT_EQ(mbr[2].startSector + mbr[2].sectorCount, (8ull << 30) / 512);

  // Tags run over the whole list, disk by disk.
  EXPECT_EQ(gpt[0].letter, 1);
  EXPECT_EQ(mbr[0].letter, 2);
  EXPECT_EQ(mbr[2].letter, 4);
}

TEST(SystemDiskList, DisksWithoutATable) {
  SystemDisk stick;
  stick.number = 2;
  stick.devicePath = "\\\\.\\PhysicalDrive2";
  stick.lengthBytes = 16ull << 30;
  stick.hasVolume = true;
  stick.volume = Volume("G", "FAT32", "STICK");
  SystemDisk blank;
  blank.number = 3;
  blank.devicePath = "\\\\.\\PhysicalDrive3";
  blank.lengthBytes = 1ull << 30;
  SystemDisk gone;  // a reader without a card
  gone.number = 4;
  DiskList list;
  DiskListFromSystemDisks({stick, blank, gone}, list);
  ASSERT_EQ(list.size(), 2u);
  ASSERT_EQ(list.at(2).size(), 1u);
  EXPECT_EQ(list.at(2)[0].kind, EntryKind::kVolume);
  EXPECT_EQ(list.at(2)[0].partitionNumber, 0);
  EXPECT_EQ(list.at(2)[0].fsType, kFsTypeFat32);
  EXPECT_EQ(list.at(2)[0].volumePath, "\\\\.\\G:");
  ASSERT_EQ(list.at(3).size(), 1u);
  EXPECT_EQ(list.at(3)[0].kind, EntryKind::kWholeDisk);
  EXPECT_EQ(list.at(3)[0].sectorCount, (1ull << 30) / 512);
}

}  // namespace
}  // namespace dunmere
