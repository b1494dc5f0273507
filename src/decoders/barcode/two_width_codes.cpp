// The symbologies of narrow and wide elements: Code 39 (and the Code 32
// transcoding), Interleaved 2 of 5 and Codabar.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "decoders/barcode/element_match.h"
#include "decoders/barcode/symbology.h"

namespace kovran::decoders::barcode {

namespace {

// A wide element is at least this much wider than a narrow one; below it the
// widths do not form two classes and the list is not read.
constexpr double kMinWideRatio = 1.5;
// Characters of one symbol are printed at one scale: a character whose width
// lies outside this share of the reference character's is a misread.
constexpr double kMinCharScale = 0.75;
constexpr double kMaxCharScale = 1.33;

bool SimilarScale(long long width, long long reference) {
    return width >= kMinCharScale * static_cast<double>(reference) &&
           width <= kMaxCharScale * static_cast<double>(reference);
}

long long Sum(std::span<const int> w) {
    long long s = 0;
    for (int v : w) s += v;
    return s;
}

// The narrow and wide elements of a decoded symbol, each class at one
// width: a spot or a void that merges or splits elements leaves an element
// far from its class, and a symbol read so is refused rather than misread.
class WidthClasses {
  public:
    void Add(int width, bool wide) { (wide ? wide_ : narrow_).push_back(width); }
    void AddPattern(std::span<const int> w, int bits) {
        for (std::size_t i = 0; i < w.size(); ++i)
            Add(w[i], ((bits >> (w.size() - 1 - i)) & 1) != 0);
    }
    bool Consistent() const {
        if (narrow_.empty() || wide_.empty()) return false;
        const double n = Mean(narrow_);
        const double w = Mean(wide_);
        if (w < kMinWideRatio * n) return false;
        for (int v : narrow_)
            if (v < kNarrowLow * n || v > kNarrowHigh * n) return false;
        for (int v : wide_)
            if (v < kWideLow * w || v > kWideHigh * w) return false;
        return true;
    }
    double NarrowMean() const { return Mean(narrow_); }

  private:
    static constexpr double kNarrowLow = 0.4;
    static constexpr double kNarrowHigh = 1.7;
    static constexpr double kWideLow = 0.6;
    static constexpr double kWideHigh = 1.5;
    static double Mean(const std::vector<int>& v) {
        double s = 0.0;
        for (int x : v) s += x;
        return v.empty() ? 0.0 : s / static_cast<double>(v.size());
    }
    std::vector<int> narrow_;
    std::vector<int> wide_;
};

// Bit i (from the most significant of `count`) set for a wide element.
int WidePattern(std::span<const int> w, double threshold) {
    int bits = 0;
    for (int v : w) bits = (bits << 1) | (v > threshold ? 1 : 0);
    return bits;
}

int CountBits(int v) {
    int n = 0;
    for (; v != 0; v &= v - 1) ++n;
    return n;
}

// --- Code 39 ---------------------------------------------------------------

constexpr char kCode39Alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%";
constexpr std::array<int, 43> kCode39Patterns = {
    0x034, 0x121, 0x061, 0x160, 0x031, 0x130, 0x070, 0x025, 0x124, 0x064, 0x109,
    0x049, 0x148, 0x019, 0x118, 0x058, 0x00D, 0x10C, 0x04C, 0x01C, 0x103, 0x043,
    0x142, 0x013, 0x112, 0x052, 0x007, 0x106, 0x046, 0x016, 0x181, 0x0C1, 0x1C0,
    0x091, 0x190, 0x0D0, 0x085, 0x184, 0x0C4, 0x0A8, 0x0A2, 0x08A, 0x02A};
constexpr int kCode39Star = 0x094;
constexpr int kCode39CharElements = 9;
constexpr char kNoChar = 0;

char Code39Char(int bits) {
    if (bits == kCode39Star) return '*';
    for (std::size_t i = 0; i < kCode39Patterns.size(); ++i)
        if (kCode39Patterns[i] == bits) return kCode39Alphabet[i];
    return kNoChar;
}

int Code39Bits(char c) {
    if (c == '*') return kCode39Star;
    for (int i = 0; i < 43; ++i)
        if (kCode39Alphabet[i] == c) return kCode39Patterns[static_cast<std::size_t>(i)];
    return 0;
}

// The gaps between characters are no wider than a few narrow elements.
bool GapsNarrow(std::span<const int> widths, std::size_t charElements,
                const WidthClasses& classes) {
    constexpr double kMaxGapNarrows = 5.0;
    for (std::size_t at = charElements; at < widths.size(); at += charElements + 1)
        if (widths[at] > kMaxGapNarrows * classes.NarrowMean()) return false;
    return true;
}

int Code39Value(char c) {
    for (int i = 0; i < 43; ++i)
        if (kCode39Alphabet[i] == c) return i;
    return -1;
}

// The threshold moves (in tenths of a profile sample) tried on a character
// that matches no pattern.
constexpr int kCode39Retries[] = {2, 4, 6, 7, -2, -4, -6, -7};

char ReadCode39Char(std::span<const int> w, double threshold) {
    char c = Code39Char(WidePattern(w, threshold));
    for (int shift : kCode39Retries) {
        if (c != kNoChar) return c;
        c = Code39Char(WidePattern(w, threshold + shift));
    }
    if (c != kNoChar) return c;
    // Last, the character's own middle: a symbol whose scale drifts along
    // the band still reads character by character.
    const auto [lo, hi] = std::minmax_element(w.begin(), w.end());
    if (*hi < kMinWideRatio * *lo) return kNoChar;
    return Code39Char(WidePattern(w, (*lo + *hi) / 2.0));
}

// --- Interleaved 2 of 5 ----------------------------------------------------

// Wide elements of each digit, first element in the highest of five bits.
constexpr std::array<int, 10> kItfPatterns = {0x06, 0x11, 0x09, 0x18, 0x05,
                                              0x14, 0x0C, 0x03, 0x12, 0x0A};

// Without a verified check, shorter readings are too easily found in other
// symbols' bars.
constexpr std::size_t kItfMinUnverified = 5;

int ItfDigit(int bits) {
    for (int d = 0; d < 10; ++d)
        if (kItfPatterns[static_cast<std::size_t>(d)] == bits) return d;
    return -1;
}

// --- Codabar ---------------------------------------------------------------

constexpr char kCodabarAlphabet[] = "0123456789-$:/.+ABCD";
constexpr std::array<int, 20> kCodabarPatterns = {0x003, 0x006, 0x009, 0x060, 0x012, 0x042, 0x021,
                                                  0x024, 0x030, 0x048, 0x00C, 0x018, 0x045, 0x051,
                                                  0x054, 0x015, 0x01A, 0x029, 0x00B, 0x00E};
constexpr int kCodabarCharElements = 7;

int CodabarIndex(int bits) {
    for (std::size_t i = 0; i < kCodabarPatterns.size(); ++i)
        if (kCodabarPatterns[i] == bits) return static_cast<int>(i);
    return -1;
}

bool IsCodabarStartStop(int index) {
    return index >= 16;
}

}  // namespace

std::optional<SymbolText> DecodeCode39(std::span<const int> widths) {
    const std::size_t count = widths.size();
    if ((count + 1) % 10 != 0) return std::nullopt;
    const std::size_t chars = (count + 1) / 10;
    if (chars < 3) return std::nullopt;

    const auto first = widths.first(kCode39CharElements);
    const auto [lo, hi] = std::minmax_element(first.begin(), first.end());
    if (*lo <= 0 || *hi < kMinWideRatio * *lo) return std::nullopt;
    const double threshold = (*lo + *hi) / 2.0;
    const long long reference = Sum(first);

    std::string all;
    WidthClasses classes;
    for (std::size_t i = 0; i < chars; ++i) {
        const auto w = widths.subspan(i * 10, kCode39CharElements);
        if (!SimilarScale(Sum(w), reference)) return std::nullopt;
        const char c = ReadCode39Char(w, threshold);
        if (c == kNoChar) return std::nullopt;
        classes.AddPattern(w, Code39Bits(c));
        all.push_back(c);
    }
    // Start and stop, and no '*' between them.
    if (all.front() != '*' || all.back() != '*') return std::nullopt;
    if (!classes.Consistent() || !GapsNarrow(widths, kCode39CharElements, classes))
        return std::nullopt;
    SymbolText out;
    out.text = all.substr(1, all.size() - 2);
    if (out.text.find('*') != std::string::npos) return std::nullopt;
    if (out.text.size() >= 2) {
        int sum = 0;
        for (std::size_t i = 0; i + 1 < out.text.size(); ++i) sum += Code39Value(out.text[i]);
        out.verified = sum % 43 == Code39Value(out.text.back());
    }
    return out;
}

std::optional<std::string> TranscodeCode32(const std::string& code39Text) {
    static constexpr char kDigits[] = "0123456789BCDFGHJKLMNPQRSTUVWXYZ";
    if (code39Text.size() != 6) return std::nullopt;
    long long value = 0;
    for (char c : code39Text) {
        const char* at = std::find(kDigits, kDigits + 32, c);
        if (at == kDigits + 32) return std::nullopt;
        value = value * 32 + (at - kDigits);
    }
    if (value > 999999999) return std::nullopt;
    char text[24];
    std::snprintf(text, sizeof text, "%09lld", value);
    return std::string(text);
}

std::optional<SymbolText> DecodeInterleaved2of5(std::span<const int> widths) {
    const std::size_t count = widths.size();
    if (count < 17 || (count - 7) % 10 != 0) return std::nullopt;
    const std::size_t pairs = (count - 7) / 10;

    std::string digits;
    WidthClasses classes;
    long long reference = 0;
    double firstThreshold = 0.0;
    double lastThreshold = 0.0;
    for (std::size_t p = 0; p < pairs; ++p) {
        const auto w = widths.subspan(4 + p * 10, 10);
        const auto [lo, hi] = std::minmax_element(w.begin(), w.end());
        if (*lo <= 0 || *hi < kMinWideRatio * *lo) return std::nullopt;
        const double threshold = (*lo + *hi) / 2.0;
        const long long total = Sum(w);
        if (p == 0) {
            reference = total;
            firstThreshold = threshold;
        } else if (!SimilarScale(total, reference)) {
            return std::nullopt;
        }
        lastThreshold = threshold;
        int bars = 0;
        int spaces = 0;
        for (int j = 0; j < 5; ++j) {
            bars = (bars << 1) | (w[static_cast<std::size_t>(2 * j)] > threshold ? 1 : 0);
            spaces = (spaces << 1) | (w[static_cast<std::size_t>(2 * j + 1)] > threshold ? 1 : 0);
        }
        const int d1 = ItfDigit(bars);
        const int d2 = ItfDigit(spaces);
        if (d1 < 0 || d2 < 0) return std::nullopt;
        for (int j = 0; j < 5; ++j) {
            classes.Add(w[static_cast<std::size_t>(2 * j)], ((bars >> (4 - j)) & 1) != 0);
            classes.Add(w[static_cast<std::size_t>(2 * j + 1)], ((spaces >> (4 - j)) & 1) != 0);
        }
        digits.push_back(static_cast<char>('0' + d1));
        digits.push_back(static_cast<char>('0' + d2));
    }
    // Start: four narrow elements; stop: wide bar, narrow space, narrow bar.
    for (std::size_t i = 0; i < 4; ++i)
        if (widths[i] > firstThreshold) return std::nullopt;
    const auto stop = widths.last(3);
    if (stop[0] <= lastThreshold || stop[1] > lastThreshold || stop[2] > lastThreshold)
        return std::nullopt;
    for (std::size_t i = 0; i < 4; ++i) classes.Add(widths[i], false);
    classes.Add(stop[0], true);
    classes.Add(stop[1], false);
    classes.Add(stop[2], false);
    if (!classes.Consistent()) return std::nullopt;

    SymbolText out;
    out.text = digits;
    out.verified =
        detail::Mod10CheckDigit(digits.substr(0, digits.size() - 1)) == digits.back() - '0';
    if (!out.verified && digits.size() < kItfMinUnverified) return std::nullopt;
    return out;
}

std::optional<SymbolText> DecodeCodabar(std::span<const int> widths) {
    const std::size_t count = widths.size();
    if ((count + 1) % 8 != 0) return std::nullopt;
    const std::size_t chars = (count + 1) / 8;
    if (chars < 3) return std::nullopt;

    std::string all;
    WidthClasses classes;
    int valueSum = 0;
    double narrowRef = 0.0;
    for (std::size_t i = 0; i < chars; ++i) {
        const auto w = widths.subspan(i * 8, kCodabarCharElements);
        const auto [lo, hi] = std::minmax_element(w.begin(), w.end());
        if (*lo <= 0 || *hi < kMinWideRatio * *lo) return std::nullopt;
        const int bits = WidePattern(w, (*lo + *hi) / 2.0);
        const int index = CodabarIndex(bits);
        if (index < 0) return std::nullopt;
        // Narrow elements of every character at one scale.
        const double narrow = static_cast<double>(*lo);
        if (i == 0)
            narrowRef = narrow;
        else if (narrow < 0.6 * narrowRef || narrow > 1.66 * narrowRef)
            return std::nullopt;
        const bool edge = i == 0 || i + 1 == chars;
        if (IsCodabarStartStop(index) != edge) return std::nullopt;
        if (CountBits(bits) < 2 || CountBits(bits) > 3) return std::nullopt;
        classes.AddPattern(w, bits);
        all.push_back(kCodabarAlphabet[index]);
        valueSum += index;
    }
    if (!classes.Consistent() || !GapsNarrow(widths, kCodabarCharElements, classes))
        return std::nullopt;
    SymbolText out;
    out.text = all.substr(1, all.size() - 2);
    out.verified = out.text.size() >= 2 && valueSum % 16 == 0;
    return out;
}

}  // namespace kovran::decoders::barcode
