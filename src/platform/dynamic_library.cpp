#include "platform/dynamic_library.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>

#include "platform/sys_error.h"

namespace kovran::platform {

namespace {

// A plain array: a thread_local with a destructor (a std::string) would make
// glibc refuse to unload this library at dlclose for as long as the thread
// that set it lives.
thread_local char tLastLoadError[512];

void RememberLoadError(const std::string& text) {
    const std::size_t n = std::min(text.size(), sizeof tLastLoadError - 1);
    text.copy(tLastLoadError, n);
    tLastLoadError[n] = '\0';
}

bool MissingModule(const std::string& path, const std::string& reason) {
    // A bare name is searched along the loader's path, so only the loader
    // knows whether it found a file.
    if (path.find('/') == std::string::npos) {
        return reason.find("No such file") != std::string::npos;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) != 0;
}

}  // namespace

std::unique_ptr<DynamicLibrary> DynamicLibrary::Open(const std::string& path) {
    ::dlerror();
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = ::dlerror();
        const std::string text = reason != nullptr ? reason : "cannot load " + path;
        RememberLoadError(text);
        SetLastSystemError(MissingModule(path, text) ? kErrorModNotFound : kErrorBadExeFormat);
        return nullptr;
    }
    return std::make_unique<DynamicLibrary>(Token{}, handle);
}

DynamicLibrary::~DynamicLibrary() {
    if (handle_ != nullptr) ::dlclose(handle_);
}

void* DynamicLibrary::Symbol(const char* name) const {
    if (name == nullptr || handle_ == nullptr) return nullptr;
    return ::dlsym(handle_, name);
}

std::string DynamicLibrary::LastLoadError() {
    return tLastLoadError;
}

bool DynamicLibrary::KeepLoaded(const char* soname) {
    // The handle adds a reference that is never given back; RTLD_NODELETE
    // makes the library outlive even its last dlclose.
    return dlopen(soname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
}

}  // namespace kovran::platform
