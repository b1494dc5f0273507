#include "usb_emulation/emulated_scanner.h"

#include <umockdev.h>

#include <dlfcn.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace kovran::test {

namespace {

constexpr const char* kPreloadLibrary = "libumockdev-preload.so.0";
constexpr std::size_t kSetupSize = 8;
constexpr std::uint8_t kGetDescriptor = 0x06;

// The descriptor tables keep one descriptor per line.
// clang-format off

// Device descriptor: USB 2.0, vendor class, EP0 64 bytes, strings 1 (maker),
// 2 (product) and kSerialIndex (serial number), one configuration.
const std::vector<std::uint8_t> kDeviceDescriptor = {
    0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40,
    kScannerVid & 0xFF, kScannerVid >> 8, kScannerPid & 0xFF, kScannerPid >> 8,
    0x00, 0x01, 0x01, 0x02, kSerialIndex, 0x01};

// One configuration, one vendor interface with a bulk-in and a bulk-out
// endpoint of 512 bytes (high speed).
const std::vector<std::uint8_t> kConfigDescriptor = {
    0x09, 0x02, 0x20, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32,
    0x09, 0x04, 0x00, 0x00, 0x02, 0xFF, 0x00, 0x00, 0x00,
    0x07, 0x05, kBulkInEndpoint, 0x02, kBulkPacketSize & 0xFF, kBulkPacketSize >> 8, 0x00,
    0x07, 0x05, kBulkOutEndpoint, 0x02, kBulkPacketSize & 0xFF, kBulkPacketSize >> 8, 0x00};

// The root hub the scanner hangs on: device and configuration descriptors.
const std::vector<std::uint8_t> kRootHubDescriptors = {
    0x12, 0x01, 0x00, 0x02, 0x09, 0x00, 0x01, 0x40, 0x6B, 0x1D, 0x02, 0x00, 0x06, 0x06,
    0x03, 0x02, 0x01, 0x01,
    0x09, 0x02, 0x19, 0x00, 0x01, 0x01, 0x00, 0xE0, 0x00,
    0x09, 0x04, 0x00, 0x00, 0x01, 0x09, 0x00, 0x00, 0x00,
    0x07, 0x05, 0x81, 0x03, 0x04, 0x00, 0x0C};
// clang-format on

std::vector<std::uint8_t> StringDescriptor(const std::string& ascii) {
    std::vector<std::uint8_t> d = {static_cast<std::uint8_t>(2 + 2 * ascii.size()), 0x03};
    for (char c : ascii) {
        d.push_back(static_cast<std::uint8_t>(c));
        d.push_back(0);
    }
    return d;
}

std::string DeviceNode(std::uint8_t bus, std::uint8_t device) {
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", bus, device);
    return node;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char two[3];
    for (std::uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02X", b);
        text += two;
    }
    return text;
}

// One USB device in umockdev's description format, as the kernel shows it
// in sysfs (attributes end with a newline) and udev in its properties.
std::string UsbDeviceDescription(const std::string& devpath, std::uint8_t device, const char* vid,
                                 const char* pid, const std::vector<std::uint8_t>& descriptors) {
    const std::string node = DeviceNode(kBusNumber, device).substr(5);  // without "/dev/"
    char numbers[96];
    std::snprintf(numbers, sizeof numbers,
                  "E: BUSNUM=%03u\nE: DEVNUM=%03u\nA: busnum=%u\\n\nA: devnum=%u\\n\n", kBusNumber,
                  device, kBusNumber, device);
    return "P: " + devpath + "\nN: " + node + "\nE: DEVNAME=/dev/" + node +
           "\nE: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\n" + numbers +
           "A: speed=480\\n\nA: bConfigurationValue=1\\n\nA: bNumConfigurations=1\\n\n"
           "A: idVendor=" +
           vid + "\\n\nA: idProduct=" + pid + "\\n\nH: descriptors=" + Hex(descriptors) + "\n";
}

using Result = std::pair<long, int>;
constexpr Result kOk{0, 0};
Result Fail(int err) {
    return {-1, err};
}

}  // namespace

EmulatedScanner::EmulatedScanner(std::uint32_t caps, unsigned usbfsMemoryMb)
    : caps_(caps), usbfsLimitBytes_(static_cast<std::size_t>(usbfsMemoryMb) << 20) {
    // umockdev_in_mock_environment() caches its first answer, which is
    // "no" until a testbed exists; ask the loader instead.
    void* preload = dlopen(kPreloadLibrary, RTLD_NOW | RTLD_NOLOAD);
    if (preload == nullptr) {
        problem_ = std::string("umockdev is not active: run under LD_PRELOAD=") + kPreloadLibrary;
        return;
    }
    dlclose(preload);
    testbed_ = umockdev_testbed_new();
    if (testbed_ == nullptr) {
        problem_ = "umockdev could not build a testbed";
        return;
    }

    std::vector<std::uint8_t> descriptors = kDeviceDescriptor;
    descriptors.insert(descriptors.end(), kConfigDescriptor.begin(), kConfigDescriptor.end());
    // umockdev's description format (what umockdev-record writes): the
    // device first, then its parents; N: makes the /dev node.
    const std::string name = std::to_string(kBusNumber) + "-" + std::to_string(kPortNumber);
    const std::string description =
        UsbDeviceDescription("/devices/usb1/" + name, kDeviceNumber, "7e51", "0003", descriptors) +
        "A: serial=" + kEmulatedSerial + "\\n\n\n" +
        UsbDeviceDescription("/devices/usb1", 1, "1d6b", "0002", kRootHubDescriptors) + "\n";
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_, description.c_str(), &error)) {
        problem_ = std::string("umockdev could not add the scanner: ") +
                   (error != nullptr ? error->message : "?");
        g_clear_error(&error);
        return;
    }
    scannerSyspath_ = "/sys/devices/usb1/" + name;
    // Only the preload library shows the testbed's sysfs at /sys.
    if (!std::filesystem::exists(scannerSyspath_)) {
        problem_ = "umockdev's preload library does not redirect /sys in this process";
        return;
    }

    // The usbcore parameter a backend reads to know the usbfs memory limit.
    gchar* sysDir = umockdev_testbed_get_sys_dir(testbed_);
    const std::filesystem::path parameters =
        std::filesystem::path(sysDir) / "module" / "usbcore" / "parameters";
    g_free(sysDir);
    std::error_code ec;
    std::filesystem::create_directories(parameters, ec);
    std::ofstream(parameters / "usbfs_memory_mb") << usbfsMemoryMb << "\n";

    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&EmulatedScanner::OnIoctl), this);
    g_signal_connect(handler_, "client-vanished", G_CALLBACK(&EmulatedScanner::OnClientVanished),
                     this);
    const std::string node = DeviceNode(kBusNumber, kDeviceNumber);
    if (!umockdev_testbed_attach_ioctl(testbed_, node.c_str(), handler_, &error)) {
        problem_ = std::string("umockdev could not attach the usbfs handler: ") +
                   (error != nullptr ? error->message : "?");
        g_clear_error(&error);
        return;
    }

    replies_[{kGetDescriptor, 0x0100}] = kDeviceDescriptor;
    replies_[{kGetDescriptor, 0x0200}] = kConfigDescriptor;
    replies_[{kGetDescriptor, 0x0300}] = {0x04, 0x03, 0x09, 0x04};  // US English only
    replies_[{kGetDescriptor, 0x0301}] = StringDescriptor("Kovran");
    replies_[{kGetDescriptor, 0x0302}] = StringDescriptor("Cheque scanner");
    replies_[{kGetDescriptor, 0x0300 | kSerialIndex}] = StringDescriptor(kEmulatedSerial);
    ready_ = true;
}

EmulatedScanner::~EmulatedScanner() {
    if (handler_ != nullptr) {
        if (testbed_ != nullptr) {
            const std::string node = DeviceNode(kBusNumber, kDeviceNumber);
            umockdev_testbed_detach_ioctl(testbed_, node.c_str(), nullptr);
        }
        g_signal_handlers_disconnect_by_data(handler_, this);
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (Urb& urb : urbs_) Release(urb);
        urbs_.clear();
    }
    if (handler_ != nullptr) g_object_unref(handler_);
    if (testbed_ != nullptr) g_object_unref(testbed_);
}

void EmulatedScanner::QueueBulkIn(const std::vector<std::uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    bulkIn_.insert(bulkIn_.end(), bytes.begin(), bytes.end());
}

void EmulatedScanner::StallBulkIn() {
    std::lock_guard<std::mutex> lock(mutex_);
    stallNext_ = true;
}

void EmulatedScanner::HoldControl(Hold hold) {
    std::lock_guard<std::mutex> lock(mutex_);
    holdControl_ = hold == Hold::On;
}

void EmulatedScanner::HoldBulkOut(Hold hold) {
    std::lock_guard<std::mutex> lock(mutex_);
    holdBulkOut_ = hold == Hold::On;
}

void EmulatedScanner::Unplug() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        unplugged_ = true;
    }
    umockdev_testbed_uevent(testbed_, scannerSyspath_.c_str(), "remove");
}

void EmulatedScanner::SetControlReply(std::uint8_t request, std::uint16_t value,
                                      const std::vector<std::uint8_t>& reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_[{request, value}] = reply;
}

std::vector<SeenControl> EmulatedScanner::Controls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return controls_;
}

std::vector<std::uint8_t> EmulatedScanner::BulkOutData() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bulkOut_;
}

unsigned EmulatedScanner::ClearHaltCount(std::uint8_t endpoint) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = clearHalts_.find(endpoint);
    return it == clearHalts_.end() ? 0 : it->second;
}

unsigned EmulatedScanner::BulkUrbCount(std::uint8_t endpoint) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = bulkUrbs_.find(endpoint);
    return it == bulkUrbs_.end() ? 0 : it->second;
}

std::size_t EmulatedScanner::LargestBulkUrb(std::uint8_t endpoint) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = largestBulk_.find(endpoint);
    return it == largestBulk_.end() ? 0 : it->second;
}

std::size_t EmulatedScanner::InFlightUrbs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return urbs_.size();
}

std::size_t EmulatedScanner::PendingControlsLocked() const {
    return static_cast<std::size_t>(std::count_if(urbs_.begin(), urbs_.end(), [](const Urb& u) {
        return u.type == USBDEVFS_URB_TYPE_CONTROL && !u.done;
    }));
}

std::size_t EmulatedScanner::PendingControls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return PendingControlsLocked();
}

std::size_t EmulatedScanner::MostPendingControls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return mostPendingControls_;
}

std::set<unsigned long> EmulatedScanner::UnknownIoctls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return unknown_;
}

// Runs on umockdev's worker thread, one ioctl at a time.
int EmulatedScanner::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
    return static_cast<EmulatedScanner*>(self)->Handle(client) ? TRUE : FALSE;
}

// The file was closed: the kernel releases its claims and kills its URBs.
void EmulatedScanner::OnClientVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client,
                                       void* self) {
    auto* me = static_cast<EmulatedScanner*>(self);
    std::lock_guard<std::mutex> lock(me->mutex_);
    std::erase_if(me->claims_, [client](const auto& c) { return c.second == client; });
    for (auto it = me->urbs_.begin(); it != me->urbs_.end();) {
        if (it->client != client) {
            ++it;
            continue;
        }
        me->Release(*it);
        it = me->urbs_.erase(it);
    }
}

bool EmulatedScanner::Handle(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const unsigned long argValue = *reinterpret_cast<const unsigned long*>(arg->data);
    std::lock_guard<std::mutex> lock(mutex_);

    Result result = Fail(ENOTTY);
    // An unsigned int the argument points at.
    auto readUint = [arg](unsigned* value) {
        UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned), nullptr);
        if (d == nullptr) return false;
        std::memcpy(value, d->data, sizeof(unsigned));
        umockdev_ioctl_data_unref(d);
        return true;
    };

    if (unplugged_ && request != USBDEVFS_REAPURBNDELAY && request != USBDEVFS_REAPURB) {
        result = Fail(ENODEV);
    } else if (request == USBDEVFS_GET_CAPABILITIES) {
        UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(std::uint32_t), nullptr);
        if (d != nullptr) {
            std::memcpy(d->data, &caps_, sizeof caps_);
            result = kOk;
        } else {
            result = Fail(EFAULT);
        }
        umockdev_ioctl_client_complete(client, result.first, result.second);
        if (d != nullptr) umockdev_ioctl_data_unref(d);
        return true;
    } else if (request == USBDEVFS_SUBMITURB) {
        result = Submit(client, arg);
    } else if (request == USBDEVFS_REAPURBNDELAY || request == USBDEVFS_REAPURB) {
        // REAPURB would block in the kernel; libusb never uses it.
        result = Reap(client, arg);
        return true;  // Reap completes the call itself
    } else if (request == USBDEVFS_DISCARDURB) {
        result = Discard(client, argValue);
    } else if (request == USBDEVFS_CLAIMINTERFACE) {
        unsigned iface = 0;
        result = readUint(&iface) ? Claim(client, iface) : Fail(EFAULT);
    } else if (request == USBDEVFS_DISCONNECT_CLAIM) {
        // With "except usbfs", a file of another program keeps its claim.
        UMockdevIoctlData* d =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(struct usbdevfs_disconnect_claim), nullptr);
        if (d != nullptr) {
            const auto* dc = reinterpret_cast<const usbdevfs_disconnect_claim*>(d->data);
            result = Claim(client, dc->interface);
            umockdev_ioctl_data_unref(d);
        } else {
            result = Fail(EFAULT);
        }
    } else if (request == USBDEVFS_RELEASEINTERFACE) {
        unsigned iface = 0;
        if (!readUint(&iface)) {
            result = Fail(EFAULT);
        } else {
            auto it = claims_.find(iface);
            result = it != claims_.end() && it->second == client ? kOk : Fail(EINVAL);
            if (result == kOk) claims_.erase(it);
        }
    } else if (request == USBDEVFS_CLEAR_HALT) {
        unsigned endpoint = 0;
        if (!readUint(&endpoint)) {
            result = Fail(EFAULT);
        } else {
            ++clearHalts_[static_cast<std::uint8_t>(endpoint)];
            if (endpoint == kBulkInEndpoint) halted_ = false;
            result = kOk;
        }
    } else if (request == USBDEVFS_GETDRIVER || request == USBDEVFS_IOCTL) {
        // No kernel driver is bound to the scanner's interface.
        result = Fail(ENODATA);
    } else {
        unknown_.insert(request);
    }
    umockdev_ioctl_client_complete(client, result.first, result.second);
    return true;
}

Result EmulatedScanner::Claim(UMockdevIoctlClient* client, unsigned iface) {
    if (iface != 0) return Fail(EINVAL);
    auto [it, fresh] = claims_.emplace(iface, client);
    return fresh || it->second == client ? kOk : Fail(EBUSY);
}

std::size_t EmulatedScanner::InFlightBytes() const {
    std::size_t sum = 0;
    for (const Urb& urb : urbs_) sum += urb.length;
    return sum;
}

Result EmulatedScanner::Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    if (urbData == nullptr) return Fail(EFAULT);
    const usbdevfs_urb header = *reinterpret_cast<const usbdevfs_urb*>(urbData->data);
    Urb urb;
    urb.urbData = urbData;
    urb.client = client;
    urb.clientAddress = urbData->client_addr;
    urb.type = header.type;
    urb.endpoint = header.endpoint;
    urb.flags = header.flags;
    urb.length = header.buffer_length < 0 ? 0 : static_cast<std::size_t>(header.buffer_length);

    auto refuse = [&urb](int err) {
        umockdev_ioctl_data_unref(urb.urbData);
        return Fail(err);
    };
    if (header.buffer_length < 0) return refuse(EINVAL);
    if (header.type == USBDEVFS_URB_TYPE_BULK) {
        if (header.endpoint != kBulkInEndpoint && header.endpoint != kBulkOutEndpoint)
            return refuse(ENOENT);
        // usbfs claims the endpoint's interface for the file on its first
        // bulk URB, and fails as a claim would.
        if (Result r = Claim(client, 0); r != kOk) return refuse(r.second);
    } else if (header.type == USBDEVFS_URB_TYPE_CONTROL) {
        if (urb.length < kSetupSize) return refuse(EINVAL);
    } else {
        return refuse(EINVAL);
    }
    // The kernel accounts every URB's buffer against the usbfs limit before
    // copying anything.
    if (usbfsLimitBytes_ != 0 && InFlightBytes() + urb.length > usbfsLimitBytes_)
        return refuse(ENOMEM);
    if (urb.length != 0) {
        urb.bufferData = umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer),
                                                     urb.length, nullptr);
        if (urb.bufferData == nullptr) return refuse(EFAULT);
    }

    if (urb.type == USBDEVFS_URB_TYPE_CONTROL) {
        std::uint16_t wLength = 0;
        std::memcpy(&wLength, urb.bufferData->data + 6, 2);
        if (wLength != urb.length - kSetupSize) {
            Release(urb);
            return Fail(EINVAL);
        }
    } else {
        ++bulkUrbs_[urb.endpoint];
        largestBulk_[urb.endpoint] = std::max(largestBulk_[urb.endpoint], urb.length);
    }
    urbs_.push_back(urb);
    // Counted before the device answers: what overlapped on the bus.
    mostPendingControls_ = std::max(mostPendingControls_, PendingControlsLocked());
    Progress();
    return kOk;
}

// The scanner's side of endpoint 0: descriptors, register writes that
// later reads return, and a stall for anything else.
void EmulatedScanner::RunControl(Urb& urb) {
    const std::uint8_t* setup = urb.bufferData->data;
    SeenControl seen;
    std::memcpy(seen.setup, setup, kSetupSize);
    const std::uint8_t requestType = setup[0];
    const std::uint8_t request = setup[1];
    const std::uint16_t value = static_cast<std::uint16_t>(setup[2] | setup[3] << 8);
    const std::size_t wLength = urb.length - kSetupSize;
    std::uint8_t* data = urb.bufferData->data + kSetupSize;
    urb.done = true;
    if ((requestType & 0x80) == 0) {
        seen.outData.assign(data, data + wLength);
        if (requestType == 0x40) {
            replies_[{request, value}] = seen.outData;
            urb.actualLength = static_cast<int>(wLength);
        } else {
            urb.status = -EPIPE;
        }
    } else {
        auto it = replies_.find({request, value});
        const bool known =
            it != replies_.end() && ((requestType == 0x80 && request == kGetDescriptor) ||
                                     (requestType == 0xC0 && request != kGetDescriptor));
        if (!known) {
            urb.status = -EPIPE;
        } else {
            const std::size_t n = std::min(wLength, it->second.size());
            std::memcpy(data, it->second.data(), n);
            urb.actualLength = static_cast<int>(n);
        }
    }
    controls_.push_back(std::move(seen));
}

// Finishes what the device can finish now, in submission order.
void EmulatedScanner::Progress() {
    bool cancelContinuations = false;
    bool inBlocked = false;
    for (Urb& urb : urbs_) {
        if (urb.done) continue;
        if (unplugged_) {
            urb.done = true;
            urb.status = -ESHUTDOWN;
            continue;
        }
        if (urb.type == USBDEVFS_URB_TYPE_CONTROL) {
            if (!holdControl_) RunControl(urb);
            continue;
        }
        if (urb.endpoint == kBulkOutEndpoint) {
            if (holdBulkOut_) continue;
            const std::uint8_t* data = urb.bufferData != nullptr ? urb.bufferData->data : nullptr;
            if (data != nullptr) bulkOut_.insert(bulkOut_.end(), data, data + urb.length);
            urb.done = true;
            urb.actualLength = static_cast<int>(urb.length);
            continue;
        }
        if (urb.endpoint != kBulkInEndpoint) continue;
        // After a short packet with SHORT_NOT_OK the kernel unlinks the
        // URBs that continue the same transfer.
        if (cancelContinuations && (urb.flags & USBDEVFS_URB_BULK_CONTINUATION) != 0) {
            urb.done = true;
            urb.status = -ECONNRESET;
            continue;
        }
        cancelContinuations = false;
        if (stallNext_) {
            stallNext_ = false;
            halted_ = true;
        }
        if (halted_) {
            urb.done = true;
            urb.status = -EPIPE;
            continue;
        }
        if (inBlocked) continue;
        if (bulkIn_.empty()) {
            inBlocked = true;  // the device NAKs; later bulk-in URBs wait behind it
            continue;
        }
        const std::size_t n = std::min(urb.length, bulkIn_.size());
        std::copy_n(bulkIn_.begin(), n, urb.bufferData->data);
        bulkIn_.erase(bulkIn_.begin(), bulkIn_.begin() + static_cast<std::ptrdiff_t>(n));
        urb.done = true;
        urb.actualLength = static_cast<int>(n);
        if (n < urb.length && (urb.flags & USBDEVFS_URB_SHORT_NOT_OK) != 0) {
            urb.status = -EREMOTEIO;
            cancelContinuations = true;
        }
    }
}

Result EmulatedScanner::Discard(UMockdevIoctlClient* client, unsigned long address) {
    for (Urb& urb : urbs_) {
        if (urb.client != client || urb.clientAddress != address) continue;
        // A URB that already finished is no longer pending for the kernel.
        if (urb.done) return Fail(EINVAL);
        urb.done = true;
        urb.status = -ECONNRESET;
        urb.actualLength = 0;
        return kOk;
    }
    return Fail(EINVAL);
}

// Completes the call itself: the URB and its buffer must be written back
// to the caller with the answer.
Result EmulatedScanner::Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    Progress();
    auto it = std::find_if(urbs_.begin(), urbs_.end(),
                           [client](const Urb& u) { return u.client == client && u.done; });
    if (it == urbs_.end()) {
        const Result r = Fail(unplugged_ ? ENODEV : EAGAIN);
        umockdev_ioctl_client_complete(client, r.first, r.second);
        return r;
    }
    UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
    if (slot == nullptr) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return Fail(EFAULT);
    }
    auto* urb = reinterpret_cast<usbdevfs_urb*>(it->urbData->data);
    urb->status = it->status;
    urb->actual_length = it->actualLength;
    umockdev_ioctl_data_set_ptr(slot, 0, it->urbData);
    umockdev_ioctl_client_complete(client, 0, 0);
    umockdev_ioctl_data_unref(slot);
    Release(*it);
    urbs_.erase(it);
    return kOk;
}

void EmulatedScanner::Release(Urb& urb) {
    if (urb.bufferData != nullptr) umockdev_ioctl_data_unref(urb.bufferData);
    if (urb.urbData != nullptr) umockdev_ioctl_data_unref(urb.urbData);
    urb.bufferData = nullptr;
    urb.urbData = nullptr;
}

}  // namespace kovran::test
