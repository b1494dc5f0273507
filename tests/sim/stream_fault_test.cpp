// Bulk faults of the simulated scanner: each one changes the stream exactly
// as armed and nothing else.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/scanner_model.h"
#include "stream_rig.h"
#include "support/fake_clock.h"

namespace kovran::sim::streamtest {
namespace {

constexpr std::size_t kLine = 2 * 2592;  // grey duplex at 300 dpi

DeviceProfile Cheques(unsigned n = 1) {
    DeviceProfile p = DefaultDeviceProfile();
    p.documents = n;
    return p;
}

std::vector<std::uint8_t> Reference() {
    Rig rig(Cheques());
    return rig.Acquire(StartBits{});
}

// Reads the stream in blocks, going on after failed reads as the
// acquisition's retries do; the errors met are returned.
std::vector<int> ReadThrough(Rig& rig, std::vector<std::uint8_t>* out,
                             std::size_t block = 256 << 10) {
    std::vector<int> errors;
    for (int i = 0; i < 10000; ++i) {
        const Read r = rig.ReadBlock(block, out);
        if (r.error != 0) {
            errors.push_back(r.error);
            if (r.error == platform::kErrorFileNotFound || errors.size() > 20) break;
            continue;
        }
        if (r.bytes < block) break;
    }
    return errors;
}

TEST(StreamFaults, TheUsbfsLimitRefusesA32MiBReadWith1450) {
    Rig rig(Cheques());
    std::vector<std::uint8_t> buffer((32u << 20) + 1);
    platform::BulkTransferId id = 0;
    EXPECT_EQ(rig.Dev().SubmitBulk(platform::BulkPipe::In, buffer.data(), 32u << 20, &id),
              platform::kErrorNoSystemResources);
    EXPECT_EQ(rig.Dev().SubmitBulk(platform::BulkPipe::In, buffer.data(), (16u << 20) + 1, &id),
              platform::kErrorNoSystemResources);
    EXPECT_EQ(rig.Dev().SubmitBulk(platform::BulkPipe::In, buffer.data(), 16u << 20, &id), 0);
    // Without the limit the whole block is taken; a fault sets a lower one.
    DeviceProfile open = Cheques();
    open.bulkLimit = 0;
    Rig unlimited(open);
    EXPECT_EQ(unlimited.Dev().SubmitBulk(platform::BulkPipe::In, buffer.data(), 32u << 20, &id), 0);
    unlimited.Scanner().Inject(BulkTooLarge{65536});
    EXPECT_EQ(unlimited.Dev().SubmitBulk(platform::BulkPipe::In, buffer.data(), 65537, &id),
              platform::kErrorNoSystemResources);
}

TEST(StreamFaults, NotReadyAndGeneralFailureFailOneReadAndLoseNoByte) {
    const std::vector<std::uint8_t> reference = Reference();
    for (int error : {platform::kErrorNotReady, platform::kErrorGenFailure}) {
        Rig rig(Cheques());
        rig.Scanner().Inject(BulkError{.error = error, .count = 2, .atByte = 300000});
        ASSERT_EQ(rig.SendStart(StartBits{}), 0);
        ASSERT_EQ(rig.Go(), 0);
        std::vector<std::uint8_t> bytes;
        const std::vector<int> errors = ReadThrough(rig, &bytes);
        EXPECT_EQ(errors, (std::vector<int>{error, error}));
        EXPECT_EQ(bytes, reference) << "error " << error;
    }
}

TEST(StreamFaults, AStallLeavesTheReadPendingUntilTheAcquisitionEnds) {
    test::FakeClock clock;
    test::ClockScope scope(clock);
    Rig rig(Cheques(2));
    rig.Scanner().Inject(BulkStall{.atByte = 100000});
    ASSERT_EQ(rig.SendStart(StartBits{}), 0);
    ASSERT_EQ(rig.Go(), 0);
    std::vector<std::uint8_t> bytes;
    const Read r = rig.ReadBlock(1 << 20, &bytes, 4000);
    EXPECT_EQ(r.error, platform::kErrorIoIncomplete);
    EXPECT_EQ(rig.Scanner().BulkInBytes(), 100000u);
    ASSERT_EQ(rig.End(), 0);
    // The next acquisition flows again.
    const std::vector<std::uint8_t> next = rig.Acquire(StartBits{});
    EXPECT_GT(next.size(), 1000 * kLine);
}

TEST(StreamFaults, AReadCompletesBeforeGoWithNothing) {
    Rig rig(Cheques());
    ASSERT_EQ(rig.SendStart(StartBits{}), 0);
    std::vector<std::uint8_t> buffer(4096);
    platform::BulkTransferId id = 0;
    std::size_t n = 99;
    // Armed: the read waits for GO.
    ASSERT_EQ(rig.Dev().SubmitBulk(platform::BulkPipe::In, buffer.data(), buffer.size(), &id), 0);
    EXPECT_EQ(rig.Dev().PollBulk(id, &n), platform::kErrorIoIncomplete);
    rig.Dev().CancelBulk(platform::BulkPipe::In);
    rig.Dev().PollBulk(id, &n);
    rig.Scanner().Inject(EarlyCompletion{});
    ASSERT_EQ(rig.Dev().SubmitBulk(platform::BulkPipe::In, buffer.data(), buffer.size(), &id), 0);
    EXPECT_EQ(rig.Dev().PollBulk(id, &n), 0);
    EXPECT_EQ(n, 0u);
    // GO then streams the document whole.
    ASSERT_EQ(rig.Go(), 0);
    EXPECT_EQ(rig.ReadAll(), Reference());
}

TEST(StreamFaults, AShortDocumentEndsTheStreamEarly) {
    Rig plain(Cheques(2));
    plain.Acquire(StartBits{});
    const std::size_t second = plain.Acquire(StartBits{}).size();
    Rig rig(Cheques(2));
    rig.Scanner().Inject(ShortDocument{.lines = 500});
    EXPECT_EQ(rig.Acquire(StartBits{}).size(), 500 * kLine);
    // Only the next document is short.
    EXPECT_EQ(rig.Acquire(StartBits{}).size(), second);
}

TEST(StreamFaults, UnplugAtABulkInByte) {
    Rig rig(Cheques());
    rig.Scanner().Inject(Unplug{.atByte = 123456});
    ASSERT_EQ(rig.SendStart(StartBits{}), 0);
    ASSERT_EQ(rig.Go(), 0);
    std::vector<std::uint8_t> bytes;
    const std::vector<int> errors = ReadThrough(rig, &bytes, 100000);
    EXPECT_EQ(errors, (std::vector<int>{platform::kErrorFileNotFound}));
    EXPECT_EQ(bytes.size(), 100000u);  // the read crossing the byte failed
    EXPECT_EQ(rig.Scanner().BulkInBytes(), 123456u);
    EXPECT_FALSE(rig.Scanner().Plugged());
}

TEST(StreamFaults, AnAlignerGlitchShiftsTheRestOfTheStreamByOneByte) {
    const std::vector<std::uint8_t> reference = Reference();
    {
        Rig rig(Cheques());
        rig.Scanner().Inject(AlignerGlitch{.line = 100, .shift = 1});
        const std::vector<std::uint8_t> bytes = rig.Acquire(StartBits{});
        ASSERT_EQ(bytes.size(), reference.size() + 1);
        const std::size_t at = 100 * kLine;
        EXPECT_TRUE(std::equal(reference.begin(), reference.begin() + at, bytes.begin()));
        EXPECT_EQ(bytes[at], kGlitchByte);
        EXPECT_TRUE(std::equal(reference.begin() + at, reference.end(), bytes.begin() + at + 1));
    }
    {
        Rig rig(Cheques());
        rig.Scanner().Inject(AlignerGlitch{.line = 100, .shift = -1});
        const std::vector<std::uint8_t> bytes = rig.Acquire(StartBits{});
        ASSERT_EQ(bytes.size(), reference.size() - 1);
        const std::size_t at = 100 * kLine;
        EXPECT_TRUE(std::equal(reference.begin(), reference.begin() + at, bytes.begin()));
        EXPECT_TRUE(std::equal(reference.begin() + at + 1, reference.end(), bytes.begin() + at));
    }
}

TEST(StreamFaults, ANoiseDropoutDarkensARunOfFrontPixels) {
    const std::vector<std::uint8_t> reference = Reference();
    Rig rig(Cheques());
    rig.Scanner().Inject(NoiseDropout{.line = 200, .pixel = 300, .length = 64, .lines = 3});
    const std::vector<std::uint8_t> bytes = rig.Acquire(StartBits{});
    ASSERT_EQ(bytes.size(), reference.size());
    std::size_t changed = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == reference[i]) continue;
        ++changed;
        const std::size_t line = i / kLine;
        const std::size_t pos = i % kLine;
        EXPECT_TRUE(line >= 200 && line < 203 && pos % 2 == 0 && pos / 2 >= 300 && pos / 2 < 364)
            << "line " << line << " byte " << pos;
        EXPECT_EQ(bytes[i], kDropoutRaw);
    }
    EXPECT_GT(changed, 150u);
}

TEST(StreamFaults, RateLimitingFollowsTheClock) {
    test::FakeClock clock;
    test::ClockScope scope(clock);
    Rig rig(Cheques());
    rig.Scanner().Inject(RateLimit{.bytesPerSecond = 1000000});
    ASSERT_EQ(rig.SendStart(StartBits{}), 0);
    ASSERT_EQ(rig.Go(), 0);
    std::vector<std::uint8_t> buffer(1 << 20);
    platform::BulkTransferId id = 0;
    ASSERT_EQ(rig.Dev().SubmitBulk(platform::BulkPipe::In, buffer.data(), buffer.size(), &id), 0);
    std::size_t n = 0;
    EXPECT_EQ(rig.Dev().PollBulk(id, &n), platform::kErrorIoIncomplete);
    clock.AdvanceMs(10);
    EXPECT_EQ(rig.Dev().PollBulk(id, &n), platform::kErrorIoIncomplete);
    EXPECT_EQ(rig.Scanner().BulkInBytes(), 10000u);
    clock.AdvanceMs(1100);
    EXPECT_EQ(rig.Dev().PollBulk(id, &n), 0);
    EXPECT_EQ(n, buffer.size());
    // An hour between two acquisitions lends the next one nothing.
    ASSERT_EQ(rig.End(), 0);
    clock.AdvanceMs(3600 * 1000);
    ASSERT_EQ(rig.SendStart(StartBits{}), 0);
    ASSERT_EQ(rig.Go(), 0);
    const std::uint64_t before = rig.Scanner().BulkInBytes();
    ASSERT_EQ(rig.Dev().SubmitBulk(platform::BulkPipe::In, buffer.data(), buffer.size(), &id), 0);
    EXPECT_EQ(rig.Dev().PollBulk(id, &n), platform::kErrorIoIncomplete);
    EXPECT_EQ(rig.Scanner().BulkInBytes(), before);
    clock.AdvanceMs(10);
    EXPECT_EQ(rig.Dev().PollBulk(id, &n), platform::kErrorIoIncomplete);
    EXPECT_EQ(rig.Scanner().BulkInBytes(), before + 10000u);
}

TEST(StreamFaults, EveryStreamFaultParsesFromAProfileLine) {
    std::string why;
    auto parse = [&](const char* text) { return ParseFault(text, &why); };
    auto e = parse("bulk_error 21 3 at 5000");
    ASSERT_TRUE(e) << why;
    EXPECT_EQ(std::get<BulkError>(*e).error, 21);
    EXPECT_EQ(std::get<BulkError>(*e).count, 3);
    EXPECT_EQ(std::get<BulkError>(*e).atByte, 5000u);
    ASSERT_TRUE(parse("bulk_error 31")) << why;
    ASSERT_TRUE(parse("bulk_stall 4096")) << why;
    ASSERT_TRUE(parse("early_completion")) << why;
    auto s = parse("short_document 700 2");
    ASSERT_TRUE(s) << why;
    EXPECT_EQ(std::get<ShortDocument>(*s).lines, 700u);
    auto g = parse("aligner_glitch 12 -1 2");
    ASSERT_TRUE(g) << why;
    EXPECT_EQ(std::get<AlignerGlitch>(*g).shift, -1);
    EXPECT_EQ(std::get<AlignerGlitch>(*g).channel, 2);
    ASSERT_TRUE(parse("aligner_glitch 12 +1")) << why;
    auto n = parse("noise_dropout 10 300 64 4");
    ASSERT_TRUE(n) << why;
    EXPECT_EQ(std::get<NoiseDropout>(*n).lines, 4u);
    ASSERT_TRUE(parse("rate_limit 40000000")) << why;
    for (const char* bad :
         {"bulk_error", "bulk_error 21 at", "aligner_glitch 5 2", "noise_dropout 1 2",
          "rate_limit 0", "short_document", "bulk_stall -1"}) {
        EXPECT_FALSE(parse(bad)) << bad;
    }
}

}  // namespace
}  // namespace kovran::sim::streamtest
