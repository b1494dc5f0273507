// Control commands: the two protocols of the firmware, the endpoint-0 lock,
// the "not ready" ladder and the error report.
#include <cstdio>
#include <string>

#include "KovranMS.h"
#include "api/frame.h"
#include "api/frame_state.h"
#include "api/library.h"
#include "api/log.h"
#include "api/settings.h"
#include "device/control_request.h"
#include "device/device_record.h"
#include "device/ep0_lock.h"
#include "device/transport.h"
#include "platform/clock.h"
#include "platform/sys_error.h"

namespace kovran::device {

namespace {

using platform::kErrorAccessDenied;
using platform::kErrorFileNotFound;
using platform::kErrorGenFailure;
using platform::kErrorNotReady;
using platform::kErrorSuccess;
using platform::kErrorTimeout;

constexpr int kNotReadyRetries = 10;
constexpr unsigned kNotReadyPauseMs = 1000;
// Devices after this version read one byte when asked for none.
constexpr std::uint16_t kScratchReadFirmware = 0x2006;

enum class NotReadyRetry : bool { No, Yes };
enum class PauseAfterWrite : bool { No, Yes };
// The short-lived handle entry (its count message differs) or the caller's.
enum class EntryHandle : bool { Callers, Own };

// The log texts and habits of the two entries.
struct Flavour {
    const char* readError;
    const char* writeError;
    const char* readDenied;
    const char* writeDenied;
    const char* readWait;
    const char* writeWait;
    const char* semTag;
    NotReadyRetry retryNotReady;
    PauseAfterWrite pauseAfterWrite;
    EntryHandle handle;
};

constexpr Flavour kOwn{"Read usb register",
                       "Write usb register",
                       "Read usb register - ERROR_ACCESS_DENIED",
                       "Write usb register - ERROR_ACCESS_DENIED",
                       "Read usb register waiting result",
                       "Write usb register waiting result",
                       "BB",
                       NotReadyRetry::Yes,
                       PauseAfterWrite::Yes,
                       EntryHandle::Own};

constexpr Flavour kCallers{"Read usb register WO ",
                           "Write usb register WO ",
                           "Read usb register WO ",
                           "Write usb register WO ",
                           "Read usb register waiting result WO ",
                           "Write usb register waiting result WO ",
                           "AA",
                           NotReadyRetry::No,
                           PauseAfterWrite::No,
                           EntryHandle::Callers};

unsigned CompletionTimeout() {
    return Settings().scan.overlappedEventTimeoutMs;
}

// Firmware before 0x1006: the command request must complete at once with
// exactly the bytes asked for.
int SendUsbRequest(platform::UsbDevice& dev, std::uint8_t cls, std::uint32_t subCode,
                   std::uint8_t* buffer, std::uint16_t length, int* error) {
    std::size_t got = 0;
    int rc =
        dev.Control(CommandRequestSetup(cls, subCode, length), buffer, &got, CompletionTimeout());
    if (rc == kErrorSuccess && got == length) return length;
    if (rc == kErrorSuccess) rc = kErrorGenFailure;
    LogPairValue("err - ", "Send usb request", rc);
    *error = rc;
    return KVX_ERR_GENERIC;
}

// Firmware 0x1006 and later: one register request under the EP0 lock.
int RegisterRequest(platform::UsbDevice& dev, const Flavour& f, std::uint8_t cls, std::uint16_t reg,
                    std::uint8_t* buffer, std::uint16_t length, Direction direction, int* error) {
    Ep0Hold hold(Ep0Semaphore(Device()), Settings().scan.ep0SemaphoreTimeoutMs, f.semTag);
    const platform::UsbSetup setup = RegisterSetup(direction, reg, length);
    const bool in = direction == Direction::In;
    for (int attempt = 0;; ++attempt) {
        std::size_t got = 0;
        const int rc = dev.Control(setup, buffer, &got, CompletionTimeout());
        if (rc == kErrorSuccess) {
            if (!in) {
                // A millisecond per byte lets the firmware take the data in.
                if (f.pauseAfterWrite == PauseAfterWrite::Yes && length > 0)
                    platform::Sleep(length);
                return length;
            }
            if (got == length) return length;
            if (f.handle == EntryHandle::Own) {
                char text[96];
                std::snprintf(text, sizeof text, "Read usb register cmd %d val %d nBytes %d/%d",
                              cls, reg, static_cast<int>(got), static_cast<int>(length));
                LogPair("err - ", text);
            } else {
                LogPairValue("err - ", "Read usb register WO, wrong nBytesRet",
                             static_cast<long>(got));
            }
            *error = kErrorGenFailure;
            return KVX_ERR_GENERIC;
        }
        if (rc == kErrorTimeout) {
            // The request went out but its completion never came.
            LogPairValue("err - ", in ? f.readWait : f.writeWait, rc);
            LogValue("\tasking ", reg);
            *error = rc;
            return KVX_ERR_GENERIC;
        }
        if (rc == kErrorNotReady && f.retryNotReady == NotReadyRetry::Yes &&
            attempt < kNotReadyRetries) {
            LogText("DeviceIoControl not ready");
            platform::Sleep(kNotReadyPauseMs);
            continue;
        }
        const char* text = rc == kErrorAccessDenied ? (in ? f.readDenied : f.writeDenied)
                                                    : (in ? f.readError : f.writeError);
        LogPairValue("err - ", text, rc);
        LogValue("\tasking ", reg);
        *error = rc;
        return KVX_ERR_GENERIC;
    }
}

// A command with a length but no buffer is refused before anything is
// sent; an OUT command without its data is refused as the IN one is.
bool NullBufferFault(std::uint32_t subCode, const std::uint8_t* buffer, unsigned length) {
    if (buffer != nullptr || length == 0) return false;
    LogPairValue("err - ", "Base control message IN with invalid memory buffer - val",
                 static_cast<long>(subCode));
    return true;
}

bool TooMuchData(unsigned length, unsigned limit) {
    if (length <= limit) return false;
    LogPairValue("err - ", "Base control message IN with too much data", static_cast<long>(length));
    return true;
}

// The transfer on an open device (or on none, which counts as not found).
// Returns the length, or -1 with *error set.
int Transfer(platform::UsbDevice* dev, const Flavour& f, std::uint16_t firmware, std::uint8_t cls,
             std::uint32_t subCode, std::uint8_t* buffer, unsigned length, Direction direction,
             int* error) {
    const bool in = direction == Direction::In;
    std::uint8_t scratch = 0;
    if (in && buffer == nullptr && firmware > kScratchReadFirmware) {
        buffer = &scratch;
        length = 1;
    }
    if (dev == nullptr) {
        *error = kErrorFileNotFound;
        return KVX_ERR_GENERIC;
    }
    const auto len16 = static_cast<std::uint16_t>(length);
    if (firmware < kRegisterProtocolFirmware)
        return SendUsbRequest(*dev, cls, subCode, buffer, len16, error);
    const auto reg = RegisterNumber(cls, subCode);
    if (!reg) {
        LogPairValue("err - ", in ? f.readError : f.writeError, platform::kErrorInvalidParameter);
        *error = platform::kErrorInvalidParameter;
        return KVX_ERR_GENERIC;
    }
    return RegisterRequest(*dev, f, cls, *reg, buffer, len16, direction, error);
}

}  // namespace

void ReportTransportError(const std::string& name, int code) {
    if (code == kErrorFileNotFound) {
        SetLastResult(KVX_ERR_DEVICE_NOT_FOUND);
        LogPair("err - ", (name + " - device not found").c_str());
    } else if (code == kErrorNotReady) {
        SetLastResult(KVX_ERR_NOT_READY);
        LogPair("err - ", (name + " - device not ready").c_str());
    } else {
        SetLastResult(KVX_ERR_GENERIC);
        LogPair("err - ", (name + " - failure").c_str());
    }
}

namespace {

// What a failed transfer does to the device state.
enum class OnRefusal : bool { MarkFailed, KeepState };

int ControlOnOwnHandle(std::uint8_t cls, std::uint32_t subCode, std::uint8_t* buffer,
                       unsigned length, Direction direction, DeviceCheck check,
                       OnRefusal onRefusal) {
    if (Identity().alternative) {
        LogPairValue("err - ", "Base control message with invalid twain device - val",
                     static_cast<long>(subCode));
        SetLastResult(KVX_ERR_GENERIC);
        return KVX_ERR_GENERIC;
    }
    if (check == DeviceCheck::Run && !DeviceStateCheck()) {
        LogPairValue("err - ", "Base control message with invalid device - cmd", cls);
        LogPairValue("err - ", "Base control message with invalid device - val",
                     static_cast<long>(subCode));
        SetLastResult(KVX_ERR_GENERIC);
        return KVX_ERR_GENERIC;
    }
    if (NullBufferFault(subCode, buffer, length) || TooMuchData(length, kMaxControlData)) {
        SetLastResult(KVX_ERR_GENERIC);
        return KVX_ERR_GENERIC;
    }
    // The check may have reopened the device: its identity is read after.
    const DeviceIdentity id = Identity();
    KeptOrigin origin = KeptOrigin::Opened;
    std::shared_ptr<platform::UsbDevice> handle = KeptDevice(id.path, &origin);
    int error = kErrorSuccess;
    int result =
        Transfer(handle.get(), kOwn, id.firmware, cls, subCode, buffer, length, direction, &error);
    if (result < 0 && error == kErrorFileNotFound && origin == KeptOrigin::Reused) {
        // The scanner was unplugged since an earlier command opened this
        // file, and maybe plugged in again: the command goes to a file
        // opened now, as it would if every command opened its own.
        CloseKeptDevice(handle.get());
        handle = KeptDevice(id.path);
        error = kErrorSuccess;
        result = Transfer(handle.get(), kOwn, id.firmware, cls, subCode, buffer, length, direction,
                          &error);
    }
    if (result >= 0) return static_cast<int>(length);
    // A file that failed is not used again: the reopen makes a new one.
    CloseKeptDevice(handle.get());
    handle.reset();
    const bool refused = error != kErrorFileNotFound && error != kErrorNotReady;
    if (!refused || onRefusal == OnRefusal::MarkFailed)
        Frame().deviceState.store(DeviceState::Failed);
    ReportTransportError("BaseContrlMsg", error);
    return KVX_ERR_GENERIC;
}

}  // namespace

int BaseContrlMsg(std::uint8_t cls, std::uint32_t subCode, std::uint8_t* buffer, unsigned length,
                  Direction direction, DeviceCheck check) {
    return ControlOnOwnHandle(cls, subCode, buffer, length, direction, check,
                              OnRefusal::MarkFailed);
}

int ControlMsgKeepingStateOnRefusal(std::uint8_t cls, std::uint32_t subCode, std::uint8_t* buffer,
                                    unsigned length, Direction direction) {
    return ControlOnOwnHandle(cls, subCode, buffer, length, direction, DeviceCheck::Run,
                              OnRefusal::KeepState);
}

int BaseContrlMsgWO(platform::UsbDevice* handle, std::uint16_t firmware, std::uint8_t cls,
                    std::uint32_t subCode, std::uint8_t* buffer, unsigned length,
                    Direction direction) {
    if (handle == nullptr) {
        LogPair("err - ", "Control Msg WO with invalid handle");
        SetLastResult(KVX_ERR_INV_PARAMETER);
        return KVX_ERR_GENERIC;
    }
    // No length limit here beyond what a setup packet can carry.
    if (NullBufferFault(subCode, buffer, length) || TooMuchData(length, 0xFFFF)) {
        SetLastResult(KVX_ERR_INV_PARAMETER);
        return KVX_ERR_GENERIC;
    }
    int error = kErrorSuccess;
    const int result =
        Transfer(handle, kCallers, firmware, cls, subCode, buffer, length, direction, &error);
    if (result >= 0) return static_cast<int>(length);
    Frame().deviceState.store(DeviceState::Failed);
    ReportTransportError("BaseContrlMsgWO ", error);
    return KVX_ERR_GENERIC;
}

int ControlMsg(std::uint8_t cls, std::uint32_t subCode, std::uint8_t* buffer, unsigned length,
               Direction direction) {
    return BaseContrlMsg(cls, subCode, buffer, length, direction, DeviceCheck::Run);
}

int ControlMsgOnHandle(platform::UsbDevice* handle, std::uint16_t firmware, std::uint8_t cls,
                       std::uint32_t subCode, std::uint8_t* buffer, unsigned length,
                       Direction direction, HandleChoice choice) {
    if (choice == HandleChoice::CallersFirst) {
        const int r = BaseContrlMsgWO(handle, firmware, cls, subCode, buffer, length, direction);
        if (r >= 0) return r;
    }
    return ControlMsg(cls, subCode, buffer, length, direction);
}

}  // namespace kovran::device
