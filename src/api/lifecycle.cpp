#include "api/lifecycle.h"
#include "api/frame_state.h"
#include "api/names.h"

#include <sys/utsname.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "api/config_dir.h"
#include "api/ini_settings.h"
#include "api/library.h"
#include "api/log.h"
#include "api/monitor.h"
#include "platform/files.h"

namespace kovran {
namespace {

// The last unload step: gives back every record, keeping the detaching flag
// and the log file's path so that a late caller still gets its failure and
// its "while detaching" line.
void ReleaseStateAtUnload() {
    std::array<char, 1024> path{};
    const LogState& log = LogRecord();
    const std::string current = log.on ? log.filePath : std::string();
    if (current.size() < path.size()) std::copy(current.begin(), current.end(), path.begin());
    const bool stamp = log.timeStamp;
    lib().ClearRecords();
    LogRecord().unloadPath = path;
    LogRecord().unloadTimeStamp = stamp;
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
    // The device open draws a fallback handle value from the C generator.
    std::srand(static_cast<unsigned>(std::time(nullptr)));

    LogRecord().loading = true;
    LogRecord().sizeLimit = 4096;
    DiscoverNames();
    LogStart(LogStartForm::First);

    EstablishLoadTimeConfigDir();
    LogStart(LogStartForm::Reinit);
    LogBanner();
    OsCheck();

    ReadIniSettings();

    Names().hostBaseName = platform::ToUpper(Names().hostBaseName);
    if (Names().hostBaseName == "STISVC") LogText("StiSvcInstance");
    CopyIniDefaultsToCurrent();
    LogRecord().loading = false;
}

void ProcessDetach() {
    lib().detaching.store(true);
    MonitorDeviceGone();
    const int handle = Frame().currentHandle.load();
    if (handle != 0 && handle != -1) LogText("not expected - dll detach");
    MonitorUnload();
    LogRecord().semaphore.reset();
    // A host may unload and load the library many times: nothing it held
    // may outlive it.
    ReleaseStateAtUnload();
}

}  // namespace kovran
