#include "device/counters.h"

#include "api/library.h"
#include "device/control_request.h"
#include "device/device_record.h"
#include "device/refusable_command.h"
#include "device/transport.h"
#include "platform/profile.h"

namespace kovran::device {

namespace {

constexpr const char* kSection = "General";
constexpr std::uint32_t kPageCounterRead = 0x2A;
constexpr std::uint32_t kPageCounterIncrement = 0x2B;
constexpr std::uint32_t kInkjetCounterRead = 0x2D;
constexpr std::uint32_t kInkjetCounterIncrement = 0x2E;
constexpr unsigned kCounterBytes = 4;

// The keys and commands of one counter.
struct CounterKind {
    std::atomic<std::uint32_t> CounterRecord::*total;
    std::atomic<std::uint32_t> CounterRecord::*current;
    std::uint32_t readCommand;
    std::uint32_t incrementCommand;
    const char* totalKey;
    const char* currentKey;
};

constexpr CounterKind kPages{&CounterRecord::pageTotal,
                             &CounterRecord::pageCurrent,
                             kPageCounterRead,
                             kPageCounterIncrement,
                             "nPages",
                             "nPagesCur"};
constexpr CounterKind kInkjet{&CounterRecord::inkjetTotal,
                              &CounterRecord::inkjetCurrent,
                              kInkjetCounterRead,
                              kInkjetCounterIncrement,
                              "InkjetCnt",
                              "InkjetCntCur"};

// The total read from the device: 4 bytes little-endian, or nothing.
std::optional<std::uint32_t> ReadDeviceTotal(std::uint32_t command) {
    std::uint8_t b[kCounterBytes] = {};
    if (ControlMsgMayRefuse(kClassConfig, command, b, kCounterBytes, Direction::In) !=
        static_cast<int>(kCounterBytes))
        return std::nullopt;
    return static_cast<std::uint32_t>(b[0]) | (std::uint32_t{b[1]} << 8) |
           (std::uint32_t{b[2]} << 16) | (std::uint32_t{b[3]} << 24);
}

// Raises a count by one unless it reached the limit; the host's reset may
// store 0 meanwhile, hence the exchange.
std::uint32_t Increment(std::atomic<std::uint32_t>& count) {
    std::uint32_t now = count.load();
    while (now < kCounterLimit && !count.compare_exchange_weak(now, now + 1)) {
    }
    return count.load();
}

std::string CountText(std::uint32_t value) {
    // Counts stop at kCounterLimit, so the decimal text is never negative.
    return std::to_string(value > kCounterLimit ? kCounterLimit : value);
}

void Count(const CounterKind& kind) {
    CounterRecord& c = Counters();
    const bool deviceRegister = UsesDeviceRegister();
    const std::string file = RegisterFile();
    {
        // The host's refresh and reset see the count and the file change
        // together; total and current go in one replacement, so a crash
        // keeps both or neither.
        std::lock_guard lock(c.fileMutex);
        const std::string total = CountText(Increment(c.*kind.total));
        const std::string current = CountText(Increment(c.*kind.current));
        if (!file.empty()) {
            if (deviceRegister) {
                platform::WriteProfileString(kSection, kind.currentKey, current, file);
            } else {
                const platform::ProfileEntry entries[] = {
                    {.key = kind.totalKey, .value = total},
                    {.key = kind.currentKey, .value = current}};
                platform::WriteProfileStrings(kSection, entries, file);
            }
        }
    }
    if (deviceRegister) ControlMsg(kClassConfig, kind.incrementCommand, nullptr, 0, Direction::In);
}

void ResetCurrent(const CounterKind& kind) {
    CounterRecord& c = Counters();
    const std::string file = RegisterFile();
    std::lock_guard lock(c.fileMutex);
    (c.*kind.current).store(0);
    if (!file.empty()) WriteRegisterValue(file, kind.currentKey, 0);
}

}  // namespace

CounterRecord& Counters() {
    return lib().Get<CounterRecord>();
}

void SetCounterStore(std::string registerFile, TotalsKeeper totals) {
    CounterRecord& c = Counters();
    std::lock_guard lock(c.mutex);
    c.registerFile = std::move(registerFile);
    c.deviceRegister = totals == TotalsKeeper::Device;
}

std::string RegisterFile() {
    CounterRecord& c = Counters();
    std::lock_guard lock(c.mutex);
    return c.registerFile;
}

bool UsesDeviceRegister() {
    CounterRecord& c = Counters();
    std::lock_guard lock(c.mutex);
    return c.deviceRegister;
}

void ReadPageCounters(CounterRefresh which) {
    const DeviceIdentity id = Identity();
    if (id.path.empty() || id.serialNumber.empty()) return;
    CounterRecord& c = Counters();
    const std::string file = RegisterFile();
    if (which.total) {
        if (UsesDeviceRegister()) {
            if (auto total = ReadDeviceTotal(kPageCounterRead)) c.pageTotal.store(*total);
        } else if (!file.empty()) {
            std::lock_guard lock(c.fileMutex);
            c.pageTotal.store(ReadRegisterValue(file, kPages.totalKey));
        }
    }
    if (which.current && !file.empty()) {
        std::lock_guard lock(c.fileMutex);
        c.pageCurrent.store(ReadRegisterValue(file, kPages.currentKey));
    }
}

void ReadInkjetCounters(CounterRefresh which) {
    if (Identity().serialNumber.empty()) return;
    CounterRecord& c = Counters();
    const std::string file = RegisterFile();
    if (which.total) {
        if (UsesDeviceRegister()) {
            // A device without the inkjet register counts its prints among
            // its pages.
            const auto total = ReadDeviceTotal(kInkjetCounterRead);
            c.inkjetTotal.store(total ? *total : c.pageTotal.load());
        } else if (!file.empty()) {
            std::lock_guard lock(c.fileMutex);
            c.inkjetTotal.store(ReadRegisterValue(file, kInkjet.totalKey));
        }
    }
    if (which.current && !file.empty()) {
        std::lock_guard lock(c.fileMutex);
        c.inkjetCurrent.store(ReadRegisterValue(file, kInkjet.currentKey));
    }
}

void CountPage() {
    Count(kPages);
}

void CountInkjetPrint() {
    Count(kInkjet);
}

void ResetPageCurrent() {
    ResetCurrent(kPages);
}

void ResetInkjetCurrent() {
    ResetCurrent(kInkjet);
}

std::uint32_t ReadRegisterValue(const std::string& file, const char* key) {
    const int value = platform::GetProfileNumber(kSection, key, "0", file);
    return value < 0 ? 0u : static_cast<std::uint32_t>(value);
}

bool WriteRegisterValue(const std::string& file, const char* key, std::uint32_t value) {
    return platform::WriteProfileString(kSection, key, CountText(value), file);
}

}  // namespace kovran::device
