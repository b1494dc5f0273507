// Finding, identifying, opening and reopening the device; the bulk
// alignment, pipe cancellation and the completion poll.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "api/frame_state.h"
#include "api/library.h"
#include "api/log.h"
#include "device/control_request.h"
#include "device/device_record.h"
#include "device/serial_number.h"
#include "device/transport.h"
#include "device/usb_selection.h"
#include "platform/sys_error.h"
#include "platform/usb_sync.h"

namespace kovran::device {

DeviceRecord& Device() {
    return lib().Get<DeviceRecord>();
}

namespace {

using platform::kErrorFileNotFound;
using platform::kErrorSuccess;
using platform::kErrorTimeout;

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

constexpr const char* kOtherVendors[] = {"VID_0638", "VID_04C5", "VID_055F"};
constexpr std::uint16_t kOtherVendorIds[] = {0x0638, 0x04C5, 0x055F};
constexpr std::uint16_t kScannerPids[] = {3, 4, 5, 8, 9, 11, 14};

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
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

void Pause(unsigned ms) {
    TransportSleep(ms);
}

// The part of the device record a reopen must leave as it was.
struct IdentityCopy {
    std::uint16_t vid, pid, firmware;
    std::string serialNumber, path;
    std::int32_t serialHigh, serialLow;
    bool alternative, highSpeed;
    std::uint16_t wBlock;

    explicit IdentityCopy(const DeviceRecord& d)
        : vid(d.vid),
          pid(d.pid),
          firmware(d.firmware),
          serialNumber(d.serialNumber),
          path(d.path),
          serialHigh(d.serialHigh),
          serialLow(d.serialLow),
          alternative(d.alternative),
          highSpeed(d.highSpeed),
          wBlock(d.wBlock) {}

    // Acquisition threads read these while the host's thread reopens; a
    // field is written back only when it really changed.
    void RestoreTo(DeviceRecord& d) const {
        Restore(d.vid, vid);
        Restore(d.pid, pid);
        Restore(d.firmware, firmware);
        Restore(d.serialNumber, serialNumber);
        Restore(d.path, path);
        Restore(d.serialHigh, serialHigh);
        Restore(d.serialLow, serialLow);
        Restore(d.alternative, alternative);
        Restore(d.highSpeed, highSpeed);
        Restore(d.wBlock, wBlock);
    }

  private:
    template <class T>
    static void Restore(T& field, const T& kept) {
        if (field != kept) field = kept;
    }
};

}  // namespace

void TransportSleep(unsigned ms) {
    const auto& sleep = Device().usb.sleep;
    if (sleep)
        sleep(ms);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

namespace {

// Walks the present devices that pass the filters and IdentifyDevice, in
// the backend's order, until `take` returns true.
template <class Take>
bool WalkDevices(std::uint16_t vendorFilter, const std::string& serialFilter, bool mainVendor,
                 Take take) {
    platform::UsbBackend* backend = UsbBackendInUse();
    if (backend == nullptr) return false;
    for (const platform::UsbDeviceInfo& info : backend->Enumerate()) {
        FoundDevice found;
        found.path = Upper(info.path.substr(0, kInterfacePathLimit));
        const std::string& path = found.path;
        if (vendorFilter != 0) {
            char vidText[16];
            std::snprintf(vidText, sizeof vidText, "VID_%04X", vendorFilter);
            if (path.find(vidText) == std::string::npos) continue;
        }
        if (mainVendor) {
            if (path.find("VID_7E51") == std::string::npos) continue;
            found.vid = kMainVendor;
        } else {
            for (std::size_t i = 0; i < std::size(kOtherVendors) && found.vid == 0; ++i)
                if (path.find(kOtherVendors[i]) != std::string::npos)
                    found.vid = kOtherVendorIds[i];
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
                      bool mainVendor, bool store) {
    int count = 0;
    return WalkDevices(vendorFilter, serialFilter, mainVendor, [&](const FoundDevice& found) {
        if (index >= 0 && index != count++) return false;
        if (store) {
            DeviceRecord& d = Device();
            d.vid = found.vid;
            d.pid = found.pid;
            d.path = found.path;
            d.serialNumber = found.serial;
            d.firmware = kFirstGuessFirmware;
            d.alternative = !mainVendor;
        }
        return true;
    });
}

std::vector<FoundDevice> ListScanners() {
    std::vector<FoundDevice> all;
    WalkDevices(0, "", true, [&](const FoundDevice& found) {
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
    DeviceHandle dev = OpenDevice(path, false);
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

DeviceHandle OpenDevice(const std::string& path, bool retry) {
    DeviceRecord& device = Device();
    platform::UsbBackend* backend = UsbBackendInUse();
    int error = kErrorFileNotFound;
    bool pausedOnce = false;
    bool reopenedOnce = false;
    bool retriedOnce = false;
    for (;;) {
        error = kErrorFileNotFound;
        DeviceHandle dev = backend ? backend->Open(path, &error) : nullptr;
        if (!retry) {
            platform::SetLastSystemError(dev ? kErrorSuccess : error);
            return dev;
        }
        if (dev) {
            Frame().deviceState.store(DeviceState::Open);
            return dev;
        }
        if (Frame().deviceState.load() == DeviceState::Open && !pausedOnce) {
            pausedOnce = true;
            Pause(kOpenRetryPauseMs);
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
            Pause(kOpenRetryPauseMs);
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

bool TestOpen(const std::string& path) {
    if (path.empty()) return false;
    DeviceRecord& device = Device();
    DeviceHandle dev = OpenDevice(path, true);
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
            Pause(kReopenWaitStepMs);
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
    if (device.serialNumber.empty()) {
        LogText("null sn");
        device.reopening.store(false);
        return false;
    }
    const IdentityCopy kept(device);
    const bool ok = TestOpen(device.path);
    if (ok) {
        LogPair("reopening device ", device.serialNumber.c_str());
        LogText(device.path);
        if (device.stripeReaderEnabled.load())
            BaseContrlMsg(kClassStripe, 5, nullptr, 0, true, false);
        LogPair("reopening device - valid device ", device.serialNumber.c_str());
    }
    kept.RestoreTo(device);
    if (ok) {
        Frame().deviceState.store(DeviceState::Open);
    } else {
        LogPair("reopening device - no reopen", kept.serialNumber.c_str());
        Frame().deviceState.store(DeviceState::Failed);
    }
    device.reopening.store(false);
    return ok;
}

bool GetChannelAlignment() {
    DeviceRecord& device = Device();
    DeviceHandle dev = OpenDevice(device.path, true);
    std::uint32_t packet = 0;
    const int rc = dev ? dev->BulkInPacketSize(&packet) : kErrorFileNotFound;
    if (rc != kErrorSuccess) {
        LogPair("err - ", "Get Channel alignment error");
        return false;
    }
    device.highSpeed = packet == 512;
    device.wBlock = device.highSpeed ? 512 : 64;
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
    const int rc = platform::PollBulkRepeatedly(handle, id, bytes, pauseMs, count,
                                                [](unsigned ms) { Pause(ms); });
    platform::SetLastSystemError(rc);
    if (rc == kErrorTimeout) {
        LogPair("err - ", "overlapper IoControl timeout");
        return false;
    }
    return rc == kErrorSuccess;
}

}  // namespace kovran::device
