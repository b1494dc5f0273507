// Run-time loading of a shared library (dlopen), closed when released.
#pragma once

#include <memory>
#include <string>

namespace kovran::platform {

class DynamicLibrary {
public:
    // Loads the library at path; null (system error set, reason in
    // LastLoadError) when it cannot be loaded.
    static std::unique_ptr<DynamicLibrary> Open(const std::string& path);
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // Address of the exported symbol, or null.
    void* Symbol(const char* name) const;

    template <class Fn>
    Fn Function(const char* name) const {
        return reinterpret_cast<Fn>(Symbol(name));
    }

    static std::string LastLoadError();

private:
    explicit DynamicLibrary(void* handle) : handle_(handle) {}
    void* handle_;
};

}  // namespace kovran::platform
