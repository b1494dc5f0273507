// The print of one document: the type 1 stamp sent whole before the
// document moves, the type 2 nozzle data streamed by the printing thread
// while it moves, the check after the document, and the stop.
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "acquisition/scan_state.h"
#include "api/frame_state.h"
#include "api/log.h"
#include "device/counters.h"
#include "device/device_record.h"
#include "device/transport.h"
#include "inkjet/printer.h"
#include "inkjet/stamp.h"
#include "platform/clock.h"
#include "platform/sys_error.h"

namespace kovran::inkjet {

namespace {

constexpr std::uint16_t kFirmwareScaledDensity = 0x30FF;  // above: both densities must be set
constexpr std::uint16_t kFirmwarePrintResult = 0x5008;    // above: command 86 answers
constexpr unsigned kType1PollMs = 10;
constexpr unsigned kType1Polls = 101;
constexpr unsigned kThreadPollMs = 1;
constexpr unsigned kThreadStartLimitMs = 5000;

void SendSetUp(int start, int second, std::uint8_t density, std::uint8_t fire, bool* sent) {
    const auto s = static_cast<std::uint16_t>(std::clamp(start, 0, 0xFFFF));
    const auto s2 = static_cast<std::uint16_t>(std::clamp(second, 0, 0xFFFF));
    const std::uint8_t setUp[8] = {
        static_cast<std::uint8_t>(s & 0xFF),  static_cast<std::uint8_t>(s >> 8),  density, fire,
        static_cast<std::uint8_t>(s2 & 0xFF), static_cast<std::uint8_t>(s2 >> 8), 0,       0};
    *sent = CommandOut(kPrintSetUp, setUp, sizeof setUp);
}

// One overlapped write of the whole type 1 stamp, polled to its end.
bool SendType1Columns(std::vector<std::uint8_t>& columns, std::size_t bytes) {
    device::DeviceHandle handle =
        device::OpenDevice(device::Identity().path, device::OpenRetry::No);
    if (!handle) {
        LogPairValue("err - ", "bulk write error 1a", platform::kErrorFileNotFound);
        return false;
    }
    platform::BulkTransferId id = 0;
    const int submitted = handle->SubmitBulk(platform::BulkPipe::Out, columns.data(), bytes, &id);
    if (submitted != platform::kErrorSuccess && submitted != platform::kErrorIoPending) {
        LogPairValue("err - ", "bulk write error 1a", submitted);
        return false;
    }
    for (unsigned poll = 0; poll < kType1Polls; ++poll) {
        std::size_t done = 0;
        const int r = handle->PollBulk(id, &done);
        if (r == platform::kErrorSuccess) return true;
        if (r != platform::kErrorIoIncomplete) {
            LogValue("BlockSize ", static_cast<int>(bytes));
            LogPairValue("err - ", "bulk write error 2", r);
            return false;
        }
        platform::Sleep(kType1PollMs);
    }
    LogPair("err - ", "Stamp not completelly sent");
    handle->CancelBulk(platform::BulkPipe::Out);
    return false;
}

bool StartType1(PrinterRecord& p) {
    const std::uint16_t firmware = device::Identity().firmware;
    if (PrepareType1Stamp({.stampBufferSize = p.stampBufferSize, .scanMode = 0}) != KVX_OK)
        return false;
    int q = 100;
    const bool scaled = firmware > kFirmwareScaledDensity
                            ? p.referenceDensity != 0 && p.density != 0
                            : p.referenceDensity != 0;
    if (scaled) q = p.density * 100 / p.referenceDensity;
    if (q <= 0) q = 100;
    const int start = (p.positionBase + p.offset) * 100 / q;
    const int second = (p.secondPositionBase + p.secondOffset) * 100 / q;
    bool sent = false;
    SendSetUp(start, second, p.density, p.fire, &sent);
    if (!sent) return false;
    int columns = 0;
    std::optional<std::vector<std::uint8_t>> packed = PackType1Columns(p.stampBufferSize, &columns);
    if (!packed || columns <= 0) return false;
    p.expectedBytes = static_cast<std::size_t>(columns) * 2;
    // The virtual endorsement of this document draws what was printed,
    // whether or not the stamp is kept for the next one.
    p.printedStamp = Stamp().image;
    if (!SendType1Columns(*packed, std::min(p.expectedBytes, packed->size()))) return false;
    if (!Stamp().settings.keep) DropStampImage();
    if (!Command(kPrinterOn)) return false;
    p.powered = true;
    p.armed = true;
    return true;
}

void SwitchOffType2(PrinterRecord& p) {
    Command(kStopPrinting);
    Command(kPrinterOff);
    p.powered = false;
    p.warm = false;
    p.armed = false;
}

// Best effort: the time-critical class needs a privilege a host seldom has.
void RaisePriority(std::thread& thread) {
    sched_param param{};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    pthread_setschedparam(thread.native_handle(), SCHED_FIFO, &param);
}

bool StartType2(PrinterRecord& p) {
    bool sent = false;
    SendSetUp(2 * p.offset, 0, p.density, p.fire, &sent);
    if (!sent || !WarmUp() || !Command(kStartPrinting) || !CheckStatusWord(kPrintStatus)) {
        SwitchOffType2(p);
        return false;
    }
    JoinPrintThread();
    p.threadStarted.store(false);
    p.threadFinished.store(false);
    p.remainingBytes.store(p.nozzleData.size());
    p.printThread = std::thread(&RunPrintThread,
                                std::make_shared<const std::vector<std::uint8_t>>(p.nozzleData));
    platform::WaitUntil([&] { return p.threadStarted.load(); }, kThreadStartLimitMs, kThreadPollMs);
    RaisePriority(p.printThread);
    return true;
}

}  // namespace

bool StampArmed() {
    return Printer().armed;
}

bool StartPrint() {
    PrinterRecord& p = Printer();
    p.printedThisDocument = false;
    p.expectedBytes = 0;
    p.printedStamp.reset();
    if (p.printingDisabled) {
        p.armed = false;
        return true;
    }
    const DeviceCapabilities caps = device::Identity().capabilities;
    const bool type1 = p.armedKind == PrinterRecord::Kind::One && caps.inkjetType1 && p.type1Ready;
    const bool type2 =
        p.armedKind == PrinterRecord::Kind::Two && caps.inkjetType2 && p.type2Present;
    if (!type1 && !type2) {
        // Set up on a scanner with another printer, or none: nothing to
        // print here, and the scan goes on.
        p.armed = false;
        return true;
    }
    const bool started = type1 ? StartType1(p) : StartType2(p);
    if (!started) {
        p.armed = false;
        return false;
    }
    p.printedThisDocument = true;
    return true;
}

void RunPrintThread(std::shared_ptr<const std::vector<std::uint8_t>> data) {
    PrinterRecord& p = Printer();
    acquisition::ScanRecord& scan = acquisition::ScanState();
    const std::size_t total = data->size();
    std::size_t sent = 0;
    p.threadStarted.store(true);
    struct Finish {
        PrinterRecord& p;
        const std::size_t& total;
        const std::size_t& sent;
        ~Finish() {
            p.remainingBytes.store(total - sent);
            p.threadFinished.store(true);
        }
    } finish{p, total, sent};
    device::DeviceHandle handle =
        device::OpenDevice(device::Identity().path, device::OpenRetry::No);
    if (!handle) {
        Command(kStopPrinting);
        Command(kPrinterOff);
        return;
    }
    std::vector<std::uint8_t> block(kType2Block);
    std::size_t blocks = 0;
    while (sent < total) {
        const std::size_t n = std::min(kType2Block, total - sent);
        std::memcpy(block.data(), data->data() + sent, n);
        platform::BulkTransferId id = 0;
        const int submitted = handle->SubmitBulk(platform::BulkPipe::Out, block.data(), n, &id);
        if (submitted != platform::kErrorSuccess && submitted != platform::kErrorIoPending) {
            LogPairValue("err - ", "bulk write error 1a", submitted);
            Command(kStopPrinting);
            Command(kPrinterOff);
            return;
        }
        for (;;) {
            std::size_t done = 0;
            const int r = handle->PollBulk(id, &done);
            if (r == platform::kErrorSuccess) break;
            if (r != platform::kErrorIoIncomplete) {
                LogValue("BlockSize ", static_cast<int>(blocks));
                LogPairValue("err - ", "bulk write error 2", r);
                return;
            }
            if (scan.stopRequested.load()) {
                LogText("incomplete Stamp for stop");
                handle->CancelBulk(platform::BulkPipe::Out);
                handle->PollBulk(id, &done);
                return;
            }
            if (scan.acquisitionEnded.load()) {
                LogText("incomplete Stamp for acquisition end");
                handle->CancelBulk(platform::BulkPipe::Out);
                handle->PollBulk(id, &done);
                return;
            }
            platform::Sleep(kThreadPollMs);
        }
        sent += n;
        ++blocks;
    }
}

void JoinPrintThread() {
    PrinterRecord& p = Printer();
    if (p.printThread.joinable()) p.printThread.join();
}

KVXResult CheckPrintedStamp() {
    PrinterRecord& p = Printer();
    const DeviceIdentity id = device::Identity();
    if (id.capabilities.inkjetType1 && p.expectedBytes > 0) {
        std::uint8_t reply[8] = {};
        if (!CommandIn(kPrintedCountOrAdReference, reply, sizeof reply)) {
            LogPair("err - ", "error checking printed stamp");
            return KVX_ERR_INKJET_INCOMPLETE;
        }
        const std::uint32_t printed =
            reply[1] | reply[2] << 8 | reply[3] << 16 | static_cast<std::uint32_t>(reply[4]) << 24;
        if (printed < p.expectedBytes) {
            LogPairValue("err - ", "incomplete stamp", static_cast<int>(printed));
            return KVX_ERR_INKJET_INCOMPLETE;
        }
        return KVX_OK;
    }
    if (id.capabilities.inkjetType2) {
        JoinPrintThread();
        const std::size_t remaining = p.remainingBytes.load();
        if (remaining > 0) {
            LogPairValue("err - ", "incomplete stamp - not sent to printer",
                         static_cast<int>(remaining));
            return KVX_ERR_INKJET_INCOMPLETE;
        }
        if (id.firmware > kFirmwarePrintResult) {
            std::uint8_t reply[8] = {};
            if (!CommandIn(kPrintResult, reply, sizeof reply)) {
                LogPair("err - ", "error checking printed stamp");
                return KVX_ERR_INKJET_INCOMPLETE;
            }
            if (reply[1] != 0) {
                LogPair("err - ", "incomplete stamp - not printed");
                return KVX_ERR_INKJET_INCOMPLETE;
            }
        }
    }
    return KVX_OK;
}

KVXResult EndOfDocument(KVXResult scanResult) {
    PrinterRecord& p = Printer();
    if (!p.printedThisDocument) return scanResult;
    p.printedThisDocument = false;
    const KVXResult checked = CheckPrintedStamp();
    // A print counts once, and only when it reached the paper whole.
    if (checked == KVX_OK && scanResult >= 0) device::CountInkjetPrint();
    if (checked != KVX_OK && scanResult >= 0) {
        SetLastResult(checked);
        return checked;
    }
    return scanResult;
}

void StopInkjetType2() {
    PrinterRecord& p = Printer();
    if (!p.armed || !device::Identity().capabilities.inkjetType2) return;
    p.printingDisabled = true;
    Command(kStopPrinting);
    p.armed = false;
    p.warm = false;
}

void StopInkjets() {
    PrinterRecord& p = Printer();
    StopInkjetType2();
    JoinPrintThread();
    if (p.powered && device::Identity().capabilities.inkjetType1) {
        p.printingDisabled = true;
        Command(kPrinterOff);
        p.powered = false;
        p.armed = false;
    }
    if (p.powered) {
        Command(kPrinterOff);
        p.powered = false;
    }
}

}  // namespace kovran::inkjet
