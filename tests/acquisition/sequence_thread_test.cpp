// The sequence thread on the fake clock, beside a stand-in correction: every
// status read of the thread publishes the next lines as checked, so the
// samples fall on the same lines on every run.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "acquisition/acq_fixture.h"
#include "acquisition/sequence.h"

namespace kovran::test {
namespace {

using namespace acquisition;

class SequenceThread : public AcqFixture {
  protected:
    void SetUp() override {
        ini = "[General]\nLogTimeStamp=0\nDebug=" + debug + "\n";
        AcqFixture::SetUp();
        block.stream = &stream;
        block.correction = &cor;
        block.stopFlag = &stop;
        block.doubleFeedApplies = true;
        block.buzzer = true;
        block.buzzerTone = 200;
        block.buzzerMs = 1200;
        block.buzz = [this](std::uint8_t tone, std::uint16_t ms) { tones.emplace_back(tone, ms); };
    }

    // The stand-in correction: `step` lines per status read up to `total`,
    // the sensors as bits(first new line). The stream may end first.
    template <class Bits>
    void Lines(std::int32_t total, Bits bits, std::int32_t step = 10, bool endAtOnce = false) {
        block.status = [=, this]() -> std::optional<std::uint32_t> {
            ++reads;
            if (endAtOnce) stream.endFlag.store(true);
            const std::int32_t at = block.linesChecked.load();
            const std::int32_t next = std::min(at + step, total);
            block.linesChecked.store(next);
            if (next >= total) {
                stream.endFlag.store(true);
                cor.flags.done.store(true);
            }
            return (static_cast<std::uint32_t>(bits(at)) << kStatusDoubleSheetShift) | 0x2;
        };
    }
    KVXResult Run() {
        ASSERT_RUN();
        return block.result.load();
    }
    void ASSERT_RUN() {
        std::atomic<bool> active{false};
        ASSERT_TRUE(StartSequenceThread(block, active));
        JoinSequenceThread(block, active);
        EXPECT_FALSE(active.load());
        EXPECT_TRUE(block.flags.done.load());
    }

    std::string debug = "0";
    StreamState stream;
    CorrectionBlock cor;
    std::atomic<bool> stop{false};
    SequenceBlock block;
    std::vector<std::pair<int, int>> tones;
    int reads = 0;
};

TEST_F(SequenceThread, TwoSheetsPastTheLimitEndTheAcquisitionWithADoubleFeed) {
    Lines(2000, [](std::int32_t) { return 0x1; });
    EXPECT_EQ(Run(), KVX_ERR_DOUBLE_FEED);
    EXPECT_EQ(LastResult(), KVX_ERR_DOUBLE_FEED);
    EXPECT_TRUE(stream.sequenceStopped.load());
    EXPECT_FALSE(block.run.load());
    // The thread stops taking lines at the double feed.
    EXPECT_LT(block.linesChecked.load(), 700);
    const std::string log = Logged();
    EXPECT_NE(log.find("ThrSeq_0x3000 - go"), std::string::npos) << log;
    EXPECT_NE(log.find("buzzer for double 200 - 1200 ms"), std::string::npos) << log;
    EXPECT_NE(log.find("err -  ThrSeq - double feed (101 at 300 dpi) detected on photo 1"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("ThrSeq_0x3000 - end ok"), std::string::npos);
    EXPECT_EQ(tones, (std::vector<std::pair<int, int>>{{200, 1200}, {0, 0}}));
}

TEST_F(SequenceThread, TheLimitFollowsTheFrontsVerticalResolution) {
    block.frontDpiV = 600;
    // 200 lines at 600 dpi are 100 at 300: no double feed yet.
    Lines(
        4000, [](std::int32_t r) { return r < 200 ? 0x4 : 0; }, 1);
    EXPECT_EQ(Run(), KVX_OK);
    EXPECT_NE(Logged().find("DoubleFeed (100 at 300 dpi) on photo 3"), std::string::npos);
}

TEST_F(SequenceThread, AShortOverlapIsLoggedAndTheScanGoesOn) {
    Lines(
        1000, [](std::int32_t r) { return r >= 50 && r < 80 ? 0x1 : 0; }, 1);
    EXPECT_EQ(Run(), KVX_OK);
    EXPECT_EQ(LastResult(), KVX_OK);
    EXPECT_FALSE(stream.sequenceStopped.load());
    const std::string log = Logged();
    EXPECT_NE(log.find("DoubleFeed (30 at 300 dpi) on photo 1"), std::string::npos) << log;
    EXPECT_EQ(log.find("photo 2"), std::string::npos);
    EXPECT_EQ(log.find("buzzer"), std::string::npos);
    EXPECT_TRUE(tones.empty());
    // A quarter of the limit or less is not worth a line.
    EXPECT_EQ(log.find("DoubleFeed (2"), std::string::npos);
}

TEST_F(SequenceThread, DarkPrintUnderTheSensorExcusesIt) {
    for (std::int32_t r = 0; r < kSequenceLines; ++r)
        block.darkFront[static_cast<std::size_t>(r)] = 0x2;
    Lines(2000, [](std::int32_t) { return 0x2; });
    EXPECT_EQ(Run(), KVX_OK);
    EXPECT_TRUE(tones.empty());
}

TEST_F(SequenceThread, LinesCheckedAfterTheStreamEndedAreStillTaken) {
    // The stream ended before the correction caught up: the lines that
    // come after its end decide as well.
    Lines(
        2000, [](std::int32_t) { return 0x1; }, 10, true);
    EXPECT_EQ(Run(), KVX_ERR_DOUBLE_FEED);
}

TEST_F(SequenceThread, WithoutTheCheckTheSensorsAreOnlyWatched) {
    block.doubleFeedApplies = false;
    block.sequenceOption = true;
    Lines(2000, [](std::int32_t) { return 0x7; });
    EXPECT_EQ(Run(), KVX_OK);
    EXPECT_GT(reads, 0);
    EXPECT_TRUE(tones.empty());
}

TEST_F(SequenceThread, NothingToWatchEndsAtOnce) {
    Lines(2000, [](std::int32_t) { return 0x7; });
    block.notApplicable = true;
    EXPECT_EQ(Run(), KVX_OK);
    EXPECT_NE(Logged().find("ThrSeq_0x3000 - end - not applicable"), std::string::npos);
    block.flags.done.store(false);
    block.notApplicable = false;
    block.doubleFeedApplies = false;
    EXPECT_EQ(Run(), KVX_OK);
    EXPECT_NE(Logged().find("ThrSeq_0x3000 - end - not supported by FW"), std::string::npos);
    EXPECT_EQ(reads, 0);
}

TEST_F(SequenceThread, AStatusErrorEndsTheAcquisition) {
    block.status = [] { return std::optional<std::uint32_t>(); };
    stream.acq.done.store(true);
    EXPECT_EQ(Run(), KVX_ERR_GENERIC);
    EXPECT_EQ(LastResult(), KVX_ERR_GENERIC);
    EXPECT_TRUE(stream.sequenceStopped.load());
    EXPECT_NE(Logged().find("ThrSeq - status error"), std::string::npos);
}

TEST_F(SequenceThread, TheFeedersAcquisitionLeavesTheHostsLastResult) {
    block.background = true;
    // Even where the buzzer's command fails and sets the last result.
    block.buzz = [](std::uint8_t, std::uint16_t) { SetLastResult(KVX_ERR_GENERIC); };
    SetLastResult(KVX_OK);
    Lines(2000, [](std::int32_t) { return 0x1; });
    EXPECT_EQ(Run(), KVX_ERR_DOUBLE_FEED);
    EXPECT_EQ(LastResult(), KVX_OK);
}

TEST_F(SequenceThread, AStopEndsTheWatch) {
    stop.store(true);
    Lines(2000, [](std::int32_t) { return 0x1; });
    EXPECT_EQ(Run(), KVX_OK);
    EXPECT_TRUE(tones.empty());
}

class SequenceTrace : public SequenceThread {
  protected:
    void SetUp() override {
        debug = "512";
        SequenceThread::SetUp();
        block.tracePath = dir / "double.txt";
    }
};

TEST_F(SequenceTrace, TheTraceHoldsALinePerSampleFromTheSensorDistanceOn) {
    block.darkRear[300] = 0x4;
    Lines(
        600, [](std::int32_t r) { return r < 40 ? 0x3 : 0; }, 1);
    EXPECT_EQ(Run(), KVX_OK);
    std::ifstream in(block.tracePath);
    ASSERT_TRUE(in.good());
    std::vector<std::string> rows;
    for (std::string line; std::getline(in, line);) rows.push_back(line);
    ASSERT_EQ(rows.size(), 1u + 600 - 471);
    EXPECT_EQ(rows[0],
              "\tDouble1\tDarkF1\tDarkR1\tDouble2\tDarkF2\tDarkR2\tDouble3\tDarkF3\tDarkR3\tVal1\t"
              "Val2\tVal3");
    EXPECT_EQ(rows[1], "0471\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0");
    // Line 472 counts the sample of line 0; its rear mark is line 200's.
    EXPECT_EQ(rows[2], "0472\t0\t0\t0\t0\t0\t0\t0\t0\t0\t1\t1\t0");
    EXPECT_EQ(rows[1 + 572 - 471], "0572\t0\t0\t0\t0\t0\t0\t0\t0\t1\t0\t0\t0");
    EXPECT_EQ(rows[1 + 40], "0511\t0\t0\t0\t0\t0\t0\t0\t0\t0\t40\t40\t0");
    EXPECT_EQ(rows[1 + 41], "0512\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0");
}

TEST_F(SequenceThread, NoTraceWithoutItsDebugBit) {
    block.tracePath = dir / "double.txt";
    Lines(
        600, [](std::int32_t) { return 0; }, 10);
    EXPECT_EQ(Run(), KVX_OK);
    EXPECT_FALSE(std::ifstream(block.tracePath).good());
}

}  // namespace
}  // namespace kovran::test
