// ".fnt" fonts: the parser against well-formed and hostile files, and the
// text they compose into the stamp image.
#include <gtest/gtest.h>

#include <span>
#include <string>

#include "inkjet/fnt_font.h"
#include "stamp_fixture.h"

namespace kovran::inkjet::test {
namespace {

std::optional<FntFont> Parse(const std::string& file, int h, FntFailure* failure = nullptr) {
    return ParseFntFont(std::span(reinterpret_cast<const std::uint8_t*>(file.data()), file.size()),
                        h, failure);
}

// Two characters, two rows each.
const std::vector<FntGlyph> kTwoGlyphs = {
    {'A', {"#.", "##"}},
    {'B', {"###", "  #"}},
};

TEST(FntParse, ReadsWidthsGlyphsAndEitherLineEnd) {
    for (const std::string lineEnd : {"\n", "\r\n"}) {
        const auto font = Parse(FntFile(kTwoGlyphs, lineEnd), 2);
        ASSERT_TRUE(font) << lineEnd.size();
        EXPECT_EQ(font->lineEnd, static_cast<int>(lineEnd.size()));
        ASSERT_EQ(font->chars.size(), 2u);
        EXPECT_EQ(font->widths, (std::vector<int>{2, 3}));
        EXPECT_TRUE(font->Ink(0, 0, 0));
        EXPECT_TRUE(font->Ink(0, 0, 1));  // any byte but a blank is ink
        EXPECT_FALSE(font->Ink(1, 1, 0));
        EXPECT_TRUE(font->Ink(1, 1, 2));
        EXPECT_FALSE(font->Ink(0, 0, 2));  // past the glyph's width
        EXPECT_EQ(font->IndexOf('B'), 1u);
        EXPECT_EQ(font->IndexOf('Z'), 0u);
    }
}

TEST(FntParse, RefusesFilesThatDoNotHoldWhatTheyState) {
    const std::string good = FntFile(kTwoGlyphs);
    FntFailure failure = FntFailure::Memory;
    EXPECT_FALSE(Parse(good + "x", 2, &failure)) << "a byte after the last glyph";
    EXPECT_EQ(failure, FntFailure::Invalid);
    EXPECT_FALSE(Parse(good.substr(0, good.size() - 1), 2)) << "short glyphs";
    EXPECT_FALSE(Parse(good, 3)) << "made for another glyph height";
    EXPECT_FALSE(Parse("AB\n\x02", 2)) << "short widths";
    EXPECT_FALSE(Parse("AB", 2)) << "no line end";
    EXPECT_FALSE(Parse("", 2));
    EXPECT_FALSE(Parse("\n\0", 2)) << "no character 0 to stand in for missing ones";
    // Widths far beyond what the file holds.
    EXPECT_FALSE(Parse(std::string("AB\n\xff\xff\0", 6) + std::string(40, '#'), 12));
    EXPECT_TRUE(Parse(good, 2));
}

TEST(FntParse, CharacterLineOf511BytesIsRefused) {
    // 509 characters + "\n" = 510 bytes pass; 510 + "\n" = 511 do not.
    for (const std::size_t chars : {509u, 510u}) {
        std::vector<FntGlyph> glyphs;
        for (std::size_t i = 0; i < chars; ++i)
            glyphs.push_back({static_cast<char>('!' + i % 90), {"#"}});
        EXPECT_EQ(Parse(FntFile(glyphs), 1).has_value(), chars == 509u) << chars;
    }
}

class FntText : public StampFixture {
  protected:
    std::string WriteFont(const std::string& name, const std::string& bytes) {
        WriteFileBytes(tmp_ / name, bytes);
        return tmp_ / name;
    }
};

TEST_F(FntText, DrawsEachCharacterIntoItsColumnsAndBlanksAsBlankColumns) {
    const std::vector<FntGlyph> glyphs = {
        {'A', {"# ", "##"}},
        {' ', {"##", "##"}},  // a blank draws nothing whatever its glyph
        {'B', {"###", "  #"}},
    };
    const std::string font = WriteFont("t.fnt", FntFile(glyphs));
    ASSERT_EQ(ComposeFntText("AB A", font, 2, GlyphFlip::No), KVX_OK);
    const StampImage& image = *Stamp().image;
    EXPECT_EQ(image.width, 9);
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(image.stride, 16);
    EXPECT_EQ(image.resolution, 100);
    EXPECT_EQ(RowsOf(image), (std::vector<std::string>{"#.###..#.", "##..#..##"}));
    for (int y = 0; y < 2; ++y)
        for (int x = 9; x < 16; ++x) EXPECT_EQ(image.pixels[y * 16 + x], 255) << x;

    ASSERT_EQ(ComposeFntText("AB", font, 2, GlyphFlip::Yes), KVX_OK);
    EXPECT_EQ(RowsOf(*Stamp().image), (std::vector<std::string>{"##..#", "#.###"}));
}

TEST_F(FntText, MissingCharacterPrintsAsCharacterZeroAndLineEndsAsBlanks) {
    const std::vector<FntGlyph> glyphs = {{'A', {"# "}}, {'B', {" #"}}, {' ', {"  "}}};
    const std::string font = WriteFont("t.fnt", FntFile(glyphs));
    ASSERT_EQ(ComposeFntText("ZB\rA\r\n\n", font, 1, GlyphFlip::No), KVX_OK);
    EXPECT_EQ(RowsOf(*Stamp().image), (std::vector<std::string>{"#..#..#."}));
}

TEST_F(FntText, Cmc7FontSpacesCharactersExceptAfterABlank) {
    const std::vector<FntGlyph> glyphs = {
        {'0', {"#"}},  // drawn as wide as character 1
        {'1', {"###"}},
        {' ', {"  "}},
    };
    for (const char* name : {"cmc7.fnt", "MyCMC7.fnt"}) {
        const std::string font = WriteFont(name, FntFile(glyphs));
        ASSERT_EQ(ComposeFntText("10 1", font, 1, GlyphFlip::No), KVX_OK);
        // 1, 6 blank, 0 (one inked column of three), 6 blank, blank, 1.
        EXPECT_EQ(RowsOf(*Stamp().image), (std::vector<std::string>{"###......#..........###"}))
            << name;
    }
    const std::string plain = WriteFont("plain.fnt", FntFile(glyphs));
    ASSERT_EQ(ComposeFntText("10 1", plain, 1, GlyphFlip::No), KVX_OK);
    EXPECT_EQ(RowsOf(*Stamp().image), (std::vector<std::string>{"####..###"}));
}

TEST_F(FntText, UnusableFontFailsWithItsPathAndLeavesNoImage) {
    Stamp().image = ImageOf({"#"});
    const std::string font = WriteFont("bad.fnt", FntFile(kTwoGlyphs) + "x");
    EXPECT_EQ(ComposeFntText("AB", font, 2, GlyphFlip::No), KVX_ERR_GENERIC);
    EXPECT_TRUE(Logged("err - corrupted or invalid file " + font));
    EXPECT_FALSE(Stamp().image);
    EXPECT_EQ(ComposeFntText("AB", tmp_ / "none.fnt", 2, GlyphFlip::No), KVX_ERR_GENERIC);
}

TEST_F(FntText, Type2HeightWritesTheStampBitmap) {
    std::vector<std::string> rows(38, " ");
    rows[0] = "#";
    const std::string font = WriteFont("t2.fnt", FntFile({{'A', rows}}));
    ASSERT_EQ(ComposeFntText("AA", font, 38, GlyphFlip::No), KVX_OK);
    const std::string bmp = ReadFileBytes(tmp_ / "timbroTIJ25.bmp");
    ASSERT_GE(bmp.size(), 54u);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(U32(bmp, 18), 2u);
    EXPECT_EQ(U32(bmp, 22), 38u);
    EXPECT_EQ(U16(bmp, 28), 8u);
    // Bottom-up rows of 4 bytes: the last file row is the top stamp row.
    const std::size_t last = U32(bmp, 10) + 37 * 4;
    EXPECT_EQ(static_cast<std::uint8_t>(bmp.at(last)), 0);
    EXPECT_EQ(static_cast<std::uint8_t>(bmp.at(U32(bmp, 10))), 255);
}

TEST_F(FntText, FontPathIsTheConfigurationDirectorysFile) {
    EXPECT_FALSE(FontFilePath("Arial"));
    WriteFont("stamp.fnt", FntFile(kTwoGlyphs));
    EXPECT_EQ(FontFilePath("stamp"), tmp_ / "stamp.fnt");
    EXPECT_EQ(FontFilePath("stamp.fnt"), tmp_ / "stamp.fnt");
}

}  // namespace
}  // namespace kovran::inkjet::test
