// The inkjet printers of the device: their state, read at open and kept
// while the library is loaded, and the operations the rest of the library
// calls (the set-ups of the exports, the print of each document, the
// end-of-document check, the stop).
//
// The host thread owns the record; the printing thread of a type 2 print
// writes only the atomics marked as its own, and the starter reads them.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "KovranMS.h"
#include "acquisition/image_record.h"
#include "acquisition/post_hooks.h"
#include "device/connection_seams.h"
#include "inkjet/stamp.h"

namespace kovran::inkjet {

inline constexpr std::uint8_t kPrinterOn = 70;
inline constexpr std::uint8_t kPrinterOff = 71;
inline constexpr std::uint8_t kPrintSetUp = 72;
inline constexpr std::uint8_t kIdentificationMode = 73;
inline constexpr std::uint8_t kSetUpStatus = 74;
inline constexpr std::uint8_t kStartPrinting = 75;
inline constexpr std::uint8_t kStopPrinting = 76;
inline constexpr std::uint8_t kNextIdentificationBit = 77;
inline constexpr std::uint8_t kWarmPulses = 78;
inline constexpr std::uint8_t kPrintStatus = 79;
inline constexpr std::uint8_t kPrintedCountOrAdReference = 80;
inline constexpr std::uint8_t kInformation1OrRx10 = 81;
inline constexpr std::uint8_t kTsr = 82;
inline constexpr std::uint8_t kAmbient = 83;
inline constexpr std::uint8_t kWarmTarget = 84;
inline constexpr std::uint8_t kInformation2 = 85;
inline constexpr std::uint8_t kPrintResult = 86;

inline constexpr std::size_t kInformationBytes = 64;
inline constexpr std::size_t kType1StampBuffer = 2048;
inline constexpr std::size_t kType2Block = 484;  // 11 print columns
inline constexpr int kAmbientMaximum = 20;
inline constexpr int kWarmStepMs = 500;

struct PrinterRecord {
    // Type 1: present and ready (its information could be read at open).
    bool type1Present = false;
    bool type1Ready = false;
    // Type 2: present; the cartridge is ok until its information or its
    // check fails.
    bool type2Present = false;
    bool cartridgeOk = false;
    bool informationRead = false;
    std::uint8_t referenceDensity = 0;
    std::uint16_t positionBase = 0;
    std::uint16_t secondPositionBase = 0;
    std::uint8_t defaultFire = 0;
    // Type 1: where the printer puts the stamp from the document's edge,
    // in 1/100 inch (information byte 7 + 256 x byte 1, or the value fixed
    // for a few units).
    int positionValue = 0;
    // Type 1: the printhead's dot pitch across the paper, in dots per inch.
    int stampResolution = 0;
    // Type 2: information byte 0 bit 0 (kept for the device's sake).
    bool optionFlag = false;
    std::size_t stampBufferSize = kType1StampBuffer;

    std::uint8_t density = 0;
    std::uint8_t fire = 0;
    std::uint16_t offset = 0;
    std::uint16_t secondOffset = 0;

    bool armed = false;
    // The printer kind the armed stamp was set up for: a scanner opened
    // later without that printer prints nothing.
    enum class Kind : std::uint8_t { None, One, Two };
    Kind armedKind = Kind::None;
    bool powered = false;
    bool warm = false;
    bool printingDisabled = false;
    // A stamp was started on the document being scanned: the end-of-document
    // check and the counting are due.
    bool printedThisDocument = false;
    std::size_t expectedBytes = 0;  // type 1: bytes of the last stamp sent

    std::uint32_t cartridgeId = 0;
    bool cartridgeIdKnown = false;
    int adReference = 0;
    int rx10Raw = 0;
    int tsr = 0;
    bool ambientKnown = false;
    double ambient = 0;
    bool cartridgeChecked = false;

    // The type 1 stamp printed on the current document, for its virtual
    // endorsement.
    std::optional<StampImage> printedStamp;
    // Type 2 nozzle data of the armed stamp.
    std::vector<std::uint8_t> nozzleData;

    // The printing thread of a type 2 print and what it writes.
    std::thread printThread;
    std::atomic<bool> threadStarted{false};
    std::atomic<bool> threadFinished{false};
    std::atomic<std::size_t> remainingBytes{0};

    // See LockPrinter().
    std::recursive_mutex mutex;
};
PrinterRecord& Printer();

// Held by every path that reads or changes the printer record and the stamp
// from outside the printing thread: the host's set-ups and stops, and the
// scan's print start, endorsement and end-of-document check, which an
// asynchronous scan runs on its own thread while the host may set up the
// next stamp. (The printing thread streams its own copy of the data.)
std::unique_lock<std::recursive_mutex> LockPrinter();

// The virtual endorsement of the front (the scan's hook).
bool MakeVirtualEndorsement(const ImageRecord& front, acquisition::DeskewCall::StampMark* mark);

// Printer information at the open; the device's seam. True when it was read.
bool ReadPrinterInformation(device::InkjetType type);

// Set-ups of the exports. Text variants: fontGiven tells a null font from
// an empty one.
struct Type1Request {
    const char* text = nullptr;
    const char* font = nullptr;
    const char* bitmapFile = nullptr;  // the image variant
    int size = 0;
    int density = 0;
    int offset = 0;
    int keep = 0;
    int fire = 1;
    int mirror = 0;
};
KVXResult SetUpType1(const Type1Request& request);
struct Type2TextRequest {
    const char* text = nullptr;
    const char* font = nullptr;
    int size = 0;
    int offset = 0;
    int fire = 0;
    int orientation = 0;
};
KVXResult SetUpType2Text(const Type2TextRequest& request);
KVXResult SetUpType2Image(const char* bitmapFile, int offset, int fire);

// Cartridge check of a type 2 set-up (repeated until it once succeeded).
bool CheckCartridge();
// Warm-up before each type 2 print.
bool WarmUp();
// Reads a status word (74 or 79); false when a fault bit is set.
bool CheckStatusWord(std::uint8_t command);

// The print for one document: false fails the scan start.
bool StartPrint();
bool StampArmed();
// The printing thread's body (a type 2 print), exposed for tests. The thread
// owns the data it streams: a set-up while a scan prints (an asynchronous
// scan) replaces the record's data, never the print under way.
void RunPrintThread(std::shared_ptr<const std::vector<std::uint8_t>> data);
// Joins a printing thread that is over or asked to end.
void JoinPrintThread();
// The printed-stamp check after a document: KVX_OK or
// KVX_ERR_INKJET_INCOMPLETE (logged).
KVXResult CheckPrintedStamp();
// After the document of a scan: the check, and the count of a complete
// print. Returns the scan's result, or the check's failure when the scan
// succeeded.
KVXResult EndOfDocument(KVXResult scanResult);

// Stop and switch off (stop, reset, close).
void StopInkjets();
void StopInkjetType2();

// Command helpers: a control command of class 0xD0 on the device.
bool Command(std::uint8_t sub);
bool CommandIn(std::uint8_t sub, std::uint8_t* reply, unsigned length);
bool CommandOut(std::uint8_t sub, const std::uint8_t* data, unsigned length);

}  // namespace kovran::inkjet
