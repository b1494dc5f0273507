// One scanner on an emulated USB bus: umockdev's testbed holds its sysfs
// entry (attributes, descriptors, udev properties) and a usbfs device node
// whose ioctls this class answers the way the kernel would, so libusb runs
// its real Linux code paths against it. Needs the process to run under
// LD_PRELOAD=libumockdev-preload.so.
//
// What is modelled: URB submit / reap / discard for control and bulk
// transfers, GET_CAPABILITIES, interface claims per open device file
// (a second file gets EBUSY, as from the kernel), endpoint halts (a stalled
// bulk-in endpoint answers -EPIPE until CLEAR_HALT), an unplug (pending URBs
// end with -ESHUTDOWN, then every ioctl fails with ENODEV) and the usbfs
// memory limit (a submit that would take the in-flight URB bytes above it
// fails with ENOMEM). A bulk URB claims the interface implicitly, as usbfs
// does; closing the file drops its claims and URBs.
//
// What only a real scanner shows: the device node is a plain file, so
// poll() always says "ready" (libusb reaps by polling, and never sees the
// POLLERR with which the kernel announces an unplug); the limit is counted
// per node and on buffer bytes only, where the kernel counts every usbfs
// file of the system plus its own overhead; there are no real timings
// (NAK retries, autosuspend, babble, transaction errors); URB buffers are
// copied over a socket, so large transfers are slow but never zero-copy
// (no USBDEVFS_CAP_MMAP); no kernel driver is ever bound to the interface.
#pragma once

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace kovran::test {

// The scanner's identity and the shape of its one interface.
inline constexpr std::uint16_t kScannerVid = 0x7E51;
inline constexpr std::uint16_t kScannerPid = 0x0003;
inline constexpr std::uint8_t kSerialIndex = 4;
inline constexpr const char* kEmulatedSerial = "KX3-0042";
inline constexpr std::uint8_t kBulkInEndpoint = 0x81;
inline constexpr std::uint8_t kBulkOutEndpoint = 0x02;
inline constexpr std::uint16_t kBulkPacketSize = 512;
inline constexpr std::uint8_t kBusNumber = 1;
inline constexpr std::uint8_t kDeviceNumber = 2;
inline constexpr std::uint8_t kPortNumber = 3;

// Capabilities an xHCI host controller reports, and one without
// scatter-gather (libusb then splits bulk transfers into 16 KiB URBs).
inline constexpr std::uint32_t kCapsScatterGather =
    USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
    USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
inline constexpr std::uint32_t kCapsNoScatterGather =
    USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

// The kernel's default usbfs memory limit (usbcore.usbfs_memory_mb).
inline constexpr unsigned kDefaultUsbfsMemoryMb = 16;

// One control transfer as the device saw it.
struct SeenControl {
    std::uint8_t setup[8] = {};
    std::vector<std::uint8_t> outData;
};

enum class Hold : bool { Off, On };

class EmulatedScanner {
  public:
    // Builds the testbed with a root hub on bus 1 and the scanner on its
    // port 3 (/dev/bus/usb/001/002). usbfsMemoryMb is the usbcore parameter
    // (also written to /sys/module/usbcore/parameters/usbfs_memory_mb);
    // 0 means no limit.
    explicit EmulatedScanner(std::uint32_t caps = kCapsScatterGather,
                             unsigned usbfsMemoryMb = kDefaultUsbfsMemoryMb);
    ~EmulatedScanner();
    EmulatedScanner(const EmulatedScanner&) = delete;
    EmulatedScanner& operator=(const EmulatedScanner&) = delete;

    // False when the process does not run under the umockdev preload
    // library, or the testbed could not be built; Problem() says why.
    bool Ready() const { return ready_; }
    const std::string& Problem() const { return problem_; }

    // Bytes the scanner has ready for bulk-in. A URB takes up to its
    // length; a URB finding no data stays pending (the device NAKs).
    void QueueBulkIn(const std::vector<std::uint8_t>& bytes);
    // The next bulk-in URB, and every one after it until CLEAR_HALT, ends
    // with -EPIPE.
    void StallBulkIn();
    // While held, control URBs and bulk-out URBs stay pending (the device
    // NAKs them) until discarded or released.
    void HoldControl(Hold hold);
    void HoldBulkOut(Hold hold);
    // The cable is pulled: pending URBs end with -ESHUTDOWN, reapable once,
    // then every ioctl fails with ENODEV; a remove uevent goes out.
    void Unplug();
    // The answer to vendor control-in requests with this bRequest/wValue
    // (register writes with the same numbers also set it).
    void SetControlReply(std::uint8_t request, std::uint16_t value,
                         const std::vector<std::uint8_t>& reply);

    std::vector<SeenControl> Controls() const;
    std::vector<std::uint8_t> BulkOutData() const;
    unsigned ClearHaltCount(std::uint8_t endpoint) const;
    // Bulk URBs submitted to the endpoint, and the largest.
    unsigned BulkUrbCount(std::uint8_t endpoint) const;
    std::size_t LargestBulkUrb(std::uint8_t endpoint) const;
    // URBs submitted and not yet reaped, of every open file.
    std::size_t InFlightUrbs() const;
    // Control URBs the device has taken and not yet answered, now and at
    // most at once so far (two means two transfers overlapped on EP0).
    std::size_t PendingControls() const;
    std::size_t MostPendingControls() const;
    // ioctl request numbers that were not modelled and answered ENOTTY.
    std::set<unsigned long> UnknownIoctls() const;

  private:
    struct Urb {
        UMockdevIoctlData* urbData = nullptr;     // the client's usbdevfs_urb (owned ref)
        UMockdevIoctlData* bufferData = nullptr;  // its buffer (owned ref)
        UMockdevIoctlClient* client = nullptr;    // the open file it came through
        unsigned long clientAddress = 0;
        std::uint8_t type = 0;
        std::uint8_t endpoint = 0;
        unsigned flags = 0;
        std::size_t length = 0;
        bool done = false;
        int status = 0;
        int actualLength = 0;
    };

    static int OnIoctl(UMockdevIoctlBase* base, UMockdevIoctlClient* client, void* self);
    static void OnClientVanished(UMockdevIoctlBase* base, UMockdevIoctlClient* client, void* self);
    bool Handle(UMockdevIoctlClient* client);
    // Each returns {result, errno}.
    std::pair<long, int> Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    std::pair<long, int> Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    std::pair<long, int> Discard(UMockdevIoctlClient* client, unsigned long address);
    std::pair<long, int> Claim(UMockdevIoctlClient* client, unsigned iface);
    void RunControl(Urb& urb);
    void Progress();
    void Release(Urb& urb);
    std::size_t InFlightBytes() const;
    std::size_t PendingControlsLocked() const;

    bool ready_ = false;
    std::string problem_;
    UMockdevTestbed* testbed_ = nullptr;
    UMockdevIoctlBase* handler_ = nullptr;
    std::string scannerSyspath_;
    std::uint32_t caps_;
    std::size_t usbfsLimitBytes_;

    mutable std::mutex mutex_;
    std::deque<Urb> urbs_;  // submission order
    std::deque<std::uint8_t> bulkIn_;
    bool halted_ = false;
    bool stallNext_ = false;
    bool unplugged_ = false;
    bool holdControl_ = false;
    bool holdBulkOut_ = false;
    std::map<unsigned, UMockdevIoctlClient*> claims_;  // interface -> owner
    std::map<std::pair<std::uint8_t, std::uint16_t>, std::vector<std::uint8_t>> replies_;
    std::vector<SeenControl> controls_;
    std::vector<std::uint8_t> bulkOut_;
    std::map<std::uint8_t, unsigned> clearHalts_;
    std::map<std::uint8_t, unsigned> bulkUrbs_;
    std::map<std::uint8_t, std::size_t> largestBulk_;
    std::set<unsigned long> unknown_;
    std::size_t mostPendingControls_ = 0;
};

}  // namespace kovran::test
