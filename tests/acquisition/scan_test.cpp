// The scan operations over the fake scanner: image creation and its
// refusals, a whole scan with its start command, the stop during the
// stream, the time-out on the manual clock, the second scan without a new
// creation, and the asynchronous scan with its polling.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "acquisition/acquire.h"
#include "acquisition/images.h"
#include "acquisition/scan_fixture.h"
#include "device/acq_mode.h"
#include "device/connection_seams.h"
#include "device/counters.h"

namespace kovran::test {
namespace {

using namespace acquisition;

constexpr std::uint16_t kStartRegister = 61;
constexpr std::int16_t kRunning = 2;
constexpr std::int16_t kFinished = 3;

class ScanTest : public ScanFixture {
  protected:
    void SetUp() override {
        ScanFixture::SetUp();
        OpenScanner();
    }
    // An asynchronous scan of a document that never ends, polled three
    // times: it stays pending until the test stops it.
    void StartEndlessAsyncScan(std::int16_t* status) {
        ASSERT_EQ(ImgCreate(300, 300, 0), KVX_OK);
        scanner->endless = true;
        Settings().scan.secAcqTimeout = 3600;
        ASSERT_EQ(ScanAsync(nullptr, {}, status), KVX_OK);
        WaitForPolls(3);
    }
    // Polls an asynchronous scan until it has finished (bounded).
    KVXResult PollUntilFinished(std::int16_t* status) {
        KVXResult r = KVX_OK;
        for (int i = 0; i < 1000000 && *status != kFinished; ++i) {
            r = ScanAsync(nullptr, {}, status);
            std::this_thread::yield();
        }
        return r;
    }
    // Scans an endless stream on this thread; at the third poll, with the
    // acquisition thread inside the stream, another host thread runs
    // `other` while the acquisition thread lingers there, watching whether
    // the buffers go under it.
    KVXResult ScanWhileAnotherThread(const std::function<void()>& other) {
        scanner->endless = true;
        // A scan nobody stops ends by its time limit, long after the third
        // poll.
        Settings().scan.secAcqTimeout = 2;
        std::thread thread;
        std::atomic<bool> started{false};
        scanner->onPoll = [&](int n) {
            if (n != 3) return;
            thread = std::thread([&] {
                virtualClock.AddFollower();
                started.store(true);
                other();
            });
            while (!started.load()) std::this_thread::yield();
            for (int i = 0; i < 200000 && !freedUnderTheStream; ++i) {
                freedUnderTheStream = Img(kFront).alloc == nullptr;
                std::this_thread::yield();
            }
        };
        // The other thread's waits may not run out while this thread joins
        // the scan's workers (see the virtual clock's followers).
        virtualClock.HoldFollowers(true);
        const KVXResult r = ImgScan(nullptr, {});
        virtualClock.HoldFollowers(false);
        if (thread.joinable()) thread.join();
        scanner->onPoll = nullptr;
        return r;
    }
    bool freedUnderTheStream = false;
    // Lets an endless stream run until the fake device has been polled.
    void WaitForPolls(int n) {
        for (int i = 0; i < 100000000 && scanner->Polls() < n; ++i) std::this_thread::yield();
        ASSERT_GE(scanner->Polls(), n);
    }
};

TEST_F(ScanTest, CreationRefusesWhatTheDeviceCannotDo) {
    EXPECT_EQ(ImgCreate(300, 300, 300), KVX_ERR_HW_UNSUPPORTED) << Logged();
    EXPECT_NE(Logged().find("backlight not supported by HW"), std::string::npos) << Logged();

    device::UpdateIdentity([](DeviceIdentity& id) { id.capabilities.backlight = true; });
    EXPECT_EQ(ImgCreate(300, 300, 200), KVX_ERR_INV_PARAMETER);
    EXPECT_NE(Logged().find("BACKLIGHT and FRONT images must have the same resolution"),
              std::string::npos);

    EXPECT_EQ(ImgCreate(5, 300, 0), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(ImgCreate(300, 601, 0), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(ImgCreate(300, -1, 0), KVX_ERR_INV_PARAMETER);
    EXPECT_NE(Logged().find("ImgCreate with invalid dpi"), std::string::npos);
    EXPECT_EQ(Img(kFront).alloc, nullptr) << "a refused creation allocates nothing";

    EXPECT_EQ(ImgCreate(0, 300, 0), KVX_OK);
    EXPECT_EQ(ImgCreate(300, 300, 0), KVX_OK);
    ASSERT_NE(Img(kFront).alloc, nullptr);
    EXPECT_FALSE(Images().buffersConsumed);
}

TEST_F(ScanTest, AScanStreamsTheDocumentAndCountsThePage) {
    ASSERT_EQ(ImgCreate(300, 300, 0), KVX_OK);
    const std::size_t transfer = TransferBytes();
    const std::uint16_t stride = Img(kFront).stride;
    ASSERT_GT(transfer, 0u);
    scanner->documentBytes = static_cast<std::size_t>(stride) * 150;
    const std::uint32_t pagesBefore = device::Counters().pageCurrent.load();
    EXPECT_EQ(ImgScan(nullptr, {}), KVX_OK) << Logged();
    EXPECT_EQ(device::Counters().pageCurrent.load(), pagesBefore + 1);
    EXPECT_TRUE(NoWorkerRunning());
    EXPECT_TRUE(Images().buffersConsumed);

    // The start command announces the channel lines of the transfer.
    const std::vector<SentControl> sent = scanner->Controls();
    auto start = std::find_if(sent.begin(), sent.end(),
                              [](const SentControl& c) { return c.value == kStartRegister; });
    ASSERT_NE(start, sent.end());
    ASSERT_EQ(start->data.size(), 33u);
    const std::size_t lines = start->data[10] | start->data[11] << 8;
    EXPECT_EQ(lines, transfer / Img(kFront).channelPitch);
    EXPECT_EQ(start->data[1] & 0x06, 0x06) << "front and rear acquired";
    EXPECT_EQ(start->data[2] & 0x09, 0x09) << "forward, and bit 3 always";
    EXPECT_EQ(start->data[3] & 0x03, 0x03) << "no document wait asked";
    EXPECT_EQ(std::count(start->data.begin() + 19, start->data.end(), 0), 14);
    // 150 lines arrived; the leading line is dropped.
    EXPECT_EQ(Img(kFront).Height, 150 - Img(kFront).top);
    EXPECT_TRUE(Img(kFront).completed);
}

TEST_F(ScanTest, ASecondScanWithoutCreationRecreatesTheBuffers) {
    ASSERT_EQ(ImgCreate(300, 300, 0), KVX_OK);
    scanner->documentBytes = WholeLines(20);
    EXPECT_EQ(ImgScan(nullptr, {}), KVX_OK);
    EXPECT_EQ(Logged().find("patch - image free and create"), std::string::npos);
    EXPECT_EQ(ImgScan(nullptr, {}), KVX_OK);
    EXPECT_EQ(Count("war -  patch - image free and create should be called before calling "
                    "this again"),
              1);
}

TEST_F(ScanTest, StopDuringTheStreamGivesAbortedAndJoinsEveryThread) {
    ASSERT_EQ(ImgCreate(300, 300, 0), KVX_OK);
    scanner->endless = true;
    scanner->onPoll = [](int n) {
        if (n == 20) ScanState().stopRequested.store(true);
    };
    EXPECT_EQ(ImgScan(nullptr, {}), KVX_ERR_ABORTED);
    EXPECT_TRUE(NoWorkerRunning());
    EXPECT_EQ(scanner->Pending(), 0u);
    EXPECT_EQ(Count("ThrAcq_0x3000 - cancel for stop"), 1);
    // Sticky until cleared.
    EXPECT_EQ(ImgScan(nullptr, {}), KVX_ERR_ABORTED);
    EXPECT_EQ(Stop(0), KVX_OK);
    EXPECT_FALSE(StopRequested());
}

// A model with the double-sheet sensors but without the check in force:
// the sequence thread would have nothing to watch, so none runs beside the
// stream (its end line is still logged). A third worker that only ends
// would let the scan's clock run on while a worker is not yet started.
TEST_F(ScanTest, NoSequenceThreadRunsWhenItWouldHaveNothingToWatch) {
    ASSERT_EQ(ImgCreate(300, 300, 0), KVX_OK);
    scanner->documentBytes = WholeLines(20);
    std::atomic<bool> sequenceSeen{false};
    scanner->onPoll = [&](int) {
        if (ScanState().workers.seq.load()) sequenceSeen.store(true);
    };
    EXPECT_EQ(ImgScan(nullptr, {}), KVX_OK);
    EXPECT_FALSE(sequenceSeen.load());
    EXPECT_EQ(Count("ThrSeq_0x3000 - end - not supported by FW"), 1) << Logged();
    EXPECT_TRUE(NoWorkerRunning());
}

TEST_F(ScanTest, AStopFromAnotherHostThreadFreesTheBuffersOnlyAfterTheScan) {
    ASSERT_EQ(ImgCreate(300, 300, 0), KVX_OK);
    std::atomic<KVXResult> stopResult{KVX_ERR_GENERIC};
    const KVXResult scanned = ScanWhileAnotherThread([&] { stopResult.store(Stop(1)); });
    EXPECT_EQ(scanned, KVX_ERR_ABORTED);
    EXPECT_FALSE(freedUnderTheStream) << Logged();
    EXPECT_TRUE(NoWorkerRunning());
    EXPECT_EQ(ScanState().scansRunning.load(), 0);
    EXPECT_EQ(stopResult.load(), KVX_OK) << Logged();
    EXPECT_EQ(Img(kFront).alloc, nullptr) << "the stop frees the images once the scan ended";
    Stop(0);
}

TEST_F(ScanTest, AClosingThreadEndsTheScanOfAnotherBeforeTheBuffersGo) {
    device::ConnectionSeams seams;
    AddScanSeams(seams);
    device::InstallConnectionSeams(seams);
    ASSERT_EQ(ImgCreate(300, 300, 0), KVX_OK);
    // The close's order: the running work stops, then the buffers go.
    const KVXResult scanned = ScanWhileAnotherThread([] {
        device::StopAcquisition();
        FreeImages();
    });
    device::InstallConnectionSeams({});
    EXPECT_EQ(scanned, KVX_ERR_ABORTED);
    EXPECT_FALSE(freedUnderTheStream) << Logged();
    EXPECT_TRUE(NoWorkerRunning());
    EXPECT_FALSE(StopRequested()) << "the host's stop request is left as it was";
}

TEST_F(ScanTest, AStreamThatNeverEndsTimesOutOnTheClock) {
    ASSERT_EQ(ImgCreate(300, 300, 0), KVX_OK);
    scanner->endless = true;
    Settings().scan.secAcqTimeout = 2;
    Settings().scan.msecAcqTimeoutExtra = 0;
    const std::int64_t before = virtualClock.SteadyNs();
    EXPECT_EQ(ImgScan(nullptr, {}), KVX_ERR_GENERIC);
    EXPECT_EQ(Count("acquisition timeout Z"), 1);
    EXPECT_GE(virtualClock.SteadyNs() - before, 2500LL * 1000000);
    EXPECT_TRUE(NoWorkerRunning());
    EXPECT_EQ(scanner->Pending(), 0u);
}

TEST_F(ScanTest, OldestFirmwareIsRefused) {
    // A family the mode tables know, which streams on two pipes.
    device::UpdateIdentity([](DeviceIdentity& id) { id.firmware = 0x2008; });
    EXPECT_EQ(AcquireImg({.height = 100}), KVX_ERR_SW_UNSUPPORTED) << Logged();
    EXPECT_NE(Logged().find("err -  acquisition of two-pipe firmware not supported"),
              std::string::npos);
    EXPECT_TRUE(scanner->Submitted().empty());
}

TEST_F(ScanTest, TooManyZonesAreRefusedBeforePaperMoves) {
    ASSERT_EQ(ImgCreate(300, 300, 0), KVX_OK);
    OcrZoneList zones{};
    zones.count = 21;
    char c[64] = {};
    char k[64] = {};
    EXPECT_EQ(ImgScan(&zones, {.codeline = c, .confidence = k, .length = 64}),
              KVX_ERR_INV_PARAMETER);
    EXPECT_NE(Logged().find("Too much OCR zones"), std::string::npos);
    EXPECT_TRUE(scanner->Submitted().empty());
    zones.count = 0;
    scanner->documentBytes = WholeLines(4);
    EXPECT_EQ(ImgScan(&zones, {.codeline = c, .confidence = k, .length = 64}), KVX_OK);
}

TEST_F(ScanTest, AsyncScanPollsToTheResultAndRefusesABadStatusPointer) {
    ASSERT_EQ(ImgCreate(300, 300, 0), KVX_OK);
    scanner->documentBytes = WholeLines(10);
    EXPECT_EQ(ScanAsync(nullptr, {}, nullptr), KVX_ERR_INV_PARAMETER);
    std::int16_t status = 0;
    EXPECT_EQ(ScanAsync(nullptr, {}, &status), KVX_OK);
    EXPECT_EQ(status, kRunning);
    EXPECT_EQ(PollUntilFinished(&status), KVX_OK);
    EXPECT_EQ(status, kFinished);
    EXPECT_TRUE(NoWorkerRunning());
    EXPECT_EQ(Count("Scan1Async start"), 1);
}

TEST_F(ScanTest, FreeDuringAnAsyncScanIsRefusedAndStopEndsIt) {
    std::int16_t status = 0;
    ASSERT_NO_FATAL_FAILURE(StartEndlessAsyncScan(&status));
    EXPECT_EQ(ImgFree(), KVX_ERR_GENERIC);
    EXPECT_NE(Logged().find("ImgFree with pending ansync acquisition"), std::string::npos);
    ASSERT_NE(Img(kFront).alloc, nullptr);
    std::int16_t again = 0;
    EXPECT_EQ(ScanAsync(nullptr, {}, &again), KVX_ERR_GENERIC);
    EXPECT_EQ(again, kRunning);
    EXPECT_NE(Logged().find("previous async acquisiton still pending"), std::string::npos);

    EXPECT_EQ(Stop(1), KVX_OK);
    EXPECT_TRUE(NoWorkerRunning());
    EXPECT_EQ(Count("AsyncThrClose with pending thread"), 1);
    EXPECT_EQ(Count("cancel for stop"), 1);
    EXPECT_EQ(Img(kFront).alloc, nullptr) << "the stop frees the images";
    EXPECT_EQ(scanner->Pending(), 0u);
    EXPECT_TRUE(StopRequested());
    Stop(0);
}

// The host's thread may not replace the images an asynchronous scan is
// writing: a creation, a scan or a paper movement of its own is refused
// while the scan is pending, and the scan goes on with its own buffers.
TEST_F(ScanTest, CreateScanOrMoveDuringAnAsyncScanIsRefusedAndLeavesItsBuffers) {
    std::int16_t status = 0;
    ASSERT_NO_FATAL_FAILURE(StartEndlessAsyncScan(&status));
    const ImageMemory* scanning = Img(kFront).alloc.get();
    const std::uint16_t dpi = Img(kFront).dpiH;
    EXPECT_EQ(ImgCreate(200, 200, 0), KVX_ERR_GENERIC);
    ASSERT_EQ(Img(kFront).alloc.get(), scanning) << "the images went under the scan";
    EXPECT_EQ(Img(kFront).dpiH, dpi);
    EXPECT_EQ(ImgScan(nullptr, {}), KVX_ERR_GENERIC);
    EXPECT_EQ(MoveScannerLines(1, 100, 300), KVX_ERR_GENERIC);
    ASSERT_EQ(Img(kFront).alloc.get(), scanning);
    // A parameter that sets the mode up again is refused and left as it was.
    const std::int32_t colour = Settings().scan.color;
    EXPECT_NE(device::ApplyColour(2), KVX_OK);
    EXPECT_EQ(Settings().scan.color, colour);
    ASSERT_EQ(Img(kFront).alloc.get(), scanning) << "the images went under the scan";
    EXPECT_EQ(Img(kFront).dpiH, dpi);
    EXPECT_EQ(Count("previous async acquisiton still pending"), 4) << Logged();

    EXPECT_EQ(Stop(1), KVX_OK);
    EXPECT_TRUE(NoWorkerRunning());
    Stop(0);
    // Once it has ended the host creates again.
    EXPECT_EQ(ImgCreate(200, 200, 0), KVX_OK) << Logged();
}

TEST_F(ScanTest, AnotherHostThreadCannotCreateOrStartAScanUnderARunningOne) {
    ASSERT_EQ(ImgCreate(300, 300, 0), KVX_OK);
    std::atomic<KVXResult> created{KVX_OK};
    std::atomic<KVXResult> started{KVX_OK};
    std::atomic<std::int16_t> status{0};
    const KVXResult scanned = ScanWhileAnotherThread([&] {
        created.store(ImgCreate(200, 200, 0));
        std::int16_t s = 0;
        started.store(ScanAsync(nullptr, {}, &s));
        status.store(s);
    });
    EXPECT_EQ(scanned, KVX_ERR_GENERIC) << "the endless stream ends by its time limit";
    EXPECT_FALSE(freedUnderTheStream) << Logged();
    EXPECT_EQ(created.load(), KVX_ERR_GENERIC);
    EXPECT_EQ(started.load(), KVX_ERR_GENERIC);
    EXPECT_EQ(status.load(), kRunning);
    EXPECT_FALSE(ScanState().async.thread.joinable());
    EXPECT_TRUE(NoWorkerRunning());
}

TEST_F(ScanTest, AsyncScanCreatesTheStoredImagesItself) {
    scanner->documentBytes = WholeLines(10);
    EXPECT_EQ(ImgCreateAsync(300, 300, 0), KVX_OK);
    EXPECT_EQ(Img(kFront).alloc, nullptr);
    std::int16_t status = 0;
    ASSERT_EQ(ScanAsync(nullptr, {}, &status), KVX_OK);
    EXPECT_EQ(PollUntilFinished(&status), KVX_OK);
    EXPECT_NE(Img(kFront).alloc, nullptr);
    EXPECT_FALSE(ScanState().async.createPending);
}

// Resolutions stored while an asynchronous scan runs are for the next one.
TEST_F(ScanTest, ResolutionsStoredDuringAnAsyncScanCreateTheNextOnesImages) {
    ASSERT_EQ(ImgCreate(300, 300, 0), KVX_OK);
    scanner->documentBytes = WholeLines(10);
    std::atomic<bool> stored{false};
    scanner->onPoll = [&](int) {
        if (!stored.exchange(true)) ImgCreateAsync(200, 200, 0);
    };
    std::int16_t status = 0;
    ASSERT_EQ(ScanAsync(nullptr, {}, &status), KVX_OK);
    EXPECT_EQ(PollUntilFinished(&status), KVX_OK) << Logged();
    ASSERT_TRUE(stored.load());
    scanner->onPoll = nullptr;
    EXPECT_EQ(device::AcqMode().request.requestedDpi[kFront], 300);
    scanner->documentBytes += WholeLines(10);
    status = 0;
    ASSERT_EQ(ScanAsync(nullptr, {}, &status), KVX_OK);
    EXPECT_EQ(PollUntilFinished(&status), KVX_OK) << Logged();
    EXPECT_EQ(device::AcqMode().request.requestedDpi[kFront], 200)
        << "the stored resolutions were dropped";
    EXPECT_EQ(Count("patch - image free and create"), 0);
}

TEST_F(ScanTest, AcquiredHeightFollowsTheSideCodes) {
    ASSERT_EQ(ImgCreate(300, 300, 0), KVX_OK);
    scanner->documentBytes = static_cast<std::size_t>(Img(kFront).stride) * 101;
    ASSERT_EQ(ImgScan(nullptr, {}), KVX_OK) << Logged();
    const std::uint16_t h = Img(kFront).Height;
    EXPECT_EQ(GetAcqHeight(1, 150), h * 150 / Img(kFront).dpiV);
    EXPECT_EQ(GetAcqHeight(9, Img(kFront).dpiV), h);
    EXPECT_EQ(GetAcqHeight(5, 300), 0);
    EXPECT_EQ(GetAcqHeight(1, 0), 0);
    EXPECT_NE(Logged().find("KVXGetAcqHeight - forward - side 1, height"), std::string::npos);
    EXPECT_NE(Logged().find("KVXGetAcqHeight with invalid side"), std::string::npos);
}

}  // namespace
}  // namespace kovran::test
