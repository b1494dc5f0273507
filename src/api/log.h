// The diagnostic log: the writers every subsystem reports through, the log
// start, and the dated-name day change. Writers never fail their caller.
// The log's own state is in api/log_state.h, for the log's files alone.
#pragma once

#include <cstdint>
#include <string>

namespace kovran {

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
