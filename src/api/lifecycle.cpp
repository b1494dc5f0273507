#include "api/lifecycle.h"

#include <sys/utsname.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "api/calls_in_flight.h"
#include "api/config_dir.h"
#include "api/device_hooks.h"
#include "api/frame_state.h"
#include "api/ini_settings.h"
#include "api/library.h"
#include "api/log.h"
#include "api/log_state.h"
#include "api/monitor.h"
#include "api/names.h"
#include "platform/files.h"

namespace kovran {
namespace {

// How long the unload waits for host threads still inside a call before it
// gives up giving back the records. Past it the records stay alive: at
// process exit the kernel takes the memory back, and a running call never
// meets freed memory.
constexpr unsigned kUnloadCallWaitMs = 2000;

// The unload's last step, once no call is inside: gives back every record
// so that a host that loads and unloads the library many times keeps
// nothing of it. The detaching flag survives (a late call still fails with
// -17) and late lines go on to the same log file.
void ReleaseRecordsOnceIdle() {
    const std::optional<CallsHeldOut> idle = HoldOutCalls(kUnloadCallWaitMs);
    if (!idle) return;
    KeepLogPathForLateLines();
    lib().ClearRecords();
}

// The start-up of the runtime services with the names already known.
void StartServices() {
    // The device open draws a fallback handle value from the C generator.
    std::srand(static_cast<unsigned>(std::time(nullptr)));

    LogRecord().loading = true;
    LogRecord().sizeLimit = 4096;
    LogStart(LogStartForm::First);

    EstablishLoadTimeConfigDir();
    LogStart(LogStartForm::Reinit);
    LogBanner();
    OsCheck();

    ReadIniSettings();

    // The host name keeps its case: every later log start builds the file
    // name from it.
    if (platform::ToUpper(Names().hostBaseName) == "STISVC") LogText("StiSvcInstance");
    CopyIniDefaultsToCurrent();
    LogRecord().loading = false;
}

}  // namespace

const OsVersion& OsCheck() {
    static const OsVersion version = [] {
        OsVersion v;
        utsname u{};
        if (uname(&u) == 0) std::sscanf(u.release, "%d.%d", &v.major, &v.minor);
        return v;
    }();
    return version;
}

void ProcessAttach() {
    EndLateLines();
    DiscoverNames();
    StartServices();
}

void ProcessAttachAt(const std::string& modulePath, const std::string& hostPath) {
    EndLateLines();
    Names() = NamesFromPaths(modulePath, hostPath);
    StartServices();
}

void ProcessDetach() {
    lib().detaching.store(true);
    MonitorDeviceGone();
    const int handle = Frame().currentHandle.load();
    if (handle != 0 && handle != kNoHandle) {
        LogText("not expected - dll detach");
        CloseDeviceAtUnloadThroughHook();
    }
    MonitorUnload();
    CloseLogLock();
    ReleaseRecordsOnceIdle();
}

}  // namespace kovran
