// Load and unload of the library (the shared library's constructor and
// destructor run these).
#pragma once

#include <string>

namespace kovran {

// Starts the runtime services: names, log, configuration directory, ini
// settings. Nothing talks to a device.
void ProcessAttach();
// The same load for a library and host at given paths instead of the
// discovered ones (tests run the real load for a library "installed" in a
// directory of theirs).
void ProcessAttachAt(const std::string& modulePath, const std::string& hostPath);

// Sets the detaching flag (every guarded call now fails with -17), reports
// a device still open ("not expected - dll detach"; closing it comes with
// the device connection), closes the log's lock, then waits (bounded) for
// host threads still inside a call and, once none is, gives back the
// library's records. Calls still running at the bound keep the records.
void ProcessDetach();

// The operating system record taken at load: the kernel's major and minor
// version.
struct OsVersion {
    int major = 0;
    int minor = 0;
};
const OsVersion& OsCheck();

}  // namespace kovran
