#include "api/frame.h"

#include "api/log.h"
#include "api/monitor.h"
#include "device/transport.h"
#include "platform/sys_error.h"

namespace kovran {

// The device state byte as the guard sees it: positive usable, -1 try a
// reopen, -2 failed (becomes -1 so the next call reopens), 0 never opened.
bool DeviceStateCheck() {
    DeviceRecord& dev = lib().device;
    const std::int8_t state = dev.state.load();
    if (state > 0) return true;
    switch (state) {
        case -1:
            if (device::ReopenDevice()) return true;
            dev.state.store(-2);
            return false;
        case -2:
            dev.state.store(-1);
            return false;
        case 0:
            return false;
        default:
            LogPairValue("err - ", "device in unexpected state ", state);
            dev.state.store(-2);
            return false;
    }
}

namespace {

bool HandleCheck(int handle) {
    FrameState& frame = lib().frame;
    if (handle == 0) {
        frame.currentHandle.store(-1);
        return false;
    }
    if (handle == -1) return false;
    return handle == frame.currentHandle.load() && DeviceStateCheck();
}

}  // namespace

bool ApiEnter(const char* name, HandleRef handle) {
    if (lib().frame.detaching.load()) {
        // Logged as "<name> while detaching".
        LogPair(name ? name : "", "while detaching");
        SetLastResult(-17);
        return false;
    }
    if (!handle) return true;
    if (HandleCheck(*handle)) return true;
    LogText(*handle != 0 ? "invalid handle (AA)" : "null handle (AA)");
    SetLastResult(-1);
    return false;
}

void LogException(const char* tag) {
    if (tag)
        LogPairValue("excep", tag, platform::LastSystemError());
    else
        LogText("excep not mapped");
}

void ApiLeave() {
    Library& l = lib();
    MonitorState& mon = l.monitor;
    if (!mon.forwarding || !mon.deviceOpened) return;

    const std::int32_t result = LastResult();
    const bool devicePresent = l.device.serialLow != 0;
    const int handle = l.frame.currentHandle.load();
    const bool handleValid = handle != 0 && handle != -1 && l.device.state.load() > 0;

    if (result == 0) {
        if (mon.deviceErrorSent && handleValid && MonitorCanAnnounce()) mon.deviceErrorSent = false;
        return;
    }
    if (!devicePresent) return;
    switch (result) {
        case -111:
            MonitorEvent(2, 32, 0, 2, "", "Double");
            break;
        case -112:
        case -114:
            MonitorEvent(2, 32, 0, 4, "", "Sequence");
            break;
        case -113:
            MonitorEvent(2, 32, 0, 8, "", "Edge");
            break;
        case -81:
            MonitorEvent(2, 32, 0, 1, "", "Incomplete stamp");
            break;
        case -90:
            MonitorEvent(1024, 1024, 0, 16, "", "IQA");
            break;
        case -22:
            MonitorEvent(2, 2, 0, 1, "", "CALIBRATION");
            break;
        case -1:
        case -9:
        case -14:
        case -18:
        case -21:
        case -80:
            if (!handleValid) MonitorDeviceGone();
            if (!mon.deviceErrorSent) {
                MonitorEvent(2, 2, 0, 64, "", "");
                mon.deviceErrorSent = true;
            }
            break;
        default:
            break;
    }
}

}  // namespace kovran
