#include "platform/module_info.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace kovran::platform {

namespace {

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};

std::string RealPath(const char* path) {
    std::unique_ptr<char, FreeDeleter> resolved(::realpath(path, nullptr));
    return resolved ? std::string(resolved.get()) : std::string();
}

}  // namespace

std::string ModulePath() {
    Dl_info info{};
    link_map* map = nullptr;
    if (::dladdr1(reinterpret_cast<void*>(&ModulePath), &info, reinterpret_cast<void**>(&map),
                  RTLD_DL_LINKMAP) == 0) {
        return {};
    }
    // The main program has an empty name in the link map; the loader would
    // report argv[0] instead, which is neither absolute nor trustworthy.
    if (map == nullptr || map->l_name == nullptr || map->l_name[0] == '\0') {
        return HostExecutablePath();
    }
    return RealPath(map->l_name);
}

std::string HostExecutablePath() {
    for (std::size_t size = 256; size <= 65536; size *= 2) {
        std::vector<char> buf(size);
        const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buf.size()) {
            return std::string(buf.data(), static_cast<std::size_t>(n));
        }
    }
    return {};
}

}  // namespace kovran::platform
