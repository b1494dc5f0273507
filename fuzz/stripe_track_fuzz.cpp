// Fuzz target for the magnetic stripe track decoder. The input is
//   byte 0  the track (modulo 3, plus 1); when (byte 0 / 3) is odd, the
//           input describes a card instead (see CheckDamagedCard)
//   byte 1  the flags of a read (what the returned text leaves out)
//   then the raw characters as the swipe reader delivers them.
// Whatever the bytes, the decoding is the same twice, ends in success or
// one of the stripe errors, and a text comes back only on success, as a
// whole track (CheckWholeTrack).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "decoders/stripe/track_decoder.h"

namespace {

namespace s = kovran::decoders::stripe;

void Check(bool ok) {
    if (!ok) std::abort();
}

bool InTrackSet(int track, char c) {
    return track == 1 ? (c >= 0x20 && c <= 0x5F) : (c >= '0' && c <= '?');
}

// A text that comes back is a whole track: a start sentinel, the end
// sentinel just before the LRC, characters of the track's set only, within
// its length limit and the bytes read; encoded forward again it decodes to
// itself.
std::vector<std::uint8_t> Encode(int track, const std::string& text);

void CheckWholeTrack(int track, const std::string& t, std::size_t rawSize) {
    const std::size_t limit = track == 1 ? 79 : track == 2 ? 40 : 107;
    Check(t.size() >= 3 && t.size() <= limit && t.size() <= rawSize);
    Check(t[0] == (track == 1 ? '%' : ';') || (track == 3 && t[0] == '='));
    Check(t[t.size() - 2] == '?');
    for (const char c : t) Check(InTrackSet(track, c));
    const s::TrackDecoding again = s::DecodeTrack(track, Encode(track, t));
    Check(again.result == KVX_OK && again.text == t);
}

std::vector<std::uint8_t> Encode(int track, const std::string& text) {
    std::vector<std::uint8_t> raw;
    for (const char c : text) {
        const unsigned v = static_cast<unsigned>(track == 1 ? c - 0x20 : c - '0');
        const unsigned parity = (__builtin_popcount(v) & 1) ? 0u : (track == 1 ? 0x40u : 0x10u);
        raw.push_back(static_cast<std::uint8_t>(v | parity));
    }
    return raw;
}

// The bits a swipe delivers, first read first, and the reader's grouping of
// them: from the first one bit to the last, `width` bits a character.
std::vector<std::uint8_t> Swiped(const std::vector<std::uint8_t>& chars, int width, bool reversed) {
    std::vector<int> bits;
    for (const std::uint8_t c : chars)
        for (int m = 0; m < width; ++m) bits.push_back((c >> m) & 1);
    if (reversed) std::reverse(bits.begin(), bits.end());
    std::size_t first = 0;
    while (first < bits.size() && bits[first] == 0) ++first;
    std::size_t last = bits.size();
    while (last > first && bits[last - 1] == 0) --last;
    std::vector<std::uint8_t> out;
    for (std::size_t i = first; i < last; i += static_cast<std::size_t>(width)) {
        unsigned c = 0;
        for (std::size_t m = 0; m < static_cast<std::size_t>(width) && i + m < last; ++m)
            c |= static_cast<unsigned>(bits[i + m]) << m;
        out.push_back(static_cast<std::uint8_t>(c));
    }
    return out;
}

// byte 1: the swipe's direction (bit 0) and how many bits changed (bits 1
// and 2, at most two); bytes 2 to 5: the positions of the changed bits;
// then the card's data characters, sentinels left out. When the sentinels
// stand, the decoder reads a forward swipe as it was swiped only, and
// parity and LRC together see every change of one or two bits: the card's
// own text or an error, never another text. A reversed swipe, or one whose
// sentinels were hit, is also read at other alignments, where a short
// track may pass for another by chance; there the text that comes back
// need only be whole (checked on the raw bytes below). Track 1's '\\'
// (reserved for national use) is left out too: mirrored it reads as the
// end sentinel.
void CheckDamagedCard(int track, const std::uint8_t* data, std::size_t size) {
    if (size < 6) return;
    const int width = track == 1 ? 7 : 5;
    const unsigned dataMask = (1u << (width - 1)) - 1;
    const std::size_t limit = track == 1 ? 79 : track == 2 ? 40 : 107;
    const char endSentinel = '?';
    std::string text(1, track == 1 ? '%' : ';');
    for (std::size_t i = 6; i < size && text.size() + 2 < limit; ++i) {
        const char c = static_cast<char>((track == 1 ? 0x20 : '0') + (data[i] & dataMask));
        if (c != endSentinel && c != text[0] && c != (track == 1 ? '\\' : ';')) text.push_back(c);
    }
    text.push_back(endSentinel);
    std::vector<std::uint8_t> chars = Encode(track, text);
    unsigned lrc = 0;
    for (const std::uint8_t c : chars) lrc ^= c & dataMask;
    const std::string lrcText(1, static_cast<char>((track == 1 ? 0x20 : '0') + lrc));
    chars.push_back(Encode(track, lrcText)[0]);
    const std::string want = text + lrcText;

    const std::size_t bits = chars.size() * static_cast<std::size_t>(width);
    const int changes = std::min((data[1] >> 1) & 3, 2);
    bool sentinelsStand = true;
    for (int k = 0; k < changes; ++k) {
        const std::size_t at = ((std::size_t{data[2 + 2 * k]} << 8) | data[3 + 2 * k]) % bits;
        const std::size_t which = at / static_cast<std::size_t>(width);
        if (which == 0 || which == chars.size() - 2) sentinelsStand = false;
        chars[which] ^= static_cast<std::uint8_t>(1u << (at % static_cast<std::size_t>(width)));
    }
    const bool reversed = (data[1] & 1) != 0;
    const std::vector<std::uint8_t> swiped = Swiped(chars, width, reversed);
    const s::TrackDecoding d = s::DecodeTrack(track, swiped);
    if (d.result != KVX_OK) return;
    if (!reversed && sentinelsStand) Check(d.text == want);
    CheckWholeTrack(track, d.text, swiped.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int track = data[0] % 3 + 1;
    if ((data[0] / 3) % 2 == 1) {
        CheckDamagedCard(track, data, size);
        return 0;
    }
    const unsigned flags = data[1];
    const std::span<const std::uint8_t> raw(data + 2, size - 2);

    const s::TrackDecoding a = s::DecodeTrack(track, raw);
    const s::TrackDecoding b = s::DecodeTrack(track, raw);
    Check(a.result == b.result && a.text == b.text);
    Check(a.result == KVX_OK || (a.result <= KVX_ERR_MS_READ && a.result >= KVX_ERR_MS_TOO_MANY));
    if (a.result != KVX_OK) {
        Check(a.text.empty());
        return 0;
    }

    CheckWholeTrack(track, a.text, raw.size());
    const std::string stripped = s::StripTrack(a.text, flags);
    Check(stripped.size() <= a.text.size());
    return 0;
}
