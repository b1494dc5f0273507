// What the scan functions keep between calls: the sticky stop request, the
// bulk block size the system allows, the direction and kind of the running
// acquisition, the asynchronous scan and the feeder's background
// acquisition. One record per loaded library.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "KovranMS.h"
#include "acquisition/correction.h"

namespace kovran::acquisition {

// The largest single bulk read until the system refuses one.
inline constexpr std::uint32_t kDefaultBlockSize = 0x2000000;
// The host's codeline and confidence buffers of the asynchronous scan.
inline constexpr std::size_t kAsyncTextBytes = 4096;

enum class ScanDirection : std::uint8_t { Forward, Backward };

// The asynchronous scan (one at a time). Written by the host's thread
// before the worker starts and after it has been joined; the worker writes
// result and the texts, and publishes them with `finished`.
struct AsyncScan {
    std::thread thread;
    std::atomic<bool> finished{false};
    KVXResult result = KVX_OK;
    bool hasZones = false;
    OcrZoneList zones{};
    std::array<char, kAsyncTextBytes> codeline{};
    std::array<char, kAsyncTextBytes> confidence{};
    std::int16_t length = 0;
    // The resolutions KVXImgCreate1Async stored (front, rear, backlight),
    // kept by the host's thread until the next scan starts; the worker
    // then creates the images with its own copy.
    bool stored = false;
    std::array<std::int16_t, 3> storedDpi{};
    bool createPending = false;
    std::array<std::int16_t, 3> createDpi{};
};

// The running acquisition's threads, as KVXStop sees them.
struct ActiveWorkers {
    std::atomic<bool> acq{false};
    std::atomic<bool> cor{false};
    std::atomic<bool> seq{false};
    // Each acquisition that starts workers counts itself in `acquisitions`
    // after it has put in `count` how many it starts, before the first of
    // them runs, and takes back one that could not be created: whoever
    // watches the workers (KVXStop, a clock that moves time only when all
    // of them pause) knows from the first of them on the whole set, even a
    // worker that has not yet been scheduled.
    std::atomic<std::uint32_t> acquisitions{0};
    std::atomic<int> count{0};
};

struct ScanRecord {
    // Sticky: set by KVXStop, read by every loop of a scan.
    std::atomic<bool> stopRequested{false};
    // The acquisition of the current document is over (its stream ended or
    // it failed); the printing thread stops streaming then. Cleared at the
    // start of each host acquisition.
    std::atomic<bool> acquisitionEnded{false};
    // Lowered by the bulk retry ladder and kept for later acquisitions.
    std::atomic<std::uint32_t> blockSize{0};
    std::atomic<ScanDirection> direction{ScanDirection::Forward};
    ActiveWorkers workers;
    // The scans inside ImgScan, on host threads or the asynchronous worker:
    // their buffers are freed only once none runs.
    std::atomic<int> scansRunning{0};
    // The running acquisition's stream state (null between acquisitions).
    // It lives on the scanning thread's stack: another thread reads it only
    // through WithActiveStream, under the lock its owner takes to forget it.
    StreamState* activeStream = nullptr;
    std::mutex activeStreamMutex;
    // A backlight image was asked for at the last creation.
    bool backlightOn = false;
    // The document stayed at the input after the scan (moved back later).
    std::atomic<bool> documentHeld{false};
    // The document type the last scan forced (restored by the next).
    bool typeDocForced = false;
    std::int32_t typeDocBefore = 0;
    // The scan parameters' movement flags, the paper movement's time limit
    // and end option, and the pre-feed flag.
    bool prefeed = false;
    bool endOption = false;
    std::int32_t moveLimitMs = 0;
    // The sequence thread's result of the last acquisition.
    KVXResult sequenceResult = KVX_OK;
    std::mutex asyncMutex;  // the host's calls against the async worker's start
    AsyncScan async;
    // The continuous feeder's background acquisition.
    std::thread feederThread;
    std::atomic<KVXResult> feederResult{KVX_OK};
    std::atomic<bool> feederGo{false};
};

ScanRecord& ScanState();

// Runs f(const StreamState&) on the running acquisition's stream, if there
// is one, while its owner cannot end it; returns whether there was one.
template <class F>
bool WithActiveStream(ScanRecord& state, F f) {
    std::lock_guard<std::mutex> lock(state.activeStreamMutex);
    if (state.activeStream == nullptr) return false;
    f(static_cast<const StreamState&>(*state.activeStream));
    return true;
}

// The running acquisition's stream, published and forgotten by its owner.
void PublishActiveStream(ScanRecord& state, StreamState* stream);

bool StopRequested();

}  // namespace kovran::acquisition
