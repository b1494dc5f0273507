// Finding, identifying, opening and reopening the device; the bulk
// alignment, pipe cancellation and the completion poll.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "api/frame_state.h"
#include "api/library.h"
#include "api/log.h"
#include "device/control_request.h"
#include "device/device_record.h"
#include "device/serial_number.h"
#include "device/transport.h"
#include "device/usb_selection.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/sys_error.h"
#include "platform/usb_sync.h"
#include "platform/usb_vendors.h"

namespace kovran::device {

DeviceRecord& Device() {
    return lib().Get<DeviceRecord>();
}

DeviceIdentity Identity() {
    return *Device().identity.Load();
}

void SetIdentity(DeviceIdentity identity) {
    Device().identity.Store(std::make_shared<const DeviceIdentity>(std::move(identity)));
}

namespace {

using platform::kErrorFileNotFound;
using platform::kErrorSuccess;
using platform::kErrorTimeout;
using platform::kMainVendor;

constexpr std::uint8_t kMainSerialIndex = 4;
constexpr std::uint8_t kOtherSerialIndex = 3;
// The descriptor reply the driver gave: a length byte, a type byte and at
// most 16 UTF-16 characters.
constexpr std::uint16_t kDescriptorBytes = 34;
constexpr std::size_t kMinDescriptorBytes = 5;
constexpr std::size_t kMainSerialRefused = 7;
constexpr std::size_t kOtherSerialRefused = 255;
// The descriptor request is polled 100 times 10 ms.
constexpr unsigned kDescriptorTimeoutMs = 1010;
constexpr unsigned kOpenRetryPauseMs = 100;
constexpr unsigned kReopenWaitStepMs = 10;
constexpr int kReopenWaitSteps = 100;
// The stripe reader's switch (0xD2 sub-code 5).
constexpr std::uint32_t kStripeReaderOn = 5;
constexpr std::uint16_t kHighSpeedPacket = 512;
constexpr std::uint16_t kFullSpeedPacket = 64;

constexpr std::uint16_t kScannerPids[] = {3, 4, 5, 8, 9, 11, 14};

// "VID_7E51": how a vendor shows in an interface path.
std::string VendorTag(std::uint16_t vid) {
    char text[16];
    std::snprintf(text, sizeof text, "VID_%04X", vid);
    return text;
}

// The hex digits after "PID_", within the 8 characters starting there.
std::uint16_t PidFromPath(const std::string& path) {
    const std::size_t at = path.find("PID_");
    if (at == std::string::npos) return 0;
    const std::string field = path.substr(at + 4, 4);
    unsigned pid = 0;
    for (char c : field) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) break;
        pid = pid * 16 +
              static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c))
                                        ? c - '0'
                                        : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10);
    }
    return static_cast<std::uint16_t>(pid);
}

// Walks the present devices that pass the filters and IdentifyDevice, in
// the backend's order, until `take` returns true.
template <class Take>
bool WalkDevices(std::uint16_t vendorFilter, const std::string& serialFilter, VendorGroup group,
                 Take take) {
    platform::UsbBackend* backend = UsbBackendInUse();
    if (backend == nullptr) return false;
    for (const platform::UsbDeviceInfo& info : backend->Enumerate()) {
        FoundDevice found;
        found.path = platform::ToUpper(info.path.substr(0, kInterfacePathLimit));
        const std::string& path = found.path;
        const auto names = [&](std::uint16_t vid) {
            return path.find(VendorTag(vid)) != std::string::npos;
        };
        if (vendorFilter != 0 && !names(vendorFilter)) continue;
        if (group == VendorGroup::Main) {
            if (!names(kMainVendor)) continue;
            found.vid = kMainVendor;
        } else {
            for (std::uint16_t vid : platform::kOtherVendors) {
                if (names(vid)) {
                    found.vid = vid;
                    break;
                }
            }
            if (found.vid == 0) continue;
        }
        found.pid = PidFromPath(path);
        if (found.pid == 0) continue;
        if (!IdentifyDevice(serialFilter, found.vid, found.pid, path, &found.serial)) continue;
        if (take(found)) return true;
    }
    return false;
}

}  // namespace

bool EnumerateDevices(std::uint16_t vendorFilter, const std::string& serialFilter, int index,
                      VendorGroup group, StoreFound store) {
    int count = 0;
    return WalkDevices(vendorFilter, serialFilter, group, [&](const FoundDevice& found) {
        if (index >= 0 && index != count++) return false;
        if (store == StoreFound::Yes) {
            UpdateIdentity([&](DeviceIdentity& id) {
                id.vid = found.vid;
                id.pid = found.pid;
                id.path = found.path;
                id.serialNumber = found.serial;
                id.firmware = kFirstGuessFirmware;
                id.alternative = group == VendorGroup::Others;
            });
        }
        return true;
    });
}

std::vector<FoundDevice> ListScanners() {
    std::vector<FoundDevice> all;
    WalkDevices(0, "", VendorGroup::Main, [&](const FoundDevice& found) {
        all.push_back(found);
        return false;
    });
    return all;
}

bool IdentifyDevice(const std::string& serialFilter, std::uint16_t vid, std::uint16_t pid,
                    const std::string& path, std::string* serial) {
    serial->clear();
    if (!ReadSerialDescriptor(path, vid, pid, serial)) serial->clear();
    if (!serialFilter.empty() && *serial != serialFilter) {
        LogPair("not opening SN", serial->c_str());
        return false;
    }
    if (vid == kMainVendor)
        return std::find(std::begin(kScannerPids), std::end(kScannerPids), pid) !=
               std::end(kScannerPids);
    // The other vendors' devices belong to their own back-ends, which this
    // build does not carry.
    return false;
}

bool ReadSerialDescriptor(const std::string& path, std::uint16_t vid, std::uint16_t /*pid*/,
                          std::string* serial) {
    DeviceHandle dev = OpenDevice(path, OpenRetry::No);
    if (!dev) {
        LogPairValue("err - ", "Get serial number", platform::LastSystemError());
        return false;
    }
    std::uint8_t reply[kDescriptorBytes] = {0x40, 3};
    std::size_t got = 0;
    const int rc = platform::ReadStringDescriptor(
        *dev, vid == kMainVendor ? kMainSerialIndex : kOtherSerialIndex, 0, reply, kDescriptorBytes,
        &got, kDescriptorTimeoutMs);
    if (rc != kErrorSuccess) {
        if (rc == kErrorTimeout)
            LogText("timeout waiting SN IOCTL_GET_USB_DESCRIPTOR");
        else
            LogValue("error waiting SN IOCTL_GET_USB_DESCRIPTOR", rc);
        LogPairValue("err - ", "Get serial number", rc);
        return false;
    }
    if (got < kMinDescriptorBytes) return false;
    const std::string text = SerialFromDescriptor(reply, got);
    const std::size_t refused = vid == kMainVendor ? kMainSerialRefused : kOtherSerialRefused;
    if (text.size() >= refused) {
        LogPair("invalid sn string", text.c_str());
        return false;
    }
    *serial = text;
    return true;
}

DeviceHandle OpenDevice(const std::string& path, OpenRetry retry) {
    platform::UsbBackend* backend = UsbBackendInUse();
    int error = kErrorFileNotFound;
    bool pausedOnce = false;
    bool reopenedOnce = false;
    bool retriedOnce = false;
    for (;;) {
        error = kErrorFileNotFound;
        DeviceHandle dev = backend ? backend->Open(path, &error) : nullptr;
        if (retry == OpenRetry::No) {
            platform::SetLastSystemError(dev ? kErrorSuccess : error);
            return dev;
        }
        if (dev) {
            Frame().deviceState.store(DeviceState::Open);
            return dev;
        }
        if (Frame().deviceState.load() == DeviceState::Open && !pausedOnce) {
            pausedOnce = true;
            platform::Sleep(kOpenRetryPauseMs);
            continue;
        }
        if (Frame().deviceState.load() == DeviceState::Failed) break;
        // A device that comes back at every reopen but never opens would
        // loop for ever: one reopen per open.
        if (!reopenedOnce && ReopenDevice()) {
            reopenedOnce = true;
            continue;
        }
        reopenedOnce = true;
        if (!retriedOnce) {
            retriedOnce = true;
            LogValue("retry n.", 1);
            platform::Sleep(kOpenRetryPauseMs);
            continue;
        }
        break;
    }
    Frame().deviceState.store(DeviceState::Failed);
    LogText(path);
    LogPairValue("err - ", "Create file returning invalid handle", error);
    platform::SetLastSystemError(error);
    return nullptr;
}

std::shared_ptr<platform::UsbDevice> KeptDevice(const std::string& path, KeptOrigin* origin) {
    const platform::UsbBackend* backend = UsbBackendInUse();
    UsbTransportState& usb = Device().usb;
    KeptOrigin scratch = KeptOrigin::Opened;
    KeptOrigin& from = origin != nullptr ? *origin : scratch;
    from = KeptOrigin::Reused;
    {
        const std::lock_guard lock(usb.mutex);
        if (usb.kept && usb.keptPath == path && usb.keptBackend == backend) return usb.kept;
    }
    from = KeptOrigin::Opened;
    std::shared_ptr<platform::UsbDevice> opened = OpenDevice(path, OpenRetry::Yes);
    if (!opened) return nullptr;
    std::shared_ptr<platform::UsbDevice> replaced;
    {
        const std::lock_guard lock(usb.mutex);
        if (usb.kept && usb.keptPath == path && usb.keptBackend == backend) return usb.kept;
        replaced = std::exchange(usb.kept, opened);
        usb.keptPath = path;
        usb.keptBackend = backend;
    }
    return opened;  // `replaced` closes outside the lock
}

void CloseKeptDevice() {
    UsbTransportState& usb = Device().usb;
    std::shared_ptr<platform::UsbDevice> closed;
    const std::lock_guard lock(usb.mutex);
    closed = std::exchange(usb.kept, nullptr);
    usb.keptPath.clear();
    usb.keptBackend = nullptr;
}

void CloseKeptDevice(const platform::UsbDevice* failed) {
    UsbTransportState& usb = Device().usb;
    std::shared_ptr<platform::UsbDevice> closed;
    const std::lock_guard lock(usb.mutex);
    if (failed == nullptr || usb.kept.get() != failed) return;
    closed = std::exchange(usb.kept, nullptr);
    usb.keptPath.clear();
    usb.keptBackend = nullptr;
}

bool TestOpen(const std::string& path) {
    if (path.empty()) return false;
    DeviceHandle dev = OpenDevice(path, OpenRetry::Yes);
    if (!dev) {
        Frame().deviceState.store(DeviceState::Failed);
        return false;
    }
    dev.reset();
    Frame().deviceState.store(DeviceState::Open);
    return true;
}

bool ReopenDevice() {
    DeviceRecord& device = Device();
    if (device.reopening.load()) {
        LogText("reopen while reopening");
        for (int i = 0; i < kReopenWaitSteps && device.reopening.load(); ++i)
            platform::Sleep(kReopenWaitStepMs);
        if (device.reopening.load()) {
            LogText("reopen while reopening invalid");
            return false;
        }
        if (Frame().deviceState.load() == DeviceState::Open) {
            LogText("reopen while reopening - device valid");
            return true;
        }
    }
    bool expected = false;
    if (!device.reopening.compare_exchange_strong(expected, true)) {
        // Another thread began its reopen in the meantime.
        LogText("reopen while reopening invalid");
        return false;
    }
    LogText("reopen");
    // The identity before the reopen is the identity after it, whatever
    // the open on the way did; it is put back as a whole, so an
    // acquisition thread reading it sees the old or the new one, never a mix.
    const std::shared_ptr<const DeviceIdentity> kept = device.identity.Load();
    if (kept->serialNumber.empty()) {
        LogText("null sn");
        device.reopening.store(false);
        return false;
    }
    const bool ok = TestOpen(kept->path);
    if (ok) {
        LogPair("reopening device ", kept->serialNumber.c_str());
        LogText(kept->path);
        if (device.stripeReaderEnabled.load())
            BaseContrlMsg(kClassStripe, kStripeReaderOn, nullptr, 0, Direction::In,
                          DeviceCheck::Skip);
        LogPair("reopening device - valid device ", kept->serialNumber.c_str());
    }
    device.identity.Store(kept);
    if (ok) {
        Frame().deviceState.store(DeviceState::Open);
    } else {
        LogPair("reopening device - no reopen", kept->serialNumber.c_str());
        Frame().deviceState.store(DeviceState::Failed);
    }
    device.reopening.store(false);
    return ok;
}

bool GetChannelAlignment() {
    DeviceHandle dev = OpenDevice(Identity().path, OpenRetry::Yes);
    std::uint32_t packet = 0;
    const int rc = dev ? dev->BulkInPacketSize(&packet) : kErrorFileNotFound;
    if (rc != kErrorSuccess) {
        LogPair("err - ", "Get Channel alignment error");
        return false;
    }
    UpdateIdentity([&](DeviceIdentity& id) {
        id.highSpeed = packet == kHighSpeedPacket;
        id.wBlock = id.highSpeed ? kHighSpeedPacket : kFullSpeedPacket;
    });
    return true;
}

bool CancelPipe(platform::UsbDevice* handle, platform::BulkPipe pipe) {
    if (handle == nullptr) return false;
    const int rc = handle->CancelBulk(pipe);
    const platform::BulkPipe other =
        pipe == platform::BulkPipe::In ? platform::BulkPipe::Out : platform::BulkPipe::In;
    handle->CancelBulk(other);
    return rc == kErrorSuccess;
}

bool WaitOverlapped(platform::UsbDevice& handle, int submitResult, platform::BulkTransferId id,
                    std::size_t* bytes, unsigned pauseMs, unsigned count) {
    *bytes = 0;
    if (submitResult != kErrorSuccess) {
        LogPairValue("err - ", "IoControl", submitResult);
        platform::SetLastSystemError(submitResult);
        return false;
    }
    const int rc = platform::PollBulkRepeatedly(handle, id, bytes, pauseMs, count);
    platform::SetLastSystemError(rc);
    if (rc == kErrorTimeout) {
        LogPair("err - ", "overlapper IoControl timeout");
        return false;
    }
    return rc == kErrorSuccess;
}

}  // namespace kovran::device
