// The acquisition threads: they start the device's stream, read the bulk
// pipe in blocks into the working record's buffer and publish how far the
// lines have arrived, for the correction thread that follows them.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "acquisition/correction.h"
#include "acquisition/scan_state.h"
#include "device/device_record.h"
#include "platform/process_lock.h"
#include "platform/usb_backend.h"

namespace kovran::acquisition {

// The acquisition start command (firmware 0x3000 and later).
inline constexpr std::size_t kStartCommandBytes = 33;
using StartCommand = std::array<std::uint8_t, kStartCommandBytes>;

// Control values of the acquisition class.
enum class AcqControl : std::uint32_t {
    Go = 1,
    EndOld = 2,
    GoBackward = 7,
    EndOld2 = 23,
    Abort = 24,
    Start = 51,
    Go3000 = 52,
    End = 53,
    BeforeFirstRead = 56,
    End2 = 57,
};

// Why paper moves (as the correction sees it).
using AcqPurpose = CorrectionKind;

// The acquisition control block: filled by the orchestration, read by the
// acquisition thread for the whole stream. The thread publishes through
// `stream`.
struct AcqBlock {
    StreamState* stream = nullptr;
    // The device object the thread reads on; the orchestration opens it
    // and destroys it after the thread has been joined.
    platform::UsbDevice* device = nullptr;
    DeviceIdentity identity;
    // Where the stream is written, and how much of it.
    std::uint8_t* target = nullptr;
    std::size_t transferLength = 0;
    // Bytes of one raw line as streamed, and the front's vertical
    // resolution (a short read ends the document when it left more than an
    // inch of its block empty).
    std::size_t rawLineLength = 0;
    std::uint16_t frontDpiV = 0;
    StartCommand start{};
    AcqPurpose purpose = AcqPurpose::Ordinary;
    // Neither front nor rear is acquired (paper movement).
    bool sidesOff = false;
    bool twoPart = false;
    bool firstPart = false;
    ScanDirection direction = ScanDirection::Forward;
    // Older firmware: the forced mode request (31 + mode) and request 25
    // instead of 39 after the first read is queued.
    std::uint8_t mode = 0;
    bool request25 = false;
    // The library-wide bulk block size and stop request.
    std::atomic<std::uint32_t>* blockSize = nullptr;
    const std::atomic<bool>* stopRequested = nullptr;
    // Older firmware: the lock of the received count.
    const platform::ProcessLock* semaphore = nullptr;
    // The scan's time limit from the thread's start, on the installed
    // clock; set by the thread when the limit ended the stream.
    std::int64_t limitMs = 0;
    std::atomic<bool> timedOut{false};
};

// Thread bodies: firmware 0x3000 and later, and 0x2100 to 0x2FFF.
void ThrAcq_0x3000(AcqBlock* block);
void ThrAcqOld(AcqBlock* block);

// Sets the end flag and sends the device's end of acquisition (not in the
// first part of a two-part scan). `aborted`: older firmware also gets the
// abort request.
enum class EndKind : bool { Normal, Aborted };
void EndOfAcquisition(AcqBlock& block, EndKind kind);

}  // namespace kovran::acquisition
