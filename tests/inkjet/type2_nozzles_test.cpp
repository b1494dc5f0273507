// The type 2 stamp: the orientation of a composed bitmap into a 150-pixel
// wide print image, and its conversion into nozzle words.
#include <gtest/gtest.h>

#include <span>
#include <string>

#include "inkjet/stamp_bitmap.h"
#include "stamp_fixture.h"

namespace kovran::inkjet::test {
namespace {

class Type2Stamp : public StampFixture {
  protected:
    // A file of the raster (top row first).
    std::string WriteBitmap(const std::vector<std::uint8_t>& pixels, int width, int height) {
        const auto bytes = GreyBitmapFile(pixels, width, height, 100);
        const std::string path = tmp_ / "timbroTIJ25.bmp";
        WriteFileBytes(path, std::string(bytes.begin(), bytes.end()));
        return path;
    }
    // The file read back by the stamp loader (top row first).
    StampImage ReadBack(const std::string& path) {
        const std::string bytes = ReadFileBytes(path);
        BitmapRefusal why{};
        int value = 0;
        auto image = ParseStampBitmap(
            std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), &why,
            &value);
        EXPECT_TRUE(image);
        return image ? *image : StampImage{};
    }
    static unsigned Word(const std::vector<std::uint8_t>& data, int column, int address) {
        const std::size_t at = static_cast<std::size_t>(column) * 44 + 2 * address;
        return data[at] | data[at + 1] << 8;
    }
};

// 140 rows x 3 columns; row r holds r in column 0, 100 + r % 100 in column 1
// and ink (0) in column 2 only on row 0.
std::vector<std::uint8_t> Stamp140() {
    std::vector<std::uint8_t> px(140 * 3, 255);
    for (int r = 0; r < 140; ++r) {
        px[r * 3] = static_cast<std::uint8_t>(r);
        px[r * 3 + 1] = static_cast<std::uint8_t>(100 + r % 100);
    }
    px[2] = 0;
    return px;
}

TEST_F(Type2Stamp, DefaultPlacementFlipsAndLeavesPixels140To149Blank) {
    const std::string path = WriteBitmap(Stamp140(), 3, 140);
    ASSERT_EQ(OrientType2Bitmap(path, Type2Orientation::Default), KVX_OK);
    EXPECT_TRUE(Logged("fName " + path));
    const StampImage out = ReadBack(path);
    ASSERT_EQ(out.width, 150);
    ASSERT_EQ(out.height, 3);  // one row per stamp column
    for (int x = 0; x < 140; ++x) EXPECT_EQ(out.pixels[x], 139 - x) << x;  // upside down
    for (int y = 0; y < 3; ++y)
        for (int x = 140; x < 150; ++x) EXPECT_EQ(out.pixels[y * out.stride + x], 255);
    EXPECT_EQ(out.pixels[2 * out.stride + 139], 0);  // the ink of stamp row 0
}

TEST_F(Type2Stamp, TurnedPlacementMirrorsAndLeavesPixels0To8And149Blank) {
    const std::string path = WriteBitmap(Stamp140(), 3, 140);
    ASSERT_EQ(OrientType2Bitmap(path, Type2Orientation::Turned), KVX_OK);
    const StampImage out = ReadBack(path);
    ASSERT_EQ(out.width, 150);
    ASSERT_EQ(out.height, 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x <= 8; ++x) EXPECT_EQ(out.pixels[y * out.stride + x], 255) << x;
        EXPECT_EQ(out.pixels[y * out.stride + 149], 255);
    }
    // Left to right: the last stamp column comes first, rows in order.
    EXPECT_EQ(out.pixels[9], 0);  // stamp row 0, column 2
    EXPECT_EQ(out.pixels[2 * out.stride + 9 + 77], 77);
}

TEST_F(Type2Stamp, StampsOf150RowsStayAndHigherOnesAreRefused) {
    std::vector<std::uint8_t> px(150 * 2, 7);
    const std::string path = WriteBitmap(px, 2, 150);
    const std::string before = ReadFileBytes(path);
    EXPECT_EQ(OrientType2Bitmap(path, Type2Orientation::Default), KVX_OK);
    EXPECT_EQ(ReadFileBytes(path), before);

    px.resize(151 * 2, 7);
    WriteBitmap(px, 2, 151);
    EXPECT_EQ(OrientType2Bitmap(path, Type2Orientation::Default), KVX_ERR_INV_PARAMETER);
    EXPECT_TRUE(Logged("err - stamp too large 151"));
    EXPECT_EQ(OrientType2Bitmap(tmp_ / "none.bmp", Type2Orientation::Default),
              KVX_ERR_INV_PARAMETER);
    EXPECT_TRUE(Logged("err - invalid stamp fname " + (tmp_ / "none.bmp")));
}

TEST_F(Type2Stamp, NozzleWordsFollowTheNozzleTable) {
    // Column 0: pixel 0 (nozzle 1: address 0, bit 0) and pixel 149 (nozzle
    // 299: address 13, bit 12). Column 1: pixel 22 (nozzle 45: address 0,
    // bit 2), pixel 3 (nozzle 7: address 1, bit 0) at 199 (ink) and pixel 2
    // (nozzle 5: address 8, bit 0) at 200 (not ink).
    std::vector<std::uint8_t> px(150 * 2, 255);
    px[0] = 0;
    px[149] = 0;
    px[150 + 22] = 0;
    px[150 + 3] = 199;
    px[150 + 2] = 200;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(ConvertType2Bitmap(WriteBitmap(px, 150, 2), &data), KVX_OK);
    ASSERT_EQ(data.size(), 2u * 44);
    for (int a = 0; a < 22; ++a) {
        const unsigned want0 = a == 0 ? 1u : a == 13 ? 1u << 12 : 0u;
        const unsigned want1 = a == 0 ? 1u << 2 : a == 1 ? 1u : 0u;
        EXPECT_EQ(Word(data, 0, a), want0) << a;
        EXPECT_EQ(Word(data, 1, a), want1) << a;
    }
}

TEST_F(Type2Stamp, AllInkFiresOnlyTheEvenBitsOfWiredNozzles) {
    std::vector<std::uint8_t> data;
    ASSERT_EQ(ConvertType2Bitmap(WriteBitmap(std::vector<std::uint8_t>(150, 0), 150, 1), &data),
              KVX_OK);
    int fired = 0;
    for (int a = 0; a < 22; ++a) {
        const unsigned w = Word(data, 0, a);
        EXPECT_EQ(w & 0xAAAAu, 0u);
        for (int bit = 0; bit < 16; ++bit) fired += (w >> bit) & 1;
    }
    EXPECT_EQ(fired, 150);                 // each odd nozzle once
    EXPECT_EQ(Word(data, 0, 6), 0x0555u);  // nozzle (6, 6) is not wired
}

TEST_F(Type2Stamp, WidthMustBe150AndColumnsAreCut) {
    std::vector<std::uint8_t> data;
    EXPECT_EQ(ConvertType2Bitmap(WriteBitmap(std::vector<std::uint8_t>(149, 0), 149, 1), &data),
              KVX_ERR_INV_PARAMETER);
    EXPECT_TRUE(Logged("war - invalid print width"));
    EXPECT_EQ(ConvertType2Bitmap(tmp_ / "none.bmp", &data), KVX_ERR_INV_PARAMETER);
    EXPECT_TRUE(Logged("err - error reading " + (tmp_ / "none.bmp")));

    ASSERT_EQ(
        ConvertType2Bitmap(WriteBitmap(std::vector<std::uint8_t>(150 * 5958, 0), 150, 5958), &data),
        KVX_OK);
    EXPECT_EQ(data.size(), 5957u * 44);
    EXPECT_TRUE(Logged("war - print area too long - truncated"));
}

}  // namespace
}  // namespace kovran::inkjet::test
