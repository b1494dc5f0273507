#include "platform/usb_sync.h"

#include "platform/clock.h"
#include "platform/sys_error.h"

namespace kovran::platform {

namespace {
// A cancelled transfer normally reports within a few milliseconds; a backend
// that never does is given up on rather than blocking the caller for ever.
constexpr unsigned kReapTimeoutMs = 2000;
}  // namespace

UsbSetup StringDescriptorSetup(std::uint8_t index, std::uint16_t lang, std::uint16_t length) {
    UsbSetup s;
    s.requestType = 0x80;  // standard, device, IN
    s.request = 0x06;      // GET_DESCRIPTOR
    s.value = static_cast<std::uint16_t>(0x0300 | index);
    s.index = lang;
    s.length = length;
    return s;
}

int ReadStringDescriptor(UsbDevice& device, std::uint8_t index, std::uint16_t lang,
                         std::uint8_t* buffer, std::uint16_t length, std::size_t* transferred,
                         unsigned timeoutMs) {
    *transferred = 0;
    if (buffer == nullptr && length != 0) return kErrorInvalidParameter;
    std::size_t got = 0;
    const int rc =
        device.Control(StringDescriptorSetup(index, lang, length), buffer, &got, timeoutMs);
    // A backend must not claim more than was asked; never pass such a count on.
    *transferred = got > length ? length : got;
    return rc;
}

int PollBulkRepeatedly(UsbDevice& device, BulkTransferId id, std::size_t* transferred,
                       unsigned pauseMs, unsigned count) {
    *transferred = 0;
    for (unsigned i = 0;; ++i) {
        const int rc = device.PollBulk(id, transferred);
        if (rc != kErrorIoIncomplete) return rc;
        if (i >= count) return kErrorTimeout;
        Sleep(pauseMs);
    }
}

int CancelAndReap(UsbDevice& device, BulkPipe pipe, BulkTransferId id, std::size_t* transferred) {
    device.CancelBulk(pipe);
    *transferred = 0;
    return device.WaitBulk(id, transferred, kReapTimeoutMs);
}

int BulkTransfer(UsbDevice& device, BulkPipe pipe, std::uint8_t* buffer, std::size_t length,
                 std::size_t* transferred, unsigned timeoutMs) {
    *transferred = 0;
    BulkTransferId id = 0;
    int rc = device.SubmitBulk(pipe, buffer, length, &id);
    if (rc != kErrorSuccess) return rc;
    rc = device.WaitBulk(id, transferred, timeoutMs);
    if (rc != kErrorIoIncomplete) return rc;
    const int reaped = CancelAndReap(device, pipe, id, transferred);
    // It may have finished between the wait and the cancel.
    if (reaped == kErrorSuccess) return kErrorSuccess;
    return kErrorTimeout;
}

}  // namespace kovran::platform
