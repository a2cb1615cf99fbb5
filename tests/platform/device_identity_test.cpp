#include "platform/device_identity.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>

#include "platform/block_device.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace dunmere {
namespace {

using test::TempDir;

void WriteText(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p) << text;
}

TEST(DeviceIdentity, AnImageFileIsACopyWritingBesideItIsAllowed) {
  TempDir dir;
  test::WriteBytes(dir / "disk.img", std::vector<uint8_t>(512, 0));
  // Same file system as the image, not made yet, or elsewhere: nothing written
  // there can change the image's bytes.
  EXPECT_FALSE(DestinationOnSource(dir / "out", dir / "disk.img"));
  EXPECT_FALSE(DestinationOnSource(dir / "a/b/c", dir / "disk.img"));
  EXPECT_FALSE(DestinationOnSource("/dev/shm", dir / "disk.img"));
  EXPECT_FALSE(DestinationOnSource(dir / "out", dir / "missing.img"));
}

// A fake sysfs and mountinfo: disk sdb with sdb1 and sdb2, disk sdc with sdc1,
// dm-0 stacked on sdb2, loop7 backed by an image file with partition loop7p1.
// Each file system is "mounted" on a folder of the test.
class FakeStorage : public ::testing::Test {
 protected:
  void SetUp() override {
    sys_ = dir_.path() + "/sys";
    roots_.sys = sys_.string();
    roots_.mountInfo = dir_ / "mountinfo";
    test::WriteBytes(dir_ / "backing.img", std::vector<uint8_t>(4096, 0));
    test::WriteBytes(dir_ / "other.img", std::vector<uint8_t>(4096, 0));
    Disk("sdb", "250:16");
    Part("sdb", "sdb1", "250:17");
    Part("sdb", "sdb2", "250:18");
    Disk("sdc", "250:32");
    Part("sdc", "sdc1", "250:33");
    Disk("dm-0", "252:0");
    fs::create_directories(sys_ / "block/dm-0/slaves");
    fs::create_directory_symlink("../../sdb/sdb2", sys_ / "block/dm-0/slaves/sdb2");
    Disk("loop7", "251:7");
    WriteText(sys_ / "block/loop7/loop/backing_file", dir_ / "backing.img" + "\n");
    Part("loop7", "loop7p1", "251:8");
    std::string mi;
    int id = 40;
    for (auto [dev, name] : {std::pair{"250:17", "sdb1"}, {"250:18", "sdb2"}, {"250:33", "sdc1"}, {"252:0", "dm-0"},
                             {"251:8", "loop7p1"}, {"250:16", "sdb"}}) {
      fs::create_directories(fs::path(dir_.path()) / "mnt" / name);
      mi += std::to_string(id++) + " 1 " + dev + " / " + dir_.path() + "/mnt/" + name + " rw - ext4 /dev/" + name +
            " rw\n";
    }
    // A btrfs-like mount: an anonymous device number, the disk named as source.
    fs::create_directories(dir_ / "mnt/anon dir");
    mi += "60 1 0:77 / " + dir_.path() + "/mnt/anon\\040dir rw - btrfs /dev/sdc1 rw\n";
    WriteText(dir_ / "mountinfo", mi);
  }
  void Link(const std::string& devno, const fs::path& target, const std::string& name) {
    fs::create_directories(sys_ / "dev/block");
    fs::create_directories(sys_ / "class/block");
    fs::create_directory_symlink(target, sys_ / "dev/block" / devno);
    fs::create_directory_symlink(target, sys_ / "class/block" / name);
  }
  void Disk(const std::string& name, const std::string& devno) {
    WriteText(sys_ / "block" / name / "dev", devno + "\n");
    Link(devno, sys_ / "block" / name, name);
  }
  void Part(const std::string& disk, const std::string& name, const std::string& devno) {
    WriteText(sys_ / "block" / disk / name / "dev", devno + "\n");
    WriteText(sys_ / "block" / disk / name / "partition", "1\n");
    Link(devno, sys_ / "block" / disk / name, name);
  }
  bool OnMedium(const std::string& mount, const std::string& devno) {
    dev_t d = makedev(std::stoi(devno), std::stoi(devno.substr(devno.find(':') + 1)));
    return ChainTouches(DestinationChain((fs::path(dir_.path()) / "mnt" / mount / "recovered/photos").string(), roots_), MediumOfDevice(d, roots_));
  }

  TempDir dir_;
  fs::path sys_;
  IdentityRoots roots_;
};

TEST_F(FakeStorage, TheWholeDiskOfAPartitionIsTheMedium) {
  EXPECT_EQ(PartitionsOfDisk(makedev(250, 16), roots_.sys), (DeviceSet{makedev(250, 17), makedev(250, 18)}));
  EXPECT_TRUE(PartitionsOfDisk(makedev(250, 17), roots_.sys).empty());
  EXPECT_EQ(MediumOfDevice(makedev(250, 17), roots_),
            (DeviceSet{makedev(250, 16), makedev(250, 17), makedev(250, 18)}));
  // Scanning sdb1: the partition itself, its sibling and the disk are refused;
  // so is a device stacked on the sibling. Another disk is fine.
  EXPECT_TRUE(OnMedium("sdb1", "250:17"));
  EXPECT_TRUE(OnMedium("sdb2", "250:17"));
  EXPECT_TRUE(OnMedium("sdb", "250:17"));
  EXPECT_TRUE(OnMedium("dm-0", "250:17"));
  EXPECT_FALSE(OnMedium("sdc1", "250:17"));
  EXPECT_FALSE(OnMedium("loop7p1", "250:17"));
  // Scanning the whole disk sdc, or its unallocated space.
  EXPECT_TRUE(OnMedium("sdc1", "250:32"));
  EXPECT_TRUE(OnMedium("anon dir", "250:32")) << "mounted by name with an anonymous device number";
  EXPECT_FALSE(OnMedium("sdb2", "250:32"));
  // Scanning the loop device: a file system on its partition lies on it.
  EXPECT_TRUE(OnMedium("loop7p1", "251:7"));
  EXPECT_FALSE(OnMedium("sdb1", "251:7"));
}

// What tells one card or disk from another of the same size: kept with a
// stopped deep scan so that it is taken up only on the same medium.
TEST_F(FakeStorage, ADiskIsKnownByItsOwnIdentityAndAPartitionByItsDisks) {
  WriteText(sys_ / "block/sdb/device/wwid", "naa.5000c500a1b2c3d4\n");
  EXPECT_EQ(DeviceIdentityOfNumber("250:17", roots_.sys), "device/wwid=naa.5000c500a1b2c3d4");
  EXPECT_EQ(DeviceIdentityOfNumber("250:16", roots_.sys), DeviceIdentityOfNumber("250:18", roots_.sys));
  // A USB disk: the serial number sits on the USB device above the SCSI one.
  const fs::path usb = sys_ / "devices/pci0000:00/usb2/2-1";
  fs::create_directories(usb / "2-1:1.0/host6/target6:0:0/6:0:0:0");
  WriteText(usb / "serial", "AA00000000012345\n");
  WriteText(usb / "idVendor", "0781\n");
  WriteText(usb / "idProduct", "5567\n");
  fs::create_directory_symlink(usb / "2-1:1.0/host6/target6:0:0/6:0:0:0", sys_ / "block/sdc/device");
  EXPECT_EQ(DeviceIdentityOfNumber("250:33", roots_.sys), "usb-serial=AA00000000012345 0781:5567");
  // A loop device is its backing file; an unknown number has no identity.
  EXPECT_EQ(DeviceIdentityOfNumber("251:8", roots_.sys), "loop/backing_file=" + (dir_ / "backing.img"));
  EXPECT_EQ(DeviceIdentityOfNumber("9:99", roots_.sys), "");
}

TEST_F(FakeStorage, AnImageIsOnlyReachedThroughALoopDeviceBackedByIt) {
  StorageChain chain = DestinationChain(dir_ / "mnt/loop7p1/x", roots_);
  EXPECT_TRUE(chain.devices.count(makedev(251, 8)) && chain.devices.count(makedev(251, 7)));
  EXPECT_EQ(chain.backingFiles.size(), 1u);
  EXPECT_TRUE(DestinationOnSource(dir_ / "mnt/loop7p1/x", dir_ / "backing.img", roots_));
  EXPECT_FALSE(DestinationOnSource(dir_ / "mnt/loop7p1/x", dir_ / "other.img", roots_));
  EXPECT_FALSE(DestinationOnSource(dir_ / "mnt/sdb1/x", dir_ / "backing.img", roots_));
  // Beside the image, on the file system that holds it: allowed.
  EXPECT_FALSE(DestinationOnSource(dir_ / "recovered", dir_ / "backing.img", roots_));
}

TEST_F(FakeStorage, TheDeepestMountHoldsThePath) {
  // mnt/sdb1/inner is a separate mount of sdc1 inside sdb1's tree.
  fs::create_directories(dir_ / "mnt/sdb1/inner");
  fs::create_directories(dir_ / "mnt/sdb1/innerx");
  std::ofstream(dir_ / "mountinfo", std::ios::app) << "70 40 250:33 / " << dir_.path() << "/mnt/sdb1/inner rw - ext4 /dev/sdc1 rw\n";
  const DeviceSet sdb = MediumOfDevice(makedev(250, 16), roots_);
  EXPECT_FALSE(ChainTouches(DestinationChain(dir_ / "mnt/sdb1/inner/x", roots_), sdb));
  EXPECT_TRUE(ChainTouches(DestinationChain(dir_ / "mnt/sdb1/innerx", roots_), sdb)) << "a prefix is not a parent";
}

}  // namespace
}  // namespace dunmere
