#include "platform/usb_libusb.h"

#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <climits>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>

#include "platform/clock.h"
#include "platform/sys_error.h"

namespace kovran::platform {

namespace {

// USB 3 allows 7 hub tiers.
constexpr int kMaxPorts = 7;
// Cancelled transfers normally finish at once; a device object does not
// wait longer than this for them when it closes.
constexpr std::int64_t kCloseReapLimitNs = 2'000'000'000;
// The kernel's bookkeeping per usbfs URB, as a share of its buffer.
constexpr std::size_t kUsbfsOverheadDivisor = 32;

// The bus keeps real time whatever clock the library runs on: a test's
// manual clock must not make a hardware wait endless.
std::int64_t BusNowNs() {
    return SystemClock().SteadyNs();
}

using ContextPtr = std::shared_ptr<libusb_context>;

struct HandleCloser {
    void operator()(libusb_device_handle* h) const { libusb_close(h); }
};
using HandlePtr = std::unique_ptr<libusb_device_handle, HandleCloser>;

struct TransferFree {
    void operator()(libusb_transfer* t) const { libusb_free_transfer(t); }
};
using TransferPtr = std::unique_ptr<libusb_transfer, TransferFree>;

// The device list of one enumeration, unreferenced when done.
class DeviceList {
  public:
    explicit DeviceList(libusb_context* ctx) {
        const ssize_t n = libusb_get_device_list(ctx, &list_);
        count_ = n > 0 ? static_cast<std::size_t>(n) : 0;
        if (n < 0) list_ = nullptr;
    }
    ~DeviceList() {
        if (list_ != nullptr) libusb_free_device_list(list_, 1);
    }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;
    libusb_device* const* begin() const { return list_; }
    libusb_device* const* end() const { return list_ + count_; }

  private:
    libusb_device** list_ = nullptr;
    std::size_t count_ = 0;
};

std::vector<std::uint8_t> PortsOf(libusb_device* dev) {
    std::uint8_t ports[kMaxPorts];
    const int n = libusb_get_port_numbers(dev, ports, kMaxPorts);
    if (n <= 0) return {};
    return std::vector<std::uint8_t>(ports, ports + n);
}

unsigned ClampTimeout(unsigned ms) {
    // libusb reads 0 as "for ever"; a zero wait means "at once" here.
    return ms == 0 ? 1 : ms;
}

class SharedHandle;

// Shared handles that a transfer which never finished may still reach.
void KeepForever(std::shared_ptr<SharedHandle> handle) {
    static std::mutex mutex;
    static std::vector<std::shared_ptr<SharedHandle>> kept;
    const std::lock_guard lock(mutex);
    kept.push_back(std::move(handle));
}

// The one open device file of a physical scanner, shared by every device
// object opened on its path: usbfs lets only one open file claim the
// interface, so acquisition (bulk in) and printing (bulk out) must both go
// through the same file. The interface is claimed at the first bulk
// transfer and released when the last device object that moved bulk data
// closes.
class SharedHandle {
  public:
    SharedHandle(ContextPtr ctx, HandlePtr handle, int iface, std::uint8_t epIn, std::uint8_t epOut,
                 int maxPacketIn, std::size_t usbfsLimit)
        : ctx(std::move(ctx)),
          handle(std::move(handle)),
          iface(iface),
          epIn(epIn),
          epOut(epOut),
          maxPacketIn(maxPacketIn),
          usbfsLimit(usbfsLimit) {}
    ~SharedHandle() {
        if (claimed_) libusb_release_interface(handle.get(), iface);
    }
    SharedHandle(const SharedHandle&) = delete;
    SharedHandle& operator=(const SharedHandle&) = delete;

    // One device object starts moving bulk data; the first claims the
    // interface.
    int Claim() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!claimed_) {
            if (iface < 0) return kErrorGenFailure;
            libusb_set_auto_detach_kernel_driver(handle.get(), 1);
            const int rc = libusb_claim_interface(handle.get(), iface);
            if (rc < 0) return Note(WinErrorFromLibusb(rc));
            claimed_ = true;
        }
        ++claimUsers_;
        return kErrorSuccess;
    }
    // A device object that claimed is closed, its transfers reaped. The
    // last gives the interface back although the file stays open (the
    // device kept for the control commands lives as long as the library):
    // another program may then scan or print on the scanner, as it could
    // before this one ever moved bulk data.
    void Unclaim() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (claimUsers_ == 0 || --claimUsers_ != 0 || !claimed_) return;
        libusb_release_interface(handle.get(), iface);
        claimed_ = false;
    }

    // Reserves room for a transfer within the usbfs memory limit. The
    // kernel checks the limit URB by URB: where libusb splits a transfer
    // (no scatter-gather), a refusal would only come after the first parts
    // went out, as a failed transfer instead of a refused submit. Checked
    // here, every host controller refuses the same size the same way.
    // The kernel also counts its own bookkeeping per URB against the limit
    // (a few hundred bytes per 16 KiB URB where libusb splits a transfer):
    // a transfer of exactly the limit fails there, so it is refused here.
    // Returns the bytes reserved, or 0 when the transfer does not fit.
    std::size_t Reserve(std::size_t length) {
        if (usbfsLimit == 0) return 1;
        const std::size_t need = length + length / kUsbfsOverheadDivisor + 1;
        std::size_t now = inFlight_.load();
        do {
            if (need > usbfsLimit || now > usbfsLimit - need) return 0;
        } while (!inFlight_.compare_exchange_weak(now, now + need));
        return need;
    }
    void Unreserve(std::size_t reserved) {
        if (usbfsLimit != 0) inFlight_.fetch_sub(reserved);
    }

    // Remembers that the scanner is gone: the next open makes a new file.
    int Note(int winError) {
        if (winError == kErrorFileNotFound) gone_.store(true);
        return winError;
    }
    bool Gone() const { return gone_.load(); }

    // Bulk transfers of a pipe submitted through any device object of this
    // file and not yet reaped.
    void Submitted(BulkPipe pipe) { Pending(pipe).fetch_add(1); }
    void Reaped(BulkPipe pipe) { Pending(pipe).fetch_sub(1); }

    // Clears the halt of the pipe's endpoint now when nothing is in flight
    // on it, else at the next submit that finds it idle: a clear resets the
    // data toggle on both sides, which a transfer still moving (of this or
    // another device object: printing while acquisition cancels) would
    // lose packets to.
    int ClearHaltWhenIdle(BulkPipe pipe) {
        ClearNeeded(pipe).store(true);
        return ClearHaltIfDue(pipe);
    }
    int ClearHaltIfDue(BulkPipe pipe) {
        if (Pending(pipe).load() != 0 || !ClearNeeded(pipe).exchange(false)) return kErrorSuccess;
        const int rc = libusb_clear_halt(handle.get(), pipe == BulkPipe::In ? epIn : epOut);
        return rc == LIBUSB_ERROR_NO_DEVICE ? Note(kErrorFileNotFound) : kErrorSuccess;
    }

    const ContextPtr ctx;
    const HandlePtr handle;
    const int iface;
    const std::uint8_t epIn;
    const std::uint8_t epOut;
    const int maxPacketIn;
    const std::size_t usbfsLimit;  // bytes; 0 = none

  private:
    std::mutex mutex_;
    bool claimed_ = false;
    int claimUsers_ = 0;
    std::atomic<std::size_t> inFlight_{0};
    std::atomic<bool> gone_{false};
    std::atomic<int> pendingIn_{0};
    std::atomic<int> pendingOut_{0};
    std::atomic<bool> clearIn_{false};
    std::atomic<bool> clearOut_{false};

    std::atomic<int>& Pending(BulkPipe pipe) {
        return pipe == BulkPipe::In ? pendingIn_ : pendingOut_;
    }
    std::atomic<bool>& ClearNeeded(BulkPipe pipe) {
        return pipe == BulkPipe::In ? clearIn_ : clearOut_;
    }
};

class LibusbDevice final : public UsbDevice {
  public:
    explicit LibusbDevice(std::shared_ptr<SharedHandle> shared) : shared_(std::move(shared)) {}

    ~LibusbDevice() override {
        CancelOnly(BulkPipe::In);
        CancelOnly(BulkPipe::Out);
        const std::int64_t limit = BusNowNs() + kCloseReapLimitNs;
        for (;;) {
            Slot* pending = nullptr;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                for (auto& [id, slot] : slots_)
                    if (!Completed(*slot)) pending = slot.get();
            }
            if (pending == nullptr || BusNowNs() >= limit) break;
            timeval tv{0, 10000};
            libusb_handle_events_timeout_completed(shared_->ctx.get(), &tv, &pending->completed);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        bool abandoned = false;
        for (auto& [id, slot] : slots_) {
            if (Completed(*slot)) {
                shared_->Unreserve(slot->reserved);
                shared_->Reaped(slot->pipe);
                continue;
            }
            abandoned = true;
            // libusb still owns a transfer that never finished; freeing it,
            // or the slot its callback writes into, would let the completion
            // write into freed memory. Both are left to the process, and the
            // shared handle with them, so that the completion finds its file.
            (void)slot->transfer.release();
            (void)slot.release();
            KeepForever(shared_);
        }
        slots_.clear();
        // A transfer still in libusb's hands keeps the interface claimed.
        if (claimed_ && !abandoned) shared_->Unclaim();
    }

    int Control(const UsbSetup& setup, std::uint8_t* data, std::size_t* transferred,
                unsigned timeoutMs) override {
        *transferred = 0;
        if (data == nullptr && setup.length != 0) return kErrorInvalidParameter;
        const int rc = libusb_control_transfer(shared_->handle.get(), setup.requestType,
                                               setup.request, setup.value, setup.index, data,
                                               setup.length, ClampTimeout(timeoutMs));
        if (rc < 0) return shared_->Note(WinErrorFromLibusb(rc));
        *transferred = std::min<std::size_t>(static_cast<std::size_t>(rc), setup.length);
        return kErrorSuccess;
    }

    int SubmitBulk(BulkPipe pipe, std::uint8_t* buffer, std::size_t length,
                   BulkTransferId* id) override {
        *id = 0;
        const std::uint8_t ep = pipe == BulkPipe::In ? shared_->epIn : shared_->epOut;
        if (shared_->Gone()) return kErrorFileNotFound;
        if (ep == 0) return kErrorGenFailure;
        if (length > static_cast<std::size_t>(INT_MAX)) return kErrorNoSystemResources;
        if (buffer == nullptr && length != 0) return kErrorInvalidParameter;
        if (!claimed_) {
            if (int rc = shared_->Claim(); rc != kErrorSuccess) return rc;
            claimed_ = true;
        }
        if (int rc = shared_->ClearHaltIfDue(pipe); rc != kErrorSuccess) return rc;
        const std::size_t reserved = shared_->Reserve(length);
        if (reserved == 0) return kErrorNoSystemResources;

        auto slot = std::make_unique<Slot>();
        slot->pipe = pipe;
        slot->reserved = reserved;
        slot->transfer.reset(libusb_alloc_transfer(0));
        if (!slot->transfer) {
            shared_->Unreserve(reserved);
            return kErrorNotEnoughMemory;
        }
        libusb_fill_bulk_transfer(slot->transfer.get(), shared_->handle.get(), ep, buffer,
                                  static_cast<int>(length), &LibusbDevice::OnDone, slot.get(), 0);
        std::lock_guard<std::mutex> lock(mutex_);
        const int rc = libusb_submit_transfer(slot->transfer.get());
        if (rc < 0) {
            shared_->Unreserve(reserved);
            return shared_->Note(WinErrorFromLibusb(rc));
        }
        shared_->Submitted(pipe);
        *id = next_++;
        slots_.emplace(*id, std::move(slot));
        return kErrorSuccess;
    }

    int PollBulk(BulkTransferId id, std::size_t* transferred) override {
        return WaitBulk(id, transferred, 0);
    }

    int WaitBulk(BulkTransferId id, std::size_t* transferred, unsigned timeoutMs) override {
        *transferred = 0;
        Slot* slot = Find(id);
        if (slot == nullptr) return kErrorInvalidParameter;
        const std::int64_t deadline = BusNowNs() + static_cast<std::int64_t>(timeoutMs) * 1'000'000;
        for (;;) {
            if (Completed(*slot)) return Reap(id, transferred);
            const std::int64_t leftUs = (deadline - BusNowNs()) / 1000;
            timeval tv{0, 0};
            if (leftUs > 0) {
                tv.tv_sec = static_cast<time_t>(leftUs / 1000000);
                tv.tv_usec = static_cast<suseconds_t>(leftUs % 1000000);
            }
            libusb_handle_events_timeout_completed(shared_->ctx.get(), &tv, &slot->completed);
            if (Completed(*slot)) return Reap(id, transferred);
            if (leftUs <= 0) return kErrorIoIncomplete;
        }
    }

    int CancelBulk(BulkPipe pipe) override {
        CancelOnly(pipe);
        // A pipe cancelled after a stall must not keep the halt: the next
        // transfer would fail the same way until the scanner is replugged.
        const std::uint8_t ep = pipe == BulkPipe::In ? shared_->epIn : shared_->epOut;
        if (ep == 0 || shared_->Gone()) return kErrorSuccess;
        return shared_->ClearHaltWhenIdle(pipe);
    }

    int BulkInPacketSize(std::uint32_t* size) override {
        *size = 0;
        const int maxPacketIn = shared_->maxPacketIn;
        if (maxPacketIn <= 0)
            return maxPacketIn < 0 ? WinErrorFromLibusb(maxPacketIn) : kErrorGenFailure;
        *size = static_cast<std::uint32_t>(maxPacketIn);
        return kErrorSuccess;
    }

  private:
    struct Slot {
        TransferPtr transfer;
        BulkPipe pipe = BulkPipe::In;
        std::size_t reserved = 0;
        int completed = 0;  // libusb's completion flag; set by OnDone
    };

    static bool Completed(Slot& slot) {
        return std::atomic_ref<int>(slot.completed).load(std::memory_order_acquire) != 0;
    }

    static void LIBUSB_CALL OnDone(libusb_transfer* t) {
        auto* slot = static_cast<Slot*>(t->user_data);
        std::atomic_ref<int>(slot->completed).store(1, std::memory_order_release);
    }

    void CancelOnly(BulkPipe pipe) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& [id, slot] : slots_) {
            // NOT_FOUND: it finished meanwhile; its report stays to be reaped.
            if (slot->pipe == pipe && !Completed(*slot))
                libusb_cancel_transfer(slot->transfer.get());
        }
    }

    Slot* Find(BulkTransferId id) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = slots_.find(id);
        return it == slots_.end() ? nullptr : it->second.get();
    }

    int Reap(BulkTransferId id, std::size_t* transferred) {
        std::unique_ptr<Slot> slot;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto it = slots_.find(id);
            if (it == slots_.end()) return kErrorInvalidParameter;
            slot = std::move(it->second);
            slots_.erase(it);
        }
        shared_->Unreserve(slot->reserved);
        shared_->Reaped(slot->pipe);
        const libusb_transfer& t = *slot->transfer;
        const int asked = t.length;
        const int got = t.actual_length < 0 ? 0 : std::min(t.actual_length, asked);
        *transferred = static_cast<std::size_t>(got);
        // The host controller keeps a stalled endpoint halted until told
        // otherwise; cleared before the stall is reported (once the last
        // transfer queued on it is back), the caller's next transfer
        // reaches the scanner again.
        if (t.status == LIBUSB_TRANSFER_STALL) shared_->ClearHaltWhenIdle(slot->pipe);
        return shared_->Note(WinErrorFromTransferStatus(t.status));
    }

    std::shared_ptr<SharedHandle> shared_;
    std::mutex mutex_;
    std::map<BulkTransferId, std::unique_ptr<Slot>> slots_;
    BulkTransferId next_ = 1;
    bool claimed_ = false;  // counted in the shared handle's claim
};

// The first interface with bulk endpoints, and its first bulk IN and OUT.
struct BulkEndpoints {
    int iface = -1;
    std::uint8_t in = 0;
    std::uint8_t out = 0;
};

BulkEndpoints FindBulkEndpoints(libusb_device* dev) {
    BulkEndpoints found;
    libusb_config_descriptor* cfg = nullptr;
    if (libusb_get_active_config_descriptor(dev, &cfg) != 0 || cfg == nullptr) return found;
    for (int i = 0; i < cfg->bNumInterfaces && found.iface < 0; ++i) {
        const libusb_interface& itf = cfg->interface[i];
        if (itf.num_altsetting < 1) continue;
        const libusb_interface_descriptor& alt = itf.altsetting[0];
        for (int e = 0; e < alt.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor& ep = alt.endpoint[e];
            if ((ep.bmAttributes & 0x03) != LIBUSB_TRANSFER_TYPE_BULK) continue;
            if ((ep.bEndpointAddress & 0x80) != 0) {
                if (found.in == 0) found.in = ep.bEndpointAddress;
            } else if (found.out == 0) {
                found.out = ep.bEndpointAddress;
            }
        }
        if (found.in != 0 || found.out != 0) found.iface = alt.bInterfaceNumber;
    }
    libusb_free_config_descriptor(cfg);
    return found;
}

// The usbfs memory limit in bytes (0: none). An unreadable parameter
// (usbcore built without it, or a kernel before 3.17) or one that is not a
// plain decimal number means the kernel's old fixed limit of 16 MiB: a
// stream extractor would read "-1" as a huge number, that is no limit.
std::size_t UsbfsLimitBytes(const std::string& parameterPath) {
    constexpr std::size_t kDefaultBytes = std::size_t{kDefaultUsbfsMemoryMb} << 20;
    std::ifstream in(parameterPath);
    std::string text;
    if (!std::getline(in, text)) return kDefaultBytes;
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    if (text.empty()) return kDefaultBytes;
    std::uint64_t megabytes = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return kDefaultBytes;
        megabytes = megabytes * 10 + static_cast<std::uint64_t>(c - '0');
        // More than the address space is no limit at all.
        if (megabytes > (SIZE_MAX >> 20)) return 0;
    }
    return static_cast<std::size_t>(megabytes) << 20;
}

class LibusbBackend final : public UsbBackend {
  public:
    LibusbBackend(ContextPtr ctx, LibusbOptions options)
        : ctx_(std::move(ctx)), options_(std::move(options)) {}

    std::vector<UsbDeviceInfo> Enumerate() override {
        std::vector<UsbDeviceInfo> out;
        DeviceList list(ctx_.get());
        for (libusb_device* dev : list) {
            libusb_device_descriptor d{};
            if (libusb_get_device_descriptor(dev, &d) != 0 || !IsListedVendor(d.idVendor)) continue;
            const std::vector<std::uint8_t> ports = PortsOf(dev);
            if (ports.empty()) continue;
            out.push_back(
                {LibusbDevicePath(d.idVendor, d.idProduct, libusb_get_bus_number(dev), ports),
                 d.idVendor, d.idProduct});
        }
        std::sort(out.begin(), out.end(),
                  [](const UsbDeviceInfo& a, const UsbDeviceInfo& b) { return a.path < b.path; });
        return out;
    }

    std::unique_ptr<UsbDevice> Open(const std::string& path, int* error) override {
        *error = kErrorFileNotFound;
        const std::optional<UsbLocation> where = ParseLibusbDevicePath(path);
        if (!where) return nullptr;
        const std::string key = LibusbDevicePath(where->vid, where->pid, where->bus, where->ports);
        // One lock for the look-up and the open: two threads opening the
        // same scanner at once must end up on one file.
        std::lock_guard<std::mutex> lock(mutex_);
        std::erase_if(open_, [](const auto& entry) { return entry.second.expired(); });
        if (auto it = open_.find(key); it != open_.end()) {
            std::shared_ptr<SharedHandle> shared = it->second.lock();
            if (shared && !shared->Gone()) {
                *error = kErrorSuccess;
                return std::make_unique<LibusbDevice>(std::move(shared));
            }
        }
        std::shared_ptr<SharedHandle> shared = OpenShared(*where, error);
        if (!shared) return nullptr;
        open_[key] = shared;
        return std::make_unique<LibusbDevice>(std::move(shared));
    }

    const char* Name() const override { return "libusb"; }

  private:
    std::shared_ptr<SharedHandle> OpenShared(const UsbLocation& where, int* error) {
        DeviceList list(ctx_.get());
        for (libusb_device* dev : list) {
            libusb_device_descriptor d{};
            if (libusb_get_device_descriptor(dev, &d) != 0) continue;
            if (d.idVendor != where.vid || d.idProduct != where.pid) continue;
            if (libusb_get_bus_number(dev) != where.bus || PortsOf(dev) != where.ports) continue;
            libusb_device_handle* raw = nullptr;
            const int rc = libusb_open(dev, &raw);
            if (rc != 0 || raw == nullptr) {
                *error = WinErrorFromLibusb(rc != 0 ? rc : LIBUSB_ERROR_OTHER);
                return nullptr;
            }
            HandlePtr handle(raw);
            const BulkEndpoints eps = FindBulkEndpoints(dev);
            const int maxIn = eps.in != 0 ? libusb_get_max_packet_size(dev, eps.in) : 0;
            *error = kErrorSuccess;
            return std::make_shared<SharedHandle>(ctx_, std::move(handle), eps.iface, eps.in,
                                                  eps.out, maxIn,
                                                  UsbfsLimitBytes(options_.usbfsMemoryParameter));
        }
        return nullptr;
    }

    ContextPtr ctx_;
    const LibusbOptions options_;
    std::mutex mutex_;
    std::map<std::string, std::weak_ptr<SharedHandle>> open_;
};

bool ParseHex4(const std::string& s, std::size_t at, std::uint16_t* v) {
    if (at + 4 > s.size()) return false;
    unsigned value = 0;
    for (std::size_t i = at; i < at + 4; ++i) {
        const int c = std::toupper(static_cast<unsigned char>(s[i]));
        if (!std::isxdigit(c)) return false;
        value = value * 16 + static_cast<unsigned>(std::isdigit(c) ? c - '0' : c - 'A' + 10);
    }
    *v = static_cast<std::uint16_t>(value);
    return true;
}

// A decimal number of 1 to 3 digits that fits a byte; advances `at`.
bool ParseByte(const std::string& s, std::size_t* at, std::uint8_t* v) {
    unsigned value = 0;
    std::size_t i = *at;
    while (i < s.size() && i - *at < 3 && std::isdigit(static_cast<unsigned char>(s[i])))
        value = value * 10 + static_cast<unsigned>(s[i++] - '0');
    if (i == *at || value > 255) return false;
    *v = static_cast<std::uint8_t>(value);
    *at = i;
    return true;
}

}  // namespace

std::string LibusbDevicePath(std::uint16_t vid, std::uint16_t pid, std::uint8_t bus,
                             const std::vector<std::uint8_t>& ports) {
    std::string location = std::to_string(bus) + "-";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (i != 0) location.push_back('.');
        location += std::to_string(ports[i]);
    }
    return UsbInterfacePath(vid, pid, location);
}

std::optional<UsbLocation> ParseLibusbDevicePath(const std::string& path) {
    static const std::string kHead = "\\\\?\\USB#VID_";
    if (path.size() < kHead.size() ||
        !std::equal(kHead.begin(), kHead.end(), path.begin(),
                    [](char a, char b) { return std::toupper(a) == std::toupper(b); }))
        return std::nullopt;
    UsbLocation loc;
    std::size_t at = kHead.size();
    if (!ParseHex4(path, at, &loc.vid)) return std::nullopt;
    at += 4;
    if (path.compare(at, 5, "&PID_") != 0 && path.compare(at, 5, "&pid_") != 0) return std::nullopt;
    at += 5;
    if (!ParseHex4(path, at, &loc.pid)) return std::nullopt;
    at += 4;
    if (at >= path.size() || path[at] != '#') return std::nullopt;
    ++at;
    if (!ParseByte(path, &at, &loc.bus) || at >= path.size() || path[at] != '-')
        return std::nullopt;
    ++at;
    for (;;) {
        std::uint8_t port = 0;
        if (!ParseByte(path, &at, &port) || loc.ports.size() >= kMaxPorts) return std::nullopt;
        loc.ports.push_back(port);
        if (at < path.size() && path[at] == '.') {
            ++at;
            continue;
        }
        break;
    }
    if (at >= path.size() || path[at] != '#') return std::nullopt;
    return loc;
}

int WinErrorFromLibusb(int libusbError) {
    switch (libusbError) {
        case LIBUSB_SUCCESS:
            return kErrorSuccess;
        case LIBUSB_ERROR_NO_DEVICE:
        case LIBUSB_ERROR_NOT_FOUND:
            return kErrorFileNotFound;
        case LIBUSB_ERROR_ACCESS:
            return kErrorAccessDenied;
        case LIBUSB_ERROR_BUSY:
            return kErrorBusy;
        case LIBUSB_ERROR_IO:
        case LIBUSB_ERROR_INTERRUPTED:
            return kErrorNotReady;
        case LIBUSB_ERROR_TIMEOUT:
            return kErrorTimeout;
        case LIBUSB_ERROR_NO_MEM:
            return kErrorNoSystemResources;
        case LIBUSB_ERROR_INVALID_PARAM:
            return kErrorInvalidParameter;
        case LIBUSB_ERROR_PIPE:
        case LIBUSB_ERROR_OVERFLOW:
        case LIBUSB_ERROR_NOT_SUPPORTED:
        case LIBUSB_ERROR_OTHER:
        default:
            return kErrorGenFailure;
    }
}

int WinErrorFromTransferStatus(int status) {
    switch (status) {
        case LIBUSB_TRANSFER_COMPLETED:
            return kErrorSuccess;
        case LIBUSB_TRANSFER_CANCELLED:
            return kErrorOperationAborted;
        case LIBUSB_TRANSFER_NO_DEVICE:
            return kErrorFileNotFound;
        case LIBUSB_TRANSFER_TIMED_OUT:
            return kErrorTimeout;
        case LIBUSB_TRANSFER_ERROR:
            return kErrorNotReady;
        case LIBUSB_TRANSFER_STALL:
        case LIBUSB_TRANSFER_OVERFLOW:
        default:
            return kErrorGenFailure;
    }
}

std::unique_ptr<UsbBackend> MakeLibusbBackend(LibusbOptions options) {
    libusb_context* raw = nullptr;
    if (libusb_init(&raw) != 0 || raw == nullptr) return nullptr;
    return std::make_unique<LibusbBackend>(
        ContextPtr(raw, [](libusb_context* c) { libusb_exit(c); }), std::move(options));
}

}  // namespace kovran::platform
