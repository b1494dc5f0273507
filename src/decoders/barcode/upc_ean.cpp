// The retail symbologies: UPC-A, UPC-E, EAN-8 and EAN-13. Every digit is
// four elements of seven modules; the guards are single modules.
#include <array>
#include <cstdint>

#include "decoders/barcode/element_match.h"
#include "decoders/barcode/symbology.h"

namespace kovran::decoders::barcode {

namespace {

// Digits 0 to 9 in the L set (space first on the left), then in the G set.
// The R set has the L widths with the bar first.
constexpr std::array<std::uint8_t, 20 * 4> kDigitPatterns = {
    3, 2, 1, 1, 2, 2, 2, 1, 2, 1, 2, 2, 1, 4, 1, 1, 1, 1, 3, 2,  // L 0-4
    1, 2, 3, 1, 1, 1, 1, 4, 1, 3, 1, 2, 1, 2, 1, 3, 3, 1, 1, 2,  // L 5-9
    1, 1, 2, 3, 1, 2, 2, 2, 2, 2, 1, 2, 1, 1, 4, 1, 2, 3, 1, 1,  // G 0-4
    1, 3, 2, 1, 4, 1, 1, 1, 2, 1, 3, 1, 3, 1, 2, 1, 2, 1, 1, 3,  // G 5-9
};
constexpr std::size_t kGuard = 3;
constexpr std::size_t kMiddle = 5;

// EAN-13's first digit from the parity of the left six digits (bit set for
// G, first digit in the highest bit).
constexpr std::array<int, 10> kEan13Parity = {0x00, 0x0B, 0x0D, 0x0E, 0x13,
                                              0x19, 0x1C, 0x15, 0x16, 0x1A};
// UPC-E with number system 0: the check digit from the parity of its six
// digits (bit set for G).
constexpr std::array<int, 10> kUpcEParity = {0x38, 0x34, 0x32, 0x31, 0x2C,
                                             0x26, 0x23, 0x2A, 0x29, 0x25};

enum class DigitSet { LOnly, LOrG };

// One digit: its value, and whether it came from the G set.
struct Digit {
    int value = -1;
    bool g = false;
};

Digit ReadDigit(std::span<const int> w, DigitSet set) {
    const std::span<const std::uint8_t> table =
        set == DigitSet::LOnly ? std::span<const std::uint8_t>(kDigitPatterns).first(40)
                               : std::span<const std::uint8_t>(kDigitPatterns);
    const int index = detail::BestPattern(w, table, 4);
    if (index < 0) return {};
    return {.value = index % 10, .g = index >= 10};
}

// Guard elements are single modules of the symbol's module width.
bool GuardOk(std::span<const int> w, double module) {
    for (int v : w)
        if (v < 0.5 * module || v > 1.6 * module) return false;
    return true;
}

double ModuleWidth(std::span<const int> widths, int modules) {
    long long total = 0;
    for (int v : widths) total += v;
    return static_cast<double>(total) / modules;
}

// Reads `digits` digits of four elements each from `from`, appending them;
// the parity bits (G set) go to `parity`, the first digit in the highest bit.
bool ReadDigits(std::span<const int> widths, std::size_t from, int digits, DigitSet set,
                std::string& text, int& parity) {
    for (int i = 0; i < digits; ++i) {
        const Digit d = ReadDigit(widths.subspan(from + static_cast<std::size_t>(i) * 4, 4), set);
        if (d.value < 0) return false;
        text.push_back(static_cast<char>('0' + d.value));
        parity = (parity << 1) | (d.g ? 1 : 0);
    }
    return true;
}

// The common frame of UPC-A, EAN-13 and EAN-8: guard, left digits, middle
// guard, right digits (L set), guard.
struct TwoHalves {
    std::string left;
    std::string right;
    int leftParity = 0;
};

std::optional<TwoHalves> ReadTwoHalves(std::span<const int> widths, int half, DigitSet leftSet) {
    const std::size_t expected = 2 * kGuard + kMiddle + 8 * static_cast<std::size_t>(half);
    if (widths.size() != expected) return std::nullopt;
    const double module = ModuleWidth(widths, 6 + 5 + 14 * half);
    const std::size_t middle = kGuard + 4 * static_cast<std::size_t>(half);
    if (!GuardOk(widths.first(kGuard), module) ||
        !GuardOk(widths.subspan(middle, kMiddle), module) || !GuardOk(widths.last(kGuard), module))
        return std::nullopt;
    TwoHalves out;
    int rightParity = 0;
    if (!ReadDigits(widths, kGuard, half, leftSet, out.left, out.leftParity) ||
        !ReadDigits(widths, middle + kMiddle, half, DigitSet::LOnly, out.right, rightParity))
        return std::nullopt;
    return out;
}

std::optional<SymbolText> Verified(std::string digits) {
    const int check = digits.back() - '0';
    if (detail::Mod10CheckDigit(digits.substr(0, digits.size() - 1)) != check) return std::nullopt;
    return SymbolText{.text = std::move(digits), .verified = true};
}

}  // namespace

std::optional<SymbolText> DecodeUpcA(std::span<const int> widths) {
    const auto halves = ReadTwoHalves(widths, 6, DigitSet::LOnly);
    if (!halves) return std::nullopt;
    return Verified(halves->left + halves->right);
}

std::optional<SymbolText> DecodeEan13(std::span<const int> widths) {
    const auto halves = ReadTwoHalves(widths, 6, DigitSet::LOrG);
    if (!halves) return std::nullopt;
    for (int first = 0; first < 10; ++first) {
        if (kEan13Parity[static_cast<std::size_t>(first)] == halves->leftParity)
            return Verified(static_cast<char>('0' + first) + halves->left + halves->right);
    }
    return std::nullopt;
}

std::optional<SymbolText> DecodeEan8(std::span<const int> widths) {
    const auto halves = ReadTwoHalves(widths, 4, DigitSet::LOnly);
    if (!halves) return std::nullopt;
    return Verified(halves->left + halves->right);
}

std::optional<SymbolText> DecodeUpcE(std::span<const int> widths) {
    constexpr std::size_t kEndGuard = 6;
    if (widths.size() != kGuard + 24 + kEndGuard) return std::nullopt;
    const double module = ModuleWidth(widths, 3 + 42 + 6);
    if (!GuardOk(widths.first(kGuard), module) || !GuardOk(widths.last(kEndGuard), module))
        return std::nullopt;
    std::string six;
    int parity = 0;
    if (!ReadDigits(widths, kGuard, 6, DigitSet::LOrG, six, parity)) return std::nullopt;
    int encodedCheck = -1;
    for (int c = 0; c < 10; ++c)
        if (kUpcEParity[static_cast<std::size_t>(c)] == parity) encodedCheck = c;
    if (encodedCheck < 0) return std::nullopt;

    // The UPC-A number that the six digits stand for.
    const char last = six[5];
    std::string expanded = "0";
    if (last <= '2')
        expanded += six.substr(0, 2) + last + "0000" + six.substr(2, 3);
    else if (last == '3')
        expanded += six.substr(0, 3) + "00000" + six.substr(3, 2);
    else if (last == '4')
        expanded += six.substr(0, 4) + "00000" + six[4];
    else
        expanded += six.substr(0, 5) + "0000" + last;
    // Every UPC-E carries its check digit in the parity: a reading whose
    // parity disagrees with its digits is known to be wrong.
    if (detail::Mod10CheckDigit(expanded) != encodedCheck) return std::nullopt;
    return SymbolText{.text = "0" + six + static_cast<char>('0' + encodedCheck), .verified = true};
}

std::optional<SymbolText> DecodeSymbology(Symbology symbology, std::span<const int> widths) {
    switch (symbology) {
        case Symbology::Code39:
            return DecodeCode39(widths);
        case Symbology::Interleaved2of5:
            return DecodeInterleaved2of5(widths);
        case Symbology::Code93:
            return DecodeCode93(widths);
        case Symbology::Code128:
            return DecodeCode128(widths);
        case Symbology::Codabar:
            return DecodeCodabar(widths);
        case Symbology::UpcA:
            return DecodeUpcA(widths);
        case Symbology::UpcE:
            return DecodeUpcE(widths);
        case Symbology::Ean8:
            return DecodeEan8(widths);
        case Symbology::Ean13:
            return DecodeEan13(widths);
    }
    return std::nullopt;
}

}  // namespace kovran::decoders::barcode
