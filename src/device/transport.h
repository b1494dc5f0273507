// The USB transport: finding the scanner, reading its serial number,
// opening it, the control commands (under the endpoint-0 lock), the bulk
// alignment, pipe cancellation and the reopen of a device that was lost.
// Every failure ends in the error report, so the last result says whether
// the device was not found (-14), not ready (-18) or failed otherwise (-1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/usb_backend.h"
#include "platform/usb_vendors.h"

namespace kovran::device {

// An open device: the stand-in for the device file handle. Closing is
// dropping it.
using DeviceHandle = std::unique_ptr<platform::UsbDevice>;

// The firmware assumed until the device says otherwise: the oldest
// protocol, which every device either answers or refuses.
inline constexpr std::uint16_t kFirstGuessFirmware = 0x1005;
// Interface paths are cut to this many characters.
inline constexpr std::size_t kInterfacePathLimit = 1023;

// A device the enumeration accepts.
struct FoundDevice {
    std::string path;  // upper case
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    std::string serial;  // empty when unreadable
};

// Which devices an enumeration looks at: the main vendor's scanners or the
// other vendors' devices (their back-ends).
enum class VendorGroup : bool { Others, Main };
// Whether the device found becomes the device's identity.
enum class StoreFound : bool { No, Yes };

// Finds the index-th acceptable device (index < 0: the first) and, with
// StoreFound::Yes, makes it the device's identity. vendorFilter 0: any
// vendor.
bool EnumerateDevices(std::uint16_t vendorFilter, const std::string& serialFilter, int index,
                      VendorGroup group, StoreFound store);

// Every scanner of the main vendor that EnumerateDevices would accept.
std::vector<FoundDevice> ListScanners();

// Reads the serial number (empty when unreadable) and decides whether the
// device may be opened: the serial filter (when not empty) must match, and
// on the main vendor the product must be one of the scanners.
bool IdentifyDevice(const std::string& serialFilter, std::uint16_t vid, std::uint16_t pid,
                    const std::string& path, std::string* serial);

// Reads string descriptor 4 (3 on other vendors) of the device at path.
bool ReadSerialDescriptor(const std::string& path, std::uint16_t vid, std::uint16_t pid,
                          std::string* serial);

enum class OpenRetry : bool { No, Yes };

// Opens the device. With OpenRetry::Yes: a success marks the device valid,
// and a failure is retried (a pause, a reopen, once more) before the device
// is marked failed. Null when it cannot be opened.
DeviceHandle OpenDevice(const std::string& path, OpenRetry retry);

// The device at path, kept open for the control commands: opened (with
// OpenRetry::Yes) on first use and reused until a command on it fails or
// CloseKeptDevice. Shared by the threads that send commands; acquisition
// and printing open their own device objects, which the backend puts on
// the same device file. Null when it cannot be opened. *origin (when
// given) tells whether an earlier command's device was reused.
enum class KeptOrigin : bool { Opened, Reused };
std::shared_ptr<platform::UsbDevice> KeptDevice(const std::string& path,
                                                KeptOrigin* origin = nullptr);

// Closes the kept device (device close, unload).
void CloseKeptDevice();
// Closes the kept device if it is still `failed` (a command on it failed):
// another thread may have put a new one in its place meanwhile.
void CloseKeptDevice(const platform::UsbDevice* failed);

// Opens and closes the device and marks it valid (failed when it cannot).
bool TestOpen(const std::string& path);

// Opens the stored device again after it was lost; the frame's device
// state check calls it.
bool ReopenDevice();

using platform::Direction;

// Whether a control command first runs the frame's device state check
// (which may reopen the device).
enum class DeviceCheck : bool { Skip, Run };

// A control command on the kept device (KeptDevice): class 0xD0, 0xD1 or
// 0xD2, sub-code, at most 64 bytes. Returns `length`, or -1 (last result
// set, device marked failed when the transfer itself failed).
int BaseContrlMsg(std::uint8_t cls, std::uint32_t subCode, std::uint8_t* buffer, unsigned length,
                  Direction direction, DeviceCheck check);

// The same on a handle the caller keeps open, with the caller's firmware
// version (the acquisition threads). A null handle gives -1 and last
// result -3.
int BaseContrlMsgWO(platform::UsbDevice* handle, std::uint16_t firmware, std::uint8_t cls,
                    std::uint32_t subCode, std::uint8_t* buffer, unsigned length,
                    Direction direction);

// BaseContrlMsg with the device check: the usual entry.
int ControlMsg(std::uint8_t cls, std::uint32_t subCode, std::uint8_t* buffer, unsigned length,
               Direction direction);

// ControlMsg for a command that some firmware does not know: a transfer the
// device refuses (neither "not found" nor "not ready") is logged and gives
// -1 with last result -1 as usual, but leaves the device state alone, so
// that no other thread ever sees the device failed for an answer.
int ControlMsgKeepingStateOnRefusal(std::uint8_t cls, std::uint32_t subCode, std::uint8_t* buffer,
                                    unsigned length, Direction direction);

// Which handle ControlMsgOnHandle tries first.
enum class HandleChoice : bool { CallersFirst, OwnOnly };

// The caller's handle first (unless HandleChoice::OwnOnly), ControlMsg when
// that fails.
int ControlMsgOnHandle(platform::UsbDevice* handle, std::uint16_t firmware, std::uint8_t cls,
                       std::uint32_t subCode, std::uint8_t* buffer, unsigned length,
                       Direction direction, HandleChoice choice);

// Cancels the transfers of the pipe, then everything pending on the handle.
bool CancelPipe(platform::UsbDevice* handle, platform::BulkPipe pipe);

// Sets the identity's high-speed flag and wBlock from the bulk IN packet
// size.
bool GetChannelAlignment();

// Completion poll of a bulk transfer: submitResult is what SubmitBulk said
// (anything but 0 fails at once, "IoControl"); then count + 1 polls with
// `pauseMs` of the installed clock between them ("overlapper IoControl timeout" when it is still
// running; it is then left pending for the caller to cancel). The final
// report is left as the system error.
bool WaitOverlapped(platform::UsbDevice& handle, int submitResult, platform::BulkTransferId id,
                    std::size_t* bytes, unsigned pauseMs, unsigned count);

// The error report: 2 sets the last result -14 (" - device not found"), 21
// sets -18 (" - device not ready"), any other -1 (" - failure").
void ReportTransportError(const std::string& name, int code);

}  // namespace kovran::device
