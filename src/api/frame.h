// The frame every exported function runs in: the guard (ApiEnter), the
// operation inside an exception firewall, the last result and the event
// mapping of ApiLeave. Written once here; the exports only describe
// themselves.
#pragma once

#include <cstdint>
#include <optional>
#include <type_traits>
#include <utility>

#include "api/calls_in_flight.h"
#include "api/frame_state.h"
#include "api/library.h"

namespace kovran {

// What an export hands to the guard: NoHandle for functions that need no
// device, otherwise the handle to check.
using HandleRef = std::optional<int>;
inline constexpr HandleRef NoHandle = std::nullopt;

// The guard. False when the operation must not run; the last result then
// holds the reason (-17 while detaching, -1 for a bad handle).
bool ApiEnter(const char* name, HandleRef handle);

// The device state check of the guard (also run by the transport before a
// control command): true when the device is usable; -1 tries a reopen, -2
// becomes -1.
bool DeviceStateCheck();

// Maps the last result to monitoring events (does nothing unless the
// monitoring component forwards and a device has been opened).
void ApiLeave();

// Logs the escape of an exception: "excep " + tag + system error, or
// "excep not mapped" without a tag.
void LogException(const char* tag);

// How an export is framed.
struct ExportInfo {
    const char* name;                 // for the guard's log lines
    const char* tag = nullptr;        // exception tag; null: "excep not mapped"
    bool leave = false;               // ends with ApiLeave
    bool resultIsCode = true;         // the operation's result becomes the last result
    bool exceptionSetsResult = true;  // an escaped exception sets the last result to -1
    bool guarded = true;              // runs ApiEnter (a few log exports do not)
};

// Runs one exported call. `guardFail` is what the export returns when the
// guard refuses (nothing: the last result), `onException` what it returns
// when the operation throws.
template <class R, class Op>
R RunExport(const ExportInfo& info, HandleRef handle, std::optional<R> guardFail, R onException,
            Op&& op) noexcept {
    const CallInFlight inFlight;
    try {
        if (info.guarded && !ApiEnter(info.name, handle)) {
            if (info.leave) ApiLeave();
            return guardFail ? *guardFail : static_cast<R>(LastResult());
        }
        R result = std::forward<Op>(op)();
        if (info.resultIsCode) SetLastResult(static_cast<std::int32_t>(result));
        if (info.leave) ApiLeave();
        return result;
    } catch (...) {
        try {
            LogException(info.tag);
        } catch (...) {
        }
        if (info.exceptionSetsResult) SetLastResult(-1);
        return onException;
    }
}

// The same for exports that return nothing.
template <class Op>
void RunExportVoid(const ExportInfo& info, HandleRef handle, Op&& op) noexcept {
    ExportInfo framed = info;
    framed.resultIsCode = false;
    RunExport<int>(framed, handle, 0, 0, [&] {
        std::forward<Op>(op)();
        return 0;
    });
}

}  // namespace kovran
