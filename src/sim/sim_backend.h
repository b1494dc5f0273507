// The simulator as a USB backend: a set of simulated scanners that the
// library finds, opens and talks to through the same calls it sends to
// hardware. Created only on request (KOVRAN_USB=sim, or a test), never as a
// fallback: a production host must not scan invented documents.
//
// In a C++ test:
//   test::FakeClock clock;                     // slow replies without sleeping,
//   test::ClockScope scope(clock);             // as every pause of the library
//   DeviceProfile p = DefaultDeviceProfile();  // or a profile built in code
//   auto backend = std::make_unique<SimBackend>(std::vector<DeviceProfile>{p});
//   SimulatedScanner& scanner = backend->Device(0);
//   device::InstallUsbBackend(std::move(backend));
//   scanner.Inject(NotReady{10});              // faults, Unplug(), ForceStatus(),
//                                              // LoadFeeder(), AttachChat() ...
//
// The feeder and the stream: p.documents = 3 (generated grey cheques;
// p.documentsColour for colour), p.feeder = {documents from LoadCorpus()
// or ParseFeederLine()}, or scanner.LoadFeeder(GeneratedCheques(3, true))
// before GO; p.stream.aligner, p.stream.pace (Paced runs on the installed
// clock), p.stream.sensor (true per-pixel values: SensorModel), p.bulkLimit
// (16 MiB by default: larger reads get 1450). Bulk faults: Inject(
// BulkError{.error = 21, .count = 1, .atByte = n}), BulkStall{.atByte},
// EarlyCompletion{}, ShortDocument{.lines}, Unplug{.atByte},
// AlignerGlitch{.line, .shift}, NoiseDropout{...}, RateLimit{...}; the
// same as "fault = ..." lines of a profile (fault_plan.h).
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/usb_backend.h"
#include "sim/device_profile.h"
#include "sim/simulated_scanner.h"

namespace kovran::sim {

class SimBackend : public platform::UsbBackend {
  public:
    // Its delays and waits run on the installed clock (platform/clock.h).
    explicit SimBackend(const std::vector<DeviceProfile>& profiles);

    std::vector<platform::UsbDeviceInfo> Enumerate() override;
    // Devices opened on one path share one device file, as the libusb
    // backend's do, and so claim the interface once between them.
    std::unique_ptr<platform::UsbDevice> Open(const std::string& path, int* error) override;
    const char* Name() const override { return "sim"; }

    // Opens the scanner through a device file of its own, as another
    // program would (or a backend that opened a file per device object):
    // its bulk transfers fail with 170 while another file holds the
    // interface, as the kernel's do.
    std::unique_ptr<platform::UsbDevice> OpenSeparateFile(const std::string& path, int* error);

    // Adds a scanner (hot plug of a new device); returns it.
    SimulatedScanner& AddDevice(const DeviceProfile& profile);
    std::size_t DeviceCount() const;
    // By position in the profile order.
    SimulatedScanner& Device(std::size_t index);
    // By serial number; null when there is none.
    SimulatedScanner* FindBySerial(const std::string& serial);

    struct Claims;
    class File;

  private:
    enum class FileSharing : bool { Separate, Shared };
    std::unique_ptr<platform::UsbDevice> OpenFile(const std::string& path, int* error,
                                                  FileSharing sharing);

    struct Files {
        std::shared_ptr<Claims> claims;
        std::weak_ptr<File> shared;
    };

    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<SimulatedScanner>> scanners_;
    std::map<const SimulatedScanner*, Files> files_;
};

// CPU time the simulator's handles (of any scanner) have spent on the
// calling thread so far: the share of a library thread's time that a real
// device would not cost.
std::int64_t OwnCpuNsOnThisThread();

// The device presented when no profile is given: a main-family scanner
// (PID 3, FW 0x5012, high speed, feeder, rear sensor, MICR head, colour)
// with a handful of placeholder cheques in its feeder.
DeviceProfile DefaultDeviceProfile();

// The backend that KOVRAN_USB=sim selects. profilePath is the KOVRAN_SIM
// value: null or empty gives the default device; otherwise the profile file
// is loaded, and a file that cannot be read or parsed gives null (the
// reason is logged), never the default device.
std::unique_ptr<platform::UsbBackend> MakeSimBackendFromEnv(const char* profilePath);

// As above with the reason returned instead of logged.
std::unique_ptr<SimBackend> MakeSimBackend(const char* profilePath, std::string* error);

}  // namespace kovran::sim
