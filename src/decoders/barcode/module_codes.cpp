// The symbologies of elements one to four modules wide: Code 93 and
// Code 128. Each character is matched as a whole against the pattern table.
#include <array>
#include <cstdint>
#include <vector>

#include "decoders/barcode/element_match.h"
#include "decoders/barcode/symbology.h"

namespace kovran::decoders::barcode {

namespace {

// --- Code 93 ---------------------------------------------------------------

// "abcd" are the shift characters ($), (%), (/) and (+).
constexpr char kCode93Alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%abcd*";
constexpr std::array<int, 48> kCode93Modules = {
    0x114, 0x148, 0x144, 0x142, 0x128, 0x124, 0x122, 0x150, 0x112, 0x10A, 0x1A8, 0x1A4,
    0x1A2, 0x194, 0x192, 0x18A, 0x168, 0x164, 0x162, 0x134, 0x11A, 0x158, 0x14C, 0x146,
    0x12C, 0x116, 0x1B4, 0x1B2, 0x1AC, 0x1A6, 0x196, 0x19A, 0x16C, 0x166, 0x136, 0x13A,
    0x12E, 0x1D4, 0x1D2, 0x1CA, 0x16E, 0x176, 0x1AE, 0x126, 0x1DA, 0x1D6, 0x132, 0x15E};
constexpr int kCode93Star = 47;

// The module patterns as six run lengths each.
const std::vector<std::uint8_t>& Code93Table() {
    static const std::vector<std::uint8_t> table = [] {
        std::vector<std::uint8_t> t;
        for (int bits : kCode93Modules) {
            int run = 0;
            int last = 1;
            for (int m = 8; m >= 0; --m) {
                const int bit = (bits >> m) & 1;
                if (bit != last && run > 0) {
                    t.push_back(static_cast<std::uint8_t>(run));
                    run = 0;
                }
                last = bit;
                ++run;
            }
            t.push_back(static_cast<std::uint8_t>(run));
        }
        return t;
    }();
    return table;
}

bool Code93Check(const std::vector<int>& values, std::size_t count, int maxWeight) {
    int sum = 0;
    int weight = 1;
    for (std::size_t i = count; i-- > 0;) {
        sum += values[i] * weight;
        weight = weight == maxWeight ? 1 : weight + 1;
    }
    return sum % 47 == values[count];
}

// Full ASCII: a shift character and the letter after it make one character.
bool ExpandCode93(const std::string& raw, std::string& out) {
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c < 'a' || c > 'd') {
            out.push_back(c);
            continue;
        }
        if (i + 1 >= raw.size()) return false;
        const char n = raw[++i];
        int v = -1;
        switch (c) {
            case 'a':  // ($)A..Z: control characters 1 to 26
                if (n >= 'A' && n <= 'Z') v = n - 64;
                break;
            case 'b':  // (%): the remaining control and punctuation characters
                if (n >= 'A' && n <= 'E')
                    v = n - 38;
                else if (n >= 'F' && n <= 'J')
                    v = n - 11;
                else if (n >= 'K' && n <= 'O')
                    v = n + 16;
                else if (n >= 'P' && n <= 'T')
                    v = n + 43;
                else if (n == 'U')
                    v = 0;
                else if (n == 'V')
                    v = '@';
                else if (n == 'W')
                    v = '`';
                else if (n >= 'X' && n <= 'Z')
                    v = 127;
                break;
            case 'c':  // (/)A..O: ! to /, (/)Z: ':'
                if (n >= 'A' && n <= 'O')
                    v = n - 32;
                else if (n == 'Z')
                    v = ':';
                break;
            case 'd':  // (+)A..Z: lower case
                if (n >= 'A' && n <= 'Z') v = n + 32;
                break;
        }
        if (v < 0) return false;
        out.push_back(static_cast<char>(v));
    }
    return true;
}

// --- Code 128 --------------------------------------------------------------

constexpr int kCode128Columns = 6;
// Values 103 to 105 are the start characters A, B and C; 106 the stop
// (whose seventh element, a bar of two modules, ends the symbol).
constexpr std::array<std::uint8_t, 107 * kCode128Columns> kCode128Patterns = {
    2, 1, 2, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 2, 1, 1, 2, 1, 2, 2, 3, 1, 2, 1, 3, 2, 2, 1,
    3, 1, 2, 2, 2, 1, 2, 2, 2, 1, 3, 1, 2, 2, 3, 1, 2, 1, 3, 2, 2, 1, 2, 2, 2, 1, 2, 1, 3, 2, 2,
    1, 3, 1, 2, 2, 3, 1, 2, 1, 2, 1, 1, 2, 2, 3, 2, 1, 2, 2, 1, 3, 2, 1, 2, 2, 2, 3, 1, 1, 1, 3,
    2, 2, 2, 1, 2, 3, 1, 2, 2, 1, 2, 3, 2, 2, 1, 2, 2, 3, 2, 1, 1, 2, 2, 1, 1, 3, 2, 2, 2, 1, 2,
    3, 1, 2, 1, 3, 2, 1, 2, 2, 2, 3, 1, 1, 2, 3, 1, 2, 1, 3, 1, 3, 1, 1, 2, 2, 2, 3, 2, 1, 1, 2,
    2, 3, 2, 1, 2, 2, 1, 3, 1, 2, 2, 1, 2, 3, 2, 2, 1, 1, 2, 3, 2, 2, 2, 1, 1, 2, 1, 2, 1, 2, 3,
    2, 1, 2, 3, 2, 1, 2, 3, 2, 1, 2, 1, 1, 1, 1, 3, 2, 3, 1, 3, 1, 1, 2, 3, 1, 3, 1, 3, 2, 1, 1,
    1, 2, 3, 1, 3, 1, 3, 2, 1, 1, 3, 1, 3, 2, 3, 1, 1, 2, 1, 1, 3, 1, 3, 2, 3, 1, 1, 1, 3, 2, 3,
    1, 3, 1, 1, 1, 1, 2, 1, 3, 3, 1, 1, 2, 3, 3, 1, 1, 3, 2, 1, 3, 1, 1, 1, 3, 1, 2, 3, 1, 1, 3,
    3, 2, 1, 1, 3, 3, 1, 2, 1, 3, 1, 3, 1, 2, 1, 2, 1, 1, 3, 3, 1, 2, 3, 1, 1, 3, 1, 2, 1, 3, 1,
    1, 3, 2, 1, 3, 3, 1, 1, 2, 1, 3, 1, 3, 1, 3, 1, 1, 1, 2, 3, 3, 1, 1, 3, 2, 1, 3, 3, 1, 1, 2,
    1, 3, 1, 2, 1, 1, 3, 3, 1, 2, 3, 1, 1, 3, 3, 2, 1, 1, 1, 3, 1, 4, 1, 1, 1, 2, 2, 1, 4, 1, 1,
    4, 3, 1, 1, 1, 1, 1, 1, 1, 2, 2, 4, 1, 1, 1, 4, 2, 2, 1, 2, 1, 1, 2, 4, 1, 2, 1, 4, 2, 1, 1,
    4, 1, 1, 2, 2, 1, 4, 1, 2, 2, 1, 1, 1, 2, 2, 1, 4, 1, 1, 2, 4, 1, 2, 1, 2, 2, 1, 1, 4, 1, 2,
    2, 4, 1, 1, 1, 4, 2, 1, 1, 2, 1, 4, 2, 2, 1, 1, 2, 4, 1, 2, 1, 1, 2, 2, 1, 1, 1, 4, 4, 1, 3,
    1, 1, 1, 2, 4, 1, 1, 1, 2, 1, 3, 4, 1, 1, 1, 1, 1, 1, 2, 4, 2, 1, 2, 1, 1, 4, 2, 1, 2, 1, 2,
    4, 1, 1, 1, 4, 2, 1, 2, 1, 2, 4, 1, 1, 2, 1, 2, 4, 2, 1, 1, 4, 1, 1, 2, 1, 2, 4, 2, 1, 1, 1,
    2, 4, 2, 1, 2, 1, 1, 2, 1, 2, 1, 4, 1, 2, 1, 4, 1, 2, 1, 4, 1, 2, 1, 2, 1, 1, 1, 1, 1, 4, 3,
    1, 1, 1, 3, 4, 1, 1, 3, 1, 1, 4, 1, 1, 1, 4, 1, 1, 3, 1, 1, 4, 3, 1, 1, 4, 1, 1, 1, 1, 3, 4,
    1, 1, 3, 1, 1, 1, 1, 3, 1, 4, 1, 1, 1, 4, 1, 3, 1, 3, 1, 1, 1, 4, 1, 4, 1, 1, 1, 3, 1, 2, 1,
    1, 4, 1, 2, 2, 1, 1, 2, 1, 4, 2, 1, 1, 2, 3, 2, 2, 3, 3, 1, 1, 1};
constexpr int kStartA = 103;
constexpr int kStartC = 105;
constexpr int kCodeC = 99;
constexpr int kFnc1 = 102;

enum class CodeSet { A, B, C };

}  // namespace

std::optional<SymbolText> DecodeCode93(std::span<const int> widths) {
    const std::size_t count = widths.size();
    if (count < 31 || (count - 1) % 6 != 0) return std::nullopt;
    const std::size_t chars = (count - 1) / 6;
    const auto& table = Code93Table();
    std::vector<int> values;
    for (std::size_t i = 0; i < chars; ++i) {
        const int v = detail::BestPattern(widths.subspan(i * 6, 6), table, 6);
        if (v < 0) return std::nullopt;
        values.push_back(v);
    }
    // The termination bar is one module: no wider than a third of a character.
    long long firstChar = 0;
    for (std::size_t i = 0; i < 6; ++i) firstChar += widths[i];
    if (widths.back() * 9 > firstChar * 2) return std::nullopt;
    if (values.front() != kCode93Star || values.back() != kCode93Star) return std::nullopt;
    values.erase(values.begin());
    values.pop_back();
    for (int v : values)
        if (v == kCode93Star) return std::nullopt;
    // Both check characters are part of the standard symbol.
    const std::size_t data = values.size() - 2;
    if (!Code93Check(values, data, 20) || !Code93Check(values, data + 1, 15)) return std::nullopt;
    std::string raw;
    for (std::size_t i = 0; i < data; ++i) raw.push_back(kCode93Alphabet[values[i]]);
    SymbolText out;
    if (!ExpandCode93(raw, out.text) || out.text.empty()) return std::nullopt;
    out.verified = true;
    return out;
}

std::optional<SymbolText> DecodeCode128(std::span<const int> widths) {
    const std::size_t count = widths.size();
    if (count < 25 || (count - 1) % 6 != 0) return std::nullopt;
    const std::size_t chars = (count - 1) / 6;
    std::vector<int> values;
    for (std::size_t i = 0; i + 1 < chars; ++i) {
        const int v =
            detail::BestPattern(widths.subspan(i * 6, 6), kCode128Patterns, kCode128Columns);
        if (v < 0) return std::nullopt;
        values.push_back(v);
    }
    // The stop pattern with its final bar: 2 3 3 1 1 1 2 of 13 modules.
    static constexpr std::uint8_t kStopPattern[] = {2, 3, 3, 1, 1, 1, 2};
    if (detail::PatternDistance(widths.last(7), kStopPattern) > detail::kMaxMatchDistance)
        return std::nullopt;
    if (values.front() < kStartA || values.front() > kStartC) return std::nullopt;
    for (std::size_t i = 1; i < values.size(); ++i)
        if (values[i] >= kStartA) return std::nullopt;
    long long sum = values.front();
    for (std::size_t i = 1; i + 1 < values.size(); ++i)
        sum += static_cast<long long>(i) * values[i];
    if (sum % 103 != values.back()) return std::nullopt;

    CodeSet set = values.front() == kStartA   ? CodeSet::A
                  : values.front() == kStartC ? CodeSet::C
                                              : CodeSet::B;
    std::string text;
    bool shift = false;
    int fnc4 = 0;  // 1: the next character, 2: latched
    bool fnc4Pending = false;
    for (std::size_t i = 1; i + 1 < values.size(); ++i) {
        const int v = values[i];
        const CodeSet now = shift ? (set == CodeSet::A ? CodeSet::B : CodeSet::A) : set;
        shift = false;
        if (now == CodeSet::C) {
            if (v < 100) {
                text.push_back(static_cast<char>('0' + v / 10));
                text.push_back(static_cast<char>('0' + v % 10));
            } else if (v == 100) {
                set = CodeSet::B;
            } else if (v == 101) {
                set = CodeSet::A;
            } else if (v == kFnc1 && i > 1) {
                text.push_back('\x1d');
            }
            continue;
        }
        if (v < 96) {
            int c = now == CodeSet::A ? (v < 64 ? v + 32 : v - 64) : v + 32;
            const bool high = (fnc4 == 2) != fnc4Pending;
            if (high) c += 128;
            fnc4Pending = false;
            text.push_back(static_cast<char>(c));
            continue;
        }
        switch (v) {
            case 96:  // FNC3
            case 97:  // FNC2
                break;
            case 98:
                shift = true;
                break;
            case kCodeC:
                set = CodeSet::C;
                break;
            case 100:  // FNC4 in code set B, else a switch to B
            case 101:  // FNC4 in code set A, else a switch to A
            {
                const CodeSet own = v == 100 ? CodeSet::B : CodeSet::A;
                if (now != own) {
                    set = own;
                } else if (fnc4Pending) {
                    // Two FNC4 in a row latch the extended range on or off.
                    fnc4 = fnc4 == 2 ? 0 : 2;
                    fnc4Pending = false;
                } else {
                    fnc4Pending = true;
                }
                break;
            }
            case kFnc1:
                if (i > 1) text.push_back('\x1d');
                break;
            default:
                break;
        }
    }
    if (text.empty()) return std::nullopt;
    return SymbolText{.text = text, .verified = true};
}

}  // namespace kovran::decoders::barcode
