// The codeword side of the PDF417 reader: Reed-Solomon over GF(929) with
// erasures and errors, and the compaction modes on codeword streams that
// zint produced for known texts.
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "api/log_fixture.h"
#include "decoders/pdf417/codewords.h"
#include "decoders/pdf417/high_level.h"
#include "decoders/pdf417/reed_solomon.h"

namespace kovran::decoders::pdf417 {
namespace {

std::vector<int> Encode(std::vector<int> data, int ecLevel) {
    data.insert(data.begin(), static_cast<int>(data.size()) + 1);
    const std::vector<int> ec = ComputeErrorCorrection(data, ErrorCorrectionCodewords(ecLevel));
    data.insert(data.end(), ec.begin(), ec.end());
    return data;
}

TEST(Pdf417ReedSolomon, MatchesAnIndependentEncoder) {
    // zint's symbol for "123456789012345678901234567890" at level 2.
    const std::vector<int> data{13, 902, 3, 199, 754, 458, 122, 321, 197, 493, 169, 753, 190};
    EXPECT_EQ(ComputeErrorCorrection(data, 8),
              (std::vector<int>{340, 189, 903, 915, 906, 654, 742, 856}));
}

TEST(Pdf417ReedSolomon, ErasuresAndErrorsUpToCapacity) {
    std::mt19937 rng(5);
    for (int level = 0; level <= 8; ++level) {
        const int k = ErrorCorrectionCodewords(level);
        const int dataCount = std::min(40 + level * 20, kMaxCodewordsPerCode - k);
        std::vector<int> clean(static_cast<std::size_t>(dataCount));
        for (int& c : clean) c = static_cast<int>(rng() % 900);
        const std::vector<int> ec = ComputeErrorCorrection(clean, k);
        clean.insert(clean.end(), ec.begin(), ec.end());
        const int n = static_cast<int>(clean.size());
        // All erasures the level allows; then half erasures, half errors.
        for (int erasures : {MostErasures(level), MostErasures(level) / 2, 0}) {
            // The solver takes on at most kMaxLocatorUnknowns errors.
            const int errors = std::min((k - erasures) / 2, kMaxLocatorUnknowns);
            std::vector<int> damaged = clean;
            std::vector<int> order(static_cast<std::size_t>(n));
            for (int i = 0; i < n; ++i) order[i] = i;
            std::shuffle(order.begin(), order.end(), rng);
            for (int i = 0; i < erasures; ++i) damaged[order[i]] = kErasure;
            for (int i = erasures; i < erasures + errors; ++i)
                damaged[order[i]] = (damaged[order[i]] + 1 + static_cast<int>(rng() % 928)) % 929;
            const CorrectionOutcome out = CorrectCodewords(damaged, k);
            ASSERT_EQ(out.result, Correction::Corrected) << "level " << level << " f " << erasures;
            EXPECT_EQ(out.errors, errors);
            EXPECT_EQ(damaged, clean);
        }
    }
}

TEST(Pdf417ReedSolomon, BeyondCapacityIsRefused) {
    std::mt19937 rng(9);
    const int level = 3;
    const int k = ErrorCorrectionCodewords(level);
    std::vector<int> clean(60);
    for (int& c : clean) c = static_cast<int>(rng() % 900);
    const std::vector<int> ec = ComputeErrorCorrection(clean, k);
    clean.insert(clean.end(), ec.begin(), ec.end());

    std::vector<int> erased = clean;
    for (int i = 0; i <= MostErasures(level); ++i) erased[i * 3] = kErasure;
    EXPECT_EQ(CorrectCodewords(erased, k).result, Correction::TooManyErasures);

    // One error more than the erasures leave room for: never the clean word
    // (and here, with 929 values, found out rather than miscorrected).
    for (int trial = 0; trial < 20; ++trial) {
        std::vector<int> damaged = clean;
        const int erasures = 4;
        const int errors = (k - erasures) / 2 + 1;
        for (int i = 0; i < erasures; ++i) damaged[i * 5 + trial] = kErasure;
        for (int i = 0; i < errors; ++i)
            damaged[i * 5 + trial + 2] = (damaged[i * 5 + trial + 2] + 7) % 929;
        EXPECT_NE(CorrectCodewords(damaged, k).result, Correction::Corrected) << trial;
    }
}

// Complete codeword strings from zint (length descriptor, data, padding,
// error correction at level 2).
struct ZintStream {
    const char* name;
    std::vector<int> codewords;
    std::string text;
};

const ZintStream kStreams[] = {
    {"text_submodes",
     {16,  237, 131, 344, 853, 808, 687, 437, 333, 880, 780, 32,
      808, 32,  119, 900, 851, 161, 512, 675, 341, 693, 878, 663},
     "Hello, World! abc 123"},
    {"numeric",
     {10, 902, 234, 798, 193, 638, 99, 736, 811, 223, 737, 725, 55, 737, 776, 491, 686, 159},
     "12345678901234567890123"},
    {"punctuation",
     {10, 810, 58, 478, 63, 870, 833, 873, 749, 900, 147, 167, 312, 925, 177, 345, 918, 79},
     "ab#CD;x@y"},
    {"bytes_whole_groups",
     {7, 924, 1, 625, 808, 248, 418, 467, 222, 50, 508, 6, 630, 709, 524},
     std::string("\x01\x02\xfe\xff"
                 "AB",
                 6)},
    {"bytes_last_group_plain",
     {7, 901, 128, 129, 130, 131, 132, 776, 331, 671, 791, 818, 255, 342, 215},
     "\x80\x81\x82\x83\x84"},
};

TEST(Pdf417Compaction, ZintStreamsDecode) {
    for (const ZintStream& s : kStreams) {
        const SymbolOutcome out = DecodeSymbol(s.codewords, 2, 1000);
        ASSERT_EQ(out.result, SymbolResult::Read) << s.name;
        EXPECT_EQ(out.text, s.text) << s.name;
        // Two erasures and two errors are repaired at level 2 (8 codewords).
        std::vector<int> damaged = s.codewords;
        damaged[1] = kErasure;
        damaged[4] = kErasure;
        damaged[2] = (damaged[2] + 1) % 929;
        damaged[damaged.size() - 1] = 0;
        const SymbolOutcome repaired = DecodeSymbol(damaged, 2, 1000);
        EXPECT_EQ(repaired.result, SymbolResult::Read) << s.name;
        EXPECT_EQ(repaired.text, s.text) << s.name;
        // The caller's limit: one character short gives nothing.
        EXPECT_EQ(DecodeSymbol(s.codewords, 2, s.text.size() - 1).result, SymbolResult::Undecodable)
            << s.name;
    }
}

TEST(Pdf417Compaction, NumericGroupsAndByteShift) {
    // 902 then two groups: 15 codewords for 44 digits, then the rest.
    // 1 followed by 44 nines is 0x... in base 900; the encoder's side is
    // plain arithmetic, done here digit by digit.
    const std::string digits(50, '7');
    std::vector<int> stream{kLatchNumeric};
    for (std::size_t start = 0; start < digits.size(); start += 44) {
        const std::string group = "1" + digits.substr(start, 44);
        std::vector<int> number(group.begin(), group.end());
        for (int& d : number) d -= '0';
        std::vector<int> base900;
        while (!number.empty()) {
            std::vector<int> quotient;
            int rest = 0;
            for (int d : number) {
                rest = rest * 10 + d;
                if (!quotient.empty() || rest / 900 != 0) quotient.push_back(rest / 900);
                rest %= 900;
            }
            base900.insert(base900.begin(), rest);
            number = quotient;
        }
        stream.insert(stream.end(), base900.begin(), base900.end());
    }
    // Then text "A", a byte shift with 0xE9, and "B" in the same text mode.
    stream.insert(stream.end(), {kLatchText, 0 * 30 + 29, kShiftByte, 0xE9, 1 * 30 + 29});
    const auto text = DecodeDataCodewords(stream, 100);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, digits +
                         "A\xe9"
                         "B");
}

class Pdf417CodewordLog : public test::LogFixture {
  protected:
    void SetUp() override {
        LogFixture::SetUp();
        Ini("[General]\nLogTimeStamp=0\n");
        StartAtLoad();
    }
};

TEST_F(Pdf417CodewordLog, RulesOfTheStream) {
    // Reader initialisation first is accepted; later it ends the text.
    EXPECT_EQ(DecodeDataCodewords(std::vector<int>{kReaderInit, 1 * 30 + 2}, 10), "BC");
    EXPECT_EQ(Count("invalid code in pdf"), 0);
    EXPECT_FALSE(DecodeDataCodewords(std::vector<int>{1 * 30 + 2, kReaderInit, 1}, 10));
    EXPECT_EQ(Count("invalid code in pdf"), 1);

    // A byte shift inside byte compaction is noted and the bytes go on.
    const auto bytes =
        DecodeDataCodewords(std::vector<int>{kLatchByte, 65, kShiftByte, 66, 67}, 10);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, "ABC");
    EXPECT_EQ(Count("Shift to Byte while in Byte mode"), 1);

    // A latch straight after a punctuation shift.
    EXPECT_FALSE(DecodeDataCodewords(std::vector<int>{29 * 30 + 29}, 10));
    EXPECT_EQ(Count("two Submode Shift or consecutive Latch in alpha"), 1);

    // Macro control block: segment index, then the file id codewords.
    EXPECT_EQ(DecodeDataCodewords(
                  std::vector<int>{kMacroControlBlock, 0, 5, 17, 400, kMacroTerminator}, 40),
              "\\9285\\017\\400\\922");
    // Extended channel: noted, text goes on.
    EXPECT_EQ(DecodeDataCodewords(std::vector<int>{kEciCharacterSet, 26, 0 * 30 + 1}, 10), "AB");
    EXPECT_EQ(Count("PDF417 with GLI"), 1);
}

TEST_F(Pdf417CodewordLog, MoreErasuresThanTheLevelRepairs) {
    std::vector<int> symbol = Encode({1 * 30 + 2, 3 * 30 + 4, 5 * 30 + 6}, 1);  // 4 EC codewords
    EXPECT_EQ(DecodeSymbol(symbol, 1, 10).text, "BCDEFG");
    symbol[1] = kErasure;
    symbol[2] = kErasure;
    EXPECT_EQ(DecodeSymbol(symbol, 1, 10).text, "BCDEFG");
    EXPECT_EQ(Count("unexpedcted lenght in pdf run"), 0);
    symbol[3] = kErasure;
    const SymbolOutcome out = DecodeSymbol(symbol, 1, 10);
    EXPECT_EQ(out.result, SymbolResult::TooManyErasures);
    EXPECT_EQ(out.text, "");
    EXPECT_EQ(Count("unexpedcted lenght in pdf run"), 1);
}

}  // namespace
}  // namespace kovran::decoders::pdf417
