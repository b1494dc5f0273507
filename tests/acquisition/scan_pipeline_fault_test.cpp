// The stream's faults and the bad documents, each scanned through the
// exported functions against the simulator: every one ends with its result
// and its log line, and no worker thread is left behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "acquisition/pipeline_fixture.h"
#include "acquisition/virtual_clock.h"
#include "api/settings.h"
#include "platform/clock.h"

namespace kovran::test {
namespace {

// 3 x 1.5 inches at 300 dpi where the size does not matter; the crop finds
// no document this small (below 950 x 950 in a long image) and hands the
// side over uncropped, so the tests of the crop use 5 x 2.33 inches.
constexpr int kSmallW = 900;
constexpr int kSmallH = 450;
constexpr int kCropW = 1500;
constexpr int kCropH = 700;

// The block ladder: the first read asks for 32 MiB, the device refuses
// anything above 4 MiB, and the halved size that passed is kept for the
// next scan, which then needs no retry.
TEST_F(PipelineTest, TheBlockLadderHalvesFrom32MiBAndTheNextScanKeepsTheSizeThatPassed) {
    sim::DeviceProfile p = Profile();
    p.bulkLimit = 4u << 20;
    for (int i = 0; i < 2; ++i)
        p.feeder.push_back(Document(kSmallW, kSmallH, false, i, 0).document);
    PlugAndOpen(p);
    // Grey, both sides at 300 dpi: a transfer longer than 32 MiB.
    ASSERT_EQ(KVXImgCreate1(handle, 300, 300, 0), KVX_OK) << LogBytes();
    ASSERT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
    const char* const kLadder[] = {
        "ERROR_NO_SYSTEM_RESOURCES - retry (A) with BlockSize 33554432",
        "ERROR_NO_SYSTEM_RESOURCES - retry (A) with BlockSize 16777216",
        "ERROR_NO_SYSTEM_RESOURCES - retry (A) with BlockSize 8388608",
        "ERROR_NO_SYSTEM_RESOURCES - retry (A) with BlockSize 4194304",
    };
    for (const char* line : kLadder) EXPECT_EQ(Count(line), 1u) << line << "\n" << LogBytes();
    EXPECT_EQ(Count("ERROR_NO_SYSTEM_RESOURCES - final"), 0u);
    EXPECT_GT(Img(kFront).Height, 300);

    ASSERT_EQ(KVXImgCreate1(handle, 300, 300, 0), KVX_OK) << LogBytes();
    ASSERT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
    EXPECT_EQ(Count("ERROR_NO_SYSTEM_RESOURCES - retry"), 4u) << LogBytes();
    EXPECT_GT(Img(kFront).Height, 300);
}

// A stop while the lines stream (slowly: the device is rate limited) ends
// the scan with -19 and joins every worker.
TEST_F(PipelineTest, AStopWhileTheDocumentStreamsGivesAbortedAndJoinsEveryThread) {
    sim::DeviceProfile p = Profile();
    p.feeder.push_back(Document(kSmallW, kSmallH, false, 0, 0).document);
    sim::SimulatedScanner& scanner = PlugAndOpen(p);
    ShortBuffers();
    scanner.Inject(sim::RateLimit{.bytesPerSecond = 4u << 20});
    ASSERT_EQ(KVXImgCreate1(handle, 300, 300, 0), KVX_OK) << LogBytes();
    std::int16_t status = 0;
    char codeline[64] = {};
    char confidence[64] = {};
    ASSERT_EQ(KVXImgScan1Async(handle, nullptr, codeline, confidence, 64, &status), KVX_OK);
    // Until lines flow, with a bound on the waiting.
    for (int i = 0; i < 100000 && scanner.BulkInBytes() < 100000; ++i) platform::Sleep(1);
    ASSERT_GE(scanner.BulkInBytes(), 100000u) << LogBytes();
    EXPECT_EQ(KVXStop(handle, 1), KVX_OK);
    KVXResult r = KVX_OK;
    for (int i = 0; i < 100000 && status != 3; ++i) {
        r = KVXImgScan1Async(handle, nullptr, codeline, confidence, 64, &status);
        platform::Sleep(1);
    }
    // The stop joined the scan's thread: the poll finds none and says so;
    // the scan itself ended with -19.
    EXPECT_EQ(status, 3);
    EXPECT_EQ(r, KVX_ERR_GENERIC);
    EXPECT_EQ(Count("waiting acquisiton end "), 1u) << LogBytes();
    EXPECT_EQ(Count("AcquireImg returns -19"), 1u) << LogBytes();
    EXPECT_EQ(Count("ThrAcq_0x3000 - cancel for stop"), 1u) << LogBytes();
    EXPECT_TRUE(NoThreadLeft());
    // Sticky until cleared.
    ASSERT_EQ(KVXImgCreate1(handle, 300, 300, 0), KVX_OK) << LogBytes();
    EXPECT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_ERR_ABORTED);
    EXPECT_EQ(KVXStop(handle, 0), KVX_OK);
}

// The device goes away half way through the document: the scan fails, no
// worker is left, and once the device is back a new open scans the next
// document (the replugged scanner does not go on with the one it lost).
TEST_F(PipelineTest, AnUnplugMidStreamFailsTheScanAndTheNextOpenWorksAfterReplug) {
    sim::DeviceProfile p = Profile();
    for (int i = 0; i < 2; ++i) {
        p.feeder.push_back(Document(kSmallW, kSmallH, false, i, 0).document);
        p.feeder.back().name = "page " + std::to_string(i);
    }
    sim::SimulatedScanner& scanner = PlugAndOpen(p);
    ShortBuffers();
    scanner.Inject(sim::Unplug{.atByte = 1u << 20});
    ASSERT_EQ(KVXImgCreate1(handle, 300, 300, 0), KVX_OK) << LogBytes();
    const KVXResult r = KVXImgScan1(handle, nullptr, nullptr, nullptr, 0);
    EXPECT_EQ(r, KVX_ERR_GENERIC) << LogBytes();
    EXPECT_TRUE(NoThreadLeft());

    scanner.Replug();
    KVXClose(handle);
    handle = KVXInitialize(nullptr);
    ASSERT_GT(handle, 0) << LogBytes();
    ASSERT_EQ(KVXImgCreate1(handle, 300, 300, 0), KVX_OK) << LogBytes();
    EXPECT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
    EXPECT_GT(Img(kFront).Height, 300);
    EXPECT_EQ(scanner.Inspect([](const sim::ScannerModel& m) { return m.Acquisition().Fed(); }),
              (std::vector<std::string>{"page 0", "page 1"}));
}

// A stream that stops sending ends by the scan's time limit on the shared
// clock: virtual time passes the limit, nothing sleeps for real.
TEST_F(PipelineTest, AStalledStreamEndsByTheTimeLimitOnTheSharedClock) {
    sim::DeviceProfile p = Profile();
    p.feeder.push_back(Document(kSmallW, kSmallH, false, 0, 0).document);
    sim::SimulatedScanner& scanner = PlugAndOpen(p);
    ShortBuffers();
    // The acquisition, the correction and the sequence thread (the
    // scanner has the double-sheet sensors and the check is on) pause on
    // it.
    VirtualClock virtualClock;
    ClockScope scope(virtualClock);
    scanner.Inject(sim::BulkStall{.atByte = 200000});
    Settings().scan.secAcqTimeout = 2;
    Settings().scan.msecAcqTimeoutExtra = 0;
    ASSERT_EQ(KVXImgCreate1(handle, 300, 300, 0), KVX_OK) << LogBytes();
    const std::int64_t before = virtualClock.SteadyNs();
    const KVXResult r = KVXImgScan1(handle, nullptr, nullptr, nullptr, 0);
    EXPECT_EQ(r, KVX_ERR_GENERIC) << LogBytes();
    EXPECT_EQ(Count("acquisition timeout Z"), 1u) << LogBytes();
    EXPECT_GE(virtualClock.SteadyNs() - before, 2000LL * 1000000);
    EXPECT_TRUE(NoThreadLeft());
    KVXClose(handle);
    handle = 0;
}

// ---- A byte gained or lost --------------------------------------------------

// The device's aligner marks each channel line with a leading 0 byte, and
// says so in its configuration word (bit 30).
constexpr std::uint32_t kAlignerBit = 1u << 30;

// A byte gained in the middle of the document: with the aligner the lines
// after it are read one byte later and the document comes out whole.
TEST_F(PipelineTest, WithTheAlignerAByteGainedOrLostMidDocumentIsReadAround) {
    for (const int shift : {1, -1}) {
        SCOPED_TRACE(shift);
        sim::DeviceProfile p = Profile();
        p.configWord |= kAlignerBit;
        p.stream.aligner = true;
        p.feeder.push_back(Document(kCropW, kCropH, false, 0, 0).document);
        sim::SimulatedScanner& scanner = PlugAndOpen(p);
        ShortBuffers();
        scanner.Inject(sim::AlignerGlitch{.line = 300, .shift = shift});
        ASSERT_EQ(KVXImgCreate1(handle, 300, 300, 0), KVX_OK) << LogBytes();
        ASSERT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
        EXPECT_NEAR(Img(kFront).Height, kCropW, 3);
        EXPECT_NEAR(Img(kFront).width, kCropH, 3);
        EXPECT_NEAR(Img(kRear).Height, kCropW, 3);
        EXPECT_EQ(Count(shift > 0 ? "alligner detected positive glith at"
                                  : "alligner detected negative glith at"),
                  1u)
            << LogBytes();
        KVXClose(handle);
        handle = 0;
    }
}

// Without an aligner (and the software detection off) nothing re-aligns
// the lines after a byte gained: the stream ends off a line's boundary,
// and the torn document is reported, not handed over as a page.
TEST_F(PipelineTest, WithoutRealignmentAByteGainedIsReportedNotHandedOverTorn) {
    sim::DeviceProfile p = Profile();
    p.feeder.push_back(Document(kCropW, kCropH, false, 0, 0).document);
    sim::SimulatedScanner& scanner = PlugAndOpen(p);
    ShortBuffers();
    scanner.Inject(sim::AlignerGlitch{.line = 300, .shift = 1});
    ASSERT_EQ(KVXImgCreate1(handle, 300, 300, 0), KVX_OK) << LogBytes();
    KVXPagNumCur(handle, 1);
    EXPECT_LT(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), 0) << LogBytes();
    EXPECT_EQ(KVXPagNumCur(handle, 0), 0);
}

// With the aligner, the last line of the stream loses its first byte:
// every whole line before it was found in place and the part line is
// dropped anyway, so the document is whole and no torn page.
TEST_F(PipelineTest, WithTheAlignerAByteLostInTheStreamsLastLineKeepsTheDocument) {
    sim::DeviceProfile p = Profile();
    p.configWord |= kAlignerBit;
    p.stream.aligner = true;
    p.feeder.push_back(Document(kCropW, kCropH, false, 0, 0).document);
    sim::SimulatedScanner& scanner = PlugAndOpen(p);
    ShortBuffers();
    scanner.Inject(sim::ShortDocument{.lines = 900});
    scanner.Inject(sim::AlignerGlitch{.line = 899, .shift = -1});
    ASSERT_EQ(KVXImgCreate1(handle, 300, 300, 0), KVX_OK) << LogBytes();
    KVXPagNumCur(handle, 1);
    EXPECT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
    EXPECT_EQ(KVXPagNumCur(handle, 0), 1);
}

// The first read comes back at once, with nothing, before GO: it is queued
// again, and the document streams whole into it.
TEST_F(PipelineTest, AReadCompletedBeforeGoIsQueuedAgainAndTheDocumentArrives) {
    sim::DeviceProfile p = Profile();
    p.feeder.push_back(Document(kCropW, kCropH, false, 0, 0).document);
    sim::SimulatedScanner& scanner = PlugAndOpen(p);
    ShortBuffers();
    scanner.Inject(sim::EarlyCompletion{});
    ASSERT_EQ(KVXImgCreate1(handle, 300, 300, 0), KVX_OK) << LogBytes();
    EXPECT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
    EXPECT_EQ(Count("ReadFile completed before GO, retry "), 1u) << LogBytes();
    EXPECT_NEAR(Img(kFront).Height, kCropW, 3) << LogBytes();
    EXPECT_NEAR(Img(kFront).width, kCropH, 3);
    EXPECT_TRUE(NoThreadLeft());
}

// An asynchronous scan waiting for a document that never comes: the stop
// ends the wait, the worker is joined and the images freed; the poll
// after it finds no scan.
TEST_F(PipelineTest, AStopWhileAnAsyncScanWaitsForItsDocumentEndsTheWait) {
    sim::DeviceProfile p = Profile();
    PlugAndOpen(p);
    ShortBuffers();
    ASSERT_EQ(KVXImgCreate1(handle, 300, 300, 0), KVX_OK) << LogBytes();
    std::int16_t status = 0;
    char codeline[64] = {};
    char confidence[64] = {};
    ASSERT_EQ(KVXImgScan1Async(handle, nullptr, codeline, confidence, 64, &status), KVX_OK);
    // Waiting: a poll leaves it running, the images stay.
    platform::Sleep(250);
    EXPECT_EQ(KVXImgScan1Async(handle, nullptr, codeline, confidence, 64, &status), KVX_OK);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(KVXImgFree(handle), KVX_ERR_GENERIC);
    EXPECT_EQ(KVXStop(handle, 1), KVX_OK) << LogBytes();
    EXPECT_EQ(Count("AsyncThrClose with pending thread"), 1u);
    EXPECT_EQ(Count("acquisition thread cancelled"), 1u) << LogBytes();
    EXPECT_EQ(Count("start acquisition"), 0u);
    EXPECT_EQ(Img(kFront).alloc, nullptr);
    EXPECT_TRUE(NoThreadLeft());
    EXPECT_EQ(KVXImgScan1Async(handle, nullptr, codeline, confidence, 64, &status),
              KVX_ERR_GENERIC);
    EXPECT_EQ(status, 3);
    EXPECT_EQ(KVXStop(handle, 0), KVX_OK);
}

// ---- Bad documents ------------------------------------------------------------

// Longer than the longest document accepted (parameter 9: 300 lines at
// 150 dpi, 2 inches; the document is 5): the buffer holds what fits.
TEST_F(PipelineTest, ADocumentLongerThanTheLongestAcceptedIsCutAtTheBuffer) {
    sim::DeviceProfile p = Profile();
    p.feeder.push_back(Document(1500, kSmallH, false, 0, 0).document);
    PlugAndOpen(p);
    ASSERT_EQ(KVXSetParameter(9, 300), KVX_OK) << LogBytes();
    ASSERT_EQ(KVXImgCreate1(handle, 300, 300, 0), KVX_OK) << LogBytes();
    const KVXResult r = KVXImgScan1(handle, nullptr, nullptr, nullptr, 0);
    EXPECT_EQ(r, KVX_OK) << LogBytes();
    // 600 lines at 300 dpi and the margins the buffer adds (270/300 inch
    // after the document), less the leading margin dropped: measured 871.
    EXPECT_GT(Img(kFront).Height, 600);
    EXPECT_LE(Img(kFront).Height, 600 + 270 + 16);
    EXPECT_TRUE(NoThreadLeft());
}

// A second scan without a new create takes the next document into fresh
// buffers, with the warning.
TEST_F(PipelineTest, ASecondScanWithoutCreateRecreatesTheBuffersAndScansTheNextDocument) {
    sim::DeviceProfile p = Profile();
    p.feeder.push_back(Document(kCropW, kCropH, false, 0, 0).document);
    p.feeder.push_back(Document(1200, kCropH, false, 1, 0).document);
    PlugAndOpen(p);
    ShortBuffers();
    ASSERT_EQ(KVXImgCreate1(handle, 300, 300, 0), KVX_OK) << LogBytes();
    ASSERT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
    EXPECT_NEAR(Img(kFront).Height, kCropW, 3);
    ASSERT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
    EXPECT_EQ(Count("patch - image free and create should be called before calling this again"),
              1u);
    EXPECT_NEAR(Img(kFront).Height, 1200, 3);
    EXPECT_NEAR(Img(kRear).Height, 1200, 3);
}

// Paper everywhere, or black everywhere: no contour to crop by; each side
// is handed over as the sensor saw it, with the warning.
TEST_F(PipelineTest, AnAllWhiteOrAllBlackSideHasNoContourAndComesUncropped) {
    for (std::uint8_t level : {std::uint8_t{255}, std::uint8_t{0}}) {
        sim::DeviceProfile p = Profile();
        p.stream.background = level;
        FedDocument d = Document(kSmallW, kSmallH, false, 0, 0);
        const std::string path = dir / ("flat" + std::to_string(level) + ".pgm");
        sim::SimImage flat;
        flat.width = kSmallW;
        flat.height = kSmallH;
        flat.pixels.assign(static_cast<std::size_t>(kSmallW) * kSmallH, level);
        WritePnm(path, flat);
        std::string error;
        ASSERT_TRUE(sim::ParseFeederLine(path + " rear=" + path, &d.document, &error)) << error;
        p.feeder.push_back(d.document);
        PlugAndOpen(p);
        ShortBuffers();
        const std::size_t before = Count("no contour found");
        ASSERT_EQ(KVXImgCreate1(handle, 300, 300, 0), KVX_OK) << LogBytes();
        EXPECT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
        EXPECT_EQ(Count("no contour found"), before + 2) << int{level};
        EXPECT_FALSE(Img(kFront).deskewed);
        // Uncropped: the whole sensor line.
        EXPECT_EQ(Img(kFront).width, Img(kFront).sensorPixels);
        EXPECT_TRUE(NoThreadLeft());
        KVXClose(handle);
        handle = 0;
        device::InstallUsbBackend(nullptr);
    }
}

// A document whose edge lies on the sensor's first pixel is cropped to the
// paper all the same.
TEST_F(PipelineTest, ADocumentTouchingTheSensorsBorderIsCroppedToThePaper) {
    sim::DeviceProfile p = Profile();
    p.stream.documentOffset300 = 0;
    p.feeder.push_back(Document(kCropW, kCropH, false, 0, 1.5).document);
    PlugAndOpen(p);
    ShortBuffers();
    ASSERT_EQ(KVXImgCreate1(handle, 300, 300, 0), KVX_OK) << LogBytes();
    EXPECT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
    // The part of the tilted paper left of pixel 0 is lost: up to
    // sin(1.5 degrees) x 1500 / 2 = 20 pixels.
    EXPECT_LE(Img(kFront).width, kCropH + 3);
    EXPECT_GE(Img(kFront).width, kCropH - 25);
    EXPECT_NEAR(Img(kFront).Height, kCropW, 10);
    EXPECT_TRUE(NoThreadLeft());
}

}  // namespace
}  // namespace kovran::test
