#pragma once
// Block devices coming and going: a background watcher that calls back on
// every disk or partition the kernel adds or removes. The desktop program
// refreshes its list of places to scan from it; tests drive the same seam
// with a fake.
#include <functional>
#include <memory>
#include <string>

namespace dunmere {

struct DeviceEvent {
  enum class Action { kAdded, kRemoved, kChanged };
  Action action = Action::kChanged;
  std::string devNode;  // "/dev/sdb1"; may be empty for the kernel's own events
  std::string devType;  // "disk" or "partition"
};

class IDeviceMonitor {
 public:
  using Callback = std::function<void(const DeviceEvent&)>;
  virtual ~IDeviceMonitor() = default;
  // Starts watching; the callback runs on the monitor's own thread. False
  // when the system offers no device events (the program then just keeps
  // the list it had).
  virtual bool Start(Callback callback) = 0;
  // Stops watching and waits until no callback runs any more.
  virtual void Stop() = 0;
};

// Watches the block subsystem through libudev: the udev daemon's events when
// one runs (its database is then complete when we look), else the kernel's.
std::unique_ptr<IDeviceMonitor> CreateBlockDeviceMonitor();

}  // namespace dunmere
