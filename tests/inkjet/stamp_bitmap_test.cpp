// Host bitmap files loaded as the stamp (and files that lie about their
// sizes), and the layout of the bitmap file the system-face text writes.
#include <gtest/gtest.h>

#include <span>
#include <string>

#include "inkjet/stamp_bitmap.h"
#include "stamp_fixture.h"

namespace kovran::inkjet::test {
namespace {

void Put(std::string& b, std::size_t at, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.at(at + i) = static_cast<char>(v >> (8 * i));
}

struct HostBitmap {
    int width = 3;
    int height = 2;
    int bitCount = 8;
    int planes = 1;
    std::uint32_t offset = 54 + 1024;
    // Rows bottom-up as stored, each padded to 4 bytes.
    std::string Bytes() const {
        const int row = (width + 3) / 4 * 4;
        std::string b(offset + static_cast<std::size_t>(row) * (height > 0 ? height : 1), '\0');
        b[0] = 'B';
        b[1] = 'M';
        Put(b, 2, static_cast<std::uint32_t>(b.size()), 4);
        Put(b, 10, offset, 4);
        Put(b, 14, 40, 4);
        Put(b, 18, static_cast<std::uint32_t>(width), 4);
        Put(b, 22, static_cast<std::uint32_t>(height), 4);
        Put(b, 26, static_cast<std::uint32_t>(planes), 2);
        Put(b, 28, static_cast<std::uint32_t>(bitCount), 2);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                b[offset + static_cast<std::size_t>(y) * row + x] = static_cast<char>(10 * y + x);
        return b;
    }
};

class StampBitmap : public StampFixture {
  protected:
    KVXResult Load(const std::string& bytes) {
        WriteFileBytes(tmp_ / "host.bmp", bytes);
        return LoadStampBitmap(tmp_ / "host.bmp");
    }
};

TEST_F(StampBitmap, LoadsAGreyFileTopRowFirstAt300Dpi) {
    ASSERT_EQ(Load(HostBitmap{}.Bytes()), KVX_OK);
    const StampImage& image = *Stamp().image;
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(image.stride, 8);
    EXPECT_EQ(image.resolution, 300);
    // The file's first row (values 0, 1, 2) is the stamp's last.
    EXPECT_EQ(image.pixels[8 + 0], 0);
    EXPECT_EQ(image.pixels[8 + 2], 2);
    EXPECT_EQ(image.pixels[0], 10);
    EXPECT_EQ(image.pixels[1], 11);
}

TEST_F(StampBitmap, RefusesWithTheMessageOfEachCheck) {
    struct Case {
        HostBitmap file;
        const char* message;
    };
    const Case cases[] = {
        {{.bitCount = 24}, "err - Not 8 bit grayscale image; bit count 24"},
        {{.planes = 3}, "err - Not grayscale image; planes 3"},
        {{.height = -2}, "err - invalid height"},
        {{.height = 0}, "err - invalid height"},
        {{.width = 0}, "err - invalid size"},
        {{.width = -5}, "err - invalid size"},
    };
    for (const Case& c : cases) {
        ClearLog();
        Stamp().image = ImageOf({"#"});
        EXPECT_EQ(Load(c.file.Bytes()), KVX_ERR_INV_PARAMETER) << c.message;
        EXPECT_TRUE(Logged(c.message));
        EXPECT_FALSE(Stamp().image);
    }
    ClearLog();
    EXPECT_EQ(LoadStampBitmap(tmp_ / "missing.bmp"), KVX_ERR_INV_PARAMETER);
    EXPECT_TRUE(Logged("err - file not found " + (tmp_ / "missing.bmp")));
}

TEST_F(StampBitmap, NeverReadsPastTheFile) {
    const std::string good = HostBitmap{}.Bytes();
    std::string hugeWidth = good, hugeHeight = good, pastEnd = good;
    Put(hugeWidth, 18, 0x7FFFFFFF, 4);
    Put(hugeHeight, 22, 60000, 4);
    Put(pastEnd, 10, 0xFFFFFFF0, 4);
    for (const std::string& bytes :
         {hugeWidth, hugeHeight, pastEnd, good.substr(0, good.size() - 5), good.substr(0, 40)}) {
        ClearLog();
        EXPECT_EQ(Load(bytes), KVX_ERR_INV_PARAMETER);
        EXPECT_TRUE(Logged("err - invalid size"));
    }
    // A short final row without its padding is still whole.
    EXPECT_EQ(Load(good.substr(0, good.size() - 1)), KVX_OK);
}

TEST(GreyBitmapFile, HasTheHeadersTableAndPaddedBottomUpRows) {
    const std::vector<std::uint8_t> pixels = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};  // 5 x 2
    const auto file = GreyBitmapFile(pixels, 5, 2, 96);
    const std::string b(file.begin(), file.end());
    const std::size_t offset = 14 + 40 + 4 * 256;
    ASSERT_EQ(b.size(), offset + 2 * 8);
    EXPECT_EQ(b.substr(0, 2), "BM");
    EXPECT_EQ(U32(b, 2), b.size());
    EXPECT_EQ(U32(b, 6), 0u);
    EXPECT_EQ(U32(b, 10), offset);
    EXPECT_EQ(U32(b, 14), 40u);
    EXPECT_EQ(U32(b, 18), 5u);
    EXPECT_EQ(U32(b, 22), 2u);
    EXPECT_EQ(U16(b, 26), 1u);
    EXPECT_EQ(U16(b, 28), 8u);
    EXPECT_EQ(U32(b, 30), 0u);
    EXPECT_EQ(U32(b, 34), 16u);
    EXPECT_EQ(U32(b, 38), 3780u);  // 96 dpi
    // A grey table: entry i is (i, i, i, 0).
    EXPECT_EQ(U32(b, 54 + 4 * 200), 0x00C8C8C8u);
    // Bottom row first, padded to 8 bytes.
    EXPECT_EQ(b.substr(offset, 8), std::string("\5\6\7\x8\x9\0\0\0", 8));
    EXPECT_EQ(b.substr(offset + 8, 5), std::string("\0\1\2\3\4", 5));

    // The loader reads it back as the same raster, top row first.
    BitmapRefusal why{};
    int value = 0;
    const auto image = ParseStampBitmap(file, &why, &value);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels[0], 0);
    EXPECT_EQ(image->pixels[8 + 4], 9);
}

}  // namespace
}  // namespace kovran::inkjet::test
