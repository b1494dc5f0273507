// Loaded by the detach host after the library, this module is finalised
// after it: its destructor calls the library while the library is being
// unloaded and writes what the calls returned.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>

namespace {

void* g_library = nullptr;
// Plain storage: C++ objects of this module may already be destroyed when
// the destructor below runs.
char g_out[4096];

__attribute__((destructor)) void CallDuringUnload() {
    if (!g_library || g_out[0] == '\0') return;
    using GetLast = int (*)();
    using ErrorMsg2 = int (*)(int, char*);
    using SetLast = void (*)(int);
    auto getLast = reinterpret_cast<GetLast>(dlsym(g_library, "KVXGetLastResult"));
    auto errorMsg2 = reinterpret_cast<ErrorMsg2>(dlsym(g_library, "KVXErrorMsg2"));
    auto setLast = reinterpret_cast<SetLast>(dlsym(g_library, "KVXSetLastResult"));
    if (!getLast || !errorMsg2 || !setLast) return;
    std::FILE* f = std::fopen(g_out, "w");
    if (!f) return;
    std::fprintf(f, "KVXGetLastResult %d\n", getLast());
    setLast(5);
    std::fprintf(f, "after KVXSetLastResult %d\n", getLast());
    char buf[128] = {};
    const int n = errorMsg2(sizeof buf, buf);
    std::fprintf(f, "KVXErrorMsg2 %d %s\n", n, buf);
    std::fclose(f);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void ProbeArm(void* library, const char* out) {
    g_library = library;
    std::snprintf(g_out, sizeof g_out, "%s", out);
}
