#include "api/frame.h"

#include <pthread.h>

#include <exception>

#include "api/device_hooks.h"
#include "api/frame_state.h"
#include "api/library.h"
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

// The handle the guard checks, or nothing when the export asks nothing of
// the device.
std::optional<int> HandleToCheck(Guard guard, int handle) {
    switch (guard) {
        case Guard::None:
        case Guard::NoHandle:
            return std::nullopt;
        case Guard::Handle:
            return handle;
        case Guard::HandleUnlessZero:
            if (handle == 0) return std::nullopt;
            return handle;
        case Guard::HandleUnlessNoDevice:
            if (handle == 0 || handle == kNoHandle) return std::nullopt;
            return handle;
        case Guard::CurrentHandle:
            return Frame().currentHandle.load();
    }
    return handle;
}

}  // namespace

bool ApiEnter(const char* name, Guard guard, int handle) {
    if (guard == Guard::None) return true;
    if (lib().detaching.load()) {
        // Logged as "<name> while detaching".
        LogPair(name ? name : "", "while detaching");
        SetLastResult(KVX_ERR_DETACHING);
        return false;
    }
    const std::optional<int> checked = HandleToCheck(guard, handle);
    if (!checked) return true;
    if (HandleCheck(*checked)) return true;
    LogText(*checked != 0 ? "invalid handle (AA)" : "null handle (AA)");
    SetLastResult(KVX_ERR_GENERIC);
    return false;
}

void GuardRefused(const ExportInfo& info) {
    if (info.guardFailLine != nullptr) LogText(info.guardFailLine);
    if (info.leave) ApiLeave();
}

void LogException(const char* tag) {
    try {
        if (tag)
            LogPairValue("excep", tag, platform::LastSystemError());
        else
            LogText("excep not mapped");
    } catch (...) {
        if (!std::current_exception()) throw;  // a thread ending, as in RunExport
        // The call already failed; a line that cannot be written changes
        // nothing for the host.
    }
}

DeferCancellation::DeferCancellation() noexcept : previous_(PTHREAD_CANCEL_ENABLE) {
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous_);
}

DeferCancellation::~DeferCancellation() {
    pthread_setcancelstate(previous_, nullptr);
}

void ApiLeave() {
    MonitorState& mon = Monitor();
    if (!mon.forwarding || !mon.deviceOpened) return;

    const std::int32_t result = LastResult();
    const bool devicePresent = CurrentDeviceSummary().serialLow != 0;
    const int handle = Frame().currentHandle.load();
    const bool handleValid =
        handle != 0 && handle != kNoHandle && Frame().deviceState.load() == DeviceState::Open;

    if (result == KVX_OK) {
        if (mon.deviceErrorSent && handleValid && MonitorCanAnnounce()) mon.deviceErrorSent = false;
        return;
    }
    if (!devicePresent) return;
    switch (result) {
        case KVX_ERR_DOUBLE_FEED:
            MonitorEvent(2, 32, 0, 2, "", "Double");
            break;
        case KVX_ERR_SEQUENCE:
        case KVX_ERR_SEQUENCE2:
            MonitorEvent(2, 32, 0, 4, "", "Sequence");
            break;
        case KVX_ERR_EDGE:
            MonitorEvent(2, 32, 0, 8, "", "Edge");
            break;
        case KVX_ERR_INKJET_INCOMPLETE:
            MonitorEvent(2, 32, 0, 1, "", "Incomplete stamp");
            break;
        case KVX_ERR_IQA:
            MonitorEvent(1024, 1024, 0, 16, "", "IQA");
            break;
        case KVX_ERR_CALIBRATION:
            MonitorEvent(2, 2, 0, 1, "", "CALIBRATION");
            break;
        case KVX_ERR_GENERIC:
        case KVX_ERR_NO_POWER:
        case KVX_ERR_DEVICE_NOT_FOUND:
        case KVX_ERR_NOT_READY:
        case KVX_ERR_DEVICE:
        case KVX_ERR_INKJET:
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
