#include "acquisition/thr_acq.h"

#include <algorithm>

#include "api/frame_state.h"
#include "api/log.h"
#include "device/control_request.h"
#include "device/transport.h"
#include "platform/clock.h"
#include "platform/sys_error.h"

namespace kovran::acquisition {
namespace {

using platform::BulkPipe;
using platform::BulkTransferId;
using platform::WinError;

// Not in the transport's table: a read the driver refused for the moment.
constexpr int kErrorNoAccess = 998;

constexpr unsigned kPollMs = 5;
constexpr unsigned kPollTwoPartOldMs = 1;
constexpr int kRetryBudget = 16;
constexpr std::size_t kSmallestLadderBlock = 0x9FFF;
constexpr unsigned kLadderPauseMs = 100;
constexpr unsigned kRetryPauseMs = 100;
constexpr int kNotReadyRetries = 10;
constexpr int kGenFailureRetries = 10;
constexpr std::size_t kMovementRead = 1024;
constexpr unsigned kEndPauseMs = 10;
constexpr unsigned kOldModePauseMs = 50;
constexpr unsigned kSemaphoreWaitMs = 10;
constexpr unsigned kReapMs = 1000;
constexpr std::uint16_t kFirmware3000 = 0x3000;
constexpr std::uint16_t kFirmware3005 = 0x3005;
constexpr std::uint16_t kFirmware4000 = 0x4000;
constexpr std::uint32_t kForcedModeBase = 31;
constexpr std::uint32_t kRequest25 = 25;
constexpr std::uint32_t kRequest39 = 39;

// What differs between the stream of firmware 0x3000 and later and that of
// the older firmware.
struct Protocol {
    const char* name;
    bool old;
};

constexpr Protocol kProtocol3000{.name = "ThrAcq_0x3000", .old = false};
constexpr Protocol kProtocolOld{.name = "ThrAcqOld", .old = true};

std::string Line(const Protocol& p, const char* what) {
    return std::string(p.name) + " - " + what;
}

int Send(AcqBlock& b, std::uint32_t value, std::uint8_t* data = nullptr, unsigned length = 0) {
    return device::ControlMsgOnHandle(b.device, b.identity.firmware, device::kClassAcquisition,
                                      value, data, length, platform::Direction::Out,
                                      device::HandleChoice::CallersFirst);
}

int Send(AcqBlock& b, AcqControl value) {
    return Send(b, static_cast<std::uint32_t>(value));
}

bool Moving(const AcqBlock& b) {
    return b.purpose == AcqPurpose::MoveByTime || b.purpose == AcqPurpose::Movement;
}

// One stream: the queued read, the ladder and the bookkeeping of what has
// arrived.
class Stream {
  public:
    Stream(AcqBlock& b, const Protocol& p) : b_(b), p_(p) {}

    bool Run();
    // Cancels what is pending and reaps it, so that the buffer is no longer
    // written once the thread ends.
    void Abort();
    // Bytes of the target the device may have written.
    std::size_t Touched() const { return std::max(touched_, received_); }

  private:
    enum class Queued { Ok, Failed };
    Queued Queue(char label);
    std::size_t NextLength() const;
    void Publish(std::size_t n);
    // The read just queued ended without a count of what it wrote.
    void Uncounted() { touched_ = std::max(touched_, received_ + length_); }

    AcqBlock& b_;
    const Protocol& p_;
    std::size_t received_ = 0;
    std::size_t touched_ = 0;
    std::size_t length_ = 0;
    BulkTransferId id_ = 0;
    bool pending_ = false;
    int budget_ = kRetryBudget;
    int retries_ = 0;
    std::int64_t start_ = platform::SteadyNowMs();
};

std::size_t Stream::NextLength() const {
    if (b_.sidesOff) return kMovementRead;
    const std::size_t block = b_.blockSize->load();
    return std::min<std::size_t>(block, b_.transferLength - received_);
}

Stream::Queued Stream::Queue(char label) {
    const std::string tag(1, label);
    for (;;) {
        const int r = b_.device->SubmitBulk(BulkPipe::In, b_.target + received_, length_, &id_);
        if (r == platform::kErrorSuccess) {
            pending_ = true;
            if (p_.old && retries_ > 0) LogText("resetting trySmallerBlock for fw0x2XXX");
            return Queued::Ok;
        }
        if (r == platform::kErrorNoSystemResources) {
            if (budget_ > 0 && length_ > kSmallestLadderBlock) {
                --budget_;
                ++retries_;
                device::CancelPipe(b_.device, BulkPipe::In);
                platform::Sleep(kLadderPauseMs);
                // The first refusal may be a passing shortage: the same size
                // is tried once more before it is halved (older firmware
                // halves at once).
                if (p_.old || retries_ >= 2) {
                    length_ = length_ / 32 * 16;
                    b_.blockSize->store(static_cast<std::uint32_t>(length_));
                }
                if (p_.old) {
                    LogPairValue("war - ", "trySmallerBlock", budget_);
                    LogValue(("retring bulk read " + tag + " with BlockSize").c_str(),
                             static_cast<int>(length_));
                } else {
                    LogValue(
                        ("ERROR_NO_SYSTEM_RESOURCES - retry (" + tag + ") with BlockSize").c_str(),
                        static_cast<int>(length_));
                }
                continue;
            }
            if (p_.old)
                LogValue("failed retry for bulk read error ", r);
            else
                LogValue(("ERROR_NO_SYSTEM_RESOURCES - final (" + tag + ") BlockSize").c_str(),
                         static_cast<int>(length_));
            return Queued::Failed;
        }
        if (r == kErrorNoAccess && p_.old && budget_ > 0) {
            --budget_;
            platform::Sleep(kRetryPauseMs);
            continue;
        }
        LogValue(label == 'A' ? "bulk read error 1a" : "bulk read error 1", r);
        return Queued::Failed;
    }
}

void Stream::Publish(std::size_t n) {
    if (p_.old && b_.semaphore != nullptr) {
        // The correction thread of older firmware reads the count under the
        // same lock; a wait that times out still publishes.
        const platform::ProcessLock::Hold hold = b_.semaphore->Acquire(kSemaphoreWaitMs);
        received_ += n;
        b_.stream->receivedBytes.store(received_, std::memory_order_release);
        return;
    }
    received_ += n;
    b_.stream->receivedBytes.store(received_, std::memory_order_release);
}

void Stream::Abort() {
    device::CancelPipe(b_.device, BulkPipe::In);
    if (!pending_) return;
    Uncounted();
    std::size_t n = 0;
    b_.device->WaitBulk(id_, &n, kReapMs);
    pending_ = false;
}

bool Stream::Run() {
    StreamState& s = *b_.stream;
    const bool moving = Moving(b_);
    const unsigned pollMs =
        b_.twoPart && b_.identity.firmware < kFirmware4000 ? kPollTwoPartOldMs : kPollMs;
    std::uint32_t expected = 0;
    b_.blockSize->compare_exchange_strong(expected, kDefaultBlockSize);

    if (!p_.old) {
        if (Send(b_, static_cast<std::uint32_t>(AcqControl::Start), b_.start.data(),
                 static_cast<unsigned>(b_.start.size())) < 0) {
            LogText(Line(p_, "start command failed"));
            return false;
        }
    }
    length_ = NextLength();
    if (!p_.old) Send(b_, AcqControl::BeforeFirstRead);
    if (Queue('A') == Queued::Failed) return false;
    // A read the driver completed at once, before GO, holds nothing the
    // device sent: it is queued again, within the retry budget. One that
    // came back otherwise is taken by the loop below.
    bool early = false;
    int earlyResult = 0;
    std::size_t earlyBytes = 0;
    for (;;) {
        std::size_t n = 0;
        const int r = b_.device->PollBulk(id_, &n);
        if (r == platform::kErrorIoIncomplete) break;
        if (r == platform::kErrorSuccess && n == 0 && budget_ > 0) {
            --budget_;
            pending_ = false;
            LogText("ReadFile completed before GO, retry ");
            platform::Sleep(pollMs);
            if (Queue('A') == Queued::Failed) return false;
            continue;
        }
        if (r == platform::kErrorSuccess) LogText("bulk read already back");
        early = true;
        earlyResult = r;
        earlyBytes = n;
        break;
    }
    if (p_.old) {
        platform::Sleep(kOldModePauseMs);
        Send(b_, kForcedModeBase + b_.mode);
        Send(b_, b_.request25 ? kRequest25 : kRequest39);
        Send(b_, b_.direction == ScanDirection::Forward ? AcqControl::Go : AcqControl::GoBackward);
    } else {
        Send(b_, AcqControl::Go3000);
    }

    int notReady = 0;
    int genFailures = 0;
    for (;;) {
        if (s.endFlag.load() || b_.stopRequested->load()) {
            LogText(Line(p_, "cancel for stop"));
            return true;
        }
        if (b_.limitMs > 0 && platform::SteadyNowMs() - start_ >= b_.limitMs) {
            // Paper moved for a time ends here; a document that never
            // ended is the orchestration's time-out.
            b_.timedOut.store(true);
            return true;
        }
        if (s.sequenceStopped.load()) {
            LogText(Line(p_, "cancel for seq"));
            return false;
        }
        std::size_t n = 0;
        int r = 0;
        if (early) {
            r = earlyResult;
            n = earlyBytes;
            early = false;
        } else {
            r = b_.device->PollBulk(id_, &n);
        }
        if (r == platform::kErrorIoIncomplete) {
            s.dataFlowing.store(true);
            platform::Sleep(pollMs);
            continue;
        }
        if (r != platform::kErrorSuccess) {
            pending_ = false;
            Uncounted();
        }
        if (r == platform::kErrorNotReady) {
            if (notReady == 0) LogText("ERROR_NOT_READY - retry");
            if (++notReady > kNotReadyRetries) {
                LogText("ERROR_NOT_READY");
                return false;
            }
            platform::Sleep(kRetryPauseMs);
            if (Queue('B') == Queued::Failed) return false;
            continue;
        }
        if (r == platform::kErrorGenFailure) {
            const bool flowing = s.dataFlowing.load();
            LogValue(flowing ? "ERROR_GEN_FAILURE - retry after go"
                             : "ERROR_GEN_FAILURE - retry before go",
                     genFailures);
            const bool retryable = b_.purpose == AcqPurpose::MoveByTime || b_.sidesOff || !flowing;
            if (!retryable || ++genFailures > kGenFailureRetries) {
                LogText("ERROR_GEN_FAILURE");
                return false;
            }
            platform::Sleep(kRetryPauseMs);
            if (Queue('B') == Queued::Failed) return false;
            continue;
        }
        if (r != platform::kErrorSuccess) {
            LogValue("bulk read error 2", r);
            return false;
        }
        pending_ = false;
        // A re-queued read answers "incomplete" first: the not-ready count
        // is reset only by data.
        notReady = 0;
        s.dataFlowing.store(true);
        // A device that sends more than was asked is not believed.
        n = std::min(n, length_);
        if (!moving) Publish(n);
        if (n < length_) {
            if (!moving && b_.rawLineLength > 0) {
                const std::size_t lines = n / b_.rawLineLength + b_.frontDpiV;
                s.documentComplete.store(lines >= length_ / b_.rawLineLength);
            }
            return true;
        }
        // Paper movement reads on into the same scratch block until the
        // device ends the stream.
        if (!moving && received_ >= b_.transferLength) return true;
        length_ = NextLength();
        if (Queue('B') == Queued::Failed) return false;
    }
}

void RunThread(AcqBlock* block, const Protocol& p) {
    LogText(Line(p, "start"));
    if (block == nullptr || block->stream == nullptr) {
        LogText(Line(p, "acquisition with invalid pointer"));
        return;
    }
    StreamState& s = *block->stream;
    if (block->blockSize == nullptr || block->stopRequested == nullptr) {
        LogText(Line(p, "acquisition with invalid pointer"));
        // The correction thread follows this stream until it is done:
        // without the end it would wait out its whole limit.
        s.endFlag.store(true);
        s.acq.error.store(true);
        s.acq.done.store(true);
        return;
    }
    s.acq.running.store(true);
    bool ok = false;
    if (block->device == nullptr || block->target == nullptr) {
        LogText(Line(p, "acquisition with invalid pointer"));
    } else {
        Stream stream(*block, p);
        ok = stream.Run();
        EndOfAcquisition(*block, ok ? EndKind::Normal : EndKind::Aborted);
        stream.Abort();
        s.touchedBytes.store(stream.Touched(), std::memory_order_release);
    }
    s.endFlag.store(true);
    if (!ok) s.acq.error.store(true);
    s.acq.ok.store(ok);
    s.dataFlowing.store(true);
    LogText(Line(p, "end ok"));
    s.acq.done.store(true);
    s.acq.running.store(false);
}

}  // namespace

void EndOfAcquisition(AcqBlock& b, EndKind kind) {
    b.stream->endFlag.store(true);
    const std::uint16_t fw = b.identity.firmware;
    if (kind == EndKind::Aborted && fw < kFirmware3000) {
        platform::Sleep(kEndPauseMs);
        Send(b, AcqControl::Abort);
        platform::Sleep(kEndPauseMs);
    }
    if (b.firstPart) return;
    if (fw >= kFirmware3000) {
        Send(b, AcqControl::End);
        if (fw < kFirmware3005) platform::Sleep(kEndPauseMs);
        Send(b, AcqControl::End2);
    } else {
        Send(b, AcqControl::EndOld);
        Send(b, AcqControl::EndOld2);
    }
}

void ThrAcq_0x3000(AcqBlock* block) {
    RunThread(block, kProtocol3000);
}

void ThrAcqOld(AcqBlock* block) {
    RunThread(block, kProtocolOld);
}

}  // namespace kovran::acquisition
