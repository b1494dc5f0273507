// The one device of the instance.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/named_semaphore.h"
#include "platform/usb_backend.h"

namespace kovran {

// What the transport needs besides the device's identity: the USB backend
// it speaks through and the pause it uses between retries (tests replace it
// so that the retry ladders run without waiting).
struct UsbTransportState {
    // Chosen on first use from KOVRAN_USB unless a test installed one.
    std::unique_ptr<platform::UsbBackend> backend;
    bool backendChosen = false;
    // Null: the real sleep.
    std::function<void(unsigned ms)> sleep;
};

struct DeviceRecord {
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    // A first guess when the device is found; the real version once opened.
    // Decides the control protocol.
    std::uint16_t firmware = 0;
    std::string serialNumber;
    std::int32_t serialHigh = 0;
    std::int32_t serialLow = 0;
    // Upper case; VID and PID are parsed out of it.
    std::string path;
    // Set while a reopen runs; other threads wait for it to finish.
    std::atomic<bool> reopening{false};
    // The device belongs to one of the other vendors' back-ends.
    bool alternative = false;
    // The bulk IN endpoint moves 512-byte packets.
    bool highSpeed = false;
    // Block unit of bulk transfers and image sizes: 512 at high speed, else 64.
    std::uint16_t wBlock = 64;
    // The stripe reader was last switched on; a reopen switches it on again.
    std::atomic<bool> stripeReaderEnabled{false};

    // Serialises control transfers to this device across threads and
    // processes; opened on the first transfer, closed with the device. Shared
    // so that a transfer on another thread keeps its semaphore alive while it
    // holds it, whatever happens to this handle meanwhile.
    std::atomic<std::shared_ptr<platform::NamedSemaphore>> ep0Semaphore;

    UsbTransportState usb;
};

namespace device {
// The device record of the library state.
DeviceRecord& Device();
}  // namespace device

}  // namespace kovran
