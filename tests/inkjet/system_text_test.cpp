// Text drawn with a system face: the face found for "ARIAL", ink in the
// band, the bitmap file it writes, and the face and length rules.
#include <gtest/gtest.h>

#include <string>

#include "stamp_fixture.h"

namespace kovran::inkjet::test {
namespace {

class SystemText : public StampFixture {
  protected:
    int InkPixels() const {
        int ink = 0;
        for (const auto& row : RowsOf(*Stamp().image))
            for (const char c : row) ink += c == '#';
        return ink;
    }
};

TEST_F(SystemText, ArialResolvesInAnyCaseAndInksTheType1Band) {
    for (const char* face : {"ARIAL", "arial", "Arial"}) {
        ASSERT_EQ(ComposeSystemText("HELLO", face, 9, TextTarget::Type1, tmp_ / "timbro.bmp"),
                  KVX_OK)
            << face << "\n"
            << Log();
        const StampImage& image = *Stamp().image;
        EXPECT_EQ(image.height, 12);
        EXPECT_EQ(image.resolution, 100);
        EXPECT_EQ(image.stride % 8, 0);
        EXPECT_GT(InkPixels(), 40) << face;
    }
}

TEST_F(SystemText, WritesTheWholeDrawingAsAGreyBitmapFile) {
    ASSERT_EQ(ComposeSystemText("Wy", "Arial", 30, TextTarget::Type2, tmp_ / "timbroTIJ25.bmp"),
              KVX_OK);
    const std::string b = ReadFileBytes(tmp_ / "timbroTIJ25.bmp");
    ASSERT_GE(b.size(), 54u + 1024u);
    EXPECT_EQ(b.substr(0, 2), "BM");
    EXPECT_EQ(U32(b, 10), 54u + 1024u);
    const int width = static_cast<int>(U32(b, 18));
    const int height = static_cast<int>(U32(b, 22));
    const int row = (width + 3) / 4 * 4;
    EXPECT_EQ(U32(b, 2), 54u + 1024u + static_cast<std::uint32_t>(row * height));
    EXPECT_EQ(U16(b, 28), 8u);
    // 30 points at 96 dpi: a 40-pixel em; the line is taller than that.
    EXPECT_GT(height, 40);
    EXPECT_LT(height, 60);
    EXPECT_EQ(Stamp().image->width, width);
    // Lower than the 150-row band: the stamp holds the drawing from its
    // bottom row up, and blank rows above it.
    EXPECT_EQ(Stamp().image->height, 150);
    int inkRows = 0, inkAbove = 0;
    for (int r = 0; r < 150; ++r) {
        bool ink = false;
        for (int x = 0; x < width; ++x)
            ink |= Stamp().image->pixels[r * Stamp().image->stride + x] < 128;
        inkRows += ink;
        if (r >= height) inkAbove += ink;
    }
    EXPECT_GT(inkRows, 20);
    EXPECT_EQ(inkAbove, 0);
    // The file's bottom row (the descender of y) is the stamp's row 0.
    const std::size_t px = 54 + 1024;
    for (int x = 0; x < width; ++x)
        EXPECT_EQ(static_cast<std::uint8_t>(b.at(px + x)), Stamp().image->pixels[x]) << x;
}

TEST_F(SystemText, TallTextKeepsOnlyTheBandUpToTheAscent) {
    // 72 points: a 96-pixel em, higher than the 12-row band.
    ASSERT_EQ(ComposeSystemText("H", "Arial", 72, TextTarget::Type1, tmp_ / "timbro.bmp"), KVX_OK);
    const std::string b = ReadFileBytes(tmp_ / "timbro.bmp");
    const int width = static_cast<int>(U32(b, 18));
    const int height = static_cast<int>(U32(b, 22));
    const int row = (width + 3) / 4 * 4;
    int inkRows = 0;
    for (int r = 0; r < height; ++r) {
        bool ink = false;
        for (int x = 0; x < width; ++x)
            ink |= static_cast<std::uint8_t>(b.at(54 + 1024 + r * row + x)) < 128;
        inkRows += ink;
    }
    EXPECT_GT(inkRows, 0);
    EXPECT_LE(inkRows, 12);
    EXPECT_EQ(Stamp().image->height, 12);
    EXPECT_GT(InkPixels(), 12);
}

TEST_F(SystemText, Type1MeasuresOneCharacterMore) {
    ASSERT_EQ(ComposeSystemText("I", "Arial", 20, TextTarget::Type2, tmp_ / "a.bmp"), KVX_OK);
    const int type2 = Stamp().image->width;
    ASSERT_EQ(ComposeSystemText("I", "Arial", 20, TextTarget::Type1, tmp_ / "b.bmp"), KVX_OK);
    EXPECT_GT(Stamp().image->width, type2 + 10);
}

TEST_F(SystemText, OneLetterFaceKeepsThePreviousFaceAndUnknownFacesFail) {
    EXPECT_EQ(ComposeSystemText("A", "Liberation Mono", 10, TextTarget::Type1, tmp_ / "t.bmp"),
              KVX_OK);
    EXPECT_EQ(Stamp().faceName, "Liberation Mono");
    EXPECT_EQ(ComposeSystemText("A", "X", 10, TextTarget::Type1, tmp_ / "t.bmp"), KVX_OK);
    EXPECT_EQ(Stamp().faceName, "Liberation Mono");

    EXPECT_EQ(
        ComposeSystemText("A", "No Such Face Anywhere", 10, TextTarget::Type1, tmp_ / "t.bmp"),
        KVX_ERR_GENERIC);
    EXPECT_TRUE(Logged("err - error creating font"));
    EXPECT_FALSE(Stamp().image);
}

TEST_F(SystemText, RefusesTextOver512Characters) {
    EXPECT_EQ(
        ComposeSystemText(std::string(512, 'i'), "Arial", 8, TextTarget::Type2, tmp_ / "t.bmp"),
        KVX_OK);
    EXPECT_EQ(
        ComposeSystemText(std::string(513, 'i'), "Arial", 8, TextTarget::Type2, tmp_ / "t.bmp"),
        KVX_ERR_INV_PARAMETER);
    EXPECT_TRUE(Logged("err - too many chars in the string"));
    EXPECT_FALSE(Stamp().image);
}

}  // namespace
}  // namespace kovran::inkjet::test
