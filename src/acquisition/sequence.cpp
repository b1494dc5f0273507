#include "acquisition/sequence.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <system_error>

#include "acquisition/corr_info.h"
#include "api/frame_state.h"
#include "api/log.h"
#include "device/acq_mode.h"
#include "device/control_request.h"
#include "device/status.h"
#include "device/transport.h"
#include "device/utility_commands.h"
#include "platform/clock.h"

namespace kovran::acquisition {
namespace {

constexpr std::uint16_t kFirmware3000 = 0x3000;
constexpr std::uint16_t kFirmwareSequence = 0x4011;
constexpr std::uint32_t kStatusCommand = 3;
constexpr unsigned kStatusBytes = 8;
constexpr unsigned kSamplePauseMs = 1;
constexpr unsigned kFirstLinesPauseMs = 10;
constexpr std::int32_t kFirstLines = 4;
constexpr std::uint16_t kDebugDoubleTrace = 0x200;
constexpr std::uint16_t kDebugThreads = 4;

bool SensorModel(const DeviceIdentity& id) {
    return id.firmware > kFirmware3000 && StatusSensorModel(id);
}

// The sensors of the remapped status word as bits 0 to 2.
std::uint8_t SensorBits(std::uint32_t word) {
    return static_cast<std::uint8_t>((word >> kStatusDoubleSheetShift) & 0x7);
}

// The device's status on a handle of this thread's own, so that the
// samples never wait behind the host's commands on the shared one.
StatusSource DeviceStatus(std::shared_ptr<platform::UsbDevice> handle) {
    return [handle]() -> std::optional<std::uint32_t> {
        const DeviceIdentity id = device::Identity();
        std::array<std::uint8_t, 8> block{};
        if (device::BaseContrlMsgWO(handle.get(), id.firmware, device::kClassConfig, kStatusCommand,
                                    block.data(), kStatusBytes,
                                    platform::Direction::In) != static_cast<int>(kStatusBytes))
            return std::nullopt;
        return device::RemapStatus(device::AssembleStatus(block, id.firmware), id);
    };
}

void WriteTrace(const SequenceBlock& b, const DoubleFeedLines& lines, std::int32_t last) {
    std::FILE* f = std::fopen(b.tracePath.c_str(), "w");
    if (f == nullptr) return;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(f, &std::fclose);
    std::fputs(
        "\tDouble1\tDarkF1\tDarkR1\tDouble2\tDarkF2\tDarkR2\tDouble3\tDarkF3\tDarkR3\tVal1\tVal2\tV"
        "a"
        "l3\n",
        f);
    const std::int32_t from = std::max(lines.Geometry().sensorDistance - 1, 0);
    for (std::int32_t r = from; r < std::min(last, kSequenceLines); ++r) {
        const DoubleFeedLines::Row& row = lines.At(r);
        const auto bit = [](std::uint8_t mask, int s) { return (mask >> s) & 1; };
        std::fprintf(f, "%04d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\n", r,
                     bit(row.bits, 0), bit(row.darkFront, 0), bit(row.darkRear, 0),
                     bit(row.bits, 1), bit(row.darkFront, 1), bit(row.darkRear, 1),
                     bit(row.bits, 2), bit(row.darkFront, 2), bit(row.darkRear, 2), row.count[0],
                     row.count[1], row.count[2]);
    }
}

// Why a thread with nothing to watch ends at once.
const char* NoWorkLine(const SequenceBlock& b) {
    return b.notApplicable ? "ThrSeq_0x3000 - end - not applicable"
                           : "ThrSeq_0x3000 - end - not supported by FW";
}

class SequenceRun {
  public:
    explicit SequenceRun(SequenceBlock& b) : b_(b) {}
    void Run();

  private:
    bool Stopped() const { return b_.stopFlag != nullptr && b_.stopFlag->load(); }
    bool StreamEnded() const { return b_.stream == nullptr || b_.stream->endFlag.load(); }
    // The correction has checked its last line: nothing new can come.
    bool CorrectionDone() const {
        return b_.correction == nullptr || b_.correction->flags.done.load();
    }
    void End(KVXResult result, const char* line) {
        if (line != nullptr) LogText(line);
        b_.result.store(result);
    }
    // The acquisition and the correction threads watch this flag and end
    // the stream for it.
    void RequestEnd() {
        if (b_.stream != nullptr) b_.stream->sequenceStopped.store(true, std::memory_order_release);
    }
    void SetLast(KVXResult r) const {
        // The feeder's acquisition runs while the host reads the document
        // before: its result reaches the host through the next scan.
        if (!b_.background) SetLastResult(r);
    }
    // Takes every line checked since the last look; true on a double feed.
    bool TakeLines(std::uint8_t bits);
    void DoubleFeed(const DoubleFeedFound& found);

    SequenceBlock& b_;
    std::unique_ptr<DoubleFeedLines> lines_;
    std::int32_t taken_ = 0;
};

bool SequenceRun::TakeLines(std::uint8_t bits) {
    const std::int32_t checked =
        std::min(b_.linesChecked.load(std::memory_order_acquire), kSequenceLines);
    const auto dark = [](const std::array<std::atomic<std::uint8_t>, kSequenceLines>& marks) {
        return [&marks](std::int32_t line) -> std::uint8_t {
            if (line < 0 || line >= kSequenceLines) return 0;
            return marks[static_cast<std::size_t>(line)].load(std::memory_order_relaxed);
        };
    };
    for (; taken_ < checked; ++taken_) {
        const auto found =
            lines_->Take(taken_, bits, dark(b_.darkFront), dark(b_.darkRear), b_.doubleFeedApplies);
        if (found) {
            ++taken_;
            DoubleFeed(*found);
            return true;
        }
    }
    return false;
}

void SequenceRun::DoubleFeed(const DoubleFeedFound& found) {
    b_.run.store(false);
    RequestEnd();
    b_.result.store(KVX_ERR_DOUBLE_FEED);
    SetLast(KVX_ERR_DOUBLE_FEED);
    if (b_.buzzer && b_.buzzerTone != 0) {
        char line[64];
        std::snprintf(line, sizeof line, "buzzer for double %d - %d ms", b_.buzzerTone,
                      b_.buzzerMs);
        LogText(line);
        // A buzzer command that fails sets the last result; the feeder's
        // acquisition leaves the host's own, as everywhere else.
        const std::int32_t kept = LastResult();
        if (b_.buzz) {
            b_.buzz(b_.buzzerTone, b_.buzzerMs);
            b_.buzz(0, 0);
        } else {
            device::Buzz(b_.buzzerTone, b_.buzzerMs);
            device::Buzz(0, 0);
        }
        std::int32_t now = LastResult();
        if (b_.background && now != kept) Frame().lastResult.compare_exchange_strong(now, kept);
    }
    char line[96];
    std::snprintf(line, sizeof line, "ThrSeq - double feed (%d at 300 dpi) detected on photo %d",
                  At300(found.count, b_.frontDpiV), found.sensor + 1);
    LogPair("err - ", line);
}

void SequenceRun::Run() {
    if (LogDebug(kDebugThreads)) LogText("ThrSeq_0x3000 - start");
    b_.run.store(true);
    b_.flags.running.store(true);
    b_.result.store(KVX_OK);
    if (!SequenceHasWork(b_)) {
        End(KVX_OK, NoWorkLine(b_));
        return;
    }
    StatusSource status = b_.status;
    if (!status) {
        std::shared_ptr<platform::UsbDevice> handle =
            device::OpenDevice(device::Identity().path, device::OpenRetry::No);
        if (!handle) {
            const std::int32_t last = LastResult();
            End(last < 0 ? last : KVX_ERR_GENERIC, "ThrSeq_0x3000 - end - error");
            return;
        }
        status = DeviceStatus(std::move(handle));
    }
    lines_ = std::make_unique<DoubleFeedLines>(GeometryFor(b_.frontDpiV));
    const std::int32_t limit = lines_->Geometry().limit;
    status();

    platform::WaitUntil(
        [&] {
            return b_.linesChecked.load(std::memory_order_acquire) >= kFirstLines || Stopped() ||
                   (b_.stream != nullptr && b_.stream->acq.done.load()) || CorrectionDone();
        },
        static_cast<unsigned>(std::max<std::int64_t>(b_.firstLinesWaitMs, 0)), kFirstLinesPauseMs);
    LogText("ThrSeq_0x3000 - go");

    bool doubleFeed = false;
    for (;;) {
        if (Stopped()) break;
        // Whether every line was checked is read before the last look, so
        // the last look takes them all.
        const bool last = StreamEnded() && CorrectionDone();
        platform::Sleep(kSamplePauseMs);
        const std::optional<std::uint32_t> word = status();
        if (!word) {
            LogText("ThrSeq - status error");
            b_.result.store(KVX_ERR_GENERIC);
            SetLast(KVX_ERR_GENERIC);
            RequestEnd();
            break;
        }
        if (TakeLines(SensorBits(*word))) {
            doubleFeed = true;
            break;
        }
        if (last) break;
    }

    if (LogDebug(kDebugDoubleTrace) && !b_.tracePath.empty()) WriteTrace(b_, *lines_, taken_);
    if (!doubleFeed) {
        for (int s = 0; s < kDoubleSheetSensors; ++s) {
            const std::int32_t highest = lines_->Highest(s);
            if (highest <= limit / 4) continue;
            char line[64];
            std::snprintf(line, sizeof line, "DoubleFeed (%d at 300 dpi) on photo %d",
                          At300(highest, b_.frontDpiV), s + 1);
            LogText(line);
        }
    }
    LogText("ThrSeq_0x3000 - end ok");
}

}  // namespace

bool PrepareSequence(SequenceBlock& b, const SequenceCall& call, const AcqSettings& settings,
                     const ImageSet& records) {
    const DeviceIdentity id = device::Identity();
    if (!SensorModel(id)) return false;
    const ScanSettings& scan = settings.scan;
    const bool ordinary = call.purpose == AcqPurpose::Ordinary;
    const bool strip = settings.mode.request.cmc7Strip;
    b.background = call.background;
    b.notApplicable =
        !ordinary || call.direction == ScanDirection::Backward || (!strip && !scan.doubleFeed);
    b.sequenceOption = strip && scan.sequenceCheck && id.firmware >= kFirmwareSequence &&
                       id.capabilities.micrHeadPresent;
    b.doubleFeedApplies =
        ordinary && !b.notApplicable && id.capabilities.doubleFeedSensor && scan.doubleFeed;
    // A black-reference level of -1 runs the dark windows on every
    // firmware; any other on firmware up to it.
    b.darkWindows = b.doubleFeedApplies &&
                    (scan.doubleFeedBlackVe == -1 || id.firmware <= scan.doubleFeedBlackVe);
    b.frontDpiV = records[kFront].dpiV > 0 ? records[kFront].dpiV : 300;
    const CorrInfoRecord& corr = CorrInfos();
    for (int side : {kRear, kFront}) {
        const CorrInfo& info = corr.sides[static_cast<std::size_t>(side)];
        b.thresholds[static_cast<std::size_t>(side)] =
            ThresholdsFrom(info.blackLevel, info.whiteLevel, !info.white.empty());
    }
    b.buzzer = id.capabilities.buzzer;
    b.buzzerTone = scan.valDouble;
    b.buzzerMs = static_cast<std::uint16_t>(std::min<std::uint32_t>(scan.mSecDouble, 0xFFFF));
    b.tracePath = settings.configDir.empty() ? "" : settings.configDir + "/double.txt";
    return true;
}

bool SequenceHasWork(const SequenceBlock& b) {
    return !b.notApplicable && (b.sequenceOption || b.doubleFeedApplies);
}

void EndSequenceUnstarted(SequenceBlock& b) {
    if (LogDebug(kDebugThreads)) LogText("ThrSeq_0x3000 - start");
    LogText(NoWorkLine(b));
    b.run.store(false);
    b.result.store(KVX_OK);
    b.flags.ok.store(true);
    b.flags.done.store(true);
}

void AttachLineCheck(SequenceBlock& b, CorrectionBlock& cor) {
    cor.sequence = &b;
    cor.lineCheck = b.doubleFeedApplies;
    cor.checkLines = &CheckDarkWindows;
}

void CheckDarkWindows(CorrectionBlock& cor, std::int32_t first, std::int32_t lines) {
    SequenceBlock* b = cor.sequence;
    if (b == nullptr || lines <= 0) return;
    if (b->darkWindows && first < kSequenceLines) {
        const std::int32_t count = std::min(lines, kSequenceLines - first);
        const auto mark = [&](int side, std::array<std::atomic<std::uint8_t>, kSequenceLines>& to,
                              SensorFace face) {
            const ImageRecord& r = cor.records[static_cast<std::size_t>(side)];
            if (!r.enabled) return;
            const std::uint8_t m =
                DarkWindows(r, face, first, lines, b->thresholds[static_cast<std::size_t>(side)]);
            for (std::int32_t y = first; y < first + count; ++y)
                to[static_cast<std::size_t>(y)].store(m, std::memory_order_relaxed);
        };
        mark(kFront, b->darkFront, SensorFace::Front);
        mark(kRear, b->darkRear, SensorFace::Rear);
    }
    b->linesChecked.store(first + lines, std::memory_order_release);
}

bool StartSequenceThread(SequenceBlock& b, std::atomic<bool>& active) {
    active.store(true);
    try {
        b.thread = std::thread([&b] { ThrSeq_0x3000(&b); });
    } catch (const std::system_error&) {
        active.store(false);
        LogText("error creating sequence thread");
        return false;
    }
    return true;
}

void JoinSequenceThread(SequenceBlock& b, std::atomic<bool>& active) {
    if (b.thread.joinable()) b.thread.join();
    active.store(false);
}

void ThrSeq_0x3000(SequenceBlock* block) {
    if (block == nullptr) return;
    try {
        SequenceRun(*block).Run();
    } catch (...) {
        LogText("ThrSeq_0x3000 - exception");
        block->result.store(KVX_ERR_GENERIC);
    }
    block->run.store(false);
    block->flags.ok.store(block->result.load() >= 0);
    block->flags.done.store(true);
    block->flags.running.store(false);
}

}  // namespace kovran::acquisition
