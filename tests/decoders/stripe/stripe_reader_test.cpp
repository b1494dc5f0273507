// The reader's operations on an initialised simulated scanner: the wait
// for a swipe through the status word, the fetch of the tracks in pieces,
// the decoding and what each fault of a card or of the device leaves.
#include "decoders/stripe/stripe_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "api/frame_state.h"
#include "api/log_state.h"
#include "api/settings.h"
#include "decoders/stripe/card_bytes.h"
#include "device/connection.h"
#include "device/connection_fixture.h"
#include "device/control_request.h"
#include "device/transport.h"
#include "sim/card_swipe.h"

namespace kovran::decoders::stripe {
namespace {

using test::stripe::Lrc;

const std::string kTrack1 = "%B4111111111111111^CARDHOLDER/A^29121010000000000000?";
const std::string kTrack2 = ";4111111111111111=29121010000000000000?";
const std::string kTrack3 = ";019999999999999999=00000000000000000000000=0?";

sim::CardSwipe Card(sim::SwipeDirection direction = sim::SwipeDirection::Forward) {
    sim::CardSwipe s;
    s.tracks = {kTrack1, kTrack2, kTrack3};
    s.direction = direction;
    return s;
}

sim::CardSwipe Faulty(sim::SwipeFault fault, int track) {
    sim::CardSwipe s = Card();
    s.fault = fault;
    s.faultTrack = track;
    return s;
}

std::string Full(int track, const std::string& text) {
    return text + Lrc(track, text);
}

class StripeReaderTest : public test::ConnectionTest {
  protected:
    void SetUp() override {
        ConnectionTest::SetUp();
        ASSERT_GT(Open(Default()), 0);
        Settings().scan.msecMagstripeTimeout = 1000;
    }
    sim::SimulatedScanner& Scanner() { return usb->Device(0); }
    bool ReaderOnInDevice() {
        return Scanner().Inspect([](const sim::ScannerModel& m) { return m.StripeOn(); });
    }
    // Forgets the lines logged so far.
    void ClearLog() { std::filesystem::resize_file(LogRecord().filePath, 0); }
    std::uint32_t DeviceTrackBits() {
        return Scanner().Inspect([](const sim::ScannerModel& m) { return m.Stripe().TrackBits(); });
    }
};

TEST_F(StripeReaderTest, TheInitialiseLeavesTheReaderOn) {
    EXPECT_TRUE(ReaderOnInDevice());
    EXPECT_EQ(Stripe().reader, ReaderState::On);
    EXPECT_TRUE(device::Device().stripeReaderEnabled.load());
}

TEST_F(StripeReaderTest, ForwardAndReversedSwipesComeBackAsTheCard) {
    for (const auto direction : {sim::SwipeDirection::Forward, sim::SwipeDirection::Reversed}) {
        Scanner().QueueSwipe(Card(direction));
        ASSERT_EQ(ReadTracks(0), KVX_OK);
        EXPECT_STREQ(TrackText(1), Full(1, kTrack1).c_str());
        EXPECT_STREQ(TrackText(2), Full(2, kTrack2).c_str());
        EXPECT_STREQ(TrackText(3), Full(3, kTrack3).c_str());
        // The badge buffer was emptied for the next card.
        EXPECT_EQ(DeviceTrackBits(), 0u);
    }
    // Flags 7: the data alone.
    Scanner().QueueSwipe(Card());
    ASSERT_EQ(ReadTracks(kStripStartSentinel | kStripEndSentinel | kStripLrc), KVX_OK);
    EXPECT_STREQ(TrackText(2), "4111111111111111=29121010000000000000");
    EXPECT_STREQ(TrackText(0), "");
    EXPECT_STREQ(TrackText(4), "");
}

TEST_F(StripeReaderTest, ACardWithoutTrackThreeLeavesItEmpty) {
    sim::CardSwipe s = Card();
    s.tracks[2].clear();
    Scanner().QueueSwipe(s);
    ASSERT_EQ(ReadTracks(0), KVX_OK);
    EXPECT_STREQ(TrackText(1), Full(1, kTrack1).c_str());
    EXPECT_STREQ(TrackText(3), "");
}

TEST_F(StripeReaderTest, EachCardFaultEmptiesItsTrackWithItsOwnResult) {
    struct Case {
        sim::SwipeFault fault;
        int track;
        KVXResult result;
        const char* line;
        sim::SwipeDirection direction = sim::SwipeDirection::Forward;
    };
    constexpr auto kBack = sim::SwipeDirection::Reversed;
    const Case cases[] = {
        {sim::SwipeFault::FlippedParity, 2, KVX_ERR_MS_PARITY, "err -  parity error on track  2"},
        {sim::SwipeFault::FlippedParity, 1, KVX_ERR_MS_PARITY, "err -  track1 - wrong parity",
         kBack},
        {sim::SwipeFault::WrongLrc, 3, KVX_ERR_MS_LRC, "err -  LCR error on track  3"},
        {sim::SwipeFault::WrongLrc, 1, KVX_ERR_MS_LRC, "err -  track1 - wrong LCR", kBack},
        {sim::SwipeFault::MissingStart, 2, KVX_ERR_MS_START, nullptr},
        {sim::SwipeFault::MissingStart, 3, KVX_ERR_MS_START, nullptr, kBack},
        {sim::SwipeFault::MissingEnd, 1, KVX_ERR_MS_END, nullptr},
        {sim::SwipeFault::MissingEnd, 2, KVX_ERR_MS_END, nullptr, kBack},
        {sim::SwipeFault::NoiseBeforeStart, 2, KVX_ERR_MS_START, nullptr},
        {sim::SwipeFault::NoiseBeforeStart, 1, KVX_ERR_MS_START, nullptr, kBack},
        // A forward swipe that slipped is not realigned; a reversed one that
        // lost bits of its LRC fails its parity.
        {sim::SwipeFault::BitSlip, 3, KVX_ERR_MS_START, nullptr},
        {sim::SwipeFault::BitSlip, 2, KVX_ERR_MS_PARITY, nullptr, kBack},
    };
    for (const Case& c : cases) {
        sim::CardSwipe swipe = Faulty(c.fault, c.track);
        swipe.direction = c.direction;
        Scanner().QueueSwipe(swipe);
        EXPECT_EQ(ReadTracks(0), c.result) << static_cast<int>(c.fault);
        for (int t = 1; t <= 3; ++t) {
            const std::string want = t == c.track ? ""
                                                  : Full(t, t == 1   ? kTrack1
                                                            : t == 2 ? kTrack2
                                                                     : kTrack3);
            EXPECT_EQ(TrackText(t), want) << static_cast<int>(c.fault) << " track " << t;
        }
        if (c.line) {
            EXPECT_EQ(Count(c.line), 1) << c.line;
        }
        EXPECT_EQ(
            Count("err -  KVXMagStripe - not valid reading for trace  " + std::to_string(c.track)),
            1);
        ClearLog();
    }
}

TEST_F(StripeReaderTest, ATrackPastTheReadersBufferIsRefusedAndTheNextCardReads) {
    Scanner().QueueSwipe(Faulty(sim::SwipeFault::TooLong, 2));
    Scanner().QueueSwipe(Card());
    EXPECT_EQ(ReadTracks(0), KVX_ERR_MS_TOO_MANY);
    for (int t = 1; t <= 3; ++t) EXPECT_STREQ(TrackText(t), "");
    ASSERT_EQ(ReadTracks(0), KVX_OK);
    EXPECT_STREQ(TrackText(2), Full(2, kTrack2).c_str());
}

TEST_F(StripeReaderTest, NoSwipeTimesOutAfterTheParametersPolls) {
    Settings().scan.msecMagstripeTimeout = 1000;
    const std::uint64_t slept = clock.SleptMs();
    EXPECT_EQ(ReadTracks(0), KVX_ERR_TIMEOUT);
    // Ten polls, 100 ms apart.
    EXPECT_EQ(clock.SleptMs() - slept, 900u);
    EXPECT_EQ(Count("war -  Magnetic Stripe Timeout"), 1);
    Settings().scan.msecMagstripeTimeout = 0;
    EXPECT_EQ(ReadTracks(0), KVX_ERR_TIMEOUT);
}

TEST_F(StripeReaderTest, ACardSwipedWhileTheLibraryWaitsIsRead) {
    int sleeps = 0;
    clock.OnSleep([&](unsigned) {
        if (++sleeps == 4) Scanner().QueueSwipe(Card(sim::SwipeDirection::Reversed));
    });
    EXPECT_EQ(ReadTracks(0), KVX_OK);
    clock.OnSleep(nullptr);
    EXPECT_EQ(sleeps, 4);
    EXPECT_STREQ(TrackText(1), Full(1, kTrack1).c_str());
}

TEST_F(StripeReaderTest, AnUnplugWhileWaitingEndsTheWait) {
    Settings().scan.msecMagstripeTimeout = 60000;
    int sleeps = 0;
    clock.OnSleep([&](unsigned) {
        if (++sleeps == 3) Scanner().Unplug();
    });
    const std::uint64_t slept = clock.SleptMs();
    const KVXResult r = ReadTracks(0);
    clock.OnSleep(nullptr);
    EXPECT_LT(r, 0);
    EXPECT_NE(r, KVX_ERR_TIMEOUT);
    // The transport's own retries, not the minute of the time-out.
    EXPECT_LT(clock.SleptMs() - slept, 30000u);
}

TEST_F(StripeReaderTest, AReaderSwitchedOffInTheDeviceIsSwitchedOnAgainByTheRead) {
    ASSERT_GE(
        device::ControlMsg(device::kClassStripe, kReaderOff, nullptr, 0, device::Direction::In), 0);
    ASSERT_FALSE(ReaderOnInDevice());
    Scanner().QueueSwipe(Card());
    EXPECT_EQ(ReadTracks(0), KVX_OK);
    EXPECT_TRUE(ReaderOnInDevice());
    EXPECT_STREQ(TrackText(3), Full(3, kTrack3).c_str());
}

TEST_F(StripeReaderTest, SwitchingOnAReaderKnownOnSendsNothing) {
    const std::uint64_t before = Scanner().ControlCount();
    EXPECT_EQ(SwitchReader(device::StripeReader::On, Resend::No), KVX_OK);
    EXPECT_EQ(Scanner().ControlCount(), before);
    EXPECT_EQ(SwitchReader(device::StripeReader::Off, Resend::No), KVX_OK);
    EXPECT_FALSE(ReaderOnInDevice());
    EXPECT_FALSE(device::Device().stripeReaderEnabled.load());
    // A card swiped past a reader that is off is not read.
    Scanner().QueueSwipe(Card());
    Settings().scan.msecMagstripeTimeout = 200;
    EXPECT_EQ(SwitchReader(device::StripeReader::On, Resend::No), KVX_OK);
    EXPECT_GT(Scanner().ControlCount(), before + 1);
    EXPECT_EQ(ReadTracks(0), KVX_OK);
}

TEST_F(StripeReaderTest, AFailedBadgeResetLogsAndReturnsTheTransportsError) {
    Scanner().Inject(sim::NotReady{.count = sim::kForever, .only = {.cls = 0xD2, .sub = 1}});
    EXPECT_EQ(ResetBadgeBuffer(" Badge buffer reset failed"), KVX_ERR_NOT_READY);
    EXPECT_EQ(Count("err -   Badge buffer reset failed"), 1);
    Scanner().ClearFaults();
}

class StripeReaderAbsentTest : public test::ConnectionTest {};

TEST_F(StripeReaderAbsentTest, ADeviceWithoutAReaderOpensAndRefusesReads) {
    sim::DeviceProfile p = Default();
    p.stripeReader = false;
    ASSERT_GT(Open(p), 0);
    EXPECT_EQ(LastResult(), KVX_OK);
    EXPECT_TRUE(Stripe().absent);
    EXPECT_EQ(SwitchReader(device::StripeReader::On, Resend::No), KVX_OK);
    EXPECT_EQ(ReadTracks(0), KVX_ERR_HW_UNSUPPORTED);
    // The next device may have one.
    device::CloseDevice();
    ASSERT_GT(Open(Default()), 0);
    EXPECT_FALSE(Stripe().absent);
    usb->Device(0).QueueSwipe(Card());
    EXPECT_EQ(ReadTracks(0), KVX_OK);
}

}  // namespace
}  // namespace kovran::decoders::stripe
