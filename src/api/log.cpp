// The log writers. Each line is written under the log file's named
// semaphore: open for appending, write, commit, close, so that a line is on
// disk when its writer returns and lines of several processes never
// interleave.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "api/library.h"
#include "api/log.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/sys_error.h"
#include "platform/text_file.h"

namespace kovran {

LogState& LogRecord() {
    return lib().Get<LogState>();
}
namespace {

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
    platform::MoveFileTo(log.filePath, old, true);
    platform::WriteTextFile(log.filePath, "");
}

// A line after the unload released the state: straight to the last file.
void WriteUnloadLine(const LogState& log, std::string_view line, bool noStamp) {
    if (log.unloadPath[0] == '\0') return;
    std::string text;
    if (log.unloadTimeStamp && !noStamp) text = LogTimeStamp();
    text += line;
    platform::AppendTextCommitted(log.unloadPath.data(), text);
}

void WriteLine(std::string_view line, bool noStamp) {
    LogState& log = LogRecord();
    std::lock_guard lock(log.mutex);
    if (!log.on || log.filePath.empty()) return WriteUnloadLine(log, line, noStamp);
    if (!log.semaphore) log.semaphore = platform::NamedSemaphore::Open(log.semaphoreName, 1);
    platform::SemaphoreHold hold(log.semaphore.get(), kLineLockMs);
    RotateIfTooLarge(log);
    std::string text;
    if (log.timeStamp && !noStamp) text = LogTimeStamp();
    text += line;
    platform::AppendTextCommitted(log.filePath, text);
}

bool Verbose() {
    LogState& log = LogRecord();
    std::lock_guard lock(log.mutex);
    return log.on && log.verbose;
}

void Echo(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

std::string Number(int value, bool hex) {
    char buf[32];
    if (hex)
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
    const LogState& log = LogRecord();
    if (!log.on.load(std::memory_order_relaxed) && log.unloadPath[0] == '\0') return;
    try {
        SystemErrorKeeper keep;
        fn();
    } catch (...) {
        // Logging never fails its caller.
    }
}

}  // namespace

std::string LogTimeStamp() {
    const platform::LocalTime t = platform::LocalNow();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d, %02d.%02d.%02d\t", t.day, t.hour, t.minute, t.second);
    return buf;
}

bool LogDebug(std::uint16_t bits) {
    return (LogRecord().debugMask & bits) != 0;
}

void LogText(const char* text, bool noStamp) {
    if (text == nullptr || *text == '\0') return;
    Guarded([&] {
        const std::string_view t = Cut(text);
        if (Verbose()) Echo(std::string(t) + "\n");
        WriteLine(std::string(t) + "\n", noStamp);
    });
}

void LogPair(const char* text1, const char* text2, bool noStamp) {
    if (text1 == nullptr || text2 == nullptr) return;
    Guarded([&] {
        const std::string line = Joined({Cut(text1), Cut(text2)}, " ");
        if (Verbose()) Echo(line + "\n");
        WriteLine(line + "\n", noStamp);
    });
}

void LogTriple(const char* text1, const char* text2, const char* text3, bool noStamp) {
    if (text1 == nullptr || text2 == nullptr || text3 == nullptr) return;
    Guarded([&] {
        const std::string line = Joined({Cut(text1), Cut(text2), Cut(text3)}, " ");
        if (Verbose()) Echo(line + "\n");
        WriteLine(line + "\n", noStamp);
    });
}

void LogQuad(const char* text1, const char* text2, const char* text3, const char* text4,
             bool noStamp) {
    if (text1 == nullptr || text2 == nullptr || text3 == nullptr || text4 == nullptr) return;
    Guarded([&] {
        WriteLine(Joined({Cut(text1), Cut(text2), Cut(text3), Cut(text4)}, " ") + "\n", noStamp);
    });
}

void LogValue(const char* text, int value, bool hex, bool noStamp) {
    if (text == nullptr || *text == '\0') return;
    Guarded([&] {
        const std::string_view t = Cut(text);
        if (Verbose()) Echo(std::string(t) + " " + std::to_string(value) + "\n");
        WriteLine(std::string(t) + Number(value, hex), noStamp);
    });
}

void LogPairValue(const char* text1, const char* text2, int value, bool noStamp) {
    if (text1 == nullptr || text2 == nullptr) return;
    Guarded([&] {
        const std::string_view t1 = Cut(text1), t2 = Cut(text2);
        if (Verbose())
            Echo(std::string(t1) + " " + std::string(t2) + " " + std::to_string(value) + "\n");
        std::string line;
        // An empty text is written as nothing, without its following blank.
        if (!t1.empty()) (line += t1) += ' ';
        if (!t2.empty()) (line += t2) += ' ';
        WriteLine(line + Number(value, false), noStamp);
    });
}

void LogConcatValue(const char* text1, const char* text2, const char* text3, int value,
                    bool noStamp) {
    if (text1 == nullptr || text2 == nullptr || text3 == nullptr) return;
    Guarded([&] {
        const std::string_view t1 = Cut(text1), t2 = Cut(text2), t3 = Cut(text3);
        if (Verbose())
            Echo(std::string(t1) + " " + std::string(t2) + " " + std::string(t3) + " " +
                 std::to_string(value) + "\n");
        WriteLine(std::string(t1) + std::string(t2) + std::string(t3) + Number(value, false),
                  noStamp);
    });
}

}  // namespace kovran
