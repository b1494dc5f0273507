#include "support/hosted_library.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace kovran::test {

std::string BuiltLibraryPath() { return KOVRAN_SHARED_LIBRARY_PATH; }
std::string BuiltMonitorStandInPath() { return KOVRAN_MONITOR_STANDIN_PATH; }
std::string BuiltIncompleteMonitorStandInPath() { return KOVRAN_MONITOR_INCOMPLETE_PATH; }

HostedLibrary::HostedLibrary(const std::string& dir, const char* iniText) {
    path_ = dir + "/libKovranMS.so";
    std::filesystem::copy_file(BuiltLibraryPath(), path_,
                               std::filesystem::copy_options::overwrite_existing);
    if (iniText != nullptr) {
        std::string crlf;
        for (const char* p = iniText; *p; ++p) {
            if (*p == '\n') crlf += '\r';
            crlf += *p;
        }
        WriteFileBytes(dir + "/KOVRANMS.ini", crlf);
    }
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) ADD_FAILURE() << "dlopen " << path_ << ": " << dlerror();
}

HostedLibrary::~HostedLibrary() { Unload(); }

void HostedLibrary::Unload() {
    if (handle_) dlclose(handle_);
    handle_ = nullptr;
}

void* HostedLibrary::Symbol(const char* name) const {
    void* sym = handle_ ? dlsym(handle_, name) : nullptr;
    if (!sym) ADD_FAILURE() << "missing export " << name;
    return sym;
}

}  // namespace kovran::test
