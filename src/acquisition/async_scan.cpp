// The asynchronous scan: a worker runs the same scan while the host polls a
// status word. The worker is always joined: by the poll that sees it
// finished, by the next start, or by AsyncThrClose (stop, close, unload).
#include <algorithm>
#include <cstring>

#include "acquisition/images.h"
#include "acquisition/scan.h"
#include "api/frame_state.h"
#include "api/log.h"
#include "api/settings.h"
#include "device/status.h"
#include "platform/clock.h"
#include "platform/sys_error.h"

namespace kovran::acquisition {
namespace {

constexpr std::int16_t kStarting = 1;
constexpr std::int16_t kRunning = 2;
constexpr std::int16_t kFinished = 3;
constexpr unsigned kDocumentPollMs = 100;
constexpr unsigned kConfirmMs = 300;
constexpr std::int64_t kCloseLimitMs = 10000;

// Set on the asynchronous worker: its own creation and scan are the
// pending scan, not another.
thread_local bool t_asyncWorker = false;

// Waits for a document at the input of a device that can see one; false
// when the stop request came first.
bool WaitForInputDocument() {
    if (!device::Identity().capabilities.adf) return true;
    const std::uint32_t present = device::kStatusDocumentAtInput | device::kStatusPhotocell;
    for (;;) {
        if (StopRequested()) return false;
        if ((device::ReadStatus() & present) != 0) {
            platform::Sleep(kConfirmMs);
            if ((device::ReadStatus() & present) != 0) return true;
        }
        platform::Sleep(kDocumentPollMs);
    }
}

void AsyncBody(AsyncScan* async) {
    t_asyncWorker = true;
    KVXResult result = KVX_OK;
    if (!WaitForInputDocument()) {
        LogText("acquisition thread cancelled");
        result = KVX_WAR_CANCELLED;
    } else {
        if (async->createPending) {
            const auto dpi = async->createDpi;
            async->createPending = false;
            FreeForRecreate();
            result = ImgCreate(dpi[0], dpi[1], dpi[2]);
        }
        if (result == KVX_OK) {
            ScanTexts texts{.codeline = async->codeline.data(),
                            .confidence = async->confidence.data(),
                            .length = async->length};
            result = ImgScan(async->hasZones ? &async->zones : nullptr, texts);
        }
    }
    async->result = result;
    SetLastResult(result);
    async->finished.store(true, std::memory_order_release);
}

void CopyText(char* to, const std::array<char, kAsyncTextBytes>& from, std::int16_t length) {
    if (to == nullptr || length <= 0) return;
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(length), from.size());
    std::memcpy(to, from.data(), n);
    to[n - 1] = '\0';
}

}  // namespace

bool AsyncScanPending() {
    // The worker never takes the lock: a close holds it while joining it.
    if (t_asyncWorker) return false;
    ScanRecord& state = ScanState();
    const std::lock_guard<std::mutex> lock(state.asyncMutex);
    return state.async.thread.joinable() && !state.async.finished.load();
}

KVXResult ImgCreateAsync(std::int16_t front, std::int16_t rear, std::int16_t backlight) {
    ScanRecord& state = ScanState();
    const std::lock_guard<std::mutex> lock(state.asyncMutex);
    // A running worker has its own copy: these wait for the next scan.
    state.async.storedDpi = {front, rear, backlight};
    state.async.stored = true;
    return KVX_OK;
}

KVXResult ScanAsync(OcrZoneList* zones, const ScanTexts& texts, std::int16_t* status) {
    ScanRecord& state = ScanState();
    AsyncScan& async = state.async;
    if (status == nullptr) {
        LogPair("err - ", "ImgScan - invalid status pointer");
        return KVX_ERR_INV_PARAMETER;
    }
    const std::lock_guard<std::mutex> lock(state.asyncMutex);
    if (*status == 0) {
        // A scan of another host thread writes the images the worker would.
        if (state.scansRunning.load() > 0 || (async.thread.joinable() && !async.finished.load())) {
            LogText("previous async acquisiton still pending");
            *status = kRunning;
            return KVX_ERR_GENERIC;
        }
        // Finished and never collected.
        if (async.thread.joinable()) async.thread.join();
        LogText("Scan1Async start");
        *status = kStarting;
        async.codeline.fill('\0');
        async.confidence.fill('\0');
        if (texts.length > 0) {
            if (texts.codeline != nullptr)
                std::memset(texts.codeline, 0, static_cast<std::size_t>(texts.length));
            if (texts.confidence != nullptr)
                std::memset(texts.confidence, 0, static_cast<std::size_t>(texts.length));
        }
        const bool withZones = zones != nullptr && zones->count > 0;
        if (withZones && texts.length <= 0) {
            LogText("ImgScan - invalid buffer size");
            *status = kFinished;
            return KVX_ERR_INV_PARAMETER;
        }
        if (withZones && (texts.codeline == nullptr || texts.confidence == nullptr)) {
            LogText("ImgScan - invalid codeline pointer");
            *status = kFinished;
            return KVX_ERR_INV_PARAMETER;
        }
        async.hasZones = zones != nullptr;
        if (zones != nullptr) async.zones = *zones;
        async.length = static_cast<std::int16_t>(std::min<std::int32_t>(
            std::max<std::int16_t>(texts.length, 0), static_cast<std::int32_t>(kAsyncTextBytes)));
        async.createPending = async.stored;
        async.createDpi = async.storedDpi;
        async.stored = false;
        async.result = KVX_OK;
        async.finished.store(false);
        try {
            async.thread = std::thread(&AsyncBody, &async);
        } catch (const std::system_error& e) {
            LogValue("error creating acquisition thread", e.code().value());
            *status = kFinished;
            return KVX_ERR_GENERIC;
        }
        *status = kRunning;
        return KVX_OK;
    }
    if (!async.thread.joinable()) {
        LogText("waiting acquisiton end ");
        *status = kFinished;
        return KVX_ERR_GENERIC;
    }
    if (!async.finished.load(std::memory_order_acquire)) return KVX_OK;
    async.thread.join();
    CopyText(texts.codeline, async.codeline, texts.length);
    CopyText(texts.confidence, async.confidence, texts.length);
    if (zones != nullptr && async.hasZones) *zones = async.zones;
    *status = kFinished;
    if (LogDebug(1) && async.codeline[0] != '\0') LogPair("codeline ", async.codeline.data());
    return async.result;
}

void AsyncTexts(const char** codeline, const char** confidence) {
    AsyncScan& async = ScanState().async;
    *codeline = async.codeline.data();
    *confidence = async.confidence.data();
}

KVXResult AsyncThrClose() {
    ScanRecord& state = ScanState();
    const std::lock_guard<std::mutex> lock(state.asyncMutex);
    AsyncScan& async = state.async;
    if (!async.thread.joinable()) return KVX_OK;
    KVXResult result = KVX_OK;
    if (!async.finished.load()) {
        LogText("AsyncThrClose with pending thread");
        const bool before = state.stopRequested.exchange(true);
        // Every loop of the scan reads the stop request, so the worker
        // ends; it is joined with the stop still raised, and only then is
        // the host's flag put back. A worker slower than the limit is
        // reported.
        const std::int64_t start = platform::SteadyNowMs();
        async.thread.join();
        if (platform::SteadyNowMs() - start > kCloseLimitMs) {
            LogText("timeout waiting acquisiton end ");
            result = KVX_ERR_TIMEOUT;
        }
        state.stopRequested.store(before);
    } else {
        async.thread.join();
    }
    return result;
}

}  // namespace kovran::acquisition
