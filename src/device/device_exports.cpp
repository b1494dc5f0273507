// Exports of the device connection, status, utility commands and counters.
#include <algorithm>
#include <cstring>
#include <string>

#include "KovranMS.h"
#include "api/bstr_out.h"
#include "api/config_dir.h"
#include "api/frame.h"
#include "api/frame_state.h"
#include "api/host_buffer.h"
#include "api/log.h"
#include "api/settings.h"
#include "device/connection.h"
#include "device/connection_seams.h"
#include "device/counters.h"
#include "device/device_record.h"
#include "device/status.h"
#include "device/utility_commands.h"
#include "platform/usb_vendors.h"

using namespace kovran;

namespace {

constexpr std::uint16_t kFirmwareFlag15 = 0x8000;
constexpr std::uint16_t kMinSerialBuffer = 16;
constexpr std::size_t kMaxSerialCopy = 254;
constexpr std::uint16_t kFirstSecondWordFirmware = 0x4000;

std::string Text(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}

// Whether an escaped exception changes the last result.
enum class OnException : bool { KeepResult, SetResult };

// What the initialise functions have in common in their frame.
ExportInfo InitialiseInfo(const char* name, const char* tag, OnException onException) {
    return {.name = name,
            .tag = tag,
            .leave = true,
            .returns = Returns::Value,
            .exceptionSetsResult = onException == OnException::SetResult,
            .guardFailure = kNoHandle,
            .onException = kNoHandle};
}

// The configuration words read anew, or nothing without a device.
bool CompositionRead() {
    const int handle = Frame().currentHandle.load();
    if (handle == 0 || handle == kNoHandle) return false;
    return device::ReadConfiguration();
}

// A counter export: the total or the current count as the host sees it.
struct CounterExport {
    std::atomic<std::uint32_t> device::CounterRecord::*count;
    bool current;  // the current count, else the total
    void (*refresh)(device::CounterRefresh);
    void (*reset)();
    const char* resetLine;    // logged at a reset
    const char* tooManyLine;  // null: no line
};

enum class Reset : bool { No, Yes };

int ReportCount(const CounterExport& e, Reset reset) {
    e.refresh({.total = !e.current, .current = e.current});
    if (reset == Reset::Yes) {
        LogText(e.resetLine);
        e.reset();
        if (device::RegisterFile().empty()) return 0;
    }
    const std::uint32_t count = (device::Counters().*e.count).load();
    if (count >= 0x80000000u) {
        if (e.tooManyLine != nullptr) LogText(e.tooManyLine);
        return static_cast<int>(device::kCounterLimit);
    }
    return static_cast<int>(count);
}

ExportInfo CounterInfo(const char* name, int handle) {
    return {.name = name,
            .guard = Guard::Handle,
            .handle = handle,
            .leave = true,
            .returns = Returns::Value,
            .guardFailure = KVX_ERR_GENERIC};
}

void ReadPages(device::CounterRefresh which) {
    device::ReadPageCounters(which);
}
void ReadPrints(device::CounterRefresh which) {
    device::ReadInkjetCounters(which);
}

}  // namespace

extern "C" {

// ---- Connection ----------------------------------------------------------

KVX_API int KVXInitialize(const char* configDir) {
    return RunExport(InitialiseInfo("KVXInitialize", "init", OnException::SetResult), [&] {
        const int handle = device::InitializeDevice("", -1, configDir);
        if (handle != kNoHandle && !Text(configDir).empty()) LogStart(LogStartForm::Reinit);
        return handle;
    });
}

KVX_API int KVXInitializeSN(const char* configDir, const char* serial) {
    return RunExport(InitialiseInfo("KVXInitializeSN", "initsn", OnException::KeepResult), [&] {
        ChangeConfigDirBeforeInit(configDir);
        const int handle = device::InitializeDevice(Text(serial), -1, configDir);
        if (handle != kNoHandle && !Text(configDir).empty()) LogStart(LogStartForm::Reinit);
        return handle;
    });
}

KVX_API int KVXInitializeNum(const char* configDir, int index) {
    return RunExport(InitialiseInfo("KVXInitializeNum", "initnum", OnException::KeepResult), [&] {
        if (!Text(configDir).empty()) LogStart(LogStartForm::Reinit);
        return device::InitializeDevice("", index, configDir);
    });
}

KVX_API KVXResult KVXClose(int handle) {
    return RunExport({.name = "KVXClose",
                      .tag = "close",
                      .guard = Guard::Handle,
                      .handle = handle,
                      .leave = true},
                     []() -> KVXResult {
                         device::CloseDevice();
                         return KVX_OK;
                     });
}

KVX_API KVXResult KVXReset(int handle) {
    // The reset runs its own guard: a failed one is the reason to reopen.
    return RunExport({.name = "KVXReset", .tag = "reset", .leave = true, .returns = Returns::Value},
                     [&] { return device::ResetDevice(handle); });
}

KVX_API uint32_t KVXComposition(void) {
    return RunExport(
        {.name = "KVXComposition", .returns = Returns::Value, .onException = 0}, []() -> uint32_t {
            return CompositionRead() ? device::Identity().capabilities.configuration : 0;
        });
}

KVX_API uint32_t KVXCompositionL(void) {
    return RunExport(
        {.name = "KVXCompositionL", .leave = true, .returns = Returns::Value, .onException = 0},
        []() -> uint32_t {
            return CompositionRead() ? device::Identity().capabilities.configuration : 0;
        });
}

KVX_API uint32_t KVXCompositionH(void) {
    return RunExport(
        {.name = "KVXCompositionH", .leave = true, .returns = Returns::Value, .onException = 0},
        []() -> uint32_t {
            if (!CompositionRead()) return 0;
            const DeviceIdentity id = device::Identity();
            return id.firmware < kFirstSecondWordFirmware ? 0 : id.capabilities.configuration2;
        });
}

// ---- Status and utility commands ------------------------------------------

KVX_API uint32_t KVXReadStatusL(int handle) {
    return RunExport({.name = "KVXReadStatusL",
                      .tag = "readstatus",
                      .guard = Guard::Handle,
                      .handle = handle,
                      .returns = Returns::Value,
                      .guardFailure = 0,
                      .onException = 0},
                     []() -> uint32_t {
                         std::uint32_t word = device::ReadStatus();
                         const DeviceIdentity id = device::Identity();
                         if (device::FeederAcquisitionRunning())
                             word |= device::kStatusDocumentAtInput;
                         if (platform::IsFeederScanner(id.vid, id.pid) && (word & 1u) != 0)
                             word |= device::kStatusDocumentAtInput;
                         if (Settings().scan.statusOut) {
                             char line[32];
                             std::snprintf(line, sizeof line, "statusOut 0x%04x", word);
                             LogText(line);
                         }
                         return word;
                     });
}

KVX_API KVXResult KVXBuzzer(int handle, uint8_t tone, uint16_t durationMs) {
    return RunExport({.name = "KVXBuzzer", .guard = Guard::Handle, .handle = handle, .leave = true},
                     [&] { return device::Buzz(tone, durationMs); });
}

KVX_API KVXResult KVXHWKey(int handle, uint8_t* buffer, uint16_t length) {
    return RunExport({.name = "KVXHWKey", .guard = Guard::Handle, .handle = handle, .leave = true},
                     [&] { return device::ReadHardwareKey(buffer, length); });
}

KVX_API KVXResult KVXDeviceInfo(int handle, uint16_t* vid, uint16_t* pid, uint16_t* fw) {
    return RunExport(
        {.name = "KVXDeviceInfo", .guard = Guard::Handle, .handle = handle, .leave = true},
        [&]() -> KVXResult {
            const DeviceIdentity id = device::Identity();
            if (vid != nullptr) *vid = id.vid;
            if (pid != nullptr) *pid = id.pid;
            if (fw != nullptr)
                *fw = static_cast<uint16_t>(id.firmware |
                                            (id.capabilities.firmwareFlag15 ? kFirmwareFlag15 : 0));
            return KVX_OK;
        });
}

KVX_API KVXResult KVXReadSerialNumber(int handle, BSTR* serial) {
    return RunExport(
        {.name = "KVXReadSerialNumber", .guard = Guard::Handle, .handle = handle, .leave = true},
        [&]() -> KVXResult {
            if (serial == nullptr) {
                LogPair("err - ", "Serial number request with invalid pointer");
                return KVX_ERR_INV_PARAMETER;
            }
            const std::string text = device::Identity().serialNumber;
            return StoreBstr(serial, text) == KVX_OK ? KVX_OK : KVX_ERR_GENERIC;
        });
}

KVX_API KVXResult KVXReadSerialNumber0(int handle, uint16_t length, char* buffer) {
    return RunExport({.name = "KVXReadSerialNumber0",
                      .tag = "KVXReadSerialNumber0",
                      .guard = Guard::Handle,
                      .handle = handle,
                      .leave = true},
                     [&]() -> KVXResult {
                         if (length < kMinSerialBuffer) {
                             LogPair("err - ",
                                     "serial number buffer too short. Len >= 16 expected.");
                             return KVX_ERR_INV_PARAMETER;
                         }
                         if (buffer == nullptr) {
                             LogPair("err - ", "null serial number buffer");
                             return KVX_ERR_INV_PARAMETER;
                         }
                         std::string text = device::Identity().serialNumber;
                         if (text.size() > kMaxSerialCopy) text.resize(kMaxSerialCopy);
                         if (text.size() >= length) text.resize(length - 1u);
                         std::memcpy(buffer, text.c_str(), text.size() + 1);
                         return KVX_OK;
                     });
}

KVX_API int KVXReadSN(int handle, char* buffer, int16_t length) {
    return RunExport({.name = "KVXReadSN",
                      .guard = Guard::Handle,
                      .handle = handle,
                      .returns = Returns::Value,
                      .exceptionSetsResult = false,
                      .onException = 0},
                     [&]() -> int {
                         const std::string text = device::Identity().serialNumber;
                         const int needed = static_cast<int>(text.size()) + 1;
                         if (buffer == nullptr || length <= 0) {
                             SetLastResult(KVX_OK);
                             return needed;
                         }
                         if (length < needed) {
                             LogPair("err - ", "buffer too short");
                             SetLastResult(KVX_ERR_INV_PARAMETER);
                             return kNoLength;
                         }
                         std::memset(buffer, 0, static_cast<std::size_t>(length));
                         std::memcpy(buffer, text.c_str(), text.size());
                         SetLastResult(KVX_OK);
                         return needed;
                     });
}

KVX_API KVXResult KVXPhotoTunRead(int handle, uint8_t* buffer) {
    return RunExport({.name = "KVXPhotoTunRead", .guard = Guard::Handle, .handle = handle},
                     [&]() -> KVXResult {
                         if (buffer == nullptr) {
                             LogPair("err - ", "Photo tuning with invalid buffer");
                             return KVX_ERR_INV_PARAMETER;
                         }
                         device::PhotoTuningBlock block{};
                         const KVXResult r = device::ReadPhotoTuning(&block);
                         if (r == KVX_OK) std::copy(block.begin(), block.end(), buffer);
                         return r;
                     });
}

KVX_API KVXResult KVXPhotoTunWrite(int handle, const uint8_t* buffer) {
    return RunExport({.name = "KVXPhotoTunWrite", .guard = Guard::Handle, .handle = handle},
                     [&]() -> KVXResult {
                         if (buffer == nullptr) {
                             LogPair("err - ", "Photo tuning with invalid buffer");
                             return KVX_ERR_INV_PARAMETER;
                         }
                         device::PhotoTuningBlock block{};
                         std::copy(buffer, buffer + block.size(), block.begin());
                         return device::WritePhotoTuning(block);
                     });
}

KVX_API KVXResult KVXPhotoTunReadVB(int handle, uint8_t* b0, uint8_t* b1, uint8_t* b2, uint8_t* b3,
                                    uint8_t* b4, uint8_t* b5, uint8_t* b6, uint8_t* b7) {
    device::PhotoTuningBlock block{};
    const KVXResult r =
        RunExport({.name = "KVXPhotoTunReadVB", .guard = Guard::Handle, .handle = handle},
                  [&] { return device::ReadPhotoTuning(&block); });
    // Whatever the result: zeros when nothing was read.
    uint8_t* const out[] = {b0, b1, b2, b3, b4, b5, b6, b7};
    for (std::size_t i = 0; i < block.size(); ++i)
        if (out[i] != nullptr) *out[i] = block[i];
    return r;
}

KVX_API KVXResult KVXPhotoTunWriteVB(int handle, uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3,
                                     uint8_t b4, uint8_t b5, uint8_t b6, uint8_t b7) {
    const device::PhotoTuningBlock block{b0, b1, b2, b3, b4, b5, b6, b7};
    return RunExport({.name = "KVXPhotoTunWriteVB", .guard = Guard::Handle, .handle = handle},
                     [&] { return device::WritePhotoTuning(block); });
}

// ---- Counters ------------------------------------------------------------

KVX_API int KVXPagNumTot(int handle) {
    static constexpr CounterExport kExport{.count = &device::CounterRecord::pageTotal,
                                           .current = false,
                                           .refresh = &ReadPages,
                                           .reset = &device::ResetPageCurrent,
                                           .resetLine = "",
                                           .tooManyLine = "too many pages"};
    return RunExport(CounterInfo("KVXPagNumTot", handle),
                     [&] { return ReportCount(kExport, Reset::No); });
}

KVX_API int KVXPagNumCur(int handle, uint8_t reset) {
    static constexpr CounterExport kExport{.count = &device::CounterRecord::pageCurrent,
                                           .current = true,
                                           .refresh = &ReadPages,
                                           .reset = &device::ResetPageCurrent,
                                           .resetLine = "resetting PageCntCur",
                                           .tooManyLine = "too many pages current"};
    return RunExport(CounterInfo("KVXPagNumCur", handle),
                     [&] { return ReportCount(kExport, reset != 0 ? Reset::Yes : Reset::No); });
}

KVX_API int KVXInkjetNumTot(int handle) {
    static constexpr CounterExport kExport{.count = &device::CounterRecord::inkjetTotal,
                                           .current = false,
                                           .refresh = &ReadPrints,
                                           .reset = &device::ResetInkjetCurrent,
                                           .resetLine = "",
                                           .tooManyLine = nullptr};
    return RunExport(CounterInfo("KVXInkjetNumTot", handle),
                     [&] { return ReportCount(kExport, Reset::No); });
}

KVX_API int KVXInkjetNumCur(int handle, uint8_t reset) {
    static constexpr CounterExport kExport{.count = &device::CounterRecord::inkjetCurrent,
                                           .current = true,
                                           .refresh = &ReadPrints,
                                           .reset = &device::ResetInkjetCurrent,
                                           .resetLine = "resetting InkjetCntCur",
                                           .tooManyLine = nullptr};
    return RunExport(CounterInfo("KVXInkjetNumCur", handle),
                     [&] { return ReportCount(kExport, reset != 0 ? Reset::Yes : Reset::No); });
}

}  // extern "C"
