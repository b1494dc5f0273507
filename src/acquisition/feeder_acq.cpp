// The continuous feeder: while the host reads the current document, a
// background acquisition takes the next one into the other record set.
#include <algorithm>
#include <utility>

#include "acquisition/acquire.h"
#include "acquisition/images.h"
#include "acquisition/scan.h"
#include "api/log.h"
#include "api/settings.h"
#include "device/acq_mode.h"
#include "device/status.h"
#include "platform/clock.h"

namespace kovran::acquisition {
namespace {

constexpr unsigned kGoPolls = 99;
constexpr unsigned kGoPollMs = 10;
constexpr std::int64_t kCloseLimitMs = 10000;

// The thread owns the settings it was armed with: the host may change the
// library's own meanwhile.
void FeederBody(int height, const AcqSettings settings) {
    ScanRecord& state = ScanState();
    const KVXResult r = AcquireImg({.height = height, .background = true, .settings = &settings});
    state.feederResult.store(r);
    Images().feederThreadRunning.store(false);
}

bool NextBuffersExist() {
    const ImageSet& next = Images().nextImg;
    return next[kFront].alloc != nullptr && next[kFront].alloc != Images().myImg[kFront].alloc;
}

// The next set holds the document before the current one: white again
// where it was written (noted before its records take the new geometry).
void WhitenNext() {
    ImageSet& next = Images().nextImg;
    for (ImageRecord& r : next)
        if (r.alloc && r.allocSize > 0) r.alloc->Renew(r.alloc->Size());
}

// The next set takes the current settings with the geometry the
// acquisition writes: the current set holds a finished document, cropped
// and deskewed, whose size says nothing about the next one.
void CopyGeometryToNext() {
    ImagesRecord& images = Images();
    const AcqModeRecord& mode = device::AcqMode();
    for (std::size_t i = 0; i < images.myImg.size(); ++i) {
        ImageRecord& n = images.nextImg[i];
        const ImageRecord& m = images.myImg[i];
        auto alloc = n.alloc;
        const std::ptrdiff_t dataAt = n.data && n.alloc ? n.data - n.alloc->Bytes() : 0;
        const std::ptrdiff_t writeAt = n.write && n.alloc ? n.write - n.alloc->Bytes() : 0;
        const std::int32_t allocSize = n.allocSize;
        n = m;
        n.alloc = alloc;
        n.allocSize = allocSize;
        n.data = alloc ? alloc->Bytes() + dataAt : nullptr;
        n.write = alloc ? alloc->Bytes() + writeAt : nullptr;
        n.completed = n.processed = n.deskewed = false;
        const SideGeometry& g = mode.geometry[i];
        n.bytesPerPixel = g.bytesPerPixel;
        n.channels = g.channels;
        n.top = g.top;
        n.left = g.left;
        n.width = g.width;
        n.sensorPixels = g.sensorPixels;
        n.channelPitch = g.channelPitch;
        n.stride = g.stride;
        n.dpiH = g.dpiH;
        n.dpiV = g.dpiV;
        n.top0 = g.top0;
        n.left0 = g.left0;
        n.width0 = g.width0;
        n.right = g.right;
        n.Height = n.height0 = images.createdHeight[i];
        n.size = images.createdSize[i];
        n.skew = kNoSkew;
    }
}

}  // namespace

KVXResult ADFAcq(int height) {
    ImagesRecord& images = Images();
    ScanRecord& state = ScanState();
    KVXResult result = KVX_OK;
    bool fromBackground = false;
    if (state.feederThread.joinable()) {
        LogText("pending thread");
        // The background acquisition keeps the scan's time limit itself.
        const std::int64_t limit = static_cast<std::int64_t>(Settings().scan.secAcqTimeout) * 1000 +
                                   Settings().scan.msecAcqTimeoutExtra;
        const std::int64_t start = platform::SteadyNowMs();
        state.feederThread.join();
        if (platform::SteadyNowMs() - start > limit) {
            LogText("timout waiting previous thread end");
            return KVX_ERR_TIMEOUT;
        }
        result = state.feederResult.load();
        if (result < 0) {
            LogText("previous thread end with error");
            return result;
        }
        LogText("new scan at end");
        std::swap(images.myImg, images.nextImg);
        images.buffersConsumed = true;
        fromBackground = true;
    }
    if (!fromBackground) {
        LogText("new scan");
        result = AcquireImg({.height = height});
        if (result < 0) return result;
    }
    if (!NextBuffersExist()) {
        LogText("next buffer not allocated");
        return result;
    }
    const std::uint32_t present = device::kStatusDocumentAtInput | device::kStatusPhotocell;
    if (StopRequested() || (device::ReadStatus() & present) == 0) return result;
    NoteRecordLines(images.nextImg);
    CopyGeometryToNext();
    WhitenNext();
    if (!RestoreNextMemory()) {
        LogText("next buffer not allocated");
        return result;
    }
    images.feederThreadRunning.store(true);
    state.feederResult.store(KVX_OK);
    try {
        state.feederThread = std::thread(&FeederBody, height, TakeAcqSettings());
    } catch (const std::system_error&) {
        images.feederThreadRunning.store(false);
        LogText("error creating acquisition thread");
        return result;
    }
    const bool go = platform::WaitUntil(
        [&] {
            bool flowing = false;
            WithActiveStream(state, [&](const StreamState& s) { flowing = s.dataFlowing.load(); });
            return flowing || !images.feederThreadRunning.load();
        },
        kGoPolls * kGoPollMs, kGoPollMs);
    if (!go) LogText("no go");
    return result;
}

KVXResult ADFThrClose() {
    ScanRecord& state = ScanState();
    if (!state.feederThread.joinable()) return KVX_OK;
    KVXResult result = KVX_OK;
    if (Images().feederThreadRunning.load()) {
        LogText("ADFThrClose with pending thread");
        const bool before = state.stopRequested.exchange(true);
        const std::int64_t start = platform::SteadyNowMs();
        state.feederThread.join();
        if (platform::SteadyNowMs() - start > kCloseLimitMs) {
            LogText("timeout waiting ADF thread end ");
            result = KVX_ERR_TIMEOUT;
        }
        state.stopRequested.store(before);
    } else {
        state.feederThread.join();
    }
    return result;
}

}  // namespace kovran::acquisition
