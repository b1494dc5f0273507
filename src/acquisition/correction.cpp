// The correction threads. The newer one follows the received count of the
// acquisition thread: a line counts as arrived only when it lies wholly
// below that count, read with acquire ordering, so the raw bytes it reads
// are never the ones the USB layer is still writing.
#include "acquisition/correction.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/acq_settings.h"
#include "acquisition/corr_info.h"
#include "acquisition/line_correct.h"
#include "acquisition/line_split.h"
#include "acquisition/output_curve.h"
#include "api/config_dir.h"
#include "api/frame_state.h"
#include "api/log.h"
#include "api/settings.h"
#include "device/acq_mode.h"
#include "device/device_record.h"
#include "device/ep0_lock.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/usb_vendors.h"

namespace kovran::acquisition {
namespace {

constexpr std::size_t kShortestLine = 64;
constexpr unsigned kPeriodMs = 50;
constexpr unsigned kLineCheckPeriodMs = 5;
// Stage one waits for more than this many lines while the stream runs.
constexpr std::int32_t kBatchLines = 8;
// With the line check on, it gets fresh lines in steps of this many.
constexpr std::int32_t kLineCheckStep = 10;
constexpr std::uint16_t kFirmwareSoftwareDetection = 0x4000;
constexpr std::uint16_t kFirmwareStreamMarks = 0x3000;
constexpr std::uint16_t kMirroredFrontPid = 11;
// The older thread's wait for the received count's lock.
constexpr unsigned kAcqSemaphoreWaitMs = 100;

bool Stopped(const CorrectionBlock& b) {
    return b.stopFlag != nullptr && b.stopFlag->load(std::memory_order_acquire);
}

void RequestEnd(CorrectionBlock& b) {
    if (b.endRequest != nullptr) b.endRequest->store(true, std::memory_order_release);
}

void Finish(CorrectionBlock& b, bool ok) {
    b.flags.ok.store(ok);
    b.flags.error.store(!ok);
    b.flags.done.store(true);
    b.flags.running.store(false);
}

// The checks both correction threads start with: a block with its stream,
// then a usable raw line. False (the block, if any, finished as failed)
// when the thread must end at once.
bool Begin(CorrectionBlock* block, const char* missingLine, const char* lineStepLine) {
    if (block == nullptr || block->stream == nullptr) {
        LogText(missingLine);
        if (block != nullptr) Finish(*block, false);
        return false;
    }
    block->flags.running.store(true);
    if (block->rawLineLength < kShortestLine || block->raw == nullptr) {
        LogText(lineStepLine);
        Finish(*block, false);
        return false;
    }
    return true;
}

// The per-side stage-two correctors for this acquisition.
struct Correctors {
    std::array<std::optional<SideCorrector>, 3> side;
};

Correctors MakeCorrectors(const CorrectionBlock& b) {
    Correctors out;
    // Calibration reads the raw lines it scans.
    if (b.kind == CorrectionKind::Calibration) return out;
    const CorrInfoRecord& info = CorrInfos();
    for (int s : {kFront, kRear, kBacklight}) {
        const ImageRecord& r = b.records[static_cast<std::size_t>(s)];
        if (!r.enabled || r.data == nullptr) continue;
        const auto i = static_cast<std::size_t>(s);
        const bool apply = b.correctionOn && !info.sides[i].black.empty();
        out.side[i].emplace(r, info.gain[i], info.sides[i].black, CurveOf(s), apply,
                            s == kFront && b.mirrorFront ? Mirror::Yes : Mirror::No);
    }
    return out;
}

void CorrectLines(Correctors& c, std::int32_t first, std::int32_t count) {
    for (int s : {kFront, kRear, kBacklight})
        if (auto& k = c.side[static_cast<std::size_t>(s)]) k->Correct(first, count);
}

void Publish(CorrectionBlock& b, std::int32_t lines) {
    for (int s : {kRear, kFront, kBacklight}) {
        const auto i = static_cast<std::size_t>(s);
        if (!b.records[i].enabled) continue;
        b.lines[i].store(lines, std::memory_order_release);
        b.bytes[i].store(std::int64_t{lines} * b.records[i].stride, std::memory_order_release);
    }
}

SplitOptions SplitOptionsOf(const CorrectionBlock& b) {
    const bool ordinary = b.kind == CorrectionKind::Ordinary;
    return {.realign = ordinary,
            .hardwareAligner = b.hardwareAligner,
            .softwareGlitch = ordinary && b.swGlitchDetection && !b.hardwareAligner,
            .softwareNoise = ordinary && b.swNoiseDetection,
            .halfGlitchWindow = b.halfGlitchWindow};
}

// Debug images of the raw blocks around glitches: written through the
// installed writer (the JPEG writer lives in a higher layer).
std::atomic<GlitchImageWriter>& GlitchWriterSlot() {
    static std::atomic<GlitchImageWriter> writer{nullptr};
    return writer;
}
GlitchImageWriter GlitchWriter() {
    return GlitchWriterSlot().load(std::memory_order_acquire);
}

void DebugGlitchImage(const CorrectionBlock& b, int& number, std::int32_t first,
                      std::int32_t count) {
    GlitchImageWriter writer = GlitchWriter();
    if (writer == nullptr || count <= 0) return;
    const bool light = b.records[kBacklight].enabled;
    const char* form =
        b.stripBytes != 0
            ? (light ? "%s/AltPixelCMC7IR_%02d_in.jpg" : "%s/AltPixelCMC7_%02d_in.jpg")
            : (light ? "%s/AltPixelCMC7IR_%02d_in.jpg" : "%s/AltPixel_%02d_in.jpg");
    char path[1024];
    std::snprintf(path, sizeof path, form, b.glitchDirectory.c_str(), number);
    writer(path, b.raw + static_cast<std::size_t>(first) * b.rawLineLength, b.rawLineLength, count);
    number = (number + 1) % 6;
}

// The images of an earlier session would mix with this one's cycle.
void StartGlitchDebugging(const std::string& directory) {
    std::error_code ec;
    std::vector<std::string> names;
    for (std::filesystem::directory_iterator it(directory, ec), end; !ec && it != end;
         it.increment(ec))
        names.push_back(it->path().filename().string());
    for (const std::string& name : names)
        if (platform::WildcardMatch("AltPixel*.jpg", name))
            platform::DeleteFileAt(directory + "/" + name);
}

}  // namespace

void InstallGlitchImageWriter(GlitchImageWriter writer) {
    GlitchWriterSlot().store(writer, std::memory_order_release);
}

void FillCorrectionOptions(CorrectionBlock& block) {
    FillCorrectionOptions(block, TakeAcqSettings());
}

void FillCorrectionOptions(CorrectionBlock& block, const AcqSettings& settings) {
    const DeviceIdentity id = device::Identity();
    const ScanSettings& scan = settings.scan;
    const bool ordinary = block.kind == CorrectionKind::Ordinary;
    const bool newer = id.firmware >= kFirmwareSoftwareDetection;
    block.firmware = id.firmware;
    block.hardwareAligner = id.capabilities.alignerData && id.firmware >= kFirmwareStreamMarks;
    block.mirrorFront = id.vid == platform::kMainVendor && id.pid == kMirroredFrontPid;
    block.correctionOn = scan.correct;
    block.swGlitchDetection = ordinary && newer && scan.swGlitchDetection && !block.hardwareAligner;
    block.swNoiseDetection = ordinary && newer && scan.swNoiseDetection;
    block.debugGlitch = ordinary && scan.glitch;
    if (block.debugGlitch && block.lineCheck) {
        LogText("Debug Glitch disabled - double detection on");
        block.debugGlitch = false;
    }
    block.glitchDirectory = settings.configDir;
    block.msecValLines = std::max(scan.msecValLines, 0);
}

void ThrCor_0x3000(CorrectionBlock* block) {
    LogText("ThrCor_0x3000 start");
    if (!Begin(block, "ThrCor_0x3000 - end ko - missing parameter",
               "ThrCor_0x3000 - correction with invalid LineStep"))
        return;
    CorrectionBlock& b = *block;
    bool ok = false;
    try {
        const StreamState& stream = *b.stream;
        const std::size_t length = b.rawLineLength;
        const auto total =
            static_cast<std::int32_t>(std::min<std::size_t>(b.transferLength / length, 0x7FFFFFFF));
        LineSplitter splitter(b, SplitOptionsOf(b));
        Correctors correctors = MakeCorrectors(b);
        const bool debugGlitch = b.debugGlitch && b.kind == CorrectionKind::Ordinary;
        if (debugGlitch && GlitchWriter() != nullptr) StartGlitchDebugging(b.glitchDirectory);
        int glitchImage = 0;
        const unsigned period = b.lineCheck ? kLineCheckPeriodMs : kPeriodMs;

        std::int32_t split = 0;
        std::int32_t corrected = 0;
        std::int64_t lastLineMs = platform::SteadyNowMs();
        // Lines seen so far: the wait limit runs from the last new one,
        // whether or not a batch of them has been split yet.
        std::int32_t seen = 0;
        for (;;) {
            if (Stopped(b)) {
                LogText("ThrCor_0x3000 - stop");
                ok = b.kind == CorrectionKind::MoveByTime;
                break;
            }
            const bool ended = stream.acq.done.load(std::memory_order_acquire);
            const std::size_t received = stream.receivedBytes.load(std::memory_order_acquire);
            const std::int64_t now = platform::SteadyNowMs();

            // Whole lines below the received count, with the bytes a
            // re-aligned read may take past a line's end.
            std::int32_t arrived = 0;
            if (ended)
                arrived =
                    static_cast<std::int32_t>(std::min<std::size_t>(received / length, total));
            else if (received >= splitter.ReadAhead())
                arrived = static_cast<std::int32_t>(
                    std::min<std::size_t>((received - splitter.ReadAhead()) / length, total));
            if (arrived > seen) {
                seen = arrived;
                lastLineMs = now;
            }

            if (now - lastLineMs > b.waitLimitMs) {
                RequestEnd(b);
                if (b.kind == CorrectionKind::Movement || b.kind == CorrectionKind::MoveByTime) {
                    LogText("ThrCor_0x3000 - timeout moving");
                } else {
                    LogValue("Timeout waiting acquisition", static_cast<int>(now - lastLineMs));
                    SetLastResult(KVX_ERR_GENERIC);
                }
                ok = false;
                break;
            }
            if (ended && stream.acq.error.load(std::memory_order_acquire)) {
                LogText("ThrCor_0x3000 - acquisition end");
                ok = true;
                break;
            }
            if (stream.sequenceStopped.load(std::memory_order_acquire)) {
                ok = true;
                break;
            }

            // Stage one: split what arrived, in batches while the stream runs.
            std::int32_t ready = arrived;
            if (!ended && b.lineCheck) ready = std::min(ready, split + kLineCheckStep);
            if (ready > split && (ready - split > kBatchLines || ended)) {
                const std::int32_t first = split;
                // The raw lines as they came, before the split overwrites them.
                if (debugGlitch) DebugGlitchImage(b, glitchImage, first, ready - first);
                for (; split < ready; ++split) splitter.Split(split, received);
                if (b.checkLines != nullptr) b.checkLines(b, first, split - first);
                Publish(b, split);
            }
            // Stage two: correct what stage one split.
            while (corrected < split) {
                std::int32_t step = split - corrected;
                if (!ended && b.lineCheck) step = std::min(step, kLineCheckStep);
                CorrectLines(correctors, corrected, step);
                corrected += step;
            }
            if (corrected >= total || (ended && corrected >= arrived)) {
                ok = true;
                break;
            }
            platform::Sleep(period);
        }
        b.realignedBytes = splitter.Offset();
        b.markerLost = splitter.MarkerLost();
        if (ok) LogText("ThrCor_0x3000 - end ok");
    } catch (...) {
        LogText("ThrCor_0x3000 - exception");
        ok = false;
    }
    Finish(b, ok);
}

// Firmware below 0x3000 publishes the received count under a lock shared
// with other processes; whole lines below it are taken and corrected, with
// a pause per arrived line that keeps the older devices' buffers flowing.
void ThrCorOld(CorrectionBlock* block) {
    if (!Begin(block, "correction thread, missing parameter", "correction with invalid LineStep"))
        return;
    CorrectionBlock& b = *block;
    bool ok = false;
    try {
        const StreamState& stream = *b.stream;
        const std::size_t length = b.rawLineLength;
        const auto total =
            static_cast<std::int32_t>(std::min<std::size_t>(b.transferLength / length, 0x7FFFFFFF));
        LineSplitter splitter(b, SplitOptions{});
        Correctors correctors = MakeCorrectors(b);
        const std::unique_ptr<platform::ProcessLock> lock =
            device::OpenAcqSemaphore(device::Device(), device::Identity());
        std::int32_t done = 0;
        std::int64_t lastLineMs = platform::SteadyNowMs();
        for (;;) {
            if (Stopped(b)) {
                ok = b.kind == CorrectionKind::MoveByTime;
                break;
            }
            const bool ended = stream.acq.done.load(std::memory_order_acquire);
            std::size_t received = 0;
            {
                platform::ProcessLock::Hold hold;
                if (lock) hold = lock->Acquire(kAcqSemaphoreWaitMs);
                if (lock && !hold.held()) LogText("Status error waiting bulk read");
                received = stream.receivedBytes.load(std::memory_order_acquire);
            }
            const auto arrived =
                static_cast<std::int32_t>(std::min<std::size_t>(received / length, total));
            const std::int64_t now = platform::SteadyNowMs();
            if (arrived > done) {
                const std::int32_t fresh = arrived - done;
                for (std::int32_t y = done; y < arrived; ++y) splitter.Split(y, received);
                Publish(b, arrived);
                CorrectLines(correctors, done, fresh);
                done = arrived;
                lastLineMs = now;
                if (b.msecValLines > 0 && !ended)
                    platform::Sleep(static_cast<unsigned>(
                        std::min<std::int64_t>(std::int64_t{fresh} * b.msecValLines, 1000)));
            }
            if (done >= total || (ended && done >= arrived)) {
                ok = true;
                break;
            }
            if (now - lastLineMs > b.waitLimitMs) {
                LogText("Acquisition not responding");
                RequestEnd(b);
                break;
            }
            platform::Sleep(kPeriodMs);
        }
    } catch (...) {
        LogText("correction thread, exception");
        ok = false;
    }
    Finish(b, ok);
}

}  // namespace kovran::acquisition
