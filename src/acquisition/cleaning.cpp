// The cleaning-sheet cycle and the cleaning request kept in the register
// file.
#include "acquisition/cleaning.h"

#include "acquisition/calibration.h"
#include "acquisition/scan.h"
#include "api/log.h"
#include "api/settings.h"
#include "device/status.h"
#include "platform/clock.h"

namespace kovran::acquisition {
namespace {

constexpr unsigned kSheetPollMs = 100;
constexpr int kSheetPolls = 101;
constexpr std::int32_t kCleanDpi = 300;
constexpr std::int32_t kEjectDpi = 100;
constexpr std::int32_t kEnterLines = 300;
constexpr std::int32_t kEjectLines = 400;
constexpr int kEjectMoves = 20;
constexpr unsigned kBetweenStrokesMs = 50;
constexpr std::int32_t kMoveLimitMs = 5000;
constexpr std::uint16_t kReverseFirmware = 0x2009;

struct Pass {
    std::int32_t lines;
    int strokes;
};
constexpr Pass kPasses[] = {{320, 2}, {160, 4}, {80, 8}, {64, 8}};

constexpr std::uint32_t kSheetPresent = device::kStatusDocumentAtInput | device::kStatusPhotocell;

enum class Sheet : std::uint8_t { Present, Gone, DeviceError };

Sheet SheetState() {
    const std::uint32_t status = device::ReadStatus();
    if (status == 0) return Sheet::DeviceError;
    return (status & kSheetPresent) != 0 ? Sheet::Present : Sheet::Gone;
}

KVXResult Move(ScanDirection direction, std::int32_t lines, std::int32_t dpi) {
    return MoveScanner(
        {.direction = direction, .length = lines, .dpi = dpi, .limitMs = kMoveLimitMs});
}

}  // namespace

KVXResult Clean() {
    Sheet sheet = Sheet::Gone;
    for (int poll = 0;; ++poll) {
        sheet = SheetState();
        if (sheet == Sheet::DeviceError) {
            LogText("Clean - device error waiting sheet insertion");
            return KVX_ERR_DEVICE;
        }
        if (sheet == Sheet::Present) break;
        if (poll + 1 >= kSheetPolls) {
            LogText("Clean - timeout waiting sheet insertion");
            return KVX_ERR_TIMEOUT;
        }
        platform::Sleep(kSheetPollMs);
    }
    KVXResult r = Move(ScanDirection::Forward, kEnterLines, kCleanDpi);
    if (r < 0) return r;
    const bool backward = device::Identity().firmware == kReverseFirmware;
    bool present = true;
    for (const Pass& pass : kPasses) {
        for (int stroke = 0; stroke < pass.strokes && present; ++stroke) {
            const ScanDirection d =
                backward && stroke % 2 == 1 ? ScanDirection::Backward : ScanDirection::Forward;
            r = Move(d, pass.lines, kCleanDpi);
            if (r < 0) return r;
            platform::Sleep(kBetweenStrokesMs);
            sheet = SheetState();
            if (sheet == Sheet::DeviceError) {
                LogText("Clean - device error cleaning");
                return KVX_ERR_DEVICE;
            }
            present = sheet == Sheet::Present;
        }
    }
    for (int n = 0; n < kEjectMoves && SheetState() == Sheet::Present; ++n) {
        r = Move(ScanDirection::Forward, kEjectLines, kEjectDpi);
        if (r < 0) return r;
    }
    r = Move(ScanDirection::Forward, kEjectLines, kEjectDpi);
    if (r < 0) return r;
    Calibration().cleaning.store(false);
    WriteCleaningRequired(false);
    return KVX_OK;
}

KVXResult CheckCleaning() {
    CalibrationRecord& cal = Calibration();
    if (Settings().scan.checkEnable && ReadCleaningRequired()) cal.cleaning.store(true);
    KVXResult r = KVX_OK;
    if (cal.cleaning.load()) {
        if (cal.calibrated.load()) {
            LogText("Cleaning Required");
            r = KVX_WAR_DIRTY;
        } else {
            cal.cleaning.store(false);
            LogText("Cleaning ignored as not calibrated");
        }
    }
    LogValue("KVXCheckCleaning returning", r);
    return r;
}

bool CleaningRequiredAtOpen() {
    return CheckCleaning() == KVX_WAR_DIRTY;
}

}  // namespace kovran::acquisition
