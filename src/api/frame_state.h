// The frame's instance-wide variables: the last result, the handle given to
// the host and the device state byte that the guard checks.
#pragma once

#include <atomic>
#include <cstdint>

#include "KovranMS.h"

namespace kovran {

// The device state byte. Other values can only come from a fault; the
// guard reports and repairs them.
enum class DeviceState : std::int8_t {
    Failed = -2,  // the next guard check turns it into Lost
    Lost = -1,    // the next guard check tries a reopen
    None = 0,     // no device opened
    Open = 1,     // open and usable
};

// The handle value that means "no device open".
inline constexpr int kNoHandle = -1;

struct FrameState {
    std::atomic<std::int32_t> lastResult{KVX_OK};
    std::atomic<int> currentHandle{kNoHandle};
    std::atomic<DeviceState> deviceState{DeviceState::None};
};

FrameState& Frame();

inline std::int32_t LastResult() {
    return Frame().lastResult.load();
}
inline void SetLastResult(std::int32_t r) {
    Frame().lastResult.store(r);
}

// Gives every record of the library state back and clears the detaching
// flag: a library as just loaded, before its load steps (tests).
void ResetLibraryState();

}  // namespace kovran
