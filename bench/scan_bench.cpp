// One 300 dpi grey duplex cheque through the whole scan (acquisition,
// correction, deskew and crop) against the simulator's free-running
// streaming scanner, in CPU time of the process per document. The
// simulator runs in the same process, so the same stream is then composed
// by a second simulated scanner alone (the start command the library sent,
// GO, the bulk reads) and its CPU time is reported apart and taken off.
// The library's time compares with the stream's transfer at 40 MB/s, the
// practical USB 2.0 rate: "ratio" is how many times faster the library is.
#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "KovranMS.h"
#include "api/config_dir.h"
#include "api/frame_state.h"
#include "api/lifecycle.h"
#include "api/log_state.h"
#include "device/device_record.h"
#include "device/usb_selection.h"
#include "root/composition.h"
#include "sim/sim_backend.h"
#include "sim/sim_test_util.h"

namespace {

using namespace kovran;

constexpr std::uint16_t kFirmware = 0x5012;
constexpr double kUsbBytesPerSecond = 40e6;

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

sim::DeviceProfile Profile() {
    sim::DeviceProfile p = sim::DefaultDeviceProfile();
    p.documents = 0;
    p.stream.pace = sim::StreamSettings::Pace::FreeRunning;
    return p;
}

// The simulator alone: the stream of one document for this start command.
struct SimulatorAlone {
    sim::SimBackend backend{std::vector<sim::DeviceProfile>{Profile()}};
    std::unique_ptr<platform::UsbDevice> dev;
    std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(std::size_t{1} << 20);

    SimulatorAlone() {
        int error = -1;
        dev = backend.Open(backend.Enumerate().at(0).path, &error);
    }
    std::size_t Stream(const std::vector<std::uint8_t>& start) {
        backend.Device(0).LoadFeeder(sim::GeneratedCheques(1, false, 7));
        sim::simio::Write(*dev, kFirmware, sim::kClassD1, 0x33, start);
        sim::simio::Command(*dev, kFirmware, sim::kClassD1, 0x34);
        std::size_t total = 0;
        for (;;) {
            platform::BulkTransferId id = 0;
            std::size_t got = 0;
            if (dev->SubmitBulk(platform::BulkPipe::In, buffer.data(), buffer.size(), &id) != 0)
                break;
            if (dev->WaitBulk(id, &got, 5000) != 0) break;
            total += got;
            if (got < buffer.size()) break;
        }
        sim::simio::Command(*dev, kFirmware, sim::kClassD1, 0x35);
        sim::simio::Command(*dev, kFirmware, sim::kClassD1, 0x39);
        return total;
    }
};

void BM_ScanGreyDuplexCheque(benchmark::State& state) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("kovran-scan-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "lib");
    std::filesystem::create_directories(dir / "locks");
    std::filesystem::create_directories(dir / "base");
    std::ofstream(dir / "lib/KOVRANMS.ini") << "[General]\r\nLog=0\r\n";
    ResetLibraryState();
    root::InstallComposition();
    Config().dataBaseOverride = dir / "base";
    LogRecord().lockDirectory = dir / "locks";
    ProcessAttachAt((dir / "lib/libKovranMS.so").string(), "/opt/host/bench");
    auto backend = std::make_unique<sim::SimBackend>(std::vector<sim::DeviceProfile>{Profile()});
    sim::SimulatedScanner& scanner = backend->Device(0);
    device::InstallUsbBackend(std::move(backend));
    device::Device().lockDirectory = (dir / "locks").string();
    const int handle = KVXInitialize(nullptr);
    if (handle <= 0) {
        state.SkipWithError("no simulated scanner");
        return;
    }
    SimulatorAlone alone;
    double library = 0;
    double simulator = 0;
    double bytes = 0;
    for (auto _ : state) {
        scanner.LoadFeeder(sim::GeneratedCheques(1, false, 7));
        const std::uint64_t before = scanner.BulkInBytes();
        KVXImgCreate(handle, 300, 300);
        const double t0 = ProcessCpuSeconds();
        const KVXResult r = KVXImgScan1(handle, nullptr, nullptr, nullptr, 0);
        const double t1 = ProcessCpuSeconds();
        if (r != KVX_OK) {
            state.SkipWithError("scan failed");
            break;
        }
        const std::size_t streamed = scanner.BulkInBytes() - before;
        const std::vector<std::uint8_t> start =
            scanner.Inspect([](const sim::ScannerModel& m) { return m.StartCommand(); });
        const double t2 = ProcessCpuSeconds();
        const std::size_t again = alone.Stream(start);
        const double t3 = ProcessCpuSeconds();
        if (again != streamed) state.SkipWithError("the simulator alone streamed otherwise");
        simulator += t3 - t2;
        library += (t1 - t0) - (t3 - t2);
        bytes += static_cast<double>(streamed);
        KVXImgFree(handle);
    }
    const double n = static_cast<double>(state.iterations());
    if (n > 0) {
        const double transfer = bytes / n / kUsbBytesPerSecond;
        state.counters["library_ms"] = library / n * 1e3;
        state.counters["simulator_ms"] = simulator / n * 1e3;
        state.counters["stream_MB"] = bytes / n / 1e6;
        state.counters["transfer_ms"] = transfer * 1e3;
        state.counters["ratio"] = transfer / (library / n);
    }
    KVXClose(handle);
    device::InstallUsbBackend(nullptr);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ScanGreyDuplexCheque)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
