// The optional monitoring component: loaded once per instance from its
// client directory; while it forwards, device events and image-quality checks
// are handed to it.
#include "api/monitor.h"
#include "api/device_hooks.h"
#include "api/names.h"

#include <cstdio>
#include <string>

#include "api/library.h"
#include "api/log.h"
#include "platform/profile.h"

namespace kovran {

MonitorState& Monitor() {
    return lib().Get<MonitorState>();
}
namespace {

constexpr const char* kSection = "EOstra";
// The client directory when the ini names none.
constexpr const char* kDefaultClientDir = "/opt/kovran/OstraClient";

std::string IniString(const char* key, const std::string& def) {
    return platform::GetProfileString(kSection, key, def, Names().iniPath);
}
int IniNumber(const char* key, const char* def) {
    return platform::GetProfileNumber(kSection, key, def, Names().iniPath);
}

std::string JoinPath(const std::string& dir, const char* file) {
    // An empty directory is the working directory, never the loader's
    // search path.
    if (dir.empty()) return std::string("./") + file;
    const char last = dir.back();
    return (last == '/' || last == '\\') ? dir + file : dir + "/" + file;
}

bool Resolve(MonitorState& mon) {
    mon.component = platform::DynamicLibrary::Open(mon.componentPath);
    if (!mon.component) return false;
    mon.logExt = mon.component->Function<OstraLogExtFn>("OstraLogExt");
    mon.log = mon.component->Function<OstraOpaqueFn>("OstraLog");
    mon.iqaFn = mon.component->Function<OstraIqaFn>("OstraIqa");
    mon.init = mon.component->Function<OstraInitFn>("OstraInit");
    mon.iqaMem = mon.component->Function<OstraOpaqueFn>("OstraIqaMem");
    return mon.logExt && mon.log && mon.iqaFn && mon.init && mon.iqaMem;
}

bool Forwarding() {
    const MonitorState& mon = Monitor();
    return mon.forwarding && mon.deviceOpened && mon.logExt != nullptr;
}

}  // namespace

void MonitorLoad() {
    MonitorState& mon = Monitor();
    mon.deviceOpened = true;
    if (mon.loadTried) return;
    mon.loadTried = true;

    if (IniNumber("onoff", "1") == 0) {
        LogText("EOstra off");
        return;
    }
    mon.clientDir = IniString("PathClientOstra", kDefaultClientDir);
    mon.mode = IniNumber("mode", "0");
    mon.mask = IniNumber("mask", "0");
    mon.configPath = IniString("Config", mon.clientDir + "/iqa.ini");
    mon.iqa = IniNumber("IQA", "1") > 0;
    mon.componentPath = JoinPath(mon.clientDir, kMonitorComponentFile);

    bool ready = false;
    if (Resolve(mon)) {
        LogText(mon.componentPath.c_str());
        ready = mon.init(mon.mode, mon.configPath.c_str(), mon.mask) == 1;
    }
    if (!ready) {
        LogPair("error loading Ostra", mon.componentPath.c_str());
        LogText("EOstra off");
        MonitorUnload();
        return;
    }
    mon.forwarding = true;
    if (LogDebug(kDebugMonitor)) {
        LogValue("EOstra mode", mon.mode);
        LogValue("EOstra mask", mon.mask);
        if (mon.iqa)
            LogPair("EOstra IQA config", mon.configPath.c_str());
        else
            LogText("EOstra no IQA");
    }
    MonitorEvent(8, 9, 0, 1, Names().modulePath.c_str(), kLibraryVersion);
}

int MonitorEvent(int category, int mask, int subCode, int value, const char* text1,
                 const char* text2, int extra1, int extra2) {
    if (!Forwarding()) return 0;
    if (text1 == nullptr) text1 = "";
    if (text2 == nullptr) text2 = "";
    if (LogDebug(kDebugMonitor)) {
        char line[640];
        std::snprintf(line, sizeof line,
                      "EOstra\t0x%08x\t0x%08x\t0x%08x\t0x%08x\t%.256s\t%.256s\t0x%08x\t0x%08x",
                      static_cast<unsigned>(category), static_cast<unsigned>(mask),
                      static_cast<unsigned>(subCode), static_cast<unsigned>(value), text1, text2,
                      static_cast<unsigned>(extra1), static_cast<unsigned>(extra2));
        LogText(line);
    }
    return Monitor().logExt(category, mask, subCode, value, text1, text2, extra1, extra2);
}

int MonitorIqa(const char* front, const char* rear) {
    const MonitorState& mon = Monitor();
    if (!Forwarding() || !mon.iqa || mon.iqaFn == nullptr) return 1;
    if (front == nullptr) front = "";
    if (rear == nullptr) rear = "";
    if (LogDebug(kDebugMonitor)) {
        char line[600];
        std::snprintf(line, sizeof line, "EOstra\tIQA\t%.256s\t%.256s", front, rear);
        LogText(line);
    }
    return mon.iqaFn(front, rear);
}

bool MonitorCanAnnounce() {
    const MonitorState& mon = Monitor();
    return mon.forwarding && mon.announcedSerialLow != CurrentDeviceSummary().serialLow;
}

void MonitorDeviceGone() {
    MonitorEvent(8, 10, 0, 0, "", "");
    Monitor().announcedSerialLow = 0;
}

void MonitorUnload() {
    MonitorState& mon = Monitor();
    mon.forwarding = false;
    // No pointer into the component may outlive it.
    mon.init = nullptr;
    mon.logExt = nullptr;
    mon.iqaFn = nullptr;
    mon.iqaMem = nullptr;
    mon.log = nullptr;
    mon.component.reset();
}

}  // namespace kovran
