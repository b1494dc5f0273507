// The cost of one log line: open, write, commit and close under the file's
// process lock, as support staff's logs are written on every call.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "api/config_dir.h"
#include "api/frame_state.h"
#include "api/library.h"
#include "api/log.h"
#include "api/log_state.h"
#include "api/names.h"
#include "platform/process_lock.h"

namespace {

class BenchLog {
  public:
    BenchLog() {
        char pattern[] = "/tmp/kovran-bench-XXXXXX";
        dir_ = mkdtemp(pattern);
        kovran::ResetLibraryState();
        kovran::Names() = kovran::NamesFromPaths(dir_ + "/libKovranMS.so", "/usr/bin/bench");
        kovran::Config().dir = dir_;
        kovran::LogRecord().lockDirectory = dir_;
        kovran::LogRecord().loading = true;
        kovran::LogStart(kovran::LogStartForm::Reinit);
        kovran::LogRecord().loading = false;
        kovran::LogRecord().sizeLimit = 0;
    }
    ~BenchLog() {
        kovran::ResetLibraryState();
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
    kovran::ResetLibraryState();
    for (auto _ : state) kovran::LogPair("err - ", "never written");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogOff);

}  // namespace
