#include "platform/device_monitor.h"

namespace dunmere {
namespace {

// Windows tells of arriving drives through window messages
// (WM_DEVICECHANGE), which the desktop program's window would take; the
// command line has no window, so this build offers no device events and the
// list is read again when asked for.
class NoDeviceEvents final : public IDeviceMonitor {
 public:
  bool Start(Callback) override { return false; }
  void Stop() override {}
};

}  // namespace

std::unique_ptr<IDeviceMonitor> CreateBlockDeviceMonitor() { return std::make_unique<NoDeviceEvents>(); }

}  // namespace dunmere
