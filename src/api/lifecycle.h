// Load and unload of the library (the shared library's constructor and
// destructor run these).
#pragma once

namespace kovran {

// Starts the runtime services: names, log, configuration directory, ini
// settings. Nothing talks to a device.
void ProcessAttach();

// Sets the detaching flag (every guarded call now fails with -17), closes a
// device that is still open and releases the named semaphores.
void ProcessDetach();

// The operating system record taken at load: the kernel's major and minor
// version.
struct OsVersion {
    int major = 0;
    int minor = 0;
};
const OsVersion& OsCheck();

}  // namespace kovran
