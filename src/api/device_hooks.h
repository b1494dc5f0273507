// What the runtime services need from the device layer above them, installed
// by the composition root: the frame's guard reopens a lost device, and the
// event mapper, the monitoring and the version text read a summary of the
// device's identity. Without hooks (unit tests of the runtime services) a
// reopen fails and the summary is empty.
#pragma once

#include <cstdint>

namespace kovran {

struct DeviceSummary {
    std::uint16_t pid = 0;
    std::uint16_t firmware = 0;
    std::int32_t serialLow = 0;  // non-zero once a device has been identified
};

struct DeviceHooks {
    bool (*reopen)() = nullptr;
    DeviceSummary (*summary)() = nullptr;
    // The unload's close of a device still open: the reset's stop step,
    // the open count forced to 0, the close.
    void (*closeAtUnload)() = nullptr;
    // The device identity line of the log ("log moved" repeats it).
    void (*logIdentityLine)() = nullptr;
};

void InstallDeviceHooks(const DeviceHooks& hooks);

// Tries to open the lost device again; false without a hook.
bool ReopenDeviceThroughHook();
DeviceSummary CurrentDeviceSummary();
// Nothing without a hook.
void CloseDeviceAtUnloadThroughHook();
void LogDeviceIdentityLineThroughHook();

}  // namespace kovran
