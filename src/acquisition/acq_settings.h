// What one acquisition reads of the library's settings, taken once when it
// is armed. The continuous feeder's background acquisition runs while the
// host calls the library again and may change any setting; it reads only
// its own copy, so the two threads share no settings at all.
#pragma once

#include <cstdint>
#include <string>

#include "api/settings.h"
#include "device/acq_mode.h"

namespace kovran::acquisition {

struct AcqSettings {
    ScanSettings scan;
    AcqModeRecord mode;
    std::int32_t typeDoc = 0;
    bool deskewMicr = false;
    // Where debug glitch images go.
    std::string configDir;
    // The image state the acquisition starts from: a two-part scan and
    // which part, and paper movement.
    bool twoPartAcq = false;
    bool secondPart = false;
    bool movementFlag = false;
};

// The settings in force, on the thread that owns them (the host's).
AcqSettings TakeAcqSettings();

}  // namespace kovran::acquisition
