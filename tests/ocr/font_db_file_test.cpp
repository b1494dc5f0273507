#include "ocr/font_db_file.h"

#include <gtest/gtest.h>

#include <random>

#include "support/temp_dir.h"

namespace kovran::ocr {
namespace {

std::vector<FontModel> RandomModels(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<FontModel> models(n);
    for (FontModel& m : models) {
        m.code = static_cast<std::uint8_t>(rng());
        for (auto& r : m.glyph.rows) r = static_cast<std::uint32_t>(rng());
        for (auto& b : m.extra) b = static_cast<std::uint8_t>(rng());
    }
    return models;
}

TEST(FontDbFile, EncodesTheDocumentedLayout) {
    std::vector<FontModel> models(2);
    models[0].code = '7';
    models[0].glyph.Set(0, 0);   // row 0, column 0: bit 31
    models[0].glyph.Set(1, 31);  // row 1, column 31: bit 0
    models[1].code = 'A';
    models[1].extra[0] = 0x5A;
    models[1].extra[31] = 0xA5;
    const auto bytes = EncodeFontDb(models);
    ASSERT_EQ(bytes.size(), 4u + 161u * 2);
    EXPECT_EQ(bytes[0], 2);
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(bytes[4], '7');
    EXPECT_EQ(bytes[5], 'A');
    const std::size_t glyphs = 6;
    EXPECT_EQ(bytes[glyphs + 3], 0x80);      // most significant byte of row 0
    EXPECT_EQ(bytes[glyphs + 4 + 0], 0x01);  // least significant byte of row 1
    const std::size_t extras = 4 + 129 * 2;
    EXPECT_EQ(bytes[extras + 32], 0x5A);
    EXPECT_EQ(bytes[extras + 63], 0xA5);

    const FontDbRead back = ParseFontDb(bytes);
    ASSERT_TRUE(back.Ok());
    EXPECT_EQ(back.models, models);
}

TEST(FontDbFile, RoundTripsThroughFilesAndIgnoresTrailingBytes) {
    test::TempDir dir;
    for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{37}, kMaxFontModels}) {
        const auto models = RandomModels(n, static_cast<unsigned>(n));
        const std::string path = dir / "rt.db";
        ASSERT_EQ(WriteFontDbFile(path, models), FontDbError::None);
        EXPECT_EQ(test::ReadFileBytes(path).size(), 4 + 161 * n);
        const FontDbRead r = ReadFontDbFile(path);
        ASSERT_TRUE(r.Ok()) << n;
        EXPECT_EQ(r.models, models);

        auto bytes = EncodeFontDb(models);
        bytes.insert(bytes.end(), {1, 2, 3});
        const FontDbRead padded = ParseFontDb(bytes);
        ASSERT_TRUE(padded.Ok());
        EXPECT_EQ(padded.models, models);
    }
}

TEST(FontDbFile, RefusesShortAndOversizedFiles) {
    auto bytes = EncodeFontDb(RandomModels(3, 1));
    // The header says 3 models; the file holds 2 glyphs.
    std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + 4 + 3 + 128 * 2);
    EXPECT_EQ(ParseFontDb(cut).error, FontDbError::Truncated);
    // All but the last extra byte.
    cut.assign(bytes.begin(), bytes.end() - 1);
    EXPECT_EQ(ParseFontDb(cut).error, FontDbError::Truncated);
    EXPECT_TRUE(ParseFontDb(cut).models.empty());

    EXPECT_EQ(ParseFontDb(std::vector<std::uint8_t>{}).error, FontDbError::NoHeader);
    EXPECT_EQ(ParseFontDb(std::vector<std::uint8_t>{3, 0, 0}).error, FontDbError::NoHeader);
    EXPECT_TRUE(ParseFontDb(std::vector<std::uint8_t>{0, 0, 0, 0}).Ok());

    // A count above the limit is refused before its size is even considered.
    EXPECT_EQ(ParseFontDb(std::vector<std::uint8_t>{0xD1, 0x07, 0, 0}).error,  // 2001
              FontDbError::TooManyModels);
    EXPECT_EQ(ParseFontDb(std::vector<std::uint8_t>{0xFF, 0xFF, 0, 0}).error,
              FontDbError::TooManyModels);
    EXPECT_EQ(ParseFontDb(std::vector<std::uint8_t>{0xD0, 0x07, 0, 0}).error,  // 2000
              FontDbError::Truncated);

    EXPECT_TRUE(EncodeFontDb(RandomModels(kMaxFontModels + 1, 2)).empty());

    test::TempDir dir;
    EXPECT_EQ(WriteFontDbFile(dir / "big.db", RandomModels(kMaxFontModels + 1, 2)),
              FontDbError::TooManyModels);
    EXPECT_EQ(ReadFontDbFile(dir / "missing.db").error, FontDbError::CannotOpen);
    test::WriteFileBytes(dir / "short.db", std::string(bytes.begin(), bytes.end() - 5));
    EXPECT_EQ(ReadFontDbFile(dir / "short.db").error, FontDbError::Truncated);
    test::WriteFileBytes(dir / "tiny.db", std::string("\x01", 1));
    EXPECT_EQ(ReadFontDbFile(dir / "tiny.db").error, FontDbError::NoHeader);
    test::WriteFileBytes(dir / "huge.db", std::string("\xFF\xFF\0\0", 4));
    EXPECT_EQ(ReadFontDbFile(dir / "huge.db").error, FontDbError::TooManyModels);
    EXPECT_EQ(WriteFontDbFile(dir / "no/such/dir.db", RandomModels(1, 3)),
              FontDbError::CannotWrite);
}

TEST(FontDbFile, NamesAreFourToThirtyOneCharacters) {
    EXPECT_FALSE(IsValidFontDbName(""));
    EXPECT_FALSE(IsValidFontDbName(".db"));
    EXPECT_TRUE(IsValidFontDbName("a.db"));
    EXPECT_TRUE(IsValidFontDbName(std::string(31, 'x')));
    EXPECT_FALSE(IsValidFontDbName(std::string(32, 'x')));
}

}  // namespace
}  // namespace kovran::ocr
