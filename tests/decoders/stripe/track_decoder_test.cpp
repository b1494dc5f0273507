#include "decoders/stripe/track_decoder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoders/stripe/card_bytes.h"

namespace kovran::decoders::stripe {
namespace {

using test::stripe::Forward;
using test::stripe::Lrc;
using test::stripe::Regrouped;
using test::stripe::Reversed;
using test::stripe::WithParity;
using Bytes = std::vector<std::uint8_t>;

// ISO/IEC 7811 sample cards (the usual test account; track 3 in its own
// character set). The LRC is the test helper's.
const std::string kTrack1 =
    "%B1234567890123445^PADILLA/L.                ^99011200000000000000**XXX******?";
const std::string kTrack2 = ";1234567890123445=99011200000000000000?";
const std::string kTrack3 =
    ";011234567890123445=724724100000000000030300=040400099010=0000000000000000000000==1=00000?";

const std::string& Card(int track) {
    static const std::string* cards[] = {&kTrack1, &kTrack2, &kTrack3};
    return *cards[track - 1];
}

std::string Decoded(int track, const Bytes& raw) {
    const TrackDecoding d = DecodeTrack(track, raw);
    EXPECT_EQ(d.result, KVX_OK) << "track " << track;
    return d.text;
}

std::vector<std::string> NoteTexts(const TrackDecoding& d) {
    std::vector<std::string> out;
    for (const DecodeNote& n : d.notes) out.push_back(std::string(n.prefix) + n.text);
    return out;
}

TEST(StripeTrackDecoder, HandWorkedCardsCarryTheirLrc) {
    // Track 2 ";12345?": values 11,1,2,3,4,5,15; 11^1=10, ^2=8, ^3=11, ^4=15,
    // ^5=10, ^15=5: LRC value 5, '5'. A value with an even number of ones
    // gets the parity bit 0x10: 3, 5, 15 and the LRC.
    const Bytes t2 = {11, 1, 2, 3 | 16, 4, 5 | 16, 15 | 16, 5 | 16};
    EXPECT_EQ(Decoded(2, t2), ";12345?5");
    // Track 1 "%A?": values 5 ('%'), 33 ('A'), 31 ('?'); 5^33=36, ^31=59:
    // LRC '[' (0x20+59; 111011 has five ones, no parity bit: raw 59). The
    // parity bit is 0x40: '%' is 69, 'A' (two ones) 97.
    const Bytes t1 = {69, 33 | 64, 31, 59};
    EXPECT_EQ(Decoded(1, t1), "%A?[");
    // Track 3 may start with '=': values 13,0,1,2,15; 13^0^1^2^15=1: '1';
    // '0' and '?' have an even number of ones.
    const Bytes t3 = {13, 0 | 16, 1, 2, 15 | 16, 1};
    EXPECT_EQ(Decoded(3, t3), "=012?1");
    // '=' is no start sentinel on track 2.
    EXPECT_EQ(DecodeTrack(2, t3).result, KVX_ERR_MS_START);
}

TEST(StripeTrackDecoder, ForwardAndReversedSwipesOfEveryTrackGiveTheSameText) {
    for (int track = 1; track <= 3; ++track) {
        const std::string want = Card(track) + Lrc(track, Card(track));
        const Bytes forward = Forward(track, Card(track));
        const TrackDecoding f = DecodeTrack(track, forward);
        EXPECT_EQ(f.text, want) << track;
        EXPECT_EQ(f.direction, SwipeDirection::Forward);
        // The reader starts at the first one bit: a reversed swipe whose LRC
        // ends in zeros arrives misaligned and must be realigned.
        const TrackDecoding r = DecodeTrack(track, Reversed(forward, track));
        EXPECT_EQ(r.result, KVX_OK) << track;
        EXPECT_EQ(r.text, want) << track;
        EXPECT_EQ(r.direction, SwipeDirection::Reversed);
    }
}

TEST(StripeTrackDecoder, ReversedSwipeIsRealignedBySlipsOfEveryWidth) {
    // Cards whose LRC ends in that many zero bits when read backwards.
    for (int track = 1; track <= 3; ++track) {
        const int width = test::stripe::Width(track);
        int found = 0;
        // Vary two data characters until the reversed stream slips by k bits.
        const std::string alphabet =
            track == 1 ? "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ" : "0123456789";
        for (int k = 0; k < width; ++k) {
            for (std::size_t i = 0; i < alphabet.size() * alphabet.size(); ++i) {
                const std::string text = std::string(track == 1 ? "%" : ";") + "12" +
                                         alphabet[i % alphabet.size()] +
                                         alphabet[i / alphabet.size()] + "9?";
                const Bytes forward = Forward(track, text);
                const Bytes reversed = Reversed(forward, track);
                const TrackDecoding d = DecodeTrack(track, reversed);
                if (d.realignedBits != k) continue;
                EXPECT_EQ(d.result, KVX_OK) << text;
                EXPECT_EQ(d.text, text + Lrc(track, text)) << text;
                ++found;
                break;
            }
        }
        // Every slip a character width allows happens on some card.
        EXPECT_EQ(found, width) << "track " << track;
    }
}

TEST(StripeTrackDecoder, TrackThreeAcceptsTheAlternativeStartBothWays) {
    const std::string text = "=0123456789=0?";
    const Bytes forward = Forward(3, text);
    EXPECT_EQ(Decoded(3, forward), text + Lrc(3, text));
    EXPECT_EQ(Decoded(3, Reversed(forward, 3)), text + Lrc(3, text));
}

TEST(StripeTrackDecoder, ParityErrorsEmptyTheTrackWithTheirLine) {
    Bytes raw = Forward(2, kTrack2);
    raw[5] ^= 0x10;  // the parity bit of a digit
    TrackDecoding d = DecodeTrack(2, raw);
    EXPECT_EQ(d.result, KVX_ERR_MS_PARITY);
    EXPECT_TRUE(d.text.empty());
    ASSERT_THAT(NoteTexts(d), testing::ElementsAre("err - parity error on track"));
    EXPECT_EQ(d.notes[0].value, 2);

    raw = Forward(1, kTrack1);
    raw[10] ^= 0x01;  // a data bit
    d = DecodeTrack(1, raw);
    EXPECT_EQ(d.result, KVX_ERR_MS_PARITY);
    EXPECT_THAT(NoteTexts(d), testing::ElementsAre("err - track1 - wrong parity"));

    raw = Forward(3, kTrack3);
    raw.back() ^= 0x10;  // the LRC's own parity
    d = DecodeTrack(3, raw);
    EXPECT_EQ(d.result, KVX_ERR_MS_PARITY);
    EXPECT_THAT(NoteTexts(d), testing::ElementsAre("err - LCR parity error on track"));

    raw = Forward(1, kTrack1);
    raw.back() ^= 0x40;
    EXPECT_THAT(NoteTexts(DecodeTrack(1, raw)),
                testing::ElementsAre("err - track1 - wrong LCR parity"));

    // The same fault on a reversed swipe.
    raw = Forward(2, kTrack2);
    raw[7] ^= 0x10;
    EXPECT_EQ(DecodeTrack(2, Reversed(raw, 2)).result, KVX_ERR_MS_PARITY);
}

TEST(StripeTrackDecoder, BitsBeyondTheCharacterWidthAreNoCharacter) {
    Bytes raw = Forward(2, ";12345?");
    raw[2] |= 0x60;  // two more bits keep the parity odd
    EXPECT_EQ(DecodeTrack(2, raw).result, KVX_ERR_MS_PARITY);
    raw = Forward(1, "%A?");
    raw[1] |= 0x80;
    raw[1] ^= 0x40;
    EXPECT_EQ(DecodeTrack(1, raw).result, KVX_ERR_MS_PARITY);
}

TEST(StripeTrackDecoder, WrongLrcIsAnLrcError) {
    for (int track = 1; track <= 3; ++track) {
        Bytes raw = Forward(track, Card(track));
        // Two data bits changed keep the parity and break the columns.
        raw.back() ^= 0x03;
        const TrackDecoding d = DecodeTrack(track, raw);
        EXPECT_EQ(d.result, KVX_ERR_MS_LRC) << track;
        EXPECT_THAT(NoteTexts(d), testing::ElementsAre(track == 1 ? "err - track1 - wrong LCR"
                                                                  : "err - LCR error on track"));
        EXPECT_EQ(DecodeTrack(track, Reversed(raw, track)).result, KVX_ERR_MS_LRC) << track;
    }
}

TEST(StripeTrackDecoder, MissingSentinelsSayWhichOne) {
    for (int track = 1; track <= 3; ++track) {
        const std::string& card = Card(track);
        const std::string noStart = card.substr(1);
        EXPECT_EQ(DecodeTrack(track, Forward(track, noStart)).result, KVX_ERR_MS_START) << track;
        EXPECT_EQ(DecodeTrack(track, Reversed(Forward(track, noStart), track)).result,
                  KVX_ERR_MS_START)
            << track;
        const std::string noEnd = card.substr(0, card.size() - 1);
        EXPECT_EQ(DecodeTrack(track, Forward(track, noEnd)).result, KVX_ERR_MS_END) << track;
    }
}

TEST(StripeTrackDecoder, NoiseBeforeTheStartOfAForwardSwipeIsNotRecovered) {
    Bytes raw = Forward(2, kTrack2);
    raw.insert(raw.begin(), {WithParity(2, 7), WithParity(2, 3)});
    EXPECT_EQ(DecodeTrack(2, raw).result, KVX_ERR_MS_START);
    // A stray bit before the start makes every character straddle two
    // bytes. Read that way, or backwards, the bytes may show sentinels by
    // chance, but such a reading fails about every other parity: it is no
    // reading of the card, whose start is missing.
    for (int track = 1; track <= 3; ++track) {
        for (int gap = 1; gap < 12; ++gap) {
            const TrackDecoding d = DecodeTrack(
                track, test::stripe::AfterStrayBit(Forward(track, Card(track)), track, gap));
            EXPECT_EQ(d.result, KVX_ERR_MS_START) << track << " gap " << gap;
        }
    }
    // Backwards these bytes show a start sentinel, an end sentinel and an LRC
    // around four zeros, which fail their parity: no reading, no start.
    EXPECT_EQ(DecodeTrack(2, Bytes{1, 31, 0, 0, 0, 0, 26}).result, KVX_ERR_MS_START);
    // One zero among good characters is a flaw of the card.
    EXPECT_EQ(DecodeTrack(2, Bytes{1, 31, 1, 2, 0, 4, 26}).result, KVX_ERR_MS_PARITY);
    // A forward swipe that slipped: its characters straddle bytes.
    for (int slip = 1; slip < 5; ++slip) {
        const TrackDecoding d = DecodeTrack(2, Regrouped(Forward(2, kTrack2), 2, slip));
        EXPECT_NE(d.result, KVX_OK) << slip;
        EXPECT_TRUE(d.text.empty());
    }
}

TEST(StripeTrackDecoder, TrailingBytesAfterTheLrcAreIgnored) {
    Bytes raw = Forward(2, ";12345?");
    raw.push_back(WithParity(2, 4));
    raw.push_back(0);
    EXPECT_EQ(Decoded(2, raw), ";12345?5");
    raw = Forward(1, "%A?");
    raw.insert(raw.end(), {0, 0, 0});
    const TrackDecoding d = DecodeTrack(1, raw);
    EXPECT_EQ(d.text, "%A?[");
    EXPECT_THAT(NoteTexts(d), testing::ElementsAre("war - null char on trace 1"));
}

TEST(StripeTrackDecoder, LengthLimitsCountSentinelsAndLrc) {
    const auto digits = [](std::size_t n) { return std::string(n, '7'); };
    // Track 2: 40 characters with both sentinels and the LRC, not 41.
    EXPECT_EQ(DecodeTrack(2, Forward(2, ";" + digits(37) + "?")).result, KVX_OK);
    TrackDecoding d = DecodeTrack(2, Forward(2, ";" + digits(38) + "?"));
    EXPECT_EQ(d.result, KVX_ERR_MS_TOO_MANY);
    EXPECT_THAT(NoteTexts(d), testing::ElementsAre("err - too may chars on track 2"));
    EXPECT_TRUE(d.text.empty());
    // Track 3: 107; track 1: fewer than 80.
    EXPECT_EQ(DecodeTrack(3, Forward(3, ";" + digits(104) + "?")).result, KVX_OK);
    d = DecodeTrack(3, Forward(3, ";" + digits(105) + "?"));
    EXPECT_THAT(NoteTexts(d), testing::ElementsAre("err - too may chars on track 3"));
    EXPECT_EQ(DecodeTrack(1, Forward(1, "%" + std::string(76, 'A') + "?")).result, KVX_OK);
    d = DecodeTrack(1, Forward(1, "%" + std::string(77, 'A') + "?"));
    EXPECT_EQ(d.result, KVX_ERR_MS_TOO_MANY);
    ASSERT_THAT(NoteTexts(d), testing::ElementsAre("err - track1 - too many chars"));
    EXPECT_EQ(d.notes[0].value, 80);
}

TEST(StripeTrackDecoder, ShortBuffersAndUnknownTracks) {
    EXPECT_EQ(DecodeTrack(2, Bytes{}).result, KVX_ERR_MS_READ);
    EXPECT_EQ(DecodeTrack(2, Bytes{11, 31, 4}).result, KVX_ERR_MS_READ);
    // The shortest track: start, end, LRC and one character.
    EXPECT_EQ(Decoded(2, Forward(2, ";1?")), ";1?" + std::string(1, Lrc(2, ";1?")));
    // Sentinels and LRC around no data, also after dropping a trailing byte
    // of a reversed swipe.
    EXPECT_EQ(DecodeTrack(2, Bytes{1, 4, 31, 26}).result, KVX_ERR_MS_READ);
    EXPECT_EQ(DecodeTrack(2, Bytes{11, 31, 4, 2}).result, KVX_ERR_MS_READ);
    EXPECT_EQ(DecodeTrack(0, Forward(2, ";1?")).result, KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(DecodeTrack(4, Forward(2, ";1?")).result, KVX_ERR_INV_PARAMETER);
}

// A single flipped bit anywhere in a swipe, forward or reversed, is an
// error or leaves the text as it was: never another text.
TEST(StripeTrackDecoder, NoSingleBitErrorGivesAnotherText) {
    for (int track = 1; track <= 3; ++track) {
        const std::string want = Card(track) + Lrc(track, Card(track));
        const Bytes forward = Forward(track, Card(track));
        for (const Bytes& clean : {forward, Reversed(forward, track)}) {
            for (std::size_t i = 0; i < clean.size(); ++i) {
                for (int b = 0; b < 8; ++b) {
                    Bytes raw = clean;
                    raw[i] ^= static_cast<std::uint8_t>(1u << b);
                    const TrackDecoding d = DecodeTrack(track, raw);
                    if (d.result == KVX_OK)
                        EXPECT_EQ(d.text, want) << "track " << track << " byte " << i;
                    else
                        EXPECT_TRUE(d.text.empty());
                }
            }
        }
    }
}

// Two bits of one character changed keep its parity; the LRC column of the
// changed data bit catches them, also when the character now reads as the
// end sentinel: the track must not end there with whatever follows taken
// for its LRC.
TEST(StripeTrackDecoder, ADataCharacterReadAsTheEndSentinelDoesNotCutTheTrack) {
    // ";127" + "7890?": the second '7' (raw 7, three ones) with its top data
    // bit and its parity bit changed reads 31, '?'. ";12?" has the column
    // sum 11^1^2^15 = 7, so the next character, '7', passes for its LRC.
    const std::string card = ";1277890?";
    Bytes raw = Forward(2, card);
    ASSERT_EQ(raw[3], 7);
    raw[3] ^= 0x18;
    ASSERT_EQ(raw[3], 31);
    TrackDecoding d = DecodeTrack(2, raw);
    EXPECT_EQ(d.result, KVX_ERR_MS_LRC);
    EXPECT_TRUE(d.text.empty()) << d.text;
    EXPECT_EQ(DecodeTrack(2, Reversed(raw, 2)).result, KVX_ERR_MS_LRC);
    // Track 3 ";>0?:" with '>' (raw 14) changed to 31: 11 31 16 31 26. Read
    // backwards, ";?1?:" passes its LRC by chance; no card carries an end
    // sentinel among its data.
    raw = Forward(3, ";>0?");
    ASSERT_EQ(raw, (Bytes{11, 14, 16, 31, 26}));
    raw[1] = 31;
    d = DecodeTrack(3, raw);
    EXPECT_NE(d.result, KVX_OK);
    EXPECT_TRUE(d.text.empty()) << d.text;

    for (int track = 1; track <= 3; ++track) {
        const std::string want = Card(track) + Lrc(track, Card(track));
        const Bytes forward = Forward(track, Card(track));
        const int width = test::stripe::Width(track);
        for (std::size_t i = 0; i < forward.size(); ++i) {
            for (int a = 0; a < width; ++a) {
                for (int b = a + 1; b < width; ++b) {
                    raw = forward;
                    raw[i] ^= static_cast<std::uint8_t>((1u << a) | (1u << b));
                    for (const Bytes& swipe : {raw, Reversed(raw, track)}) {
                        d = DecodeTrack(track, swipe);
                        if (d.result == KVX_OK) {
                            EXPECT_EQ(d.text, want) << "track " << track << " byte " << i;
                        }
                    }
                }
            }
        }
    }
}

// A reading that finds both sentinels in place is the card's; when it fails
// its checks, another reading of the same bytes that passes them is chance.
TEST(StripeTrackDecoder, AFlawedCardIsNotReadAgainAtAnotherAlignment) {
    // Track 3 ";;<?" with its LRC '3' (11^11^12^15 = 3), raw 11 11 28 31 19;
    // one bit of '<' and one of the LRC changed: 11 11 29 31 17. Swiped
    // backwards the bytes read as 17 31 23 26 26: in place they give a
    // parity error on two of five characters; two bits later, one byte
    // short of the stream's end, they pass for "=5?7".
    const Bytes card = {11, 11, 29, 31, 17};
    const Bytes swiped = Reversed(card, 3);
    ASSERT_EQ(swiped, (Bytes{17, 31, 23, 26, 26}));
    TrackDecoding d = DecodeTrack(3, swiped);
    EXPECT_NE(d.result, KVX_OK);
    EXPECT_TRUE(d.text.empty()) << d.text;
    // Track 3 ";301?" with its LRC '6', raw 11 19 16 1 31 22; one bit of
    // the '1' and one of the LRC changed: 11 19 16 3 31 23. Swiped
    // backwards the bytes read as 29 31 24 1 25 26: in place (26 25 1 24 31
    // 29) both sentinels stand and the '1' and the LRC fail their parity;
    // two bits later, to the stream's very end, they pass for "=2><?2".
    const Bytes flawed = {11, 19, 16, 3, 31, 23};
    const Bytes backwards = Reversed(flawed, 3);
    ASSERT_EQ(backwards, (Bytes{29, 31, 24, 1, 25, 26}));
    d = DecodeTrack(3, backwards);
    EXPECT_NE(d.result, KVX_OK);
    EXPECT_TRUE(d.text.empty()) << d.text;
}

TEST(StripeTrackStripping, FlagsRemoveSentinelsAndLrc) {
    const std::string t = ";12345?5";
    EXPECT_EQ(StripTrack(t, 0), ";12345?5");
    EXPECT_EQ(StripTrack(t, kStripStartSentinel), "12345?5");
    // Without the end sentinel the LRC takes its place.
    EXPECT_EQ(StripTrack(t, kStripEndSentinel), ";123455");
    EXPECT_EQ(StripTrack(t, kStripLrc), ";12345?");
    EXPECT_EQ(StripTrack(t, kStripStartSentinel | kStripEndSentinel), "123455");
    EXPECT_EQ(StripTrack(t, kStripEndSentinel | kStripLrc), ";12345");
    EXPECT_EQ(StripTrack(t, kStripStartSentinel | kStripLrc), "12345?");
    EXPECT_EQ(StripTrack(t, 7), "12345");
    EXPECT_EQ(StripTrack(";?5", 7), "");
    EXPECT_EQ(StripTrack("", 7), "");
}

}  // namespace
}  // namespace kovran::decoders::stripe
