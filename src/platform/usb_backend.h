// The USB layer the transport talks through. A backend finds scanners and
// opens them; an open device carries vendor control transfers on endpoint 0
// and bulk transfers on the data pipes. Two backends implement it: libusb
// (real hardware) and the simulator. Results are Windows error numbers
// (platform/sys_error.h), so the transport's retry ladders test the same
// values on every backend.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kovran::platform {

// The device interface path of a scanner, as every backend names it:
// "\\?\USB#VID_<vid>&PID_<pid>#<location>#{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}"
// with VID and PID in upper-case hex.
std::string UsbInterfacePath(std::uint16_t vid, std::uint16_t pid, std::string_view location);

// One scanner found by enumeration.
struct UsbDeviceInfo {
    // "\\?\USB#VID_7E51&PID_0003#<bus>-<ports>#{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}",
    // upper case: the transport parses VID and PID out of it.
    std::string path;
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
};

// Which way the data of a control transfer travels.
enum class Direction : bool { Out, In };

// The setup packet of a control transfer. The transport builds it (vendor
// register reads 0xC0, writes 0x40, command requests 0xC0 with the class as
// bRequest, the string descriptor as a standard GET_DESCRIPTOR), so every
// backend sees the bytes a real scanner would.
struct UsbSetup {
    std::uint8_t requestType = 0;  // 0xC0 vendor IN, 0x40 vendor OUT, 0x80 standard IN
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;
    bool IsIn() const { return (requestType & 0x80) != 0; }
};

enum class BulkPipe { In, Out };

// Handle of one submitted bulk transfer on an open device.
using BulkTransferId = std::uint64_t;

class UsbDevice {
  public:
    virtual ~UsbDevice() = default;

    // One control transfer on endpoint 0. For IN, data receives up to
    // setup.length bytes; for OUT, data holds setup.length bytes; data may be
    // null only when setup.length is 0. *transferred gets the count (never
    // more than setup.length). Blocks at most timeoutMs. Returns 0 or a
    // Windows error: 2 the device is gone, 21 it is not ready (a transient
    // failure worth retrying), 5 access denied, 31 the device stalled or
    // overran the request, 1460 time-out.
    virtual int Control(const UsbSetup& setup, std::uint8_t* data, std::size_t* transferred,
                        unsigned timeoutMs) = 0;

    // Starts a bulk transfer: IN fills buffer with up to length bytes, OUT
    // sends length bytes from buffer. The buffer must stay valid until the
    // transfer is reaped by PollBulk or WaitBulk (done, failed or cancelled). Returns 0
    // with *id set, or an error: 1450 when the transfer is too large for the
    // system (above the usbfs memory limit on Linux, with what is already in
    // flight on the scanner), 2 / 21 when the device is gone, 170 when
    // another program holds the scanner's interface.
    virtual int SubmitBulk(BulkPipe pipe, std::uint8_t* buffer, std::size_t length,
                           BulkTransferId* id) = 0;

    // Reaps a submitted transfer without waiting: 996 (still running), 0 (done,
    // *transferred set; a short read is success with fewer bytes), 995 (it was
    // cancelled) or another error (31 a stall, whose halt is cleared before
    // it is reported). A finished transfer is forgotten once reported.
    virtual int PollBulk(BulkTransferId id, std::size_t* transferred) = 0;

    // Waits up to timeoutMs for a transfer to finish, then reports as PollBulk.
    virtual int WaitBulk(BulkTransferId id, std::size_t* transferred, unsigned timeoutMs) = 0;

    // Cancels every pending transfer of the pipe on this device object;
    // they then report 995 (still to be reaped by PollBulk or WaitBulk).
    // Clears the pipe's halt, so that a transfer after a stall reaches the
    // scanner again. Returns 0 or an error.
    virtual int CancelBulk(BulkPipe pipe) = 0;

    // The bulk IN endpoint's maximum packet size (512 high speed, 64 full):
    // the alignment of bulk reads. Returns 0 or an error.
    virtual int BulkInPacketSize(std::uint32_t* size) = 0;

    // A device object is used by one thread at a time, except that
    // CancelBulk may be called from another thread while one polls or waits
    // and Control from several threads at once (the endpoint-0 lock orders
    // the commands).
    // Destroying it cancels and reaps what is still pending.
};

class UsbBackend {
  public:
    virtual ~UsbBackend() = default;

    // Scanners present now, in a stable order (empty when none, or when the
    // system cannot list them).
    virtual std::vector<UsbDeviceInfo> Enumerate() = 0;

    // Opens the device at path (a path given by Enumerate, maybe from an
    // earlier listing). Null with *error set (2 not found, 5 access denied,
    // 21 not ready, 170 in use) on failure. Several devices may be open on
    // one path at once, and all of them share the scanner's one device file
    // (the interface claimed once for it), so that bulk transfers run on
    // each: acquisition reads on one while printing writes on another. A
    // bulk transfer fails with 170 only when another program holds the
    // interface. The interface is given back when the last device object
    // that moved bulk data closes, even while others (control only) stay
    // open, so that another program can scan between this one's scans.
    virtual std::unique_ptr<UsbDevice> Open(const std::string& path, int* error) = 0;

    // A name for the log ("libusb", "sim").
    virtual const char* Name() const = 0;
};

}  // namespace kovran::platform
