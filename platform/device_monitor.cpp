#include "platform/device_monitor.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>
#include <thread>

namespace dunmere {
namespace {

class UdevBlockMonitor final : public IDeviceMonitor {
 public:
  ~UdevBlockMonitor() override { Stop(); }

  bool Start(Callback callback) override {
    if (thread_.joinable()) return true;
    udev_ = udev_new();
    if (!udev_) return false;
    // Without a udev daemon nobody relays its events; the kernel's carry the
    // same add and remove actions, only earlier than udev's database.
    const bool daemon = access("/run/udev/control", F_OK) == 0;
    monitor_ = udev_monitor_new_from_netlink(udev_, daemon ? "udev" : "kernel");
    if (!monitor_ || udev_monitor_filter_add_match_subsystem_devtype(monitor_, "block", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor_) < 0) {
      Release();
      return false;
    }
    stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd_ < 0) {
      Release();
      return false;
    }
    callback_ = std::move(callback);
    thread_ = std::thread([this] { Run(); });
    return true;
  }

  void Stop() override {
    if (thread_.joinable()) {
      const uint64_t one = 1;
      [[maybe_unused]] ssize_t n = write(stopFd_, &one, sizeof one);
      thread_.join();
    }
    Release();
  }

 private:
  void Run() {
    pollfd fds[2] = {{udev_monitor_get_fd(monitor_), POLLIN, 0}, {stopFd_, POLLIN, 0}};
    for (;;) {
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[1].revents) return;
      if (!(fds[0].revents & POLLIN)) continue;
      udev_device* dev = udev_monitor_receive_device(monitor_);
      if (!dev) continue;
      DeviceEvent e;
      const char* action = udev_device_get_action(dev);
      if (action && std::strcmp(action, "add") == 0) e.action = DeviceEvent::Action::kAdded;
      else if (action && std::strcmp(action, "remove") == 0) e.action = DeviceEvent::Action::kRemoved;
      if (const char* node = udev_device_get_devnode(dev)) e.devNode = node;
      if (const char* type = udev_device_get_devtype(dev)) e.devType = type;
      udev_device_unref(dev);
      if (callback_) callback_(e);
    }
  }

  void Release() {
    if (monitor_) udev_monitor_unref(monitor_);
    if (udev_) udev_unref(udev_);
    if (stopFd_ >= 0) close(stopFd_);
    monitor_ = nullptr;
    udev_ = nullptr;
    stopFd_ = -1;
  }

  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  int stopFd_ = -1;
  Callback callback_;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<IDeviceMonitor> CreateBlockDeviceMonitor() { return std::make_unique<UdevBlockMonitor>(); }

}  // namespace dunmere
