// The cost of one log line: open, write, commit and close under the named
// semaphore, as support staff's logs are written on every call.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "api/library.h"
#include "api/log.h"
#include "api/names.h"
#include "platform/named_semaphore.h"

namespace {

class BenchLog {
public:
    BenchLog() {
        char pattern[] = "/tmp/kovran-bench-XXXXXX";
        dir_ = mkdtemp(pattern);
        kovran::resetLibraryForTests();
        kovran::Library& l = kovran::lib();
        l.names = kovran::NamesFromPaths(dir_ + "/libKovranMS.so", "/usr/bin/bench");
        l.config.dir = dir_;
        l.log.loading = true;
        kovran::LogStart(kovran::LogStartForm::Reinit);
        l.log.loading = false;
        l.log.sizeLimit = 0;
    }
    ~BenchLog() {
        kovran::platform::NamedSemaphore::Unlink(kovran::lib().log.semaphoreName);
        kovran::resetLibraryForTests();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

private:
    std::string dir_;
};

void BM_LogPair(benchmark::State& state) {
    BenchLog log;
    for (auto _ : state) kovran::LogPair("err - ", "Base control message IN with too much data");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogPair)->Unit(benchmark::kMicrosecond);

void BM_LogOff(benchmark::State& state) {
    kovran::resetLibraryForTests();
    for (auto _ : state) kovran::LogPair("err - ", "never written");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogOff);

}  // namespace
