// The symbology decoders on element lists taken from zint's symbols.
#include <zint.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "decoders/barcode/symbology.h"
#include "symbol_images.h"

namespace kovran::decoders::barcode {
namespace {

using testing::ModuleWidths;
using testing::ZintModules;

// Widths as the reader gives them: tenths of a profile sample, at
// `samplesPerModule`, each element off by up to `jitter` of a module.
std::vector<int> Widths(const std::vector<bool>& modules, double samplesPerModule = 6.0,
                        double jitter = 0.0, unsigned seed = 1) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> off(-jitter, jitter);
    std::vector<int> out;
    for (int w : ModuleWidths(modules))
        out.push_back(static_cast<int>((w + off(rng)) * samplesPerModule * 10));
    return out;
}

struct Case {
    const char* name;
    int zint;
    std::string data;
    int option2;
    Symbology symbology;
    std::string expected;
    bool verified;
};

std::vector<Case> Cases() {
    return {
        {"code39", BARCODE_CODE39, "ABC-123 $/+%.", 0, Symbology::Code39, "ABC-123 $/+%.", false},
        {"code39_check", BARCODE_CODE39, "KOVRAN42", 1, Symbology::Code39, "KOVRAN42C", true},
        {"itf", BARCODE_C25INTER, "12345678", 0, Symbology::Interleaved2of5, "12345678", false},
        {"itf_check", BARCODE_C25INTER, "1234567", 1, Symbology::Interleaved2of5, "12345670", true},
        {"code93", BARCODE_CODE93, "TEST93", 0, Symbology::Code93, "TEST93", true},
        {"code93_ascii", BARCODE_CODE93, "Hello, world!", 0, Symbology::Code93, "Hello, world!",
         true},
        {"code128", BARCODE_CODE128, "Code128 Test 12345678", 0, Symbology::Code128,
         "Code128 Test 12345678", true},
        {"codabar", BARCODE_CODABAR, "A40156B", 0, Symbology::Codabar, "40156", false},
        {"upca", BARCODE_UPCA, "03600029145", 0, Symbology::UpcA, "036000291452", true},
        {"upce", BARCODE_UPCE, "0123456", 0, Symbology::UpcE, "01234565", true},
        {"ean8", BARCODE_EANX, "9638507", 0, Symbology::Ean8, "96385074", true},
        {"ean13", BARCODE_EANX, "400638133393", 0, Symbology::Ean13, "4006381333931", true},
    };
}

TEST(ElementDecoders, ReadZintSymbolsExactlyAndOnlyAsTheirOwnSymbology) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        const std::vector<bool> modules = ZintModules(c.zint, c.data, c.option2);
        for (double jitter : {0.0, 0.2}) {
            const std::vector<int> widths = Widths(modules, 6.0, jitter);
            const auto read = DecodeSymbology(c.symbology, widths);
            ASSERT_TRUE(read.has_value()) << "jitter " << jitter;
            EXPECT_EQ(read->text, c.expected);
            EXPECT_EQ(read->verified, c.verified);
            for (Symbology other : kDecodeOrder) {
                if (other == c.symbology) continue;
                const auto wrong = DecodeSymbology(other, widths);
                // A UPC-A is the EAN-13 of its number with a leading 0.
                if (c.symbology == Symbology::UpcA && other == Symbology::Ean13) {
                    ASSERT_TRUE(wrong.has_value());
                    EXPECT_EQ(wrong->text, "0" + c.expected);
                    continue;
                }
                EXPECT_FALSE(wrong.has_value())
                    << "read as symbology " << static_cast<int>(other) << ": " << wrong->text;
            }
        }
    }
}

TEST(ElementDecoders, EveryCharacterOfTheTablesReads) {
    std::mt19937 rng(7);
    const std::string code39 = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%";
    std::string ascii;
    for (int c = 32; c < 127; ++c) ascii.push_back(static_cast<char>(c));
    for (int round = 0; round < 40; ++round) {
        std::string a;
        std::string b;
        for (int i = 0; i < 12; ++i) {
            a.push_back(code39[rng() % code39.size()]);
            b.push_back(ascii[rng() % ascii.size()]);
        }
        SCOPED_TRACE(a + " | " + b);
        auto r39 = DecodeCode39(Widths(ZintModules(BARCODE_CODE39, a), 5.0, 0.15, round));
        ASSERT_TRUE(r39.has_value());
        EXPECT_EQ(r39->text, a);
        auto r128 = DecodeCode128(Widths(ZintModules(BARCODE_CODE128, b), 5.0, 0.15, round));
        ASSERT_TRUE(r128.has_value());
        EXPECT_EQ(r128->text, b);
        auto r93 = DecodeCode93(Widths(ZintModules(BARCODE_CODE93, b), 5.0, 0.15, round));
        ASSERT_TRUE(r93.has_value());
        EXPECT_EQ(r93->text, b);
        std::string digits;
        for (int i = 0; i < 10; ++i) digits.push_back(static_cast<char>('0' + rng() % 10));
        auto itf =
            DecodeInterleaved2of5(Widths(ZintModules(BARCODE_C25INTER, digits), 5.0, 0.15, round));
        ASSERT_TRUE(itf.has_value());
        EXPECT_EQ(itf->text, digits);
        const std::string ean = digits + digits.substr(0, 2);
        auto e13 = DecodeEan13(Widths(ZintModules(BARCODE_EANX, ean), 5.0, 0.15, round));
        ASSERT_TRUE(e13.has_value());
        EXPECT_EQ(e13->text, testing::ZintText(BARCODE_EANX, ean));
        const std::string bar = std::string("A") + "0123456789-$:/.+"[rng() % 16] +
                                digits.substr(0, 4) + "BCD"[rng() % 3];
        auto cb = DecodeCodabar(Widths(ZintModules(BARCODE_CODABAR, bar), 5.0, 0.15, round));
        ASSERT_TRUE(cb.has_value()) << bar;
        EXPECT_EQ(cb->text, bar.substr(1, bar.size() - 2));
        const std::string upce = "0" + digits.substr(0, 5) + "012"[rng() % 3];
        auto ue = DecodeUpcE(Widths(ZintModules(BARCODE_UPCE, upce), 5.0, 0.15, round));
        ASSERT_TRUE(ue.has_value());
        EXPECT_EQ(ue->text, testing::ZintText(BARCODE_UPCE, upce));
        EXPECT_TRUE(ue->verified);
    }
}

TEST(ElementDecoders, CheckCharacters) {
    // Codabar with its mod 16 check, UPC-E with a parity that disagrees.
    auto cb = DecodeCodabar(Widths(ZintModules(BARCODE_CODABAR, "A40156B", 1)));
    ASSERT_TRUE(cb.has_value());
    EXPECT_TRUE(cb->verified);
    EXPECT_EQ(cb->text.substr(0, 5), "40156");
    EXPECT_EQ(cb->text.size(), 6u);

    // An EAN-13 whose last digit is not its check digit: the check digit's
    // elements come from another symbol with the same twelve digits but one.
    const std::vector<int> good = Widths(ZintModules(BARCODE_EANX, "400638133393"));
    const std::vector<int> other = Widths(ZintModules(BARCODE_EANX, "400638133394"));
    std::vector<int> wrong = good;
    std::copy(other.end() - 7, other.end() - 3, wrong.end() - 7);
    ASSERT_NE(wrong, good);
    EXPECT_FALSE(DecodeEan13(wrong).has_value());
    EXPECT_FALSE(DecodeUpcA(wrong).has_value());

    // A UPC-E whose first digit comes from another symbol: its parity no
    // longer gives the check digit of its digits, unless zint's does.
    const std::vector<int> upce = Widths(ZintModules(BARCODE_UPCE, "0123456"));
    int spliced = 0;
    for (char d = '0'; d <= '9'; ++d) {
        if (d == '1') continue;
        const std::string data = std::string("0") + d + "23456";
        const std::vector<int> other = Widths(ZintModules(BARCODE_UPCE, data));
        std::vector<int> mixed = upce;
        std::copy(other.begin() + 3, other.begin() + 7, mixed.begin() + 3);
        const auto read = DecodeUpcE(mixed);
        if (!read) continue;
        ++spliced;
        EXPECT_EQ(read->text, testing::ZintText(BARCODE_UPCE, data)) << d;
    }
    EXPECT_LT(spliced, 9);

    // A Code 128 whose mod 103 character belongs to another text.
    const std::vector<int> ab = Widths(ZintModules(BARCODE_CODE128, "AB"));
    const std::vector<int> ac = Widths(ZintModules(BARCODE_CODE128, "AC"));
    ASSERT_EQ(ab.size(), ac.size());
    ASSERT_TRUE(DecodeCode128(ab).has_value());
    std::vector<int> badCheck = ab;
    std::copy(ac.end() - 13, ac.end() - 7, badCheck.end() - 13);
    ASSERT_NE(badCheck, ab);
    EXPECT_FALSE(DecodeCode128(badCheck).has_value());

    // A Code 39 whose mod 43 character is wrong reads unverified.
    const std::vector<int> checked = Widths(ZintModules(BARCODE_CODE39, "KOVRAN42", 1));
    const std::vector<int> other39 = Widths(ZintModules(BARCODE_CODE39, "KOVRAN4V"));
    ASSERT_EQ(checked.size(), other39.size() + 10);
    std::vector<int> bad = checked;
    // Replace the check character 'U' with the 'V' of the other symbol.
    std::copy(other39.end() - 19, other39.end() - 10, bad.end() - 19);
    auto r = DecodeCode39(bad);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->text, "KOVRAN42V");
    EXPECT_FALSE(r->verified);
}

TEST(ElementDecoders, Code32Transcoding) {
    EXPECT_EQ(TranscodeCode32("000000"), "000000000");
    EXPECT_EQ(TranscodeCode32("00000Z"), "000000031");
    EXPECT_EQ(TranscodeCode32("0000B0"), "000000320");
    // 32^6 - 1 is past nine digits; vowels and 'A' are not base-32 digits.
    EXPECT_FALSE(TranscodeCode32("ZZZZZZ").has_value());
    EXPECT_FALSE(TranscodeCode32("0000A0").has_value());
    EXPECT_FALSE(TranscodeCode32("0000E0").has_value());
    EXPECT_FALSE(TranscodeCode32("12345").has_value());
    // The largest value that fits: 999999999 = "XTTNK7"? computed, not known.
    const std::string code39 =
        testing::ZintText(BARCODE_CODE32, "12345678").substr(1);  // "A" + nine digits
    const std::vector<int> widths = Widths(ZintModules(BARCODE_CODE32, "12345678"));
    auto read = DecodeCode39(widths);
    ASSERT_TRUE(read.has_value());
    ASSERT_EQ(read->text.size(), 6u);
    EXPECT_EQ(TranscodeCode32(read->text), code39);
}

TEST(ElementDecoders, DamagedListsReadNothing) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        const std::vector<int> widths = Widths(ZintModules(c.zint, c.data, c.option2));
        // Cut, one element lost, a bar doubled in width.
        std::vector<int> cut(widths.begin(), widths.end() - 2);
        EXPECT_FALSE(DecodeSymbology(c.symbology, cut).has_value());
        std::vector<int> lost = widths;
        lost.erase(lost.begin() + static_cast<std::ptrdiff_t>(lost.size() / 2));
        EXPECT_FALSE(DecodeSymbology(c.symbology, lost).has_value());
        std::vector<int> wide = widths;
        wide[wide.size() / 2 + 1] *= 4;
        const auto read = DecodeSymbology(c.symbology, wide);
        if (read) {
            EXPECT_NE(read->text, c.expected) << "a damaged symbol read as the clean one";
        }
        EXPECT_FALSE(read.has_value() && read->verified) << read->text;
        EXPECT_FALSE(DecodeSymbology(c.symbology, {}).has_value());
    }
}

}  // namespace
}  // namespace kovran::decoders::barcode
