// The one device of the instance: who it is (its identity) apart from what
// changes while it runs (the live state that acquisition threads read).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "device/capabilities.h"
#include "platform/process_lock.h"
#include "platform/shared_slot.h"
#include "platform/usb_backend.h"
#include "platform/usb_vendors.h"

namespace kovran {

// Who the device is. Written only by the open (enumeration, the firmware
// and alignment queries of the initialise) and by the reopen, always as a
// whole; readers take a copy, so a reopen on the host's thread never shows
// an acquisition thread half of an identity.
struct DeviceIdentity {
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
    // The device belongs to one of the other vendors' back-ends.
    bool alternative = false;
    // The bulk IN endpoint moves 512-byte packets.
    bool highSpeed = false;
    // Block unit of bulk transfers and image sizes: 512 at high speed, else 64.
    std::uint16_t wBlock = 64;
    // What the identification learned (configuration words, flags, MICR head).
    DeviceCapabilities capabilities;
};

// The main vendor's models 3, 4, 8, 9 and 14: their status word carries the
// paper sensors and the enable bit, which the acquisition and the sequence
// check read.
inline bool StatusSensorModel(const DeviceIdentity& id) {
    if (id.vid != platform::kMainVendor) return false;
    switch (id.pid) {
        case 3:
        case 4:
        case 8:
        case 9:
        case 14:
            return true;
        default:
            return false;
    }
}

// The USB backend the transport speaks through. Chosen on first use from
// KOVRAN_USB unless a test installed one; an acquisition thread's open may
// be that first use, hence the lock.
struct UsbTransportState {
    std::mutex mutex;
    std::unique_ptr<platform::UsbBackend> backend;
    bool backendChosen = false;
    // The device kept open for the control commands of the host's calls
    // (device::KeptDevice), so that a command costs no open and the scanner
    // is not left closed (and autosuspended) between commands.
    // Under mutex, as the backend.
    std::shared_ptr<platform::UsbDevice> kept;
    std::string keptPath;
    const platform::UsbBackend* keptBackend = nullptr;
};

struct DeviceRecord {
    // Replaced as a whole (device::SetIdentity); never null.
    platform::SharedSlot<const DeviceIdentity> identity{std::make_shared<const DeviceIdentity>()};

    // --- Live state, read by other threads --------------------------------
    // Set while a reopen runs; other threads wait for it to finish.
    std::atomic<bool> reopening{false};
    // The stripe reader was last switched on; a reopen switches it on again.
    std::atomic<bool> stripeReaderEnabled{false};
    // Serialises control transfers to this device across threads and
    // processes; opened on the first transfer, closed with the device. Shared
    // so that a transfer on another thread keeps its lock alive while it
    // holds it, whatever happens to this handle meanwhile.
    platform::SharedSlot<platform::ProcessLock> ep0Semaphore;
    // Where the device locks live (tests point it elsewhere).
    std::string lockDirectory = platform::kProcessLockDirectory;

    // The backend: chosen once, then only read.
    UsbTransportState usb;
};

namespace device {

// The device record of the library state.
DeviceRecord& Device();

// A copy of the device's identity as it is now.
DeviceIdentity Identity();

// Replaces the identity as a whole (open and reopen only).
void SetIdentity(DeviceIdentity identity);

// Changes some fields of the identity: a copy is changed and put in place.
template <class Change>
void UpdateIdentity(Change change) {
    DeviceIdentity next = Identity();
    change(next);
    SetIdentity(std::move(next));
}

}  // namespace device

}  // namespace kovran
