// Device arrival and removal: a burst of events is handled once after it
// settled, arrivals add only new disks (and select a removable one), removals
// take whole disks away and the disks that stay keep reading the right
// device when the kernel's numbering shifts. Then the same with the real
// monitor and a loop device, where the system allows it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <fstream>

#include "app/core/language/language_table.h"
#include "app/gui/apply_section.h"
#include "app/gui/disk_rows.h"
#include "storage/disk_table.h"
#include "tests/gui/gui_test_support.h"
#include "ui/disk_list.h"

namespace dunmere::gui {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using Action = DeviceEvent::Action;

void Write(const fs::path& p, const std::string& text) { std::ofstream(p) << text << "\n"; }

class HotPlugTest : public test::MainWndFixture {
 protected:
  void SetUp() override {
    test::MainWndFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    Open(tree_->roots, kSettle);
  }
  // The rows of a disk's group (its header first), by device name.
  std::vector<int> RowsOf(const std::string& name) {
    std::vector<int> rows;
    const std::string dev = tree_->roots.dev + "/" + name;
    for (int r = 0; r < List().RowCount(); ++r)
      if (wnd_->Disks().DiskDevice(r) == dev) rows.push_back(r);
    return rows;
  }
  void AddStick(const std::string& name) {
    const fs::path d = fs::path(tree_->roots.sysBlock) / name;
    fs::create_directories(d / "queue");
    Write(d / "size", "20480");
    Write(d / "dev", "8:48");
    Write(d / "removable", "1");
    Write(d / "queue/logical_block_size", "512");
    std::ofstream(tree_->roots.dev + "/" + name).close();
    fs::resize_file(tree_->roots.dev + "/" + name, 10 << 20);
  }
  void Raise(Action a) { test::FakeMonitor::Raise(*monitor_, a); }

  // The settle timer never fires by itself in these tests: they hand the
  // events over with SettleDeviceEventsNow(), so no verdict races a timer.
  static constexpr int kSettle = 3600 * 1000;
  // Delivers what the monitor raised to the window (a posted message).
  void Deliver() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    ASSERT_TRUE(wnd_->DeviceEventsPending());
  }
};

TEST_F(HotPlugTest, ABurstOfArrivalsAddsTheNewDiskOnceAfterItSettled) {
  const int before = List().RowCount();
  const std::vector<int> sdaRows = RowsOf("sda");
  ASSERT_EQ(sdaRows.size(), 5u);
  // A stick arrives, and a partition appears on a disk already listed.
  AddStick("sdd");
  const fs::path sda3 = fs::path(tree_->roots.sysBlock) / "sda/sda3";
  fs::create_directories(sda3);
  Write(sda3 / "partition", "3");
  Write(sda3 / "start", "102400");
  Write(sda3 / "size", "20480");
  Write(sda3 / "dev", "8:3");

  // Nothing happens while they keep coming.
  for (int i = 0; i < 4; ++i) {
    Raise(Action::kAdded);
    Deliver();
    QCoreApplication::processEvents();
    EXPECT_EQ(List().RowCount(), before) << "refreshed before the events settled (event " << i << ")";
  }
  wnd_->SettleDeviceEventsNow();
  QCoreApplication::processEvents();
  EXPECT_FALSE(wnd_->DeviceEventsPending());
  const std::vector<int> sdd = RowsOf("sdd");
  ASSERT_EQ(sdd.size(), 2u) << "one header and the whole disk, once";
  EXPECT_EQ(List().RowCount(), before + 2);
  EXPECT_EQ(List().Row(sdd[0]).cells.value(0), MessageText("MSG0202") + " 5");
  // Listed, not chosen for the person: the selection stays theirs.
  EXPECT_NE(List().CurrentRow(), sdd[1]);
  // A disk already listed keeps its rows until the next start.
  EXPECT_EQ(RowsOf("sda"), sdaRows);
}

// Disks keep the numbers and order they had; a disk plugged in later stands
// above the image files with the next number, and comes back with it after
// it was pulled out; no header is left without rows.
TEST_F(HotPlugTest, LaterDisksStandAboveTheImagesWithTheNextNumber) {
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  test::TempDir images;
  const std::string image = images / "card.img";
  test::RunCommand("truncate -s 8M '" + image + "' && mkfs.fat -n CARD '" + image + "' >/dev/null");
  ASSERT_EQ(wnd_->AddImageFiles({QString::fromStdString(image)}).size(), 1u);
  auto headers = [&] {
    QStringList h;
    for (int r = 0; r < List().RowCount(); ++r)
      if (List().Row(r).header) h << List().Row(r).cells.value(0);
    return h;
  };
  const QStringList before = headers();
  ASSERT_EQ(before.back(), "Image File");
  AddStick("sdd");
  Raise(Action::kAdded);
  Deliver();
  wnd_->SettleDeviceEventsNow();
  QStringList now = headers();
  ASSERT_EQ(now.size(), before.size() + 1);
  EXPECT_EQ(now.back(), "Image File") << "images stay last";
  QStringList expected = before;
  int highest = 0;
  for (const QString& h : before) highest = std::max(highest, h.section(' ', -1).toInt());
  expected.insert(expected.size() - 1, MessageText("MSG0202") + " " + QString::number(highest + 1));
  EXPECT_EQ(now, expected);
  // Pulled out and plugged in again: the same number, no header left behind.
  const fs::path saved = fs::path(images.path()) / "sdd-sys";
  fs::rename(fs::path(tree_->roots.sysBlock) / "sdd", saved);
  Raise(Action::kRemoved);
  Deliver();
  wnd_->SettleDeviceEventsNow();
  EXPECT_EQ(headers(), before);
  fs::rename(saved, fs::path(tree_->roots.sysBlock) / "sdd");
  Raise(Action::kAdded);
  Deliver();
  wnd_->SettleDeviceEventsNow();
  EXPECT_EQ(headers(), expected);
}

TEST_F(HotPlugTest, RemovalTakesTheWholeDiskAndTheOthersKeepTheirDevice) {
  AddStick("sdd");
  Raise(Action::kAdded);
  Deliver();
  wnd_->SettleDeviceEventsNow();
  ASSERT_EQ(RowsOf("sdd").size(), 2u);
  auto numberOf = [&](const std::string& name) { return wnd_->Disks().Item(RowsOf(name).at(1))->volume->diskNumber; };
  ASSERT_EQ(numberOf("sdc"), 3);
  ASSERT_EQ(numberOf("sdd"), 4);
  const uint16_t sdcTag = wnd_->Disks().Item(RowsOf("sdc").at(1))->tag;

  // The user chose sdb; then sdb is pulled out, and the kernel numbers the
  // disks after it one lower.
  List().SelectRow(RowsOf("sdb").at(1));
  ASSERT_FALSE(wnd_->Text("Label1").isEmpty());
  fs::remove_all(fs::path(tree_->roots.sysBlock) / "sdb");
  Raise(Action::kRemoved);
  Raise(Action::kRemoved);
  Deliver();
  QCoreApplication::processEvents();
  EXPECT_EQ(RowsOf("sdb").size(), 2u) << "removed before the events settled";
  wnd_->SettleDeviceEventsNow();
  ASSERT_TRUE(RowsOf("sdb").empty());
  EXPECT_EQ(RowsOf("sdc").size(), 2u);
  EXPECT_EQ(RowsOf("sda").size(), 5u);
  // The sources that stay read the same devices under their new numbers,
  // with the tags they had.
  EXPECT_EQ(numberOf("sdc"), 2);
  EXPECT_EQ(numberOf("sdd"), 3);
  EXPECT_EQ(DiskTable::ScanSysfs(tree_->roots.sysBlock, tree_->roots.dev).at(2), tree_->roots.dev + "/sdc");
  EXPECT_EQ(wnd_->Disks().Item(RowsOf("sdc").at(1))->tag, sdcTag);
  // Nothing chosen any more: the labels do not describe a disk that is gone.
  EXPECT_EQ(wnd_->Text("Label1"), MessageText("MSG0225"));
  test::BoxSeen seen;
  test::AnswerNextBox(wnd_.get(), &seen);
  wnd_->Find<QAbstractButton>("BtnScan")->click();
  EXPECT_EQ(seen.message, MessageText("MSG0505"));
}

TEST_F(HotPlugTest, ACardSwappedInItsReaderIsListedAfresh) {
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  const std::vector<int> before = RowsOf("sdb");
  ASSERT_EQ(before.size(), 2u);
  const uint16_t oldTag = wnd_->Disks().Item(before[1])->tag;
  ASSERT_EQ(List().Row(before[1]).cells.value(0), "sdb STICK");
  // Another card of the same size in the same reader: the kernel only says
  // the disk changed.
  const std::string node = tree_->roots.dev + "/sdb";
  fs::remove(node);
  test::RunCommand("truncate -s 34M '" + node + "' && mkfs.fat -F 32 -n HOLIDAY '" + node + "' >/dev/null");
  test::FakeMonitor::Raise(*monitor_, Action::kChanged, node);
  Deliver();
  wnd_->SettleDeviceEventsNow();
  ASSERT_EQ(RowsOf("sdb").size(), 2u);
  ASSERT_EQ(List().Row(RowsOf("sdb")[1]).cells.value(0), "sdb HOLIDAY");
  EXPECT_NE(wnd_->Disks().Item(RowsOf("sdb")[1])->tag, oldTag) << "a new source, with a tag of its own";
  EXPECT_NE(List().CurrentRow(), RowsOf("sdb")[1]) << "another card is not chosen for the person";
}

TEST_F(HotPlugTest, TheMonitorStopsWithTheWindow) {
  EXPECT_TRUE(monitor_->started);
  wnd_.reset();
  EXPECT_TRUE(monitor_->stopped);
  // An event after that reaches nobody.
  Raise(Action::kAdded);
  QCoreApplication::processEvents();
}

// The real monitor and a loop device: attaching and detaching it are device
// events the kernel sends.
TEST(HotPlugLoopDevice, AttachedImageAppearsAndDetachedGoes) {
  test::UiApp();
  test::UsePrivateDataFolder();
  if (geteuid() != 0) GTEST_SKIP() << "attaching a loop device needs root";
  if (!fs::exists("/dev/loop-control") || !test::HaveTool("losetup") || !test::HaveTool("mkfs.fat"))
    GTEST_SKIP() << "loop devices are not available here (no /dev/loop-control, losetup or mkfs.fat)";
  TempDir dir;
  const std::string image = dir / "stick.img";
  test::RunCommand("truncate -s 8M '" + image + "' && mkfs.fat -n LOOPSTICK '" + image + "' >/dev/null");

  // A monitor of the test's own tells whether events reach this process at all.
  std::atomic<int> seen{0};
  std::unique_ptr<IDeviceMonitor> probe = CreateBlockDeviceMonitor();
  if (!probe->Start([&](const DeviceEvent&) { ++seen; })) GTEST_SKIP() << "no device event feed (libudev netlink)";

  MainWnd::Options o;
  o.deviceSettleMs = 300;
  MainWnd wnd(std::move(o));
  wnd.Create(nullptr);
  wnd.show();
  std::string out;
  if (test::RunCommand("losetup -f --show '" + image + "'", &out) != 0) GTEST_SKIP() << "losetup failed: " << out;
  const std::string loop = QString::fromStdString(out).trimmed().toStdString();
  auto listed = [&] {
    for (int r = 0; r < wnd.DiskList()->RowCount(); ++r)
      if (wnd.Disks().DiskDevice(r) == loop) return true;
    return false;
  };
  // Whether the kernel's events reach this process at all decides only
  // whether the test can run here; once one has, the list must follow.
  if (!test::WaitAtMost([&] { return seen > 0 || listed(); }, 8000)) {
    test::RunCommand("losetup -d " + loop);
    GTEST_SKIP() << "no device events reach this process (a container without the kernel's uevents?)";
  }
  const bool appeared = test::WaitFor(listed);
  test::RunCommand("losetup -d " + loop);
  ASSERT_TRUE(appeared) << loop << " not listed although " << seen << " device events arrived";
  EXPECT_TRUE(test::WaitFor([&] { return !listed(); })) << loop << " still listed after it was detached";
  probe->Stop();
}

}  // namespace
}  // namespace dunmere::gui
