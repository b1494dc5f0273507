// The libusb-1.0 backend: real scanners on the USB bus. Device paths keep
// the form of the Windows device interface paths (VID and PID where the
// transport looks for them) with the bus and port chain as the instance.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/usb_backend.h"
#include "platform/usb_vendors.h"

namespace kovran::platform {

// "\\?\USB#VID_7E51&PID_0003#3-1.4#{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}".
std::string LibusbDevicePath(std::uint16_t vid, std::uint16_t pid, std::uint8_t bus,
                             const std::vector<std::uint8_t>& ports);

// What a path names; nothing when it is not one of ours.
struct UsbLocation {
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    std::uint8_t bus = 0;
    std::vector<std::uint8_t> ports;
};
std::optional<UsbLocation> ParseLibusbDevicePath(const std::string& path);

// libusb error codes (LIBUSB_ERROR_*) as Windows errors: a vanished device
// is 2, a transient I/O failure 21 (worth the transport's retries), a stall
// or overflow 31, a time-out 1460, no memory for a transfer 1450.
int WinErrorFromLibusb(int libusbError);
// A finished transfer's status (LIBUSB_TRANSFER_*) the same way; a
// cancelled transfer is 995.
int WinErrorFromTransferStatus(int status);

// The kernel's default usbfs memory limit (usbcore.usbfs_memory_mb).
inline constexpr unsigned kDefaultUsbfsMemoryMb = 16;

struct LibusbOptions {
    // Where the usbfs memory limit is read (in MiB; 0 means none): bulk
    // transfers above it are refused with 1450 before anything is sent.
    std::string usbfsMemoryParameter = "/sys/module/usbcore/parameters/usbfs_memory_mb";
};

// Every device object opened on one path shares one libusb handle (one
// usbfs file), which claims the interface once, at the first bulk
// transfer: the kernel lets one open file claim it, so a second file
// could not move bulk data while the first holds it. The last device
// object that moved bulk data gives the claim back when it closes. A bulk
// transfer that
// ends in a stall clears the endpoint's halt before it reports 31, and
// CancelBulk clears the pipe's halt. Null when libusb cannot start.
std::unique_ptr<UsbBackend> MakeLibusbBackend(LibusbOptions options = {});

}  // namespace kovran::platform
