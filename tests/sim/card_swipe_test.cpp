// Card swipes of the simulated stripe reader: the bytes a swipe leaves,
// agreeing with the tests' own card encoder; the faults; the profile's
// "swipe" lines; the reader's badge buffer as the status word and the track
// reads show it.
#include "sim/card_swipe.h"

#include <gtest/gtest.h>

#include "decoders/stripe/card_bytes.h"
#include "sim/profile_parser.h"
#include "sim/stripe_model.h"

namespace kovran::sim {
namespace {

namespace card = test::stripe;

CardSwipe Swipe(const std::string& t1, const std::string& t2, const std::string& t3) {
    CardSwipe s;
    s.tracks = {t1, t2, t3};
    return s;
}

const CardSwipe kCard = Swipe("%B123^DOE/J^2512?", ";123=2512?", "=0123?");

TEST(CardSwipe, BytesAgreeWithAnEncoderWrittenApart) {
    for (int t = 1; t <= 3; ++t) {
        const std::string& text = kCard.tracks[static_cast<std::size_t>(t - 1)];
        EXPECT_EQ(SwipeBytes(kCard, t), card::Forward(t, text)) << t;
        CardSwipe back = kCard;
        back.direction = SwipeDirection::Reversed;
        EXPECT_EQ(SwipeBytes(back, t), card::Reversed(card::Forward(t, text), t)) << t;
        back.fault = SwipeFault::BitSlip;
        EXPECT_EQ(SwipeBytes(back, t), card::Reversed(card::Forward(t, text), t, 2)) << t;
    }
    EXPECT_TRUE(SwipeBytes(Swipe("", ";1?", ""), 1).empty());
    EXPECT_TRUE(SwipeBytes(kCard, 4).empty());
}

TEST(CardSwipe, FaultsChangeWhatTheyName) {
    const std::vector<std::uint8_t> clean = SwipeBytes(kCard, 2);
    CardSwipe s = kCard;
    s.faultTrack = 2;
    s.fault = SwipeFault::FlippedParity;
    std::vector<std::uint8_t> b = SwipeBytes(s, 2);
    ASSERT_EQ(b.size(), clean.size());
    EXPECT_EQ(b[1] ^ clean[1], 0x10);
    EXPECT_EQ(SwipeBytes(s, 1), SwipeBytes(kCard, 1)) << "only track 2";
    s.fault = SwipeFault::WrongLrc;
    b = SwipeBytes(s, 2);
    EXPECT_EQ(b.back() & 0x0F, (clean.back() & 0x0F) ^ 1);
    s.fault = SwipeFault::MissingStart;
    EXPECT_EQ(SwipeBytes(s, 2), card::Forward(2, "123=2512?"));
    s.fault = SwipeFault::MissingEnd;
    EXPECT_EQ(SwipeBytes(s, 2), card::Forward(2, ";123=2512"));
    s.fault = SwipeFault::TooLong;
    EXPECT_GT(SwipeBytes(s, 2).size(), 128u);
    s.fault = SwipeFault::NoiseBeforeStart;
    EXPECT_EQ(SwipeBytes(s, 2)[0], 1);
}

TEST(CardSwipe, ProfileLinesQueueCards) {
    std::vector<DeviceProfile> devices;
    std::string error;
    ASSERT_TRUE(
        ParseProfiles("[device]\nstripe_reader = yes\n"
                      "swipe = %B123^DOE/J^2512?|;123=2512?|=0123?\n"
                      "swipe = |;1?||reversed fault=parity@2\n",
                      &devices, &error))
        << error;
    ASSERT_EQ(devices[0].swipes.size(), 2u);
    EXPECT_EQ(devices[0].swipes[0].tracks, kCard.tracks);
    EXPECT_EQ(devices[0].swipes[1].direction, SwipeDirection::Reversed);
    EXPECT_EQ(devices[0].swipes[1].fault, SwipeFault::FlippedParity);
    EXPECT_EQ(devices[0].swipes[1].faultTrack, 2);
    ASSERT_TRUE(ParseProfiles("[device]\nstripe_reader = no\n", &devices, &error));
    EXPECT_FALSE(devices[0].stripeReader);

    for (const char* bad :
         {"swipe = ;1?|;1?", "swipe = a|;1?|", "swipe = |;A?|", "swipe = |;1?||fault=smudge",
          "swipe = |;1?||fault=lrc@4", "swipe = |;1?||sideways",
          "swipe = |;1?||fault=lrc fault=noise", "swipe = |||x|y"}) {
        EXPECT_FALSE(ParseProfiles(std::string("[device]\n") + bad + "\n", &devices, &error))
            << bad;
    }
}

TEST(StripeModel, TheBadgeBufferHoldsOneCardUntilReset) {
    StripeModel m;
    m.Queue(kCard);
    m.Queue(Swipe("", ";9?", ""));
    // A reader that is off reads nothing.
    EXPECT_EQ(m.TrackBits(), 0u);
    m.Enable();
    EXPECT_EQ(m.TrackBits(), 0xE000u);
    EXPECT_EQ(m.Queued(), 1u);
    // Track 1 is 18 bytes: one piece, then a count of 0.
    std::vector<std::uint8_t> r = m.TrackReply(0x02);
    ASSERT_EQ(r.size(), 64u);
    EXPECT_EQ(r[0], 0x02);
    EXPECT_EQ(r[1], 18);
    EXPECT_EQ(std::vector<std::uint8_t>(r.begin() + 2, r.begin() + 20), SwipeBytes(kCard, 1));
    EXPECT_EQ(m.TrackReply(0x02)[1], 0);
    m.Reset();
    EXPECT_EQ(m.TrackBits(), 0x4000u);
    EXPECT_EQ(m.Queued(), 0u);
    m.Reset();
    EXPECT_EQ(m.TrackBits(), 0u);
}

TEST(StripeModel, LongTracksComeInPieces) {
    CardSwipe s = kCard;
    s.fault = SwipeFault::TooLong;
    s.faultTrack = 3;
    StripeModel m;
    m.Enable();
    m.Queue(s);
    std::vector<std::uint8_t> all;
    for (int i = 0; i < 10; ++i) {
        const std::vector<std::uint8_t> r = m.TrackReply(0x04);
        if (r[1] == 0) break;
        EXPECT_LE(r[1], StripeModel::kTrackPiece);
        all.insert(all.end(), r.begin() + 2, r.begin() + 2 + r[1]);
    }
    EXPECT_EQ(all, SwipeBytes(s, 3));
}

}  // namespace
}  // namespace kovran::sim
