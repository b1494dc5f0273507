#include "api/lifecycle.h"

#include <sys/utsname.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "api/config_dir.h"
#include "api/ini_settings.h"
#include "api/library.h"
#include "api/log.h"
#include "api/monitor.h"
#include "platform/files.h"

namespace kovran {

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
    // The device open draws a fallback handle value from the C generator.
    std::srand(static_cast<unsigned>(std::time(nullptr)));

    Library& l = lib();
    l.log.loading = true;
    l.log.sizeLimit = 4096;
    DiscoverNames();
    LogStart(LogStartForm::First);

    EstablishLoadTimeConfigDir();
    LogStart(LogStartForm::Reinit);
    LogBanner();
    OsCheck();

    ReadIniSettings();

    l.names.hostBaseName = platform::ToUpper(l.names.hostBaseName);
    if (l.names.hostBaseName == "STISVC") LogText("StiSvcInstance");
    CopyIniDefaultsToCurrent();
    l.log.loading = false;
}

void ProcessDetach() {
    Library& l = lib();
    l.frame.detaching.store(true);
    MonitorDeviceGone();
    const int handle = l.frame.currentHandle.load();
    if (handle != 0 && handle != -1) LogText("not expected - dll detach");
    MonitorUnload();
    l.log.semaphore.reset();
    // A host may unload and load the library many times: nothing it held
    // may outlive it.
    releaseLibraryAtUnload();
}

}  // namespace kovran
