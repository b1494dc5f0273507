// The log writers. Each line is written under the log file's process lock:
// rotate when too large, open for appending, write, commit, close, so that a
// line is on disk when its writer returns and no line of any process is lost
// or doubled by another process's rotation.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "api/library.h"
#include "api/log.h"
#include "api/log_move.h"
#include "api/log_state.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/sys_error.h"
#include "platform/text_file.h"

namespace kovran {

LogState& LogRecord() {
    return lib().Get<LogState>();
}
namespace {

// Where the lines of late calls go once the unload has given back the
// records (KeepLogPathForLateLines). Static storage of plain data: nothing
// to allocate, nothing for the runtime to destroy under a late caller.
struct LateLines {
    std::array<char, 1024> path{};
    std::atomic<bool> active{false};
    std::atomic<bool> timeStamp{true};
};
LateLines gLate;

constexpr std::size_t kCut = 256;
constexpr unsigned kLineLockMs = 1000;

std::string_view Cut(const char* text) {
    return {text, strnlen(text, kCut)};
}

// Keeps the caller's system error: logging a failure must not change the
// error code the caller reports next.
class SystemErrorKeeper {
  public:
    SystemErrorKeeper() : saved_(platform::LastSystemError()) {}
    ~SystemErrorKeeper() { platform::SetLastSystemError(saved_); }

  private:
    int saved_;
};

void RotateIfTooLarge(const LogState& log) {
    if (log.sizeLimit <= 0) return;
    const long long size = platform::FileSize(log.filePath);
    if (size < 0 || size <= log.sizeLimit) return;
    const std::string old = log.filePath + ".old";
    platform::DeleteFileAt(old);
    MoveLogFile(log.filePath, old);
    platform::WriteTextFile(log.filePath, "");
}

// A line after the unload released the state: straight to the last file.
void WriteLateLine(std::string_view line, Stamp stamp) {
    if (gLate.path[0] == '\0') return;
    std::string text;
    if (gLate.timeStamp && stamp == Stamp::With) text = LogTimeStamp();
    text += line;
    platform::AppendTextCommitted(gLate.path.data(), text);
}

void WriteLine(std::string_view line, Stamp stamp) {
    if (gLate.active.load(std::memory_order_acquire)) return WriteLateLine(line, stamp);
    LogState& log = LogRecord();
    std::lock_guard lock(log.mutex);
    if (!log.on || log.filePath.empty()) return;
    if (!log.lock) log.lock = platform::ProcessLock::Open(log.lockName, log.lockDirectory);
    // A line waits for another writer's at most this long and then goes
    // ahead unlocked: logging never stops its caller.
    const platform::ProcessLock::Hold hold =
        log.lock ? log.lock->Acquire(kLineLockMs) : platform::ProcessLock::Hold();
    RotateIfTooLarge(log);
    std::string text;
    if (log.timeStamp && stamp == Stamp::With) text = LogTimeStamp();
    text += line;
    platform::AppendTextCommitted(log.filePath, text);
}

bool Verbose() {
    if (gLate.active.load(std::memory_order_acquire)) return false;
    LogState& log = LogRecord();
    std::lock_guard lock(log.mutex);
    return log.on && log.verbose;
}

void Echo(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

std::string Number(int value, Radix radix) {
    char buf[32];
    if (radix == Radix::Hex)
        std::snprintf(buf, sizeof buf, " 0x%04x\r\n", static_cast<unsigned>(value));
    else
        std::snprintf(buf, sizeof buf, " %d\r\n", value);
    return buf;
}

std::string Joined(std::initializer_list<std::string_view> parts, std::string_view sep) {
    std::string out;
    bool first = true;
    for (std::string_view p : parts) {
        if (!first) out += sep;
        out += p;
        first = false;
    }
    return out;
}

// Runs one writer: nothing escapes, the system error is kept. With logging
// off nothing is even formatted.
template <class Fn>
void Guarded(Fn&& fn) noexcept {
    if (!gLate.active.load(std::memory_order_acquire) &&
        !LogRecord().on.load(std::memory_order_relaxed))
        return;
    try {
        SystemErrorKeeper keep;
        fn();
    } catch (...) {
        // Logging never fails its caller.
    }
}

}  // namespace

void KeepLogPathForLateLines() {
    LogState& log = LogRecord();
    std::lock_guard lock(log.mutex);
    gLate.path.fill('\0');
    const std::string current = log.on ? log.filePath : std::string();
    // A path too long for the copy loses the late lines rather than
    // writing them to a cut path.
    if (current.size() < gLate.path.size())
        std::copy(current.begin(), current.end(), gLate.path.begin());
    gLate.timeStamp = log.timeStamp;
    gLate.active.store(true, std::memory_order_release);
}

void EndLateLines() {
    gLate.active.store(false, std::memory_order_release);
}

void CloseLogLock() {
    LogState& log = LogRecord();
    std::lock_guard lock(log.mutex);
    log.lock.reset();
}

std::string LogTimeStamp() {
    const platform::LocalTime t = platform::LocalNow();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d, %02d.%02d.%02d\t", t.day, t.hour, t.minute, t.second);
    return buf;
}

bool LogDebug(std::uint16_t bits) {
    if (gLate.active.load(std::memory_order_acquire)) return false;
    return (LogRecord().debugMask & bits) != 0;
}

void LogText(const char* text, Stamp stamp) {
    if (text == nullptr || *text == '\0') return;
    Guarded([&] {
        const std::string_view t = Cut(text);
        if (Verbose()) Echo(std::string(t) + "\n");
        WriteLine(std::string(t) + "\n", stamp);
    });
}

void LogPair(const char* text1, const char* text2, Stamp stamp) {
    if (text1 == nullptr || text2 == nullptr) return;
    Guarded([&] {
        const std::string line = Joined({Cut(text1), Cut(text2)}, " ");
        if (Verbose()) Echo(line + "\n");
        WriteLine(line + "\n", stamp);
    });
}

void LogTriple(const char* text1, const char* text2, const char* text3, Stamp stamp) {
    if (text1 == nullptr || text2 == nullptr || text3 == nullptr) return;
    Guarded([&] {
        const std::string line = Joined({Cut(text1), Cut(text2), Cut(text3)}, " ");
        if (Verbose()) Echo(line + "\n");
        WriteLine(line + "\n", stamp);
    });
}

void LogQuad(const char* text1, const char* text2, const char* text3, const char* text4,
             Stamp stamp) {
    if (text1 == nullptr || text2 == nullptr || text3 == nullptr || text4 == nullptr) return;
    Guarded([&] {
        WriteLine(Joined({Cut(text1), Cut(text2), Cut(text3), Cut(text4)}, " ") + "\n", stamp);
    });
}

void LogValue(const char* text, int value, Radix radix, Stamp stamp) {
    if (text == nullptr || *text == '\0') return;
    Guarded([&] {
        const std::string_view t = Cut(text);
        if (Verbose()) Echo(std::string(t) + " " + std::to_string(value) + "\n");
        WriteLine(std::string(t) + Number(value, radix), stamp);
    });
}

void LogPairValue(const char* text1, const char* text2, int value, Stamp stamp) {
    if (text1 == nullptr || text2 == nullptr) return;
    Guarded([&] {
        const std::string_view t1 = Cut(text1), t2 = Cut(text2);
        if (Verbose())
            Echo(std::string(t1) + " " + std::string(t2) + " " + std::to_string(value) + "\n");
        std::string line;
        // An empty text is written as nothing, without its following blank.
        if (!t1.empty()) (line += t1) += ' ';
        if (!t2.empty()) (line += t2) += ' ';
        WriteLine(line + Number(value, Radix::Decimal), stamp);
    });
}

void LogConcatValue(const char* text1, const char* text2, const char* text3, int value,
                    Stamp stamp) {
    if (text1 == nullptr || text2 == nullptr || text3 == nullptr) return;
    Guarded([&] {
        const std::string_view t1 = Cut(text1), t2 = Cut(text2), t3 = Cut(text3);
        if (Verbose())
            Echo(std::string(t1) + " " + std::string(t2) + " " + std::string(t3) + " " +
                 std::to_string(value) + "\n");
        WriteLine(
            std::string(t1) + std::string(t2) + std::string(t3) + Number(value, Radix::Decimal),
            stamp);
    });
}

}  // namespace kovran
