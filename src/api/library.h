// The state of one loaded library. Every subsystem keeps its plain record
// here; there is no other mutable global. Flags and counters that a worker
// thread writes and another thread reads are atomics.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "api/config_dir.h"
#include "api/log.h"
#include "api/monitor.h"
#include "api/names.h"
#include "api/settings.h"
#include "device/device_record.h"

namespace kovran {

// The frame's instance-wide variables.
struct FrameState {
    std::atomic<std::int32_t> lastResult{0};
    std::atomic<bool> detaching{false};
    // The handle returned to the host; -1 whenever no device is open.
    std::atomic<int> currentHandle{-1};
};

struct Library {
    FrameState frame;
    RuntimeNames names;
    LogState log;
    ConfigState config;
    ScanSettings scanIni;  // filled from the ini file at load
    ScanSettings scan;     // current: ini defaults, changed by parameters
    OcrSettings ocrIni;
    OcrSettings ocr;
    DeviceRecord device;
    MonitorState monitor;
};

// The instance. Never destroyed, so that the unload steps and late callers
// still find it.
Library& lib();

// Replaces the instance with a fresh one (tests only).
void resetLibraryForTests();

// The last unload step: gives back everything the state holds, keeping a
// state whose detaching flag stays set for any late caller.
void releaseLibraryAtUnload();

// Shorthands for the last result.
inline std::int32_t LastResult() { return lib().frame.lastResult.load(); }
inline void SetLastResult(std::int32_t r) { lib().frame.lastResult.store(r); }

}  // namespace kovran
