// Runs the shared library as a host does: a private copy of libKovranMS.so
// in a directory of the test's own, beside a KOVRANMS.ini of the test's text,
// loaded with dlopen. Each copy is a separate library instance with its own
// state, constructor (load) and destructor (unload).
#pragma once

#include <string>
#include <vector>

namespace kovran::test {

// Path of the built libKovranMS.so.
std::string BuiltLibraryPath();
// Path of the built stand-in monitoring component (and of the variant that
// lacks one entry point).
std::string BuiltMonitorStandInPath();
std::string BuiltIncompleteMonitorStandInPath();
// The host and module that call the library during its unload.
std::string BuiltDetachHostPath();
std::string BuiltDetachProbePath();
// A host that exits while its threads are inside the library.
std::string BuiltDetachThreadsHostPath();
// The source tree (for lists kept beside the code).
std::string SourceDir();
// Runs a program with arguments; returns its exit status (-1 when it could
// not run or was killed) and its standard output in *out when given.
int RunProgram(const std::vector<std::string>& argv, std::string* out = nullptr);

class HostedLibrary {
  public:
    // Copies the library into dir, writes iniText (LF line ends become CR
    // LF) as dir/KOVRANMS.ini unless iniText is null, and loads it.
    HostedLibrary(const std::string& dir, const char* iniText);
    ~HostedLibrary();
    HostedLibrary(const HostedLibrary&) = delete;
    HostedLibrary& operator=(const HostedLibrary&) = delete;

    // An exported function; the test fails (and null returns) when missing.
    void* Symbol(const char* name) const;
    template <class Fn>
    Fn Function(const char* name) const {
        return reinterpret_cast<Fn>(Symbol(name));
    }

    // Unloads now (runs the library's unload steps).
    void Unload();
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    void* handle_ = nullptr;
};

}  // namespace kovran::test
