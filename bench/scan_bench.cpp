// One 300 dpi grey duplex cheque through the whole scan (acquisition,
// correction, deskew and crop) against the simulator's free-running
// streaming scanner, in CPU time per document. The simulator runs in the
// same process, on the library's threads (behind the USB backend): it
// counts the CPU time of its own handlers on whatever thread calls them,
// and that is reported apart and taken off the process's time. The
// library's time compares with the stream's transfer at 40 MB/s, the
// practical USB 2.0 rate: "ratio" is how many times faster the library is.
//
// The split by thread: every thread the process starts counts its own CPU
// time (and the simulator's share of it) when it ends. An acquisition
// starts its workers in the order sequence, acquisition, correction; the
// caller's thread runs the post-processing (deskew, crop) after they end;
// "other_ms" is the rest (threads that outlive the scan, such as a pool
// of the image library's).
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "KovranMS.h"
#include "api/config_dir.h"
#include "api/frame_state.h"
#include "api/lifecycle.h"
#include "api/log_state.h"
#include "device/device_record.h"
#include "device/usb_selection.h"
#include "platform/clock.h"
#include "root/composition.h"
#include "sim/sim_backend.h"
#include "sim/sim_test_util.h"

namespace {

using namespace kovran;

constexpr double kUsbBytesPerSecond = 40e6;
constexpr double kNsPerMs = 1e6;

std::int64_t ProcessCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// What one thread cost by the time it ended.
struct ThreadCost {
    int order = 0;  // among the threads started since the last Take
    std::int64_t cpuNs = 0;
    std::int64_t simulatorNs = 0;
};

class ThreadCosts {
  public:
    int Started() {
        const std::lock_guard lock(mutex_);
        return started_++;
    }
    void Ended(const ThreadCost& c) {
        const std::lock_guard lock(mutex_);
        ended_.push_back(c);
    }
    std::vector<ThreadCost> Take() {
        const std::lock_guard lock(mutex_);
        started_ = 0;
        std::vector<ThreadCost> out;
        out.swap(ended_);
        return out;
    }

  private:
    std::mutex mutex_;
    int started_ = 0;
    std::vector<ThreadCost> ended_;
};

ThreadCosts& Costs() {
    static ThreadCosts costs;
    return costs;
}

// Records the thread's cost when it ends, also through pthread_exit.
struct CostAtExit {
    int order = -1;
    ~CostAtExit() {
        if (order >= 0)
            Costs().Ended({order, platform::ThreadCpuNs(), sim::OwnCpuNsOnThisThread()});
    }
};
thread_local CostAtExit tCostAtExit;

struct Start {
    void* (*body)(void*);
    void* arg;
    int order;
};

void* CountedBody(void* p) {
    const Start start = *static_cast<Start*>(p);
    delete static_cast<Start*>(p);
    tCostAtExit.order = start.order;
    return start.body(start.arg);
}

}  // namespace

// Every thread of the process (std::thread's included, which start in the
// C++ runtime) starts here, so that it reports its cost when it ends.
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*body)(void*),
                              void* arg) {
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const auto real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    auto* start = new Start{body, arg, Costs().Started()};
    const int r = real(thread, attr, &CountedBody, start);
    if (r != 0) delete start;
    return r;
}

namespace {

sim::DeviceProfile Profile() {
    sim::DeviceProfile p = sim::DefaultDeviceProfile();
    p.documents = 0;
    p.stream.pace = sim::StreamSettings::Pace::FreeRunning;
    return p;
}

// The library's own CPU time of the threads started by one scan, by role.
struct Workers {
    double sequence = 0;
    double acquisition = 0;
    double correction = 0;
    double simulator = 0;  // on these threads
    bool complete = false;
};

Workers Split(const std::vector<ThreadCost>& ended) {
    enum Order { Sequence, Acquisition, Correction };
    Workers w;
    int seen = 0;
    for (const ThreadCost& c : ended) {
        const double own = static_cast<double>(c.cpuNs - c.simulatorNs);
        w.simulator += static_cast<double>(c.simulatorNs);
        if (c.order == Sequence) w.sequence += own;
        if (c.order == Acquisition) w.acquisition += own;
        if (c.order == Correction) w.correction += own;
        if (c.order <= Correction) ++seen;
    }
    w.complete = seen == Correction + 1;
    return w;
}

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
    double library = 0;
    double simulator = 0;
    double caller = 0;
    double sequence = 0;
    double acquisition = 0;
    double correction = 0;
    double other = 0;
    double bytes = 0;
    for (auto _ : state) {
        scanner.LoadFeeder(sim::GeneratedCheques(1, false, 7));
        const std::uint64_t before = scanner.BulkInBytes();
        KVXImgCreate(handle, 300, 300);
        Costs().Take();
        const std::int64_t sim0 = scanner.OwnCpuNs();
        const std::int64_t callerSim0 = sim::OwnCpuNsOnThisThread();
        const std::int64_t caller0 = platform::ThreadCpuNs();
        const std::int64_t t0 = ProcessCpuNs();
        const KVXResult r = KVXImgScan1(handle, nullptr, nullptr, nullptr, 0);
        const std::int64_t t1 = ProcessCpuNs();
        const std::int64_t caller1 = platform::ThreadCpuNs();
        const std::int64_t callerSim1 = sim::OwnCpuNsOnThisThread();
        const std::int64_t sim1 = scanner.OwnCpuNs();
        const Workers w = Split(Costs().Take());
        if (r != KVX_OK) {
            state.SkipWithError("scan failed");
            break;
        }
        if (!w.complete) {
            state.SkipWithError("the scan's worker threads did not all end within it");
            break;
        }
        const double sim = static_cast<double>(sim1 - sim0);
        const double lib = static_cast<double>(t1 - t0) - sim;
        const double onCaller =
            static_cast<double>((caller1 - caller0) - (callerSim1 - callerSim0));
        simulator += sim;
        library += lib;
        caller += onCaller;
        sequence += w.sequence;
        acquisition += w.acquisition;
        correction += w.correction;
        other += lib - onCaller - w.sequence - w.acquisition - w.correction;
        bytes += static_cast<double>(scanner.BulkInBytes() - before);
        KVXImgFree(handle);
    }
    const double n = static_cast<double>(state.iterations());
    if (n > 0 && library > 0) {
        const double transferMs = bytes / n / kUsbBytesPerSecond * 1e3;
        const double libraryMs = library / n / kNsPerMs;
        state.counters["library_ms"] = libraryMs;
        state.counters["simulator_ms"] = simulator / n / kNsPerMs;
        state.counters["stream_MB"] = bytes / n / 1e6;
        state.counters["transfer_ms"] = transferMs;
        state.counters["ratio"] = transferMs / libraryMs;
        state.counters["acq_ms"] = acquisition / n / kNsPerMs;
        state.counters["cor_ms"] = correction / n / kNsPerMs;
        state.counters["seq_ms"] = sequence / n / kNsPerMs;
        state.counters["caller_ms"] = caller / n / kNsPerMs;
        state.counters["other_ms"] = other / n / kNsPerMs;
    }
    KVXClose(handle);
    device::InstallUsbBackend(nullptr);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ScanGreyDuplexCheque)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
