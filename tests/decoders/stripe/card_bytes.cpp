#include "decoders/stripe/card_bytes.h"

#include <algorithm>
#include <bit>

namespace kovran::test::stripe {
namespace {

// Groups a bit stream as the reader does.
std::vector<std::uint8_t> Group(const std::vector<int>& bits, int width, int slip) {
    auto first = std::find(bits.begin(), bits.end(), 1);
    const auto last = std::find(bits.rbegin(), bits.rend(), 1).base();
    std::vector<std::uint8_t> out;
    if (first == bits.end()) return out;
    first += std::min<long>(slip, last - first);
    for (auto it = first; it < last; it += width) {
        std::uint8_t c = 0;
        for (int m = 0; m < width && it + m < last; ++m)
            if (*(it + m)) c |= static_cast<std::uint8_t>(1u << m);
        out.push_back(c);
    }
    return out;
}

std::vector<int> Bits(const std::vector<std::uint8_t>& chars, int width) {
    std::vector<int> bits;
    for (const std::uint8_t c : chars)
        for (int m = 0; m < width; ++m) bits.push_back((c >> m) & 1);
    return bits;
}

}  // namespace

int Width(int track) {
    return track == 1 ? 7 : 5;
}

std::uint8_t Value(int track, char c) {
    return static_cast<std::uint8_t>(track == 1 ? c - 0x20 : c - '0');
}

char TextOf(int track, std::uint8_t value) {
    return static_cast<char>(track == 1 ? value + 0x20 : value + '0');
}

std::uint8_t WithParity(int track, std::uint8_t value) {
    const int dataBits = Width(track) - 1;
    const bool odd = (std::popcount(static_cast<unsigned>(value)) & 1) != 0;
    return static_cast<std::uint8_t>(value | (odd ? 0 : 1u << dataBits));
}

char Lrc(int track, const std::string& text) {
    std::uint8_t v = 0;
    for (const char c : text) v ^= Value(track, c);
    return TextOf(track, v);
}

std::vector<std::uint8_t> Forward(int track, const std::string& text) {
    std::vector<std::uint8_t> raw;
    for (const char c : text + Lrc(track, text)) raw.push_back(WithParity(track, Value(track, c)));
    return raw;
}

std::vector<std::uint8_t> Reversed(const std::vector<std::uint8_t>& forward, int track, int slip) {
    std::vector<int> bits = Bits(forward, Width(track));
    std::reverse(bits.begin(), bits.end());
    return Group(bits, Width(track), slip);
}

std::vector<std::uint8_t> Regrouped(const std::vector<std::uint8_t>& forward, int track, int slip) {
    return Group(Bits(forward, Width(track)), Width(track), slip);
}

std::vector<std::uint8_t> AfterStrayBit(const std::vector<std::uint8_t>& forward, int track,
                                        int gap) {
    std::vector<int> bits(static_cast<std::size_t>(gap), 0);
    bits.insert(bits.begin(), 1);
    const std::vector<int> card = Bits(forward, Width(track));
    bits.insert(bits.end(), card.begin(), card.end());
    return Group(bits, Width(track), 0);
}

}  // namespace kovran::test::stripe
