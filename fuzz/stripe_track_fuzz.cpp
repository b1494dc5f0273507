// Fuzz target for the magnetic stripe track decoder. The input is
//   byte 0  the track (modulo 3, plus 1)
//   byte 1  the flags of a read (what the returned text leaves out)
//   then the raw characters as the swipe reader delivers them.
// Whatever the bytes, the decoding is the same twice, ends in success or
// one of the stripe errors, and a text comes back only on success. A text
// that comes back is a whole track: a start sentinel, the end sentinel just
// before the LRC, characters of the track's set only, within its length
// limit; encoded forward again it decodes to itself.
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

std::vector<std::uint8_t> Encode(int track, const std::string& text) {
    std::vector<std::uint8_t> raw;
    for (const char c : text) {
        const unsigned v = static_cast<unsigned>(track == 1 ? c - 0x20 : c - '0');
        const unsigned parity = (__builtin_popcount(v) & 1) ? 0u : (track == 1 ? 0x40u : 0x10u);
        raw.push_back(static_cast<std::uint8_t>(v | parity));
    }
    return raw;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int track = data[0] % 3 + 1;
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

    const std::string& t = a.text;
    const std::size_t limit = track == 1 ? 79 : track == 2 ? 40 : 107;
    Check(t.size() >= 3 && t.size() <= limit && t.size() <= raw.size());
    Check(t[0] == (track == 1 ? '%' : ';') || (track == 3 && t[0] == '='));
    Check(t[t.size() - 2] == '?');
    for (const char c : t) Check(InTrackSet(track, c));

    const s::TrackDecoding again = s::DecodeTrack(track, Encode(track, t));
    Check(again.result == KVX_OK && again.text == t);

    const std::string stripped = s::StripTrack(t, flags);
    Check(stripped.size() <= t.size());
    return 0;
}
