// The scan and OCR settings records, each held twice in the library: as the
// ini defaults read at load and as the current settings.
#pragma once

#include <cstdint>

namespace kovran {

struct ScanSettings {
    // "General"/"EP0SemaphoreTimeout" and "OvrlpdEventTimeout", in ms.
    std::uint32_t ep0SemaphoreTimeoutMs = 10000;
    std::uint32_t overlappedEventTimeoutMs = 10000;
};

struct OcrSettings {};

}  // namespace kovran
