// The diagnostic log: the writers every subsystem reports through, the log
// start, and the dated-name day change. Writers never fail their caller.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/named_semaphore.h"

namespace kovran {

// Log settings and derived state (one per loaded library).
struct LogState {
    std::atomic<bool> on{false};  // "Log" > 0 and a log path is known
    bool verbose = false;         // "Verbose" > 0: echo on standard output
    bool timeStamp = true;        // "LogTimeStamp" > 0
    bool newLog = true;           // "LogNew" > 0
    bool dated = false;           // "LogDate" > 0
    // "Debug"; worker threads test it while a log start may change it.
    std::atomic<std::uint16_t> debugMask{0};
    std::int64_t sizeLimit = 4096;  // "LogSize"; 0 means no limit
    int keepDays = 0;               // "LogDays"
    int datedDay = 0;               // local day of month of the dated name
    std::string directory;          // with a trailing separator
    std::string filePath;           // the log file
    std::string semaphoreName;
    std::unique_ptr<platform::NamedSemaphore> semaphore;
    bool loading = false;        // the library is being loaded
    bool headerWritten = false;  // the load header of this load is out
    // Serialises this process's threads on the state above; the named
    // semaphore serialises the processes that share the file.
    std::recursive_mutex mutex;
    // After the unload has given back the state, lines of late callers go
    // to this file (kept without heap memory, which would outlive the
    // library's code).
    std::array<char, 1024> unloadPath{};
    bool unloadTimeStamp = true;
};

LogState& LogRecord();

// Debug mask bits.
inline constexpr std::uint16_t kDebugScan = 0x02;
inline constexpr std::uint16_t kDebugAcquisition = 0x04;
inline constexpr std::uint16_t kDebugBackends = 0x10;
inline constexpr std::uint16_t kDebugMonitor = 0x80;
inline constexpr std::uint16_t kDebugRetrieval = 0x100;

// Writers. A null required text writes nothing; each text is cut to its
// first 256 characters. noStamp suppresses the time stamp.
void LogText(const char* text, bool noStamp = false);
void LogPair(const char* text1, const char* text2, bool noStamp = false);
void LogTriple(const char* text1, const char* text2, const char* text3, bool noStamp = false);
void LogQuad(const char* text1, const char* text2, const char* text3, const char* text4,
             bool noStamp = false);
void LogValue(const char* text, int value, bool hex = false, bool noStamp = false);
void LogPairValue(const char* text1, const char* text2, int value, bool noStamp = false);
// The three texts with no separator, then the number.
void LogConcatValue(const char* text1, const char* text2, const char* text3, int value,
                    bool noStamp = false);

inline void LogText(const std::string& t, bool noStamp = false) {
    LogText(t.c_str(), noStamp);
}

// The log start. The first form runs at load before the configuration
// directory is known (only an ini "LogPath" gives a log then); the
// re-initialisation form defaults "LogPath" to the configuration directory.
enum class LogStartForm { First, Reinit };
void LogStart(LogStartForm form);

// True when the debug mask has any of the bits.
bool LogDebug(std::uint16_t bits);

// The current log file path ("" when logging is off). With a dated name
// whose day has passed, first begins the new day's file.
std::string LogFileNameNow();

// "<module path> ver. 2.2.5.5 ZKT 32 bit", then the host executable path.
void LogBanner();

// The bytes of one log line as the writers put them on disk, without the
// time stamp (exposed for tests and the echo).
std::string LogTimeStamp();

}  // namespace kovran
