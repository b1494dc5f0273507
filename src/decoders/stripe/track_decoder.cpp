#include "decoders/stripe/track_decoder.h"

#include <algorithm>
#include <array>
#include <bit>

namespace kovran::decoders::stripe {
namespace {

// One track's character format. Raw sentinels are given as the reader
// delivers them forward and reversed (bits mirrored within the width).
struct Layout {
    int track;
    int width;
    std::uint8_t start, altStart, end;           // forward; altStart 0: none
    std::uint8_t revStart, revAltStart, revEnd;  // reversed
    std::size_t maxLength;                       // sentinels and LRC included
    int maxRealign;                              // bits a reversed stream may slip
};

constexpr std::array<Layout, kTrackCount> kLayouts = {{
    {1, 7, 69, 0, 31, 81, 0, 124, 79, 6},
    {2, 5, 11, 0, 31, 26, 0, 31, 40, 4},
    // Track 3 may also begin with '='.
    {3, 5, 11, 13, 31, 26, 22, 31, 107, 4},
}};

// Raw bytes a track must exceed.
constexpr std::size_t kShortestTrack = 3;

// A reading with more than one character in this many failing its parity
// is taken for bytes read wrongly, not for a flawed card.
constexpr std::size_t kMostBadParityPart = 4;

// Entry i: the digit whose four data bits are those of i read backwards.
constexpr char kReversedDigits[] = "084<2:6>195=3;7?";

unsigned WidthMask(const Layout& l) {
    return (1u << l.width) - 1;
}

bool OddParity(unsigned c) {
    return (std::popcount(c) & 1) != 0;
}

unsigned Reverse6(unsigned v) {
    unsigned r = 0;
    for (int b = 0; b < 6; ++b)
        if (v & (1u << b)) r |= 1u << (5 - b);
    return r;
}

char TextOf(const Layout& l, SwipeDirection d, std::uint8_t c) {
    if (d == SwipeDirection::Forward)
        return static_cast<char>(l.track == 1 ? 0x20 + (c & 0x3F) : '0' + (c & 0x0F));
    const unsigned index = static_cast<unsigned>(c) >> 1;
    return l.track == 1 ? static_cast<char>(0x20 + Reverse6(index)) : kReversedDigits[index];
}

// The data bits of a character: below the parity bit forward, above it
// reversed.
unsigned DataBits(const Layout& l, SwipeDirection d) {
    const unsigned parityBit = d == SwipeDirection::Forward ? 1u << (l.width - 1) : 1u;
    return WidthMask(l) & ~parityBit;
}

// How far an attempt got: a later stage explains a failure better.
enum class Stage : std::uint8_t { NoStart, NoEnd, Decoded };

struct Attempt {
    Stage stage = Stage::NoStart;
    TrackDecoding decoding;
};

Attempt Fail(Stage stage, KVXResult result, std::vector<DecodeNote> notes = {}) {
    Attempt a;
    a.stage = stage;
    a.decoding.result = result;
    a.decoding.notes = std::move(notes);
    return a;
}

// Whether bytes may follow the LRC. A realigned stream was rebuilt from the
// reader's first one bit, the LRC's: its LRC is its last character, and a
// reading that ends earlier is chance.
enum class Trailing : bool { Allowed, Refused };

Attempt DecodeCharacters(const Layout& l, SwipeDirection d, std::vector<std::uint8_t> chars,
                         Trailing trailing) {
    const bool forward = d == SwipeDirection::Forward;
    const std::uint8_t start = forward ? l.start : l.revStart;
    const std::uint8_t altStart = forward ? l.altStart : l.revAltStart;
    const std::uint8_t end = forward ? l.end : l.revEnd;
    if (chars.empty() || (chars[0] != start && (altStart == 0 || chars[0] != altStart)))
        return Fail(Stage::NoStart, KVX_ERR_MS_START);

    const unsigned mask = WidthMask(l);
    // A byte with bits beyond the character width is no character at all.
    const auto bad = [&](std::uint8_t c) { return (c & ~mask) != 0 || !OddParity(c); };
    // Bytes read at the wrong alignment or in the wrong direction fail about
    // every other parity; a card with a flaw fails a few. Sentinels met by
    // chance in such bytes are no reading of the card.
    const auto misread = [&](auto first, auto last) {
        const auto n = static_cast<std::size_t>(std::count_if(first, last, bad));
        return n * kMostBadParityPart > static_cast<std::size_t>(last - first);
    };

    // The data ends at an end sentinel (no data character has its value);
    // the LRC follows it and whatever comes after is not the card's. A data
    // character with two bits changed keeps its parity and may read as the
    // end sentinel: ending there would take the next character for the LRC,
    // which passes by chance once in 16 (a cut account number). So the end
    // is the last sentinel up to whose LRC every byte is a character, and
    // the columns over the whole track catch the changed character; bytes
    // after the LRC that are no characters still end the track early.
    auto endAt = std::find(chars.begin() + 1, chars.end(), end);
    if (endAt != chars.end() && endAt + 1 != chars.end()) {
        const auto firstBad = std::find_if(chars.begin(), chars.end(), bad);
        for (auto it = endAt + 1; it != chars.end() && it + 1 != chars.end(); ++it)
            if (*it == end && it + 1 < firstBad) endAt = it;
    }
    if (trailing == Trailing::Refused)
        endAt = chars.size() >= 3 && chars[chars.size() - 2] == end ? chars.end() - 2 : chars.end();
    if (endAt == chars.end() || endAt + 1 == chars.end()) {
        if (misread(chars.begin(), chars.end())) return Fail(Stage::NoStart, KVX_ERR_MS_START);
        return Fail(Stage::NoEnd, KVX_ERR_MS_END);
    }
    const std::size_t n = static_cast<std::size_t>(endAt - chars.begin()) + 2;
    // Sentinels and an LRC around nothing are no track, as a buffer of three
    // bytes is none.
    if (n <= kShortestTrack) return Fail(Stage::NoEnd, KVX_ERR_MS_READ);
    std::vector<DecodeNote> notes;
    if (l.track == 1 && chars.size() > n && chars[n] == 0)
        notes.push_back({"war - ", "null char on trace 1", std::nullopt});
    chars.resize(n);

    const auto parityNote = [&](const char* one, const char* other) {
        notes.push_back({"err - ", l.track == 1 ? one : other,
                         l.track == 1 ? std::nullopt : std::optional<int>(l.track)});
        return Fail(Stage::Decoded, KVX_ERR_MS_PARITY, notes);
    };
    if (std::any_of(chars.begin(), chars.end(), bad)) {
        if (misread(chars.begin(), chars.end())) return Fail(Stage::NoStart, KVX_ERR_MS_START);
        if (std::find_if(chars.begin(), chars.end() - 1, bad) != chars.end() - 1)
            return parityNote("track1 - wrong parity", "parity error on track");
        return parityNote("track1 - wrong LCR parity", "LCR parity error on track");
    }

    unsigned columns = 0;
    for (const std::uint8_t c : chars) columns ^= c;
    // An end sentinel among the data is a character the columns did not
    // catch: the track is not what the card holds.
    const bool endInData = std::find(chars.begin() + 1, chars.end() - 2, end) != chars.end() - 2;
    if ((columns & DataBits(l, d)) != 0 || endInData) {
        notes.push_back({"err - ", l.track == 1 ? "track1 - wrong LCR" : "LCR error on track",
                         l.track == 1 ? std::nullopt : std::optional<int>(l.track)});
        return Fail(Stage::Decoded, KVX_ERR_MS_LRC, notes);
    }

    if (n > l.maxLength) {
        if (l.track == 1)
            notes.push_back({"err - ", "track1 - too many chars", static_cast<int>(n)});
        else
            notes.push_back({"err - ",
                             l.track == 2 ? "too may chars on track 2" : "too may chars on track 3",
                             std::nullopt});
        return Fail(Stage::Decoded, KVX_ERR_MS_TOO_MANY, notes);
    }

    Attempt ok;
    ok.stage = Stage::Decoded;
    ok.decoding.result = KVX_OK;
    ok.decoding.direction = d;
    ok.decoding.notes = std::move(notes);
    ok.decoding.text.reserve(n);
    for (const std::uint8_t c : chars) ok.decoding.text.push_back(TextOf(l, d, c));
    return ok;
}

// Whether the bytes begin with a start sentinel and end with an end
// sentinel and one more byte, the LRC, in the direction given: the frame of
// a whole track at this alignment.
bool SentinelsInPlace(const Layout& l, SwipeDirection d, const std::vector<std::uint8_t>& chars) {
    const bool forward = d == SwipeDirection::Forward;
    const std::uint8_t start = forward ? l.start : l.revStart;
    const std::uint8_t altStart = forward ? l.altStart : l.revAltStart;
    return chars.size() > kShortestTrack &&
           (chars.front() == start || (altStart != 0 && chars.front() == altStart)) &&
           chars[chars.size() - 2] == (forward ? l.end : l.revEnd);
}

// The reversed stream read again k bits later: the reader began its first
// character at the first one bit it saw, so when the LRC's mirrored low bits
// were zeros every character straddles two bytes. The last character keeps
// only the bits that were read.
std::vector<std::uint8_t> Realign(const std::vector<std::uint8_t>& b, const Layout& l, int k) {
    const unsigned low = (1u << k) - 1;
    const unsigned mask = WidthMask(l);
    std::vector<std::uint8_t> out(b.size());
    for (std::size_t i = 0; i < b.size(); ++i) {
        unsigned c = (b[i] & low) << (l.width - k);
        if (i + 1 < b.size()) c |= (b[i + 1] & mask & ~low) >> k;
        out[i] = static_cast<std::uint8_t>(c & mask);
    }
    return out;
}

}  // namespace

TrackDecoding DecodeTrack(int track, std::span<const std::uint8_t> raw) {
    TrackDecoding none;
    if (track < 1 || track > kTrackCount) {
        none.result = KVX_ERR_INV_PARAMETER;
        return none;
    }
    if (raw.size() <= kShortestTrack) return none;  // KVX_ERR_MS_READ
    const Layout& l = kLayouts[static_cast<std::size_t>(track - 1)];

    // Every reading the bytes allow is tried; the first that decodes wins.
    // When none does, the one that got furthest says what is wrong, so a
    // parity error is not reported as a missing sentinel of another reading.
    std::vector<Attempt> failures;
    const auto tryReading = [&](SwipeDirection d, std::vector<std::uint8_t> chars,
                                int shift) -> bool {
        Attempt a = DecodeCharacters(l, d, std::move(chars),
                                     shift == 0 ? Trailing::Allowed : Trailing::Refused);
        a.decoding.realignedBits = shift;
        if (a.decoding.result == KVX_OK) {
            failures.assign(1, std::move(a));
            return true;
        }
        failures.push_back(std::move(a));
        return false;
    };

    // Bytes framed by both sentinels in one direction are the card as it was
    // swiped: when that reading fails its checks the card is flawed, and
    // another reading of the same bytes (the other direction, a shorter
    // track followed by trailing bytes, another alignment) that passes them
    // is chance, a short track passing one in a few thousand. The flaw is
    // reported instead.
    const std::vector<std::uint8_t> forward(raw.begin(), raw.end());
    const std::vector<std::uint8_t> reversed(raw.rbegin(), raw.rend());
    if (SentinelsInPlace(l, SwipeDirection::Forward, forward)) {
        tryReading(SwipeDirection::Forward, forward, 0);
        return failures.back().decoding;
    }
    if (SentinelsInPlace(l, SwipeDirection::Reversed, reversed)) {
        tryReading(SwipeDirection::Reversed, reversed, 0);
        return failures.back().decoding;
    }
    if (tryReading(SwipeDirection::Forward, forward, 0)) return failures.back().decoding;
    if (tryReading(SwipeDirection::Reversed, reversed, 0)) return failures.back().decoding;
    // A misaligned forward swipe is not recovered: the reader starts at the
    // start sentinel's first bit, which is a one.
    for (int k = 1; k <= l.maxRealign; ++k)
        if (tryReading(SwipeDirection::Reversed, Realign(reversed, l, k), k))
            return failures.back().decoding;

    const auto best =
        std::max_element(failures.begin(), failures.end(),
                         [](const Attempt& a, const Attempt& b) { return a.stage < b.stage; });
    return best->decoding;
}

std::string StripTrack(std::string_view text, unsigned flags) {
    const std::size_t s = (flags & kStripStartSentinel) ? 1 : 0;
    const std::size_t e = (flags & kStripEndSentinel) ? 1 : 0;
    const std::size_t lrc = (flags & kStripLrc) ? 1 : 0;
    std::string t(text);
    if (e == 1 && lrc == 0 && t.size() >= 2) t[t.size() - 2] = t[t.size() - 1];
    if (t.size() < s + e + lrc) return {};
    return t.substr(s, t.size() - s - e - lrc);
}

}  // namespace kovran::decoders::stripe
