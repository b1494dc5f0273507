// A host that exits while its threads are inside the library, so that the
// library's unload runs at process exit under running calls.
// Usage: kovran_detach_threads_host <library> <threads> <mode>
//   mode "spin": the threads call for ever; the exit finds them inside.
//   mode "stop": each thread stops a few calls after its first -17.
// Exits 0 when the library never crashed the process.
#include <dlfcn.h>
#include <sched.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using GetLast = int (*)();
using SetLast = void (*)(int);
using ErrorMsg2 = int (*)(int, char*);
using LogFileName = int (*)(char*);

constexpr int kDetaching = -17;
constexpr int kLateCalls = 20;

std::atomic<int> gStarted{0};

void Call(GetLast getLast, SetLast setLast, ErrorMsg2 errorMsg2, LogFileName logFileName,
          bool stopAfterDetach) {
    bool counted = false;
    int late = 0;
    char buffer[260];
    for (;;) {
        setLast(-111);
        const int last = getLast();
        errorMsg2(sizeof buffer, buffer);
        logFileName(buffer);
        if (!counted) {
            counted = true;
            gStarted.fetch_add(1);
        }
        if (stopAfterDetach && last == kDetaching && ++late >= kLateCalls) return;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 4;
    }
    auto getLast = reinterpret_cast<GetLast>(dlsym(library, "KVXGetLastResult"));
    auto setLast = reinterpret_cast<SetLast>(dlsym(library, "KVXSetLastResult"));
    auto errorMsg2 = reinterpret_cast<ErrorMsg2>(dlsym(library, "KVXErrorMsg2"));
    auto logFileName = reinterpret_cast<LogFileName>(dlsym(library, "KVXLogFileName"));
    if (!getLast || !setLast || !errorMsg2 || !logFileName) return 5;
    const int threads = std::atoi(argv[2]);
    const bool stop = std::strcmp(argv[3], "stop") == 0;
    for (int i = 0; i < threads; ++i)
        std::thread(Call, getLast, setLast, errorMsg2, logFileName, stop).detach();
    // Exit once every thread is inside its loop.
    while (gStarted.load() < threads) sched_yield();
    std::exit(0);
}
