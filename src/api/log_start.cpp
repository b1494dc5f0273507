// The log start: settings of section "General", the file name (dated or
// not), the purge of old dated logs, the per-file lock, the move of the log
// when its directory changes, and the load header.
#include <dirent.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "api/config_dir.h"
#include "api/device_hooks.h"
#include "api/library.h"
#include "api/log.h"
#include "api/log_move.h"
#include "api/log_state.h"
#include "api/names.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/sys_error.h"

namespace kovran {
namespace {

// The dated logs the purge looks at, in the log directory: every log file,
// whatever its host or date.
constexpr const char* kPurgePattern = "*.log";

bool EndsWithSeparator(const std::string& s) {
    return !s.empty() && (s.back() == '/' || s.back() == '\\');
}

int Ini(const char* key, const char* def) {
    return platform::GetProfileNumber("General", key, def, Names().iniPath);
}

// Deletes every file of the pattern last written before (LogDays - 1) days
// before today's UTC midnight. A day is taken as 201 units of the high 32 bits
// of a file time (86 328.8 s), as the purge always has.
void PurgeDatedLogs(const LogState& log) {
    if (log.keepDays <= 0) return;
    platform::LocalTime today = platform::UtcNow();
    today.hour = 0;
    today.minute = 0;
    const platform::FileTime midnight = platform::FileTimeFromUtc(today);
    constexpr platform::FileTime kPurgeDay = platform::FileTime{201} << 32;
    const platform::FileTime days = static_cast<platform::FileTime>(log.keepDays) - 1;
    // A cut-off before 1601 would wrap, even into the future; no file is
    // that old.
    if (days > midnight / kPurgeDay) return;
    const platform::FileTime cutoff = midnight - days * kPurgeDay;

    const std::string dir = log.directory.empty() ? std::string("./") : log.directory;
    std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(dir.c_str()), closedir);
    if (!d) return;
    std::vector<std::string> doomed;
    while (const dirent* e = readdir(d.get())) {
        const std::string name = e->d_name;
        if (!platform::WildcardMatch(kPurgePattern, name)) continue;
        const std::string path = dir + name;
        const auto written = platform::FileLastWriteTime(path);
        if (written && *written < cutoff) doomed.push_back(path);
    }
    for (const std::string& path : doomed) platform::DeleteFileAt(path);
}

void WriteLoadHeader() {
    const platform::LocalTime t = platform::LocalNow();
    char header[128];
    std::snprintf(header, sizeof header,
                  "-------------------------- %04d %02d %02d - %02d.%02d -------------------------",
                  t.year, t.month, t.day, t.hour, t.minute);
    LogText(header);
}

}  // namespace

std::string LogLockNameFor(const std::string& logPath) {
    std::string name = logPath;
    if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".log") == 0)
        name.resize(name.size() - 4);
    for (char& c : name)
        if (c == '/' || c == '\\' || c == ':') c = '_';
    return name;
}

void LogBanner() {
    const RuntimeNames& names = Names();
    const std::string banner =
        names.modulePath + " ver. " + kLibraryVersion + " " + kBuildTag + kWordSizeText;
    LogText(banner.c_str());
    LogText(names.hostPath.c_str());
}

void LogStart(LogStartForm form) {
    EndLateLines();
    LogState& log = LogRecord();
    std::lock_guard lock(log.mutex);

    const std::string oldPath = log.filePath;
    if (Ini("Log", "1") <= 0) {
        log.on = false;
        return;
    }

    std::string logPath;
    if (form == LogStartForm::First) {
        logPath = platform::GetProfileString("General", "LogPath", "", Names().iniPath);
        if (logPath.empty()) return;
    } else {
        logPath = platform::GetProfileString("General", "LogPath", Config().dir, Names().iniPath);
        // Without a directory there is nowhere sensible to write: a bare file
        // name would land in the root or the host's working directory.
        if (logPath.empty()) return;
    }

    const int debug = Ini("Debug", "0");
    log.debugMask = static_cast<std::uint16_t>(debug < 0 ? 0 : debug);
    log.verbose = Ini("Verbose", "0") > 0;

    log.directory = EndsWithSeparator(logPath) ? logPath : logPath + "/";
    std::string path = log.directory + kLibraryBaseName + "_" + Names().hostBaseName;

    log.newLog = Ini("LogNew", "1") > 0;
    const int size = Ini("LogSize", "102400");
    log.sizeLimit = size < 0 ? 0 : size;
    log.timeStamp = Ini("LogTimeStamp", "1") > 0;
    log.keepDays = Ini("LogDays", "0");
    log.dated = Ini("LogDate", "0") > 0;

    if (log.dated) {
        const platform::LocalTime t = platform::LocalNow();
        char date[16];
        std::snprintf(date, sizeof date, "_%04d%02d%02d", t.year, t.month, t.day);
        path += date;
        log.datedDay = t.day;
        PurgeDatedLogs(log);
    } else {
        log.datedDay = 0;
    }

    path += ".log";
    log.filePath = path;
    log.on = true;
    log.lockName = LogLockNameFor(path);
    log.lock = platform::ProcessLock::Open(log.lockName, log.lockDirectory);
    if (log.debugMask != 0) {
        if (log.lock)
            LogPair("LogSem", log.lockName.c_str());
        else
            LogValue("NULL LogSem", platform::LastSystemError());
    }

    if (!log.loading || log.headerWritten) {
        // Paths on this system are case-sensitive: only an exact match is the
        // same file.
        if (!oldPath.empty() && oldPath != path) {
            platform::DeleteFileAt(path);
            MoveLogFile(oldPath, path);
            LogText("log moved");
            LogText(oldPath.c_str());
            LogText(path.c_str());
            LogBanner();
            LogDeviceIdentityLineThroughHook();
        }
        return;
    }

    if (log.newLog) {
        platform::DeleteFileAt(path + ".old");
        platform::DeleteFileAt(path);
    } else {
        LogText(" ");
    }
    log.headerWritten = true;
    WriteLoadHeader();
}

std::string LogFileNameNow() {
    LogState& log = LogRecord();
    std::lock_guard lock(log.mutex);
    if (!log.on) return {};
    if (log.dated && platform::LocalNow().day != log.datedDay) {
        LogText("changing log filename - day is changed");
        log.filePath.clear();
        LogStart(LogStartForm::Reinit);
    }
    return log.on ? log.filePath : std::string();
}

}  // namespace kovran
