#include "acquisition/scan.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "acquisition/acquire.h"
#include "acquisition/images.h"
#include "api/frame_state.h"
#include "api/library.h"
#include "api/log.h"
#include "api/settings.h"
#include "device/acq_mode.h"
#include "device/connection_seams.h"
#include "platform/clock.h"

namespace kovran::acquisition {
namespace {

constexpr const char* kErr = "err - ";
constexpr std::int16_t kMinDpi = 10;
constexpr std::int16_t kMaxDpi = 600;
constexpr std::int16_t kMaxZones = 20;
constexpr double kLines150 = 150.0;
constexpr double kMaxLines = 65535.0;
constexpr unsigned kWorkerPolls = 1000;
constexpr unsigned kWorkerPollMs = 10;

// The scans this thread is inside: its own steps (the move back at a
// scan's end, the asynchronous worker's creation) are no other scan.
thread_local int t_scansHere = 0;

// Counts a scan from its first step to its last, so that a stop or a close
// from another host thread waits for it before the buffers go.
class RunningScan {
  public:
    explicit RunningScan(ScanRecord& s) : s_(s) {
        s_.scansRunning.fetch_add(1);
        ++t_scansHere;
    }
    ~RunningScan() {
        --t_scansHere;
        s_.scansRunning.fetch_sub(1);
    }
    RunningScan(const RunningScan&) = delete;
    RunningScan& operator=(const RunningScan&) = delete;

  private:
    ScanRecord& s_;
};

bool ScanWorkersEnded(const ScanRecord& state) {
    return !state.workers.acq.load() && !state.workers.cor.load() && !state.workers.seq.load() &&
           state.scansRunning.load() == 0;
}

// Waits for the workers and the scans of other host threads; the ones still
// running at the limit are logged.
bool WaitForScansToEnd(ScanRecord& state) {
    if (platform::WaitUntil([&] { return ScanWorkersEnded(state); }, kWorkerPolls * kWorkerPollMs,
                            kWorkerPollMs))
        return true;
    if (state.workers.acq.load()) LogText("timeout waiting AcqThr end");
    if (state.workers.cor.load()) LogText("timeout waiting CorThr end");
    if (state.workers.seq.load()) LogText("timeout waiting SeqThr end");
    return false;
}

}  // namespace

ScanRecord& ScanState() {
    return lib().Get<ScanRecord>();
}

void PublishActiveStream(ScanRecord& state, StreamState* stream) {
    std::lock_guard<std::mutex> lock(state.activeStreamMutex);
    state.activeStream = stream;
}

bool StopRequested() {
    return ScanState().stopRequested.load();
}

bool RefuseWhileAnotherScanRuns() {
    if (ScanState().scansRunning.load() <= t_scansHere && !AsyncScanPending()) return false;
    LogText("previous async acquisiton still pending");
    return true;
}

int AcquisitionHeight() {
    const AcqModeRecord& mode = device::AcqMode();
    const double dpiV = std::max(mode.geometry[kFront].dpiV, mode.geometry[kRear].dpiV);
    const double h = Images().maxHeight150 / kLines150 * dpiV;
    if (h < 1.0) return 0;
    return static_cast<int>(std::min(h, kMaxLines));
}

KVXResult ImgCreate(std::int16_t front, std::int16_t rear, std::int16_t backlight) {
    const DeviceIdentity id = device::Identity();
    ImagesRecord& images = Images();
    ScanRecord& state = ScanState();
    if (RefuseWhileAnotherScanRuns()) return KVX_ERR_GENERIC;
    // The feeder's background acquisition writes the next set: it ends
    // before the buffers are replaced.
    if (ADFThrClose() != KVX_OK) return KVX_ERR_TIMEOUT;
    bool backlightOn = false;
    if (backlight >= 1) {
        if (!id.capabilities.backlight) {
            LogPair(kErr, "backlight not supported by HW");
            return KVX_ERR_HW_UNSUPPORTED;
        }
        const bool frontSide = id.capabilities.backlightSide != kRear;
        if (backlight != (frontSide ? front : rear)) {
            LogPair(kErr, frontSide ? "BACKLIGHT and FRONT images must have the same resolution"
                                    : "BACKLIGHT and REAR images must have the same resolution");
            return KVX_ERR_INV_PARAMETER;
        }
        backlightOn = true;
    }
    if (images.secondPart) return KVX_OK;
    for (std::int16_t dpi : {front, rear}) {
        if (dpi != 0 && (dpi < kMinDpi || dpi > kMaxDpi)) {
            LogPairValue(kErr, "Invalid dpi val", dpi);
            LogText("ImgCreate with invalid dpi");
            return KVX_ERR_INV_PARAMETER;
        }
    }
    AcqModeRecord& mode = device::AcqMode();
    mode.request.requestedDpi = {rear, front,
                                 static_cast<std::int16_t>(backlightOn ? backlight : 0)};
    state.backlightOn = backlightOn;
    Settings().scan.backlightOn = backlightOn;
    if (!Settings().scan.acq.forced) {
        // The height comes from the mode's vertical resolution: the
        // geometry first, then the buffers.
        if (!device::SetUpAcqMode(0) || !device::SetUpAcqMode(AcquisitionHeight())) {
            LogText("ImgCreate - error setting mode for dpi");
            return KVX_ERR_INV_PARAMETER;
        }
        if (backlightOn) {
            const std::uint16_t table = mode.geometry[kBacklight].dpiH;
            if (table != 0 && table != static_cast<std::uint16_t>(backlight)) {
                LogValue("forcing backlight dpi", table);
                mode.request.requestedDpi[kBacklight] = static_cast<std::int16_t>(table);
            }
        }
    }
    images.buffersConsumed = false;
    return KVX_OK;
}

KVXResult ImgFree() {
    ScanRecord& state = ScanState();
    {
        const std::lock_guard<std::mutex> lock(state.asyncMutex);
        // Any pending asynchronous scan still writes the buffers, whether
        // it created them or not; so does a scan on another host thread.
        if ((state.async.thread.joinable() && !state.async.finished.load()) ||
            state.scansRunning.load() > 0) {
            LogText("ImgFree with pending ansync acquisition");
            return KVX_ERR_GENERIC;
        }
    }
    return FreeForRecreate();
}

KVXResult FreeForRecreate() {
    if (ADFThrClose() != KVX_OK) return KVX_ERR_TIMEOUT;
    FreeImages();
    return KVX_OK;
}

KVXResult ValidateZones(const OcrZoneList& zones, const ScanTexts& texts) {
    if (zones.count > kMaxZones) {
        LogText("Too much OCR zones");
        return KVX_ERR_INV_PARAMETER;
    }
    if (zones.count > 0 && (texts.codeline == nullptr || texts.confidence == nullptr)) {
        LogText("invalid codeline/confidence parameter");
        return KVX_ERR_INV_PARAMETER;
    }
    return KVX_OK;
}

KVXResult ReadZones(OcrZoneList&, const ScanTexts&) {
    return KVX_OK;
}

KVXResult ImgScan(OcrZoneList* zones, const ScanTexts& texts) {
    ScanRecord& state = ScanState();
    const RunningScan running(state);
    // Its buffers are those of the scan already running. Counted first, so
    // that of two scans starting at once neither misses the other.
    if (RefuseWhileAnotherScanRuns()) return KVX_ERR_GENERIC;
    ImagesRecord& images = Images();
    AcqModeRecord& mode = device::AcqMode();
    ScanSettings& scan = Settings().scan;

    if (state.typeDocForced) {
        LogText("restoring original typedoc");
        Settings().ocr.typeDoc = state.typeDocBefore;
        state.typeDocForced = false;
    }
    KVXResult result = KVX_OK;
    const bool withZones = zones != nullptr && zones->count > 0;
    auto finish = [&](KVXResult r) {
        mode.request.cmc7Strip = false;
        if (withZones && texts.length > 0) {
            if (texts.codeline != nullptr && texts.codeline[0] == '\0')
                std::memset(texts.codeline, 0, static_cast<std::size_t>(texts.length));
            if (texts.confidence != nullptr && texts.confidence[0] == '\0')
                std::memset(texts.confidence, 0, static_cast<std::size_t>(texts.length));
        }
        if (scan.autoMoveBack && state.documentHeld.load() && r != KVX_ERR_ABORTED) {
            LogText("moving back");
            MoveScanner(
                {.direction = ScanDirection::Backward, .length = 300, .dpi = 300, .limitMs = 1000});
            state.documentHeld.store(false);
        }
        if (withZones) LogValue("nChar returned", 0);
        return r;
    };
    if (StopRequested()) return finish(KVX_ERR_ABORTED);
    if (zones != nullptr) {
        result = ValidateZones(*zones, texts);
        if (result != KVX_OK) return finish(result);
    }
    const bool twoPart = images.twoPartAcq;
    const std::array<std::int16_t, 3> requested = mode.request.requestedDpi;
    scan.frontOff = false;
    scan.rearOff = requested[kRear] < 1 && !scan.backlightOn;
    if (StopRequested()) return finish(KVX_ERR_ABORTED);

    // In the continuous feeder mode the next document is already being
    // acquired into the other set: re-creating the buffers would stop it
    // and lose the document.
    const bool feederPending = scan.adfContinuous && state.feederThread.joinable();
    if (images.buffersConsumed && !twoPart && !feederPending) {
        LogPair("war - ",
                "patch - image free and create should be called before calling this again");
        FreeForRecreate();
        result = ImgCreate(requested[kFront], requested[kRear], requested[kBacklight]);
        if (result != KVX_OK) return finish(result);
    }

    const int height = AcquisitionHeight();
    const KVXResult acquired = scan.adfContinuous ? ADFAcq(height) : AcquireImg({.height = height});
    if (acquired < 0) return finish(acquired);
    if (withZones) {
        result = ReadZones(*zones, texts);
        if (result < 0) return finish(result);
    }
    if (StopRequested()) {
        LogText("stop (B)");
        return finish(KVX_ERR_ABORTED);
    }
    if (twoPart) {
        LogText("twoPartAcq");
    } else {
        images.twoPartAcq = false;
        images.secondPart = false;
    }
    return finish(acquired > 0 ? acquired : KVX_OK);
}

KVXResult Stop(std::int16_t set) {
    ScanRecord& state = ScanState();
    if (set <= 0) {
        state.stopRequested.store(false);
        LogText("KVXStop removed");
        return KVX_OK;
    }
    LogText("KVXStop set");
    state.stopRequested.store(true);
    KVXResult result = AsyncThrClose();
    state.stopRequested.store(true);
    if (ADFThrClose() != KVX_OK) result = KVX_ERR_TIMEOUT;
    state.stopRequested.store(true);
    // A scan of another host thread ends at the stop; its buffers are freed
    // only once it has, never under its threads.
    if (!WaitForScansToEnd(state)) return KVX_ERR_TIMEOUT;
    // The printers stop with the scan: switched off, and printing disabled
    // until the next set-up.
    device::StopInkjets();
    if (ImgFree() != KVX_OK) result = KVX_ERR_GENERIC;
    return result;
}

bool EndScansOfOtherThreads() {
    ScanRecord& state = ScanState();
    if (ScanWorkersEnded(state)) return true;
    // The scan reads the stop request in every loop; the host's own flag
    // comes back once the scan has ended.
    const bool before = state.stopRequested.exchange(true);
    if (!WaitForScansToEnd(state)) return false;
    state.stopRequested.store(before);
    return true;
}

void ClearStop() {
    ScanState().stopRequested.store(false);
}

std::uint16_t GetAcqHeight(std::int16_t side, std::int16_t dpi) {
    const ImagesRecord& images = Images();
    int index = side;
    if (side == 8) index = images.otherSide;
    if (side == 9) index = images.codelineSide;
    if (index < 0 || index > 2) {
        LogText("KVXGetAcqHeight with invalid side");
        return 0;
    }
    if (dpi <= 0) {
        LogText("KVXGetAcqHeight with invalid dpi");
        return 0;
    }
    const ImageRecord& r = images.myImg[static_cast<std::size_t>(index)];
    if (r.dpiV == 0) {
        LogText("KVXGetAcqHeight with invalid dpiV");
        return 0;
    }
    const auto height =
        static_cast<std::uint16_t>(static_cast<std::int32_t>(r.Height) * dpi / r.dpiV);
    const bool backward = ScanState().direction.load() == ScanDirection::Backward;
    LogText(std::string("KVXGetAcqHeight - ") + (backward ? "backward" : "forward") + " - side " +
            std::to_string(index) + ", height " + std::to_string(height) + " at " +
            std::to_string(dpi) + " dpi");
    return height;
}

KVXResult GetForcedRes(std::int16_t* frontH, std::int16_t* rearH, std::int16_t* frontV,
                       std::int16_t* rearV) {
    const AcqModeSettings& acq = Settings().scan.acq;
    if (!acq.forced) {
        LogText("forced mode not set");
        return KVX_ERR_GENERIC;
    }
    if (acq.colourChannels == 0) {
        LogText("invalid n Col");
        return KVX_ERR_GENERIC;
    }
    if (frontH != nullptr) *frontH = static_cast<std::int16_t>(acq.acquiredRes[1]);
    if (rearH != nullptr) *rearH = static_cast<std::int16_t>(acq.acquiredRes[0]);
    if (frontV != nullptr) *frontV = static_cast<std::int16_t>(acq.acquiredRes[3]);
    if (rearV != nullptr) *rearV = static_cast<std::int16_t>(acq.acquiredRes[3]);
    return KVX_OK;
}

}  // namespace kovran::acquisition
