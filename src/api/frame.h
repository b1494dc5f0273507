// The frame every exported function runs in: the guard (ApiEnter), the
// operation inside an exception firewall, the last result and the event
// mapping of ApiLeave. Written once here; an export only describes itself:
//
//   return RunExport({.name = "KVXConfigDirGetB", .tag = "KVXConfigDirGetB",
//                     .guard = Guard::HandleUnlessZero, .handle = handle},
//                    [&] { return ...; });
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <type_traits>

#include "KovranMS.h"
#include "api/calls_in_flight.h"
#include "api/frame_state.h"
#include "api/host_buffer.h"

namespace kovran {

// What the guard asks of the device before the operation runs.
enum class Guard : std::uint8_t {
    None,                  // nothing, not even the detaching check (the log name exports)
    NoHandle,              // refused only while the library is detaching
    Handle,                // ExportInfo::handle must be the open, usable device
    HandleUnlessZero,      // as Handle, but a handle of 0 asks nothing of the device
    HandleUnlessNoDevice,  // as Handle, but 0 and -1 ask nothing of the device
    CurrentHandle,         // some device must be open and usable
};

// The guard. False when the operation must not run; the last result then
// holds the reason (KVX_ERR_DETACHING, or KVX_ERR_GENERIC for a bad handle).
bool ApiEnter(const char* name, Guard guard, int handle = kNoHandle);

// The device state check of the guard (also run by the transport before a
// control command): true when the device is usable; Lost tries a reopen,
// Failed becomes Lost.
bool DeviceStateCheck();

// Maps the last result to monitoring events (does nothing unless the
// monitoring component forwards and a device has been opened).
void ApiLeave();

// Logs the escape of an exception: "excep " + tag + system error, or
// "excep not mapped" without a tag. Never throws.
void LogException(const char* tag);

// What the operation's value is.
enum class Returns : std::uint8_t {
    Result,  // a result code: it also becomes the last result
    Value,   // a count, length or word: the last result is what the operation set
};

// How an export is framed. Every field but the name has the value most
// exports need.
struct ExportInfo {
    const char* name;           // for the guard's log lines
    const char* tag = nullptr;  // exception tag; null: "excep not mapped"
    Guard guard = Guard::NoHandle;
    int handle = kNoHandle;  // the host's handle, for the Handle guards
    bool leave = false;      // ends with ApiLeave, also when the guard refuses
    Returns returns = Returns::Result;
    // The last result read before the guard is put back after it, so that
    // calling the export does not change it (the last-result readers).
    bool keepLastResult = false;
    bool exceptionSetsResult = true;  // an escaped exception sets KVX_ERR_GENERIC
    // Returned when the guard refuses; without a value, the last result the
    // guard has just set.
    std::optional<std::int32_t> guardFailure = std::nullopt;
    std::int32_t onException = KVX_ERR_GENERIC;  // returned when an exception escapes
    const char* guardFailLine = nullptr;         // logged after the guard refused
    // A host buffer handed back cleared even when the guard refuses; a null
    // one ends the call before the guard (ClearBeforeGuard).
    std::optional<HostBuffer> clearBeforeGuard = std::nullopt;
};

// The steps after a refusing guard: the export's line, then ApiLeave when
// the export leaves.
void GuardRefused(const ExportInfo& info);

// Holds off the cancellation of the calling host thread for one call: a
// thread cancelled inside the library leaves at its first cancellation
// point after the call, never halfway through it (with a lock held, a
// device half set up or a worker thread left running).
class DeferCancellation {
  public:
    DeferCancellation() noexcept;
    ~DeferCancellation();
    DeferCancellation(const DeferCancellation&) = delete;
    DeferCancellation& operator=(const DeferCancellation&) = delete;

  private:
    int previous_;
};

// Runs one exported call and returns what the export returns. No exception
// leaves it, except the unwinding of a thread that ends (pthread_exit from a
// callback), which must pass.
template <class Op>
auto RunExport(const ExportInfo& info, Op&& op) -> std::invoke_result_t<Op&> {
    using R = std::invoke_result_t<Op&>;
    // Cancellation is deferred first: entering may wait at the unload's door,
    // and a thread cancelled there must not unwind out of the entry.
    const DeferCancellation deferred;
    const CallInFlight inFlight;
    try {
        if (info.clearBeforeGuard && !ClearBeforeGuard(*info.clearBeforeGuard)) {
            if constexpr (std::is_void_v<R>)
                return;
            else
                return static_cast<R>(LastResult());
        }
        const std::int32_t kept = LastResult();
        if (!ApiEnter(info.name, info.guard, info.handle)) {
            GuardRefused(info);
            if constexpr (std::is_void_v<R>)
                return;
            else
                return static_cast<R>(info.guardFailure.value_or(LastResult()));
        }
        if (info.keepLastResult) SetLastResult(kept);
        if constexpr (std::is_void_v<R>) {
            op();
            if (info.leave) ApiLeave();
        } else {
            R result = op();
            if (info.returns == Returns::Result) SetLastResult(static_cast<std::int32_t>(result));
            if (info.leave) ApiLeave();
            return result;
        }
    } catch (...) {
        // A thread that ends inside the call (pthread_exit) unwinds with an
        // exception that is not C++'s: it must pass, or the process aborts.
        if (!std::current_exception()) throw;
        LogException(info.tag);
        if (info.exceptionSetsResult) SetLastResult(KVX_ERR_GENERIC);
        if constexpr (!std::is_void_v<R>) return static_cast<R>(info.onException);
    }
}

}  // namespace kovran
