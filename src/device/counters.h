// The page and inkjet counters: a lifetime total and a resettable current
// count of each. Devices with a page counter register keep the totals
// themselves; otherwise, and for the current counts always, the counts live
// in the device's register file in the configuration directory, which is
// replaced atomically at every write so that a crash leaves the old or the
// new file, never a torn one.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace kovran::device {

// Counts reach this and stay there.
inline constexpr std::uint32_t kCounterLimit = 0x7FFFFFFF;

struct CounterRecord {
    // Written by the counting thread (the acquisition, the printing) and
    // the host's reset; read by the host.
    std::atomic<std::uint32_t> pageTotal{0};
    std::atomic<std::uint32_t> pageCurrent{0};
    std::atomic<std::uint32_t> inkjetTotal{0};
    std::atomic<std::uint32_t> inkjetCurrent{0};

    // Held while a count and the register file change together: the
    // counting thread and the host's reset each rewrite the whole file, and
    // the host's refresh loads the file into the counts; none may put back
    // another's old count.
    std::mutex fileMutex;

    // Set at open, read by every count.
    std::mutex mutex;
    std::string registerFile;  // empty: no configuration directory
    bool deviceRegister = false;
};

CounterRecord& Counters();

// The open's decisions: where the register file is and whether the device
// keeps the totals.
enum class TotalsKeeper : bool { RegisterFile, Device };
void SetCounterStore(std::string registerFile, TotalsKeeper totals);
std::string RegisterFile();
bool UsesDeviceRegister();

// Which counts a read refreshes.
struct CounterRefresh {
    bool total = false;
    bool current = false;
};

// Refresh the counts from the device and the register file (nothing when
// the device has no path or no serial number).
void ReadPageCounters(CounterRefresh which);
void ReadInkjetCounters(CounterRefresh which);

// One counted page / printed page: the counts, the device register, the
// register file.
void CountPage();
void CountInkjetPrint();

// The current count back to 0 (and "0" in the register file).
void ResetPageCurrent();
void ResetInkjetCurrent();

// A value of the register file's "General" section: decimal, 0 when
// missing, unreadable or negative.
std::uint32_t ReadRegisterValue(const std::string& file, const char* key);
// Writes a value as decimal text; false when the file cannot be written.
bool WriteRegisterValue(const std::string& file, const char* key, std::uint32_t value);

}  // namespace kovran::device
