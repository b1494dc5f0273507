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

// Whether a line starts with the time stamp (when "LogTimeStamp" is on).
enum class Stamp : bool { With, Without };
// How LogValue writes its number.
enum class Radix : bool { Decimal, Hex };

// Writers. A null required text writes nothing; each text is cut to its
// first 256 characters.
void LogText(const char* text, Stamp stamp = Stamp::With);
void LogPair(const char* text1, const char* text2, Stamp stamp = Stamp::With);
void LogTriple(const char* text1, const char* text2, const char* text3, Stamp stamp = Stamp::With);
void LogQuad(const char* text1, const char* text2, const char* text3, const char* text4,
             Stamp stamp = Stamp::With);
void LogValue(const char* text, int value, Radix radix = Radix::Decimal, Stamp stamp = Stamp::With);
void LogPairValue(const char* text1, const char* text2, int value, Stamp stamp = Stamp::With);
// The three texts with no separator, then the number.
void LogConcatValue(const char* text1, const char* text2, const char* text3, int value,
                    Stamp stamp = Stamp::With);

inline void LogText(const std::string& t, Stamp stamp = Stamp::With) {
    LogText(t.c_str(), stamp);
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
