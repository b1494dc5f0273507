// Fuzz target for the simulator's profile parser: any text is refused with a
// reason, or gives devices that a simulator backend presents as written:
// every plugged device without faults is found once, under its own path,
// and hands out its own serial number descriptor.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/usb_vendors.h"
#include "sim/profile_parser.h"
#include "sim/sim_backend.h"

namespace {

using kovran::sim::DeviceProfile;

// Slow replies must not sleep.
class NoWaitClock final : public kovran::platform::Clock {
  public:
    std::int64_t NowUnixNs() const override { return kovran::platform::SystemClock().NowUnixNs(); }
    std::int64_t LocalOffsetSeconds(std::int64_t ns) const override {
        return kovran::platform::SystemClock().LocalOffsetSeconds(ns);
    }
    void Sleep(unsigned) const override {}
};

// Transfer logs named in a profile go here, never to the path it gives.
class ScratchDir {
  public:
    ScratchDir() {
        std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::vector<char> dir(base.begin(), base.end());
        const char kTemplate[] = "/kovran-sim-profile-fuzz-XXXXXX";
        dir.insert(dir.end(), kTemplate, kTemplate + sizeof kTemplate);
        if (mkdtemp(dir.data()) == nullptr) std::abort();
        dir_ = dir.data();
        log_ = dir_ + "/transfers.log";
    }
    ~ScratchDir() {
        unlink(log_.c_str());
        rmdir(dir_.c_str());
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& log() const { return log_; }

  private:
    std::string dir_;
    std::string log_;
};

std::string ExpectedPath(const DeviceProfile& p, std::size_t position) {
    const std::string location =
        p.location.empty() ? "1-" + std::to_string(position + 1) : p.location;
    return kovran::platform::ToUpper(kovran::sim::SimDevicePath(p.vid, p.pid, location));
}

// The serial number string descriptor as the device hands it out, or the
// transfer's error as a negative length.
long long ReadSerialDescriptor(kovran::platform::UsbDevice& device, const DeviceProfile& p,
                               std::vector<std::uint8_t>* out) {
    kovran::platform::UsbSetup setup;
    setup.requestType = 0x80;
    setup.request = 6;  // GET_DESCRIPTOR
    setup.value =
        static_cast<std::uint16_t>(0x0300 | (p.vid == kovran::platform::kMainVendor ? 4 : 3));
    setup.index = 0x0409;
    setup.length = 255;
    out->assign(setup.length, 0);
    std::size_t transferred = 0;
    const int r = device.Control(setup, out->data(), &transferred, 1000);
    if (r != 0) return -r;
    out->resize(std::min<std::size_t>(transferred, setup.length));
    return static_cast<long long>(transferred);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const ScratchDir scratch;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<DeviceProfile> devices;
    std::string error;
    if (!kovran::sim::ParseProfiles(text, &devices, &error)) {
        if (error.empty() || !devices.empty()) __builtin_trap();
        return 0;
    }
    if (devices.empty() || devices.size() > kovran::sim::kMaxProfileDevices) __builtin_trap();
    for (DeviceProfile& p : devices) {
        if (!kovran::sim::ValidateProfile(p).empty()) __builtin_trap();
        if (!p.transferLog.empty()) p.transferLog = scratch.log();
    }

    {
        static const NoWaitClock clock;
        kovran::platform::InstallClock(&clock);
        kovran::sim::SimBackend backend(devices);
        const std::vector<kovran::platform::UsbDeviceInfo> found = backend.Enumerate();
        if (found.size() > devices.size()) __builtin_trap();

        for (std::size_t i = 0; i < devices.size(); ++i) {
            const DeviceProfile& p = devices[i];
            const std::string path = ExpectedPath(p, i);
            std::size_t listed = 0;
            for (const auto& info : found) {
                if (info.path != path) continue;
                ++listed;
                if (info.vid != p.vid || info.pid != p.pid) __builtin_trap();
            }
            // Faults may hide a device or fail its transfers; still drive
            // them, but only a quiet device has to answer as written.
            const bool quiet = p.plugged && p.faults.empty();
            if (quiet && listed != 1) __builtin_trap();

            int openError = 0;
            auto device = backend.Open(path, &openError);
            if (!device) {
                if (quiet) __builtin_trap();
                continue;
            }
            std::vector<std::uint8_t> reply;
            const long long n = ReadSerialDescriptor(*device, p, &reply);
            if (!quiet) continue;
            std::vector<std::uint8_t> expected = kovran::sim::SerialDescriptor(p);
            if (expected.size() > 255) expected.resize(255);
            if (n != static_cast<long long>(expected.size()) || reply != expected) __builtin_trap();
        }
    }
    unlink(scratch.log().c_str());
    return 0;
}
