// The acquisition thread against a fake bulk pipe: the retry ladder of a
// system that refuses large transfers, the retries of a device that is not
// ready or fails, the end of a document and the stop, all on the manual
// clock.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "acquisition/fake_scanner.h"
#include "acquisition/scan_fixture.h"
#include "acquisition/skew.h"
#include "acquisition/thr_acq.h"

namespace kovran::test {
namespace {

using acquisition::AcqBlock;
using acquisition::AcqPurpose;
using acquisition::StreamState;

constexpr std::size_t kMiB = 1024 * 1024;
// Register numbers of the acquisition class (sub-code + 10).
constexpr std::uint16_t kStartRegister = 61;
constexpr std::uint16_t kGoRegister = 62;
constexpr std::uint16_t kEndRegister = 63;
constexpr std::uint16_t kBeforeReadRegister = 66;
constexpr std::uint16_t kEnd2Register = 67;
constexpr std::uint16_t kOldGoRegister = 11;

class AcquisitionThreadTest : public ScanFixture {
  protected:
    void SetUp() override {
        ScanFixture::SetUp();
        OpenScanner(0x5012);
        device = std::make_unique<FakeScannerDevice>(scanner);
    }
    // Runs the thread body on a thread of its own, as the orchestration
    // does, and joins it.
    void Run(std::uint16_t firmware = 0x5012) {
        stream = std::make_unique<StreamState>();
        holder = std::make_unique<AcqBlock>();
        AcqBlock& block = *holder;
        block.stream = stream.get();
        block.device = device.get();
        block.identity = device::Identity();
        block.identity.firmware = firmware;
        block.target = buffer.data();
        block.transferLength = transfer;
        block.rawLineLength = 1000;
        block.frontDpiV = 300;
        block.blockSize = &blockSize;
        block.stopRequested = &stop;
        block.start = start;
        std::thread t(firmware >= 0x3000 ? &acquisition::ThrAcq_0x3000 : &acquisition::ThrAcqOld,
                      &block);
        t.join();
        EXPECT_EQ(block.target, buffer.data());
    }

    std::unique_ptr<FakeScannerDevice> device;
    std::unique_ptr<StreamState> stream;
    std::unique_ptr<AcqBlock> holder;
    acquisition::StartCommand start{};
    std::atomic<std::uint32_t> blockSize{0};
    std::atomic<bool> stop{false};
    // The transfer is announced large; the fake document is short, so only
    // what it streams is ever written.
    std::size_t transfer = 64 * kMiB;
    std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(64 * 1024, 0);
};

TEST_F(AcquisitionThreadTest, RefusedLargeReadsRetryOnceThenHalveAndKeepTheSize) {
    scanner->refuseAbove = 8 * kMiB;
    scanner->documentBytes = 3000;
    Run();
    EXPECT_TRUE(stream->acq.ok.load());
    EXPECT_TRUE(stream->acq.done.load());
    EXPECT_EQ(scanner->Submitted(),
              (std::vector<std::size_t>{32 * kMiB, 32 * kMiB, 16 * kMiB, 8 * kMiB}));
    EXPECT_EQ(blockSize.load(), 8 * kMiB);
    EXPECT_EQ(Count("ERROR_NO_SYSTEM_RESOURCES - retry (A) with BlockSize"), 3);
    EXPECT_EQ(stream->receivedBytes.load(), 3000u);
    // 100 ms between the attempts, on the manual clock.
    EXPECT_GE(virtualClock.SteadyNs(), 300LL * 1000000);

    // The next acquisition starts at the size the system took.
    scanner->Submitted();
    scanner->documentBytes = 6000;
    Run();
    EXPECT_EQ(scanner->Submitted().at(4), 8 * kMiB);
    EXPECT_EQ(scanner->Submitted().size(), 5u);
}

TEST_F(AcquisitionThreadTest, TheLadderEndsAtTheSmallestBlockAndFails) {
    scanner->refuseAbove = 0x4000;
    scanner->documentBytes = 3000;
    Run();
    EXPECT_FALSE(stream->acq.ok.load());
    EXPECT_TRUE(stream->acq.error.load());
    EXPECT_TRUE(stream->acq.done.load());
    const std::vector<std::size_t> sizes = scanner->Submitted();
    ASSERT_FALSE(sizes.empty());
    EXPECT_LE(sizes.size(), 17u);
    // Halved down to the last block not above 0x9FFF, which ends it.
    EXPECT_EQ(sizes.back(), 0x8000u);
    EXPECT_EQ(sizes.size(), 12u);
    EXPECT_EQ(Count("ERROR_NO_SYSTEM_RESOURCES - final (A) BlockSize"), 1);
    EXPECT_EQ(scanner->Pending(), 0u);
}

TEST_F(AcquisitionThreadTest, StartCommandFirstThenTheStreamAndTheEnd) {
    scanner->documentBytes = 5000;
    start[3] = 0x55;
    Run();
    const std::vector<SentControl> sent = scanner->Controls();
    ASSERT_GE(sent.size(), 5u);
    EXPECT_EQ(sent[0].value, kStartRegister);
    EXPECT_EQ(sent[0].data.size(), 33u);
    EXPECT_EQ(sent[0].data[3], 0x55);
    EXPECT_EQ(sent[1].value, kBeforeReadRegister);
    EXPECT_EQ(sent[2].value, kGoRegister);
    EXPECT_EQ(sent[3].value, kEndRegister);
    EXPECT_EQ(sent[4].value, kEnd2Register);
    // A short read ends the document; the buffer holds exactly its bytes.
    EXPECT_EQ(stream->receivedBytes.load(), 5000u);
    EXPECT_EQ(buffer[4999], 4999 % 251);
    EXPECT_EQ(buffer[5000], 0);
    // 5 lines of an announced 65536: more than an inch was left empty.
    EXPECT_FALSE(stream->documentComplete.load());
    EXPECT_EQ(scanner->Pending(), 0u);
}

TEST_F(AcquisitionThreadTest, NotReadyIsRetriedTenTimesThenFails) {
    scanner->documentBytes = 2000;
    scanner->pollFaults = {platform::kErrorNotReady, platform::kErrorNotReady};
    Run();
    EXPECT_TRUE(stream->acq.ok.load());
    EXPECT_EQ(Count("ERROR_NOT_READY - retry"), 1);
    EXPECT_EQ(stream->receivedBytes.load(), 2000u);
    // 100 ms between the tries, on the manual clock.
    EXPECT_GE(virtualClock.SteadyNs(), 200LL * 1000000);

    scanner->pollFaults.assign(11, platform::kErrorNotReady);
    Run();
    EXPECT_FALSE(stream->acq.ok.load());
    EXPECT_EQ(Count("ERROR_NOT_READY\r\n"), 1);
    EXPECT_EQ(scanner->Pending(), 0u);
}

TEST_F(AcquisitionThreadTest, GeneralFailureIsRetriedOnlyBeforeDataFlows) {
    scanner->documentBytes = 2000;
    scanner->pendingPolls = 0;
    scanner->pollFaults = {platform::kErrorGenFailure};
    Run();
    EXPECT_TRUE(stream->acq.ok.load());
    EXPECT_EQ(Count("ERROR_GEN_FAILURE - retry before go"), 1);

    // After a pending poll the stream flows: the failure ends it. (The
    // first poll, before GO, finds the read pending without any flow.)
    scanner->pendingPolls = 2;
    scanner->pollFaults = {platform::kErrorGenFailure};
    Run();
    EXPECT_FALSE(stream->acq.ok.load());
    EXPECT_EQ(Count("ERROR_GEN_FAILURE - retry after go"), 1);
}

TEST_F(AcquisitionThreadTest, StopWhileStreamingEndsWithoutErrorAndReapsTheRead) {
    scanner->endless = true;
    scanner->onPoll = [this](int n) {
        if (n == 5) stop.store(true);
    };
    Run();
    EXPECT_TRUE(stream->acq.ok.load());
    EXPECT_TRUE(stream->acq.done.load());
    EXPECT_TRUE(stream->endFlag.load());
    EXPECT_EQ(Count("ThrAcq_0x3000 - cancel for stop"), 1);
    EXPECT_EQ(scanner->Pending(), 0u) << "the cancelled read is reaped before the thread ends";
    const std::vector<std::uint16_t> values = scanner->ControlValues();
    EXPECT_NE(std::find(values.begin(), values.end(), kEndRegister), values.end());
}

// The correction thread ends once the acquisition is done: a block the
// thread cannot use still ends the stream as failed, or the correction
// would wait out its two minutes.
TEST_F(AcquisitionThreadTest, ABlockWithoutItsCountersStillEndsTheStreamAsFailed) {
    stream = std::make_unique<StreamState>();
    AcqBlock block;
    block.stream = stream.get();
    block.device = device.get();
    block.target = buffer.data();
    block.stopRequested = &stop;
    std::thread t(&acquisition::ThrAcq_0x3000, &block);
    t.join();
    EXPECT_TRUE(stream->acq.done.load());
    EXPECT_TRUE(stream->acq.error.load());
    EXPECT_FALSE(stream->acq.ok.load());
    EXPECT_EQ(scanner->Submitted().size(), 0u);
}

TEST_F(AcquisitionThreadTest, OlderFirmwareHalvesAtOnceAndGoesForward) {
    scanner->refuseAbove = 16 * kMiB;
    scanner->documentBytes = 1000;
    Run(0x2200);
    EXPECT_TRUE(stream->acq.ok.load());
    EXPECT_EQ(scanner->Submitted(), (std::vector<std::size_t>{32 * kMiB, 16 * kMiB}));
    EXPECT_EQ(Count("war -  trySmallerBlock"), 1);
    EXPECT_EQ(Count("resetting trySmallerBlock for fw0x2XXX"), 1);
    const std::vector<std::uint16_t> values = scanner->ControlValues();
    EXPECT_NE(std::find(values.begin(), values.end(), kOldGoRegister), values.end());
    EXPECT_EQ(std::find(values.begin(), values.end(), kStartRegister), values.end());
}

TEST(SkewCombination, OppositeSignsAreWeightedAndSmallAnglesDropped) {
    using acquisition::CombineSkew;
    using acquisition::SkewPair;
    const SkewPair both = CombineSkew({0.1f, -0.05f, 10, 10}, {});
    EXPECT_NEAR(both.front, 0.075f, 1e-6);
    EXPECT_NEAR(both.rear, -0.075f, 1e-6);
    // One side measured: the other is its mirror.
    const SkewPair one = CombineSkew({kNoSkew, -0.1f, 0, 8}, {});
    EXPECT_NEAR(one.front, 0.1f * 8 / 8, 1e-6);
    // Equal signs disagree; light weights are not trusted.
    EXPECT_EQ(CombineSkew({0.1f, 0.1f, 10, 10}, {}).front, 0.0f);
    EXPECT_EQ(CombineSkew({0.1f, -0.1f, 3, 3}, {}).front, 0.0f);
    // A wide document drops angles below a degree.
    EXPECT_EQ(CombineSkew({0.01f, -0.01f, 10, 10}, {.heightsBelowWidths = true}).front, 0.0f);
    EXPECT_NEAR(CombineSkew({0.01f, -0.01f, 10, 10}, {}).front, 0.01f, 1e-6);
    // With the magnetic strip and no MICR deskew the angle is never used.
    EXPECT_EQ(CombineSkew({0.1f, -0.1f, 10, 10}, {.cmc7Strip = true}).front, 0.0f);
    EXPECT_EQ(CombineSkew({0.6f, -0.6f, 10, 10}, {.cmc7Strip = true, .deskewMicr = true}).front,
              0.0f);
}

}  // namespace
}  // namespace kovran::test
