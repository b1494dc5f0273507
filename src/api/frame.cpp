#include "api/frame.h"

#include "api/device_hooks.h"
#include "api/frame_state.h"
#include "api/log.h"
#include "api/monitor.h"
#include "platform/sys_error.h"

namespace kovran {

// The device state byte as the guard sees it: positive usable, -1 try a
// reopen, -2 failed (becomes -1 so the next call reopens), 0 never opened.
bool DeviceStateCheck() {
    std::atomic<DeviceState>& state = Frame().deviceState;
    const DeviceState now = state.load();
    switch (now) {
        case DeviceState::Open:
            return true;
        case DeviceState::Lost:
            if (ReopenDeviceThroughHook()) return true;
            state.store(DeviceState::Failed);
            return false;
        case DeviceState::Failed:
            state.store(DeviceState::Lost);
            return false;
        case DeviceState::None:
            return false;
    }
    // Any positive value also counts as usable; any other negative one is
    // a fault.
    if (static_cast<std::int8_t>(now) > 0) return true;
    LogPairValue("err - ", "device in unexpected state ", static_cast<std::int8_t>(now));
    state.store(DeviceState::Failed);
    return false;
}

namespace {

bool HandleCheck(int handle) {
    FrameState& frame = Frame();
    if (handle == 0) {
        frame.currentHandle.store(kNoHandle);
        return false;
    }
    if (handle == kNoHandle) return false;
    return handle == frame.currentHandle.load() && DeviceStateCheck();
}

}  // namespace

bool ApiEnter(const char* name, HandleRef handle) {
    if (lib().detaching.load()) {
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
    MonitorState& mon = Monitor();
    if (!mon.forwarding || !mon.deviceOpened) return;

    const std::int32_t result = LastResult();
    const bool devicePresent = CurrentDeviceSummary().serialLow != 0;
    const int handle = Frame().currentHandle.load();
    const bool handleValid =
        handle != 0 && handle != kNoHandle && Frame().deviceState.load() == DeviceState::Open;

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
