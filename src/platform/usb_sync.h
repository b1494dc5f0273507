// Blocking helpers written once over the backends' submit / poll / cancel,
// so no backend has to implement them and all of them behave alike.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/usb_backend.h"

namespace kovran::platform {

// The standard GET_DESCRIPTOR request for string descriptor `index` in
// language `lang`, asking for up to `length` bytes.
UsbSetup StringDescriptorSetup(std::uint8_t index, std::uint16_t lang, std::uint16_t length);

// Reads string descriptor `index` into buffer (up to length bytes).
// *transferred gets the bytes received. Returns 0 or a Windows error.
int ReadStringDescriptor(UsbDevice& device, std::uint8_t index, std::uint16_t lang,
                         std::uint8_t* buffer, std::uint16_t length, std::size_t* transferred,
                         unsigned timeoutMs);

// Polls a submitted bulk transfer without blocking in the backend: count + 1
// polls with a pause of the installed clock between them. Returns what the
// poll reported, or 1460 when it was still running after the last poll (the
// transfer is then still pending; the caller cancels it).
int PollBulkRepeatedly(UsbDevice& device, BulkTransferId id, std::size_t* transferred,
                       unsigned pauseMs, unsigned count);

// One bulk transfer that blocks at most timeoutMs. On time-out the pipe is
// cancelled (every pending transfer of it), the cancelled transfer is reaped,
// *transferred holds what arrived before, and the result is 1460.
int BulkTransfer(UsbDevice& device, BulkPipe pipe, std::uint8_t* buffer, std::size_t length,
                 std::size_t* transferred, unsigned timeoutMs);

// Cancels the pipe and reaps one transfer of it (bounded wait): after this
// its buffer may be reused. Returns the transfer's final report.
int CancelAndReap(UsbDevice& device, BulkPipe pipe, BulkTransferId id, std::size_t* transferred);

}  // namespace kovran::platform
