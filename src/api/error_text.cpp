#include "api/error_text.h"
#include "api/frame_state.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "KovranMS.h"
#include "api/library.h"
#include "api/log.h"

namespace kovran {
namespace {

struct CodeMessage {
    std::int32_t code;
    std::string_view message;
};

// One row per result code of the public header. The spelling is the
// product's and hosts compare these texts: do not correct it.
constexpr std::array kMessages{
    CodeMessage{KVX_OK, "Success."},
    CodeMessage{KVX_WAR_IMAGE_SIZE, "Unexpected image dimensions warning."},
    CodeMessage{KVX_WAR_ZONE_OUTSIDE, "The indicated zone it outside the document."},
    CodeMessage{KVX_WAR_NO_CALIBRATION, "Missing Calibration."},
    CodeMessage{KVX_WAR_BLANK_PAGE, "Blank page detected."},
    CodeMessage{KVX_WAR_OCR_TRUNCATED, "OCR recognition truncated to available characters."},
    CodeMessage{KVX_WAR_CANCELLED, "Operation cancelled by the user."},
    CodeMessage{KVX_WAR_NO_POWER, "The device is missing external power."},
    CodeMessage{KVX_WAR_DIRTY, "The device sensors are dirty. Perform cleaning."},
    CodeMessage{KVX_WAR_IQA, "IQA warning"},
    CodeMessage{KVX_ERR_GENERIC, "Generic error."},
    CodeMessage{KVX_ERR_BUSY, "Device is busy. Close the previous istance of the device."},
    CodeMessage{KVX_ERR_INV_PARAMETER, "Invalid parameter."},
    CodeMessage{KVX_ERR_OUT_OF_MEMORY, "Out of memory."},
    CodeMessage{KVX_ERR_WRITE, "Write error."},
    CodeMessage{KVX_ERR_READ, "Read error."},
    CodeMessage{KVX_ERR_OS_INCOMPATIBLE,
                "Device version is incompatible with the Operating System."},
    CodeMessage{KVX_ERR_NOT_INITIALIZED, "Missing Initialization."},
    CodeMessage{KVX_ERR_NO_POWER, "The device is missing external power."},
    CodeMessage{KVX_ERR_TIMEOUT, "Device timeout."},
    CodeMessage{KVX_ERR_SW_UNSUPPORTED,
                "This SW version does not supported the required operation/value."},
    CodeMessage{KVX_ERR_DEVICE_NOT_FOUND, "Device not found."},
    CodeMessage{KVX_ERR_HW_UNSUPPORTED,
                "This HW version does not support the required operation/value."},
    CodeMessage{KVX_ERR_DETACHING, "Function called while dll is detaching."},
    CodeMessage{KVX_ERR_NOT_READY,
                "The device is not ready (not connected, riconnecting or not working)."},
    CodeMessage{KVX_ERR_ABORTED, "Operation aborted by the user."},
    CodeMessage{KVX_ERR_IMAGE_SIZE, "Unexpected image dimensions."},
    CodeMessage{KVX_ERR_DEVICE, "Device error."},
    CodeMessage{KVX_ERR_CALIBRATION, "Calibration error."},
    CodeMessage{KVX_ERR_CALIBRATION_SHORT, "Calibration error - sheet too short."},
    CodeMessage{KVX_ERR_OCR, "OCR general error."},
    CodeMessage{KVX_ERR_OCR_AREA, "OCR Area too small."},
    CodeMessage{KVX_ERR_OCR_FONT, "OCR Font not enabled."},
    CodeMessage{KVX_ERR_OCR_DB, "Error opening OCR database."},
    CodeMessage{KVX_ERR_MS_READ, "Magnetic stripe reading error."},
    CodeMessage{KVX_ERR_MS_START, "Magnetic stripe - missing start sentinel."},
    CodeMessage{KVX_ERR_MS_END, "Magnetic stripe - missing end sentinel."},
    CodeMessage{KVX_ERR_MS_PARITY, "Magnetic stripe - parity error."},
    CodeMessage{KVX_ERR_MS_LRC, "Magnetic stripe - LCR error."},
    CodeMessage{KVX_ERR_MS_TOO_MANY, "Magnetic stripe - too many chars read."},
    CodeMessage{KVX_ERR_INKJET, "Inkjet - generic error"},
    CodeMessage{KVX_ERR_INKJET_INCOMPLETE, "Inkjet - incomplete printing"},
    CodeMessage{KVX_ERR_IQA, "IQA error"},
    CodeMessage{KVX_ERR_DOUBLE_FEED, "Double feed detected"},
    CodeMessage{KVX_ERR_SEQUENCE, "Invalid sequence detected"},
    CodeMessage{KVX_ERR_EDGE, "Edge detected"},
    CodeMessage{KVX_ERR_SEQUENCE2, "Invalid sequence (2) detected"},
};

constexpr std::string_view kUnknown = "Unknown error.";

constexpr bool CodesUnique() {
    for (std::size_t i = 0; i < kMessages.size(); ++i)
        for (std::size_t j = i + 1; j < kMessages.size(); ++j)
            if (kMessages[i].code == kMessages[j].code) return false;
    return true;
}
constexpr bool MessagesFit() {
    // KVXErrorMsg renders into a 256-byte work buffer.
    return std::all_of(kMessages.begin(), kMessages.end(), [](const CodeMessage& m) {
        return !m.message.empty() && m.message.size() < 256;
    });
}

// Every code of the public header has exactly one message: the header lists
// 47 codes.
static_assert(kMessages.size() == 47, "a result code is missing its message");
static_assert(CodesUnique(), "a result code has two messages");
static_assert(MessagesFit(), "a message does not fit the work buffer");

}  // namespace

std::string_view ErrorMessage(std::int32_t code) {
    for (const CodeMessage& m : kMessages)
        if (m.code == code) return m.message;
    return kUnknown;
}

int ErrorText(std::int32_t code, char* buffer, int length) {
    const std::string_view message = ErrorMessage(code);
    const int needed = static_cast<int>(message.size()) + 1;
    const auto length16 = static_cast<std::int16_t>(length);
    if (length16 <= 0) return needed;
    if (buffer == nullptr) {
        LogPair("err - ", "error message buffer invalid");
        SetLastResult(-3);
        return -1;
    }
    if (length16 < needed) {
        buffer[0] = '\0';
        LogPair("err - ", "error message buffer too small");
        SetLastResult(-3);
        return -1;
    }
    std::memcpy(buffer, message.data(), message.size());
    buffer[message.size()] = '\0';
    return needed;
}

}  // namespace kovran
