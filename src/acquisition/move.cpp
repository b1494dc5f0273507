// Paper movement without keeping an image: a whole acquisition in grey at
// 300 dpi, front only (nothing when the move is timed), with the scan
// settings put back afterwards.
#include <algorithm>

#include "acquisition/acquire.h"
#include "acquisition/images.h"
#include "acquisition/scan.h"
#include "api/log.h"
#include "api/settings.h"
#include "device/acq_mode.h"
#include "device/status.h"

namespace kovran::acquisition {
namespace {

constexpr std::int32_t kMinMoveDpi = 100;
constexpr std::int16_t kMoveDpi = 300;
constexpr std::int32_t kGrey = 1;
constexpr std::int32_t kColour = 2;
constexpr std::uint16_t kReverseFirmware = 0x2009;
constexpr std::uint16_t kFirmware3000 = 0x3000;
constexpr std::int32_t kShortMoveMs = 5000;
constexpr std::int32_t kLinesPerTimedMove = 150;
constexpr std::int32_t kMinLinesLimitSeconds = 30;
constexpr std::int32_t kPrefeedLines = 4;

// Puts the settings of the scan back on every path.
class KeptSettings {
  public:
    KeptSettings()
        : scan_(Settings().scan),
          request_(device::AcqMode().request),
          maxHeight_(Images().maxHeight150) {}
    ~KeptSettings() {
        Settings().scan = scan_;
        device::AcqMode().request = request_;
        Images().maxHeight150 = maxHeight_;
        ScanState().endOption = false;
        ScanState().prefeed = false;
    }
    KeptSettings(const KeptSettings&) = delete;
    KeptSettings& operator=(const KeptSettings&) = delete;

  private:
    ScanSettings scan_;
    AcqRequest request_;
    std::int32_t maxHeight_;
};

bool CanMoveBackward(const DeviceIdentity& id) {
    return id.firmware == kReverseFirmware;
}

}  // namespace

KVXResult MoveScanner(const MoveCall& call) {
    if (StopRequested()) return KVX_ERR_ABORTED;
    if (RefuseWhileAnotherScanRuns()) return KVX_ERR_GENERIC;
    const DeviceIdentity id = device::Identity();
    if (call.direction == ScanDirection::Backward && !CanMoveBackward(id)) {
        LogPair("err - ", "MoveScanner with invalid parameter (backward not allowed for this HW)");
        return KVX_OK;
    }
    if (call.dpi < kMinMoveDpi) return KVX_OK;
    // The feeder's background acquisition owns the device's stream.
    if (ADFThrClose() != KVX_OK) return KVX_ERR_TIMEOUT;

    const KeptSettings kept;
    ScanSettings& scan = Settings().scan;
    AcqModeRecord& mode = device::AcqMode();
    ScanState().endOption = call.endOption;
    ScanState().prefeed = call.prefeed;
    const bool timed = call.length <= 0;
    scan.sequenceCheck = false;
    scan.backlightOn = false;
    scan.rearOff = true;
    scan.frontOff = timed;
    scan.secAcqTimeout = call.limitMs / 1000;
    scan.msecAcqTimeoutExtra = call.limitMs % 1000;
    mode.request.requestedDpi = {0, kMoveDpi, 0};
    mode.request.readingNeeds = {};
    mode.request.cmc7Strip = false;
    mode.request.kind = ScanKind::Movement;
    scan.color = kGrey;
    if (!device::SetUpAcqMode(0)) {
        scan.color = kColour;
        if (!scan.acq.forced || !device::SetUpAcqMode(0)) return KVX_ERR_GENERIC;
    }
    int lines = 0;
    const std::int32_t dpiV = std::max<std::int32_t>(mode.geometry[kFront].dpiV, 1);
    if (!timed) {
        const std::int64_t at300 = static_cast<std::int64_t>(call.length) * 300 / call.dpi;
        const std::int64_t multiple = std::max<std::int64_t>(scan.acq.lineMultiple, 1);
        const std::int64_t atDpiV = (at300 * dpiV / 300 + multiple - 1) / multiple * multiple;
        lines = static_cast<int>(std::min<std::int64_t>(atDpiV, 65535));
        Images().maxHeight150 = static_cast<std::int32_t>((dpiV + lines) * 150 / dpiV);
    }
    KVXResult r = AcquireImg({.height = lines,
                              .direction = call.direction,
                              .purpose = timed ? AcqPurpose::MoveByTime : AcqPurpose::Movement});
    FreeImages();
    if (r == KVX_ERR_TIMEOUT) r = KVX_OK;
    return r;
}

KVXResult MoveScannerForTime(std::int16_t direction, bool endOption, std::int32_t ms) {
    const DeviceIdentity id = device::Identity();
    std::int32_t length = 0;
    if (id.firmware < kFirmware3000 && ms < kShortMoveMs)
        length = std::max<std::int32_t>(kLinesPerTimedMove * ms / kShortMoveMs, 1);
    return MoveScanner(
        {.direction = direction > 0 ? ScanDirection::Forward : ScanDirection::Backward,
         .length = length,
         .dpi = 150,
         .limitMs = std::max<std::int32_t>(ms, 0),
         .endOption = endOption});
}

KVXResult MoveScannerLines(std::int16_t direction, std::int16_t lines, std::int16_t dpi) {
    const std::int32_t seconds =
        std::max<std::int32_t>(Settings().scan.secAcqTimeout, kMinLinesLimitSeconds);
    return MoveScanner(
        {.direction = direction > 0 ? ScanDirection::Forward : ScanDirection::Backward,
         .length = std::max<std::int16_t>(lines, 0),
         .dpi = std::max<std::int16_t>(dpi, 0),
         .limitMs = seconds * 1000});
}

KVXResult PreScan(std::int16_t ms) {
    const DeviceIdentity id = device::Identity();
    if (!id.capabilities.adf) return KVX_OK;
    const std::uint32_t present = device::kStatusDocumentAtInput | device::kStatusPhotocell;
    if ((device::ReadStatus() & present) != 0) return KVX_OK;
    MoveScanner({.length = kPrefeedLines,
                 .dpi = kMoveDpi,
                 .prefeed = true,
                 .limitMs = std::max<std::int16_t>(ms, 0)});
    return KVX_OK;
}

}  // namespace kovran::acquisition
