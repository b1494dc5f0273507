// The type 1 preparation (mode, composition, mirror, size against the
// printer's buffer) and the 12-bit column words.
#include <gtest/gtest.h>

#include <string>

#include "stamp_fixture.h"

namespace kovran::inkjet::test {
namespace {

class Type1Stamp : public StampFixture {
  protected:
    // 12 rows; column x inked in row (x % 12) only.
    static StampImage Diagonal(int width) {
        std::vector<std::string> rows(12, std::string(width, '.'));
        for (int x = 0; x < width; ++x) rows[x % 12][x] = '#';
        return ImageOf(rows);
    }
    static unsigned Word(const std::vector<std::uint8_t>& b, int x) {
        return b[2 * x] | b[2 * x + 1] << 8;
    }
};

TEST_F(Type1Stamp, PackedSizeMustFitTheStampBuffer) {
    Stamp().image = Diagonal(1024);
    EXPECT_EQ(PrepareType1Stamp({.stampBufferSize = 2048}), KVX_OK);
    int columns = 0;
    const auto packed = PackType1Columns(2048, &columns);
    ASSERT_TRUE(packed);
    EXPECT_EQ(columns, 1024);
    EXPECT_EQ(packed->size(), 2048u);

    Stamp().image = Diagonal(1025);
    EXPECT_EQ(PrepareType1Stamp({.stampBufferSize = 2048}), KVX_ERR_INV_PARAMETER);
    EXPECT_TRUE(Logged("err - stamp is larger then stamp buffer 1025"));
    EXPECT_FALSE(Stamp().image);
    EXPECT_FALSE(PackType1Columns(2048, &columns));
}

TEST_F(Type1Stamp, RefusesScanModesAboveSevenAndImagesNotTwelveRowsHigh) {
    Stamp().image = Diagonal(10);
    EXPECT_EQ(PrepareType1Stamp({.scanMode = 8}), KVX_ERR_INV_PARAMETER);
    EXPECT_TRUE(Logged("err - unexpected mode when printing"));
    EXPECT_EQ(PrepareType1Stamp({.scanMode = 7}), KVX_OK);

    Stamp().image = ImageOf({"##", "##"});
    EXPECT_NE(PrepareType1Stamp({}), KVX_OK);
    EXPECT_FALSE(Stamp().image);
}

TEST_F(Type1Stamp, BitKOfWordXIsRowKOfColumnX) {
    StampImage image = Diagonal(30);
    image.pixels[11 * image.stride + 0] = 127;  // ink: below 128
    image.pixels[5 * image.stride + 5] = 128;   // the diagonal's own pixel, not ink
    Stamp().image = image;
    ASSERT_EQ(PrepareType1Stamp({}), KVX_OK);
    int columns = 0;
    const auto packed = PackType1Columns(2048, &columns);
    ASSERT_TRUE(packed);
    EXPECT_EQ(columns, 30);
    EXPECT_EQ(Word(*packed, 0), 1u | 1u << 11);
    EXPECT_EQ(Word(*packed, 1), 1u << 1);
    EXPECT_EQ(Word(*packed, 5), 0u);
    EXPECT_EQ(Word(*packed, 23), 1u << 11);
    EXPECT_EQ(Word(*packed, 30), 0u);  // the rest of the buffer is empty
    // Packing leaves every examined pixel 0 or 255.
    EXPECT_EQ(Stamp().image->pixels[11 * image.stride], 0);
    EXPECT_EQ(Stamp().image->pixels[5 * image.stride + 5], 255);
}

TEST_F(Type1Stamp, MirrorPrintsTheLastColumnFirstUpsideDownOnceForAKeptStamp) {
    std::vector<std::string> rows(12, std::string(5, '.'));
    rows[0][4] = '#';  // top of the last column
    rows[3][1] = '#';
    Stamp().image = ImageOf(rows);
    Stamp().settings.mirror = Mirror::On;
    ASSERT_EQ(PrepareType1Stamp({}), KVX_OK);
    int columns = 0;
    auto packed = PackType1Columns(2048, &columns);
    ASSERT_TRUE(packed);
    EXPECT_EQ(Word(*packed, 0), 1u << 11);
    EXPECT_EQ(Word(*packed, 3), 1u << 8);
    // Prepared again before the next document: still mirrored.
    ASSERT_EQ(PrepareType1Stamp({}), KVX_OK);
    packed = PackType1Columns(2048, &columns);
    EXPECT_EQ(Word(*packed, 0), 1u << 11);
    // A fresh image is mirrored again.
    Stamp().image.reset();
    DropStampImage();
    Stamp().settings.text = "A";
    Stamp().settings.font = "one";
    std::vector<std::string> glyph(12, " ");
    glyph[0] = "#";
    WriteFileBytes(tmp_ / "one.fnt", FntFile({{'A', glyph}}));
    ASSERT_EQ(PrepareType1Stamp({}), KVX_OK);
    // Glyph row 0 is flipped to stamp row 11, and the mirror brings it back.
    EXPECT_EQ(RowsOf(*Stamp().image)[0], "#");
}

TEST_F(Type1Stamp, ComposesTheStoredTextWhenNoImageIsHeld) {
    std::vector<std::string> glyph(12, "  ");
    glyph[0] = "##";
    WriteFileBytes(tmp_ / "stamp.fnt", FntFile({{'A', glyph}}));
    Stamp().settings.text = "AAA";
    Stamp().settings.font = "stamp";
    ASSERT_EQ(PrepareType1Stamp({}), KVX_OK);
    ASSERT_TRUE(Stamp().image);
    EXPECT_EQ(Stamp().image->width, 6);
    // Flipped for the printhead: the glyph's top row is the stamp's row 11.
    EXPECT_EQ(RowsOf(*Stamp().image)[11], "######");
}

}  // namespace
}  // namespace kovran::inkjet::test
