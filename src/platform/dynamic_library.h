// Run-time loading of a shared library (dlopen), closed when released.
#pragma once

#include <memory>
#include <string>

namespace kovran::platform {

class DynamicLibrary {
  public:
    // Loads the library at path; null when it cannot be loaded, with the
    // system error kErrorModNotFound for a missing file, else
    // kErrorBadExeFormat, and the loader's reason in LastLoadError.
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

    // The loader's message for this thread's last failed Open.
    static std::string LastLoadError();

    // Keeps a library this process has already loaded (by its soname) in
    // memory until the process ends, even when whatever loaded it is
    // unloaded. False when it is not loaded.
    static bool KeepLoaded(const char* soname);

  private:
    struct Token {
        explicit Token() = default;
    };

  public:
    DynamicLibrary(Token, void* handle) : handle_(handle) {}

  private:
    void* handle_;
};

}  // namespace kovran::platform
