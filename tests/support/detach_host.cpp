// A host that loads the library, sets a last result and exits without
// closing anything, so that the library's unload steps run at process exit.
// Usage: kovran_detach_host <library> <probe module> <probe output>
#include <dlfcn.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 4;
    }
    void* probe = dlopen(argv[2], RTLD_NOW | RTLD_LOCAL);
    if (!probe) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 3;
    }
    using Arm = void (*)(void*, const char*);
    using SetLast = void (*)(int);
    auto arm = reinterpret_cast<Arm>(dlsym(probe, "ProbeArm"));
    auto setLast = reinterpret_cast<SetLast>(dlsym(library, "KVXSetLastResult"));
    if (!arm || !setLast) return 5;
    arm(library, argv[3]);
    setLast(-111);
    return 0;
}
