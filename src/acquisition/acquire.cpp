#include "acquisition/acquire.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "acquisition/images.h"
#include "acquisition/inkjet_hooks.h"
#include "acquisition/sequence.h"
#include "api/frame_state.h"
#include "api/log.h"
#include "api/settings.h"
#include "device/acq_mode.h"
#include "device/control_request.h"
#include "device/ep0_lock.h"
#include "device/status.h"
#include "device/transport.h"
#include "platform/clock.h"
#include "platform/sys_error.h"
#include "platform/usb_vendors.h"

namespace kovran::acquisition {
namespace {

constexpr std::uint16_t kFirmware3000 = 0x3000;
constexpr std::uint16_t kFirmwareThreads = 0x2100;
constexpr std::uint16_t kFirmwareThreadsEarly = 0x2021;
constexpr std::int64_t kMaxHeightLines = 65535;
constexpr std::int64_t kAcqExtraMs = 500;
constexpr std::int64_t kMoveExtraMs = 10;
constexpr std::int64_t kCalibrationExtraMs = 5000;
constexpr unsigned kAcqWaitLimitMs = 4000;
constexpr unsigned kCorWaitLimitMs = 120000;
constexpr unsigned kSeqWaitLimitMs = 4000;
constexpr unsigned kConfirmDocumentMs = 300;
constexpr std::uint32_t kEnableDevice = 9;
constexpr std::size_t kMovementScratch = 1024;

bool Moving(AcqPurpose p) {
    return p == AcqPurpose::MoveByTime || p == AcqPurpose::Movement;
}

bool EnableModel(const DeviceIdentity& id) {
    if (id.vid != platform::kMainVendor) return false;
    switch (id.pid) {
        case 3:
        case 4:
        case 8:
        case 9:
        case 14:
            return true;
        default:
            return false;
    }
}

// A worker of this acquisition, always joined.
class Worker {
  public:
    template <class Body, class Arg>
    bool Start(Body body, Arg* arg, std::atomic<bool>& active) {
        active_ = &active;
        active.store(true);
        try {
            thread_ = std::thread(body, arg);
        } catch (const std::system_error&) {
            active.store(false);
            return false;
        }
        return true;
    }
    bool Started() const { return thread_.joinable(); }
    void Join() {
        if (thread_.joinable()) thread_.join();
        if (active_ != nullptr) active_->store(false);
    }
    ~Worker() { Join(); }

  private:
    std::thread thread_;
    std::atomic<bool>* active_ = nullptr;
};

// Joins a worker. It ends by itself (its loop reads the end flag and keeps
// its own limit); one that took longer than its limit is reported.
bool JoinWorker(Worker& w, const WorkerFlags& flags, unsigned limitMs, const char* name,
                const char* timeoutLine) {
    if (!w.Started()) return true;
    const std::int64_t start = platform::SteadyNowMs();
    w.Join();
    bool ok = true;
    if (platform::SteadyNowMs() - start > static_cast<std::int64_t>(limitMs)) {
        LogText(timeoutLine);
        ok = false;
    }
    if (!flags.done.load()) LogTriple("war - ", name, "end not set");
    return ok;
}

std::size_t RoundUp(std::size_t v, std::size_t unit) {
    return unit == 0 ? v : (v + unit - 1) / unit * unit;
}

// Notes in the working set's memory how far this acquisition wrote: the
// raw stream into the front's lines, the planar lines of each side split
// from the lines received, and the magnetic samples.
void NoteStreamWrites(ImageSet& work, const StreamState& stream, const CorrectionBlock& cor) {
    ImageRecord& front = work[kFront];
    const std::size_t touched = stream.touchedBytes.load(std::memory_order_acquire);
    if (front.alloc && front.write != nullptr)
        front.alloc->NoteWritten(static_cast<std::size_t>(front.write - front.alloc->Bytes()) +
                                 touched);
    const std::size_t received = stream.receivedBytes.load(std::memory_order_acquire);
    const std::size_t lines = received / std::max<std::size_t>(cor.rawLineLength, 1) + 1;
    for (const ImageRecord& r : work)
        if (r.alloc && r.data != nullptr)
            r.alloc->NoteWritten(static_cast<std::size_t>(r.data - r.alloc->Bytes()) +
                                 lines * r.stride);
    if (cor.cmc7 != nullptr && Images().cmc7)
        Images().cmc7->NoteWritten(cor.cmc7Samples.load(std::memory_order_acquire));
}

// A post-processing that failed may have left lines its records no longer
// describe: the whole memory counts as written.
void NoteAllWritten(const ImageSet& work) {
    for (const ImageRecord& r : work)
        if (r.alloc) r.alloc->NoteWritten(r.alloc->Capacity());
}

// The device ends a document on a line's boundary. A stream that ended
// (short of its buffer) anywhere else gained or lost bytes that no
// re-alignment accounted for: every line after the slip is torn, and the
// document is no page. With the hardware aligner every whole line's marker
// was checked instead, and the count says nothing more: a byte lost in the
// last, part line leaves the stream off the boundary, yet that line is
// dropped and every line kept is in place.
bool Torn(const AcquireCall& call, const CorrectionBlock& cor, std::size_t received,
          std::size_t transfer) {
    if (call.purpose != AcqPurpose::Ordinary) return false;
    if (cor.hardwareAligner) {
        if (cor.markerLost) LogText("err - stream lost its line markers");
        return cor.markerLost;
    }
    const std::size_t rawLine = cor.rawLineLength;
    if (rawLine == 0 || received >= transfer) return false;
    const auto over = static_cast<std::int64_t>(received) - cor.realignedBytes;
    const std::int64_t off = over % static_cast<std::int64_t>(rawLine);
    if (off == 0) return false;
    LogValue("err - stream ended inside a line, bytes", static_cast<int>(off));
    return true;
}

}  // namespace

KVXResult WaitForDocument(const AcquireCall& call, const AcqSettings& settings) {
    const DeviceIdentity id = device::Identity();
    const ScanSettings& scan = settings.scan;
    const std::int32_t w = std::max<std::int32_t>(scan.msecWaitDoc, 0);
    const bool inputSensor = id.capabilities.adf;
    if (inputSensor && !Moving(call.purpose) && call.purpose != AcqPurpose::Calibration &&
        !settings.secondPart) {
        const unsigned interval = w == 0 ? 50 : w < 50 ? 1 : w < 200 ? 10 : 50;
        const std::int64_t polls = w == 0 ? -1 : std::max<std::int64_t>(w / interval, 1);
        for (std::int64_t n = 0;; ++n) {
            if (StopRequested()) return KVX_ERR_ABORTED;
            if (polls >= 0 && n >= polls) {
                LogValue("acquisition timeout 1", w);
                return KVX_ERR_TIMEOUT;
            }
            const std::uint32_t status = device::ReadStatus();
            if (status == 0) return LastResult() < 0 ? LastResult() : KVX_ERR_GENERIC;
            const std::uint32_t present = device::kStatusDocumentAtInput | device::kStatusPhotocell;
            if ((status & present) != 0) {
                platform::Sleep(kConfirmDocumentMs);
                const std::uint32_t again = device::ReadStatus();
                if (again == 0) return LastResult() < 0 ? LastResult() : KVX_ERR_GENERIC;
                if ((again & present) != 0) break;
            }
            platform::Sleep(interval);
        }
    }
    if (EnableModel(id) && !Moving(call.purpose)) {
        const std::uint32_t status = device::ReadStatus();
        if (status != 0 && (status & device::kStatusEnabled) == 0) {
            LogText("enabling device");
            device::ControlMsg(device::kClassConfig, kEnableDevice, nullptr, 0,
                               platform::Direction::Out);
            const std::uint32_t again = device::ReadStatus();
            if ((again & device::kStatusEnabled) == 0) {
                LogText("enable scanner first");
                return KVX_ERR_DEVICE;
            }
        }
    }
    if (LogDebug(4))
        LogText(Images().feederThreadRunning.load() ? "start with ADF thread"
                                                    : "start without ADF thread");
    return KVX_OK;
}

KVXResult RunAcquisitionThreads(ImageSet& work, const AcquireCall& call,
                                const AcqSettings& settings) {
    const DeviceIdentity id = device::Identity();
    ImagesRecord& images = Images();
    ScanRecord& state = ScanState();
    const ScanSettings& scan = settings.scan;
    const AcqModeRecord& mode = settings.mode;
    ImageRecord& front = work[kFront];

    StreamState stream;
    CorrectionBlock cor;
    AcqBlock acq;
    // Large (the dark marks of every line): kept off the stack.
    auto seq = std::make_unique<SequenceBlock>();

    if (!PrepareCorrectionCoefficients(call.purpose, settings)) {
        LogText("error creating correction coef");
        return KVX_ERR_GENERIC;
    }
    struct FreeCoefficients {
        ~FreeCoefficients() { FreeCorrectionCoefficients(); }
    } freeCoefficients;

    device::DeviceHandle bulk = device::OpenDevice(id.path, device::OpenRetry::No);
    if (!bulk) {
        LogText("Bulk read with invalid device");
        return KVX_ERR_GENERIC;
    }
    // Paper movement keeps nothing of what it reads.
    std::vector<std::uint8_t> scratch;
    if (Moving(call.purpose)) scratch.assign(kMovementScratch, 0);
    std::uint8_t* target = Moving(call.purpose) ? scratch.data() : front.write;
    if (target == nullptr) {
        LogText("Null bulk buffer");
        return KVX_ERR_INV_PARAMETER;
    }
    const std::size_t strip = mode.request.cmc7Strip ? mode.stripBytes : 0;
    const std::size_t rawLine = static_cast<std::size_t>(front.stride) + strip;
    std::size_t transfer = static_cast<std::size_t>(std::max(front.size, 0));
    if (strip != 0)
        transfer = RoundUp(static_cast<std::size_t>(front.Height) * rawLine,
                           std::max<std::size_t>(id.wBlock, 1));
    // The lead line and the spare lines are inside the allocation; the
    // stream never runs past it, whatever the rounding gave.
    transfer = std::min(transfer, static_cast<std::size_t>(std::max(front.allocSize, 0)));
    if (transfer == 0 && !Moving(call.purpose)) {
        if (settings.secondPart) return KVX_OK;
        LogText("Wrong bulk size request");
        return KVX_ERR_INV_PARAMETER;
    }

    std::unique_ptr<platform::ProcessLock> semaphore;
    if (id.firmware < kFirmware3000) {
        semaphore = device::OpenAcqSemaphore(device::Device(), id);
        if (!semaphore) {
            LogText("error creating semaphore");
            return KVX_ERR_GENERIC;
        }
    }

    cor.records = work;
    cor.raw = front.write;
    cor.transferLength = Moving(call.purpose) ? 0 : transfer;
    cor.rawLineLength = rawLine;
    cor.waitLimitMs = kCorWaitLimitMs;
    cor.kind = call.purpose;
    // The models with the double-sheet sensors check the lines as they are
    // corrected: set before the options, which give way to the check.
    bool sequence = PrepareSequence(
        *seq, {.purpose = call.purpose, .direction = call.direction, .background = call.background},
        settings, work);
    if (sequence && !SequenceHasWork(*seq)) {
        EndSequenceUnstarted(*seq);
        sequence = false;
    }
    if (sequence) AttachLineCheck(*seq, cor);
    FillCorrectionOptions(cor, settings);
    cor.stripBytes = strip;
    if (strip != 0 && images.cmc7) {
        cor.cmc7 = images.cmc7->Bytes();
        cor.cmc7Capacity = images.cmc7->Size();
    }
    cor.stream = &stream;
    cor.endRequest = &stream.endFlag;
    cor.stopFlag = &state.stopRequested;

    acq.stream = &stream;
    acq.device = bulk.get();
    acq.identity = id;
    acq.target = target;
    acq.transferLength = transfer;
    acq.rawLineLength = rawLine;
    acq.frontDpiV = front.dpiV;
    acq.purpose = call.purpose;
    acq.sidesOff = !work[kFront].enabled && !work[kRear].enabled;
    acq.twoPart = settings.twoPartAcq;
    acq.firstPart = settings.twoPartAcq && !settings.secondPart;
    acq.direction = call.direction;
    acq.mode = scan.acq.mode;
    acq.request25 = scan.acq.request25;
    acq.blockSize = &state.blockSize;
    acq.stopRequested = &state.stopRequested;
    acq.semaphore = semaphore.get();
    {
        std::int64_t limit =
            static_cast<std::int64_t>(scan.secAcqTimeout) * 1000 + scan.msecAcqTimeoutExtra;
        limit += Moving(call.purpose) ? kMoveExtraMs : kAcqExtraMs;
        if (call.purpose == AcqPurpose::Calibration) limit += kCalibrationExtraMs;
        acq.limitMs = std::max<std::int64_t>(limit, 1);
    }
    acq.start = BuildStartCommand({.records = &work,
                                   .transferLength = transfer,
                                   .purpose = call.purpose,
                                   .direction = call.direction,
                                   .secondPart = settings.secondPart,
                                   .settings = &settings});
    stream.documentComplete.store(true);

    PublishActiveStream(state, &stream);
    struct ForgetStream {
        ScanRecord& s;
        ~ForgetStream() { PublishActiveStream(s, nullptr); }
    } forget{state};

    seq->stream = &stream;
    seq->correction = &cor;
    seq->stopFlag = &state.stopRequested;

    // Declared after the blocks they read, so that they are joined first
    // on every path.
    struct JoinSequence {
        SequenceBlock& b;
        std::atomic<bool>& active;
        ~JoinSequence() { JoinSequenceThread(b, active); }
    } joinSequence{*seq, state.workers.seq};
    Worker acqThread;
    Worker corThread;
    bool failed = false;
    // The whole set is marked before the first of them runs.
    state.workers.seq.store(sequence);
    state.workers.acq.store(true);
    state.workers.cor.store(true);
    state.workers.count.store(sequence ? 3 : 2);
    state.workers.acquisitions.fetch_add(1, std::memory_order_release);
    // The sequence thread starts first: it only waits for lines, so it is
    // at its first pause before the document moves, however briefly the
    // acquisition runs.
    if (sequence && !StartSequenceThread(*seq, state.workers.seq)) {
        state.workers.count.fetch_sub(1);
        stream.endFlag.store(true);
        failed = true;
    }
    if (!acqThread.Start(id.firmware >= kFirmware3000 ? &ThrAcq_0x3000 : &ThrAcqOld, &acq,
                         state.workers.acq)) {
        state.workers.count.fetch_sub(1);
        LogText("error creating acquisition thread");
        stream.acq.error.store(true);
        stream.endFlag.store(true);
        // The correction thread ends on a done acquisition, not on the
        // end flag: without it, it would wait out its whole limit.
        stream.acq.done.store(true);
        failed = true;
    }
    if (!corThread.Start(id.firmware >= kFirmware3000 ? &ThrCor_0x3000 : &ThrCorOld, &cor,
                         state.workers.cor)) {
        state.workers.count.fetch_sub(1);
        LogText("error creating correction thread");
        cor.flags.error.store(true);
        // The sequence thread checks lines until the correction is done.
        cor.flags.done.store(true);
        stream.endFlag.store(true);
        failed = true;
    }

    const bool calibrating = call.purpose == AcqPurpose::Calibration;
    // The acquisition thread keeps the scan's time limit itself: it polls
    // the stream every few milliseconds on the installed clock, so it always
    // ends, and joining it is the wait for the document.
    bool joinOk =
        JoinWorker(acqThread, stream.acq, static_cast<unsigned>(acq.limitMs) + kAcqWaitLimitMs,
                   "\t\t\tacq", "timeout waiting acq thread end A");
    bool waitOk = true;
    if (acq.timedOut.load()) {
        stream.endFlag.store(true);
        if (!Moving(call.purpose) && !calibrating && !failed) {
            LogText("acquisition timeout Z");
            waitOk = false;
        }
    }
    stream.endFlag.store(true);
    if (!call.background) state.acquisitionEnded.store(true);
    joinOk = JoinWorker(corThread, cor.flags, kCorWaitLimitMs, "\t\tcor",
                        "timeout waiting cor thread end A") &&
             joinOk;
    // The sequence thread takes the lines until the correction is done:
    // its own limit runs from there.
    if (sequence) {
        const std::int64_t seqStart = platform::SteadyNowMs();
        JoinSequenceThread(*seq, state.workers.seq);
        if (platform::SteadyNowMs() - seqStart > static_cast<std::int64_t>(kSeqWaitLimitMs)) {
            LogText("timeout waiting seq thread end A");
            joinOk = false;
        }
        if (!seq->flags.done.load()) LogTriple("war - ", "\t\tseq", "end not set");
    }
    // The pipe is no longer read once the threads are joined.
    bulk.reset();
    if (!Moving(call.purpose)) NoteStreamWrites(work, stream, cor);

    if (StopRequested() && call.purpose != AcqPurpose::MoveByTime) return KVX_ERR_ABORTED;

    const std::size_t received = stream.receivedBytes.load(std::memory_order_acquire);
    const auto lines = static_cast<std::int32_t>(std::min<std::size_t>(
        received / rawLine, static_cast<std::size_t>(std::max(front.allocSize, 0)) /
                                std::max<std::size_t>(front.stride, 1)));
    for (int side : {kRear, kFront, kBacklight}) {
        ImageRecord& r = work[static_cast<std::size_t>(side)];
        const bool on = side == kFront || (side == kRear && !scan.rearOff) ||
                        (side == kBacklight && scan.backlightOn);
        r.Height = on ? static_cast<std::uint16_t>(std::min<std::int64_t>(lines, 65535)) : 0;
    }
    const KVXResult sequenceResult = sequence ? seq->result.load() : KVX_OK;
    // The feeder's acquisition leaves the host's record alone.
    if (!call.background) state.sequenceResult = sequenceResult;
    if (sequenceResult < 0) return sequenceResult;
    const bool ok = stream.acq.ok.load() && cor.flags.ok.load() && waitOk && joinOk;
    if (!ok) {
        const std::int32_t last = LastResult();
        return last < 0 ? last : KVX_ERR_GENERIC;
    }
    if (Torn(call, cor, received, transfer)) {
        NoteAllWritten(work);
        return KVX_ERR_GENERIC;
    }
    const KVXResult processed = PostProcess(work, call, stream.documentComplete.load(), settings);
    if (processed < 0)
        NoteAllWritten(work);
    else
        NoteRecordLines(work);
    return processed;
}

namespace {

KVXResult AcquireDocument(const AcquireCall& call, bool* printing) {
    ImagesRecord& images = Images();
    ScanRecord& state = ScanState();
    // The feeder's background acquisition leaves the host's state alone:
    // the host reads it meanwhile.
    if (!call.background) {
        images.buffersConsumed = true;
        state.sequenceResult = KVX_OK;
    }
    state.direction.store(call.direction);
    state.documentHeld.store(false);

    if (!device::HasExternalPower()) {
        LogText("The device is missing external power");
        return KVX_ERR_NO_POWER;
    }
    if (call.height > kMaxHeightLines) {
        LogValue("invalid height", call.height);
        LogValue("dpi", images.myImg[kFront].dpiV);
        return KVX_ERR_INV_PARAMETER;
    }
    if (!call.background) {
        SetLastResult(KVX_OK);
        bool setUp = device::SetUpAcqMode(call.height);
        if (setUp && call.height != 0 && StampArmed()) {
            *printing = true;
            setUp = StartInkjetPrint();
        }
        if (!setUp) {
            LogText("init image");
            const std::int32_t last = LastResult();
            return last < 0 ? last : KVX_ERR_GENERIC;
        }
    }
    // A host's acquisition reads the settings once the mode is set up; the
    // feeder's brought its own, taken when it was armed.
    std::optional<AcqSettings> own;
    if (call.settings == nullptr) own = TakeAcqSettings();
    const AcqSettings& settings = call.settings != nullptr ? *call.settings : *own;
    ImageSet& work = call.background ? images.nextImg : images.myImg;
    const AcqModeRecord& mode = settings.mode;
    for (int side : {kRear, kFront, kBacklight}) {
        ImageRecord& r = work[static_cast<std::size_t>(side)];
        const auto i = static_cast<std::size_t>(side);
        if (Moving(call.purpose))
            r.enabled = false;
        else if (call.purpose == AcqPurpose::Calibration)
            r.enabled = true;
        else
            r.enabled = mode.request.requestedDpi[i] > 0 || mode.request.readingNeeds[i].dpiH > 0;
    }
    if (work[kFront].size == 0 && work[kRear].size == 0 && !Moving(call.purpose)) {
        for (ImageRecord& r : work) r.Height = 0;
        return KVX_OK;
    }
    if (!call.background) {
        if (!device::HasExternalPower()) {
            LogText("The device is missing external power");
            return KVX_ERR_NO_POWER;
        }
        const KVXResult waited = WaitForDocument(call, settings);
        if (waited != KVX_OK) return waited;
    }
    if (settings.twoPartAcq)
        LogText(settings.secondPart ? "start acquisition - second part"
                                    : "start acquisition - first part");
    else
        LogText("start acquisition");

    const DeviceIdentity id = device::Identity();
    if (id.firmware < kFirmwareThreads && id.firmware != kFirmwareThreadsEarly) {
        // The two-pipe stream of the oldest scanners is not driven.
        LogPair("err - ", "acquisition of two-pipe firmware not supported");
        LogValue("firmware", id.firmware, Radix::Hex);
        return KVX_ERR_SW_UNSUPPORTED;
    }
    if (id.firmware < kFirmware3000) SendOlderSetUp(work, settings);
    const KVXResult r = RunAcquisitionThreads(work, call, settings);
    if (r < 0) {
        if (LastResult() >= 0 && r == KVX_ERR_GENERIC) LogText("aquiring image");
        LogValue("AcquireImg returns", r);
    }
    return r;
}

}  // namespace

KVXResult AcquireImg(const AcquireCall& call) {
    if (call.background) {
        bool printing = false;
        return AcquireDocument(call, &printing);
    }
    ScanRecord& state = ScanState();
    state.acquisitionEnded.store(false);
    // Also when the acquisition throws: a printing thread still streaming
    // ends with it instead of waiting for a stop nobody sends.
    struct EndAcquisition {
        ScanRecord& s;
        ~EndAcquisition() { s.acquisitionEnded.store(true); }
    } endAcquisition{state};
    bool printing = false;
    const KVXResult r = AcquireDocument(call, &printing);
    // Whatever ended the document, the printing thread stops with it and
    // the print is checked, so that no print is left running or uncounted.
    state.acquisitionEnded.store(true);
    return printing ? EndOfPrintedDocument(r) : r;
}

}  // namespace kovran::acquisition
