#include "support/hosted_library.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace kovran::test {

std::string BuiltLibraryPath() {
    return KOVRAN_SHARED_LIBRARY_PATH;
}
std::string BuiltMonitorStandInPath() {
    return KOVRAN_MONITOR_STANDIN_PATH;
}
std::string BuiltIncompleteMonitorStandInPath() {
    return KOVRAN_MONITOR_INCOMPLETE_PATH;
}
std::string BuiltDetachHostPath() {
    return KOVRAN_DETACH_HOST_PATH;
}
std::string BuiltDetachProbePath() {
    return KOVRAN_DETACH_PROBE_PATH;
}
std::string BuiltDetachThreadsHostPath() {
    return KOVRAN_DETACH_THREADS_HOST_PATH;
}
std::string SourceDir() {
    return KOVRAN_SOURCE_DIR;
}

int RunProgram(const std::vector<std::string>& argv, std::string* out) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return -1;
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(pipeFds[1]);
    std::string collected;
    char buf[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buf, sizeof buf)) > 0)
        collected.append(buf, static_cast<std::size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    if (waitpid(child, &status, 0) != child) return -1;
    if (out) *out = collected;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

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

HostedLibrary::~HostedLibrary() {
    Unload();
}

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
