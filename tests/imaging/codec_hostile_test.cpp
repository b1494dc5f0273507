// Files that lie: truncated at every length, bytes flipped, sizes declared
// far beyond the data. Each must be refused (or read consistently) without
// a crash, an over-read (the suite runs under AddressSanitizer) or a word
// on standard error.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>

#include "imaging/codec_pictures.h"

namespace kovran::imaging::codec {
namespace {

using test::MustEncode;
using test::Pattern;

struct Sample {
    const char* name;
    Bytes bytes;
};

std::vector<Sample> SmallFiles() {
    const Picture grey = Pattern(19, 11, Depth::Grey);
    const Picture rgb = Pattern(19, 11, Depth::Rgb);
    const Picture bilevel = Pattern(19, 11, Depth::Bilevel);
    return {
        {"jpeg grey", MustEncode(grey, {.format = Format::Jpeg})},
        {"jpeg rgb", MustEncode(rgb, {.format = Format::Jpeg})},
        {"png bilevel", MustEncode(bilevel, {.format = Format::Png})},
        {"png rgb", MustEncode(rgb, {.format = Format::Png})},
        {"tiff g3", MustEncode(bilevel, {.format = Format::TiffG3})},
        {"tiff g4", MustEncode(bilevel, {.format = Format::TiffG4})},
        {"tiff lzw", MustEncode(grey, {.format = Format::TiffLzw})},
        {"tiff none", MustEncode(rgb, {.format = Format::TiffNone})},
        {"tiff jpeg", MustEncode(rgb, {.format = Format::TiffJpeg})},
        {"bmp", MustEncode(bilevel, {.format = Format::Bmp})},
    };
}

// A decoded picture must describe its own buffer.
void ExpectConsistent(const std::optional<Picture>& p, const std::string& what) {
    if (!p) return;
    EXPECT_EQ(p->pixels.Bytes(), static_cast<std::size_t>(p->pixels.Width()) * p->pixels.Height() *
                                     p->pixels.Channels())
        << what;
    EXPECT_EQ(p->pixels.Channels(), p->depth == Depth::Rgb ? 3 : 1) << what;
    EXPECT_FALSE(p->pixels.Empty()) << what;
}

TEST(CodecHostile, EveryTruncationIsRefusedQuietly) {
    testing::internal::CaptureStderr();
    for (const Sample& s : SmallFiles()) {
        ASSERT_TRUE(Decode(s.bytes).has_value()) << s.name;
        for (std::size_t n = 0; n < s.bytes.size(); ++n) {
            std::string why;
            // A copy of its own size, so that AddressSanitizer sees any
            // read past the cut.
            const Bytes cut(s.bytes.begin(), s.bytes.begin() + static_cast<std::ptrdiff_t>(n));
            EXPECT_FALSE(Decode(cut, &why).has_value()) << s.name << " cut at " << n;
            EXPECT_FALSE(why.empty()) << s.name << " cut at " << n;
        }
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(CodecHostile, FlippedBytesNeverCrash) {
    testing::internal::CaptureStderr();
    for (const Sample& s : SmallFiles()) {
        for (std::size_t i = 0; i < s.bytes.size(); ++i) {
            for (std::uint8_t mask : {std::uint8_t{0xff}, std::uint8_t{0x01}, std::uint8_t{0x80}}) {
                Bytes b = s.bytes;
                b[i] ^= mask;
                ExpectConsistent(Decode(b), std::string(s.name) + " byte " + std::to_string(i));
            }
        }
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// A little-endian TIFF of one strip of 8-bit grey, written by hand so that
// its fields can lie.
Bytes HandTiff(std::uint32_t width, std::uint32_t height, std::uint16_t compression,
               std::uint32_t stripBytes) {
    Bytes b = {'I', 'I', 42, 0};
    const auto put16 = [&b](std::uint16_t v) {
        b.push_back(static_cast<std::uint8_t>(v));
        b.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    const auto put32 = [&b](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    put32(8 + stripBytes);  // the directory after the strip
    b.resize(8 + stripBytes, 0x80);
    struct Entry {
        std::uint16_t tag, type;
        std::uint32_t value;
    };
    const Entry entries[] = {{256, 4, width},       {257, 4, height}, {258, 3, 8},
                             {259, 3, compression}, {262, 3, 1},      {273, 4, 8},
                             {277, 3, 1},           {278, 4, height}, {279, 4, stripBytes}};
    put16(static_cast<std::uint16_t>(std::size(entries)));
    for (const Entry& e : entries) {
        put16(e.tag);
        put16(e.type);
        put32(1);
        if (e.type == 3) {
            put16(static_cast<std::uint16_t>(e.value));
            put16(0);
        } else {
            put32(e.value);
        }
    }
    put32(0);
    return b;
}

TEST(CodecHostile, TiffOfAHugeDeclaredSize) {
    testing::internal::CaptureStderr();
    std::string why;
    const auto fine = Decode(HandTiff(10, 10, 1, 100), &why);
    ASSERT_TRUE(fine.has_value()) << why;
    EXPECT_EQ(fine->pixels.At(9, 9), 0x80);

    EXPECT_FALSE(Decode(HandTiff(1u << 20, 1u << 20, 1, 100), &why).has_value());
    EXPECT_FALSE(Decode(HandTiff(0xffffffffu, 0xffffffffu, 5, 100), &why).has_value());
    EXPECT_FALSE(Decode(HandTiff(70000, 70000, 5, 100), &why).has_value());
    EXPECT_FALSE(Decode(HandTiff(0, 10, 1, 100), &why).has_value());
    EXPECT_FALSE(Decode(HandTiff(10, 0, 1, 100), &why).has_value());
    // Within a buffer's limit, but the file holds a hundred bytes of it.
    EXPECT_FALSE(Decode(HandTiff(20000, 20000, 1, 100), &why).has_value());
    EXPECT_NE(why.find("declares"), std::string::npos) << why;
    // A strip said to reach beyond the file.
    EXPECT_FALSE(Decode(HandTiff(10, 10, 1, 100), &why).has_value() &&
                 Decode(HandTiff(100, 100, 1, 100), &why).has_value());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(CodecHostile, PngAndJpegOfAHugeDeclaredSize) {
    std::string why;
    // PNG: IHDR says 15000 x 15000 (with a good CRC), the data is tiny.
    Bytes png = MustEncode(Pattern(8, 8, Depth::Grey), {.format = Format::Png});
    const auto put32be = [&png](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) png[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    };
    put32be(16, 15000);
    put32be(20, 15000);
    put32be(29, static_cast<std::uint32_t>(crc32(0, png.data() + 12, 17)));
    EXPECT_FALSE(Decode(png, &why).has_value());
    EXPECT_NE(why.find("declares"), std::string::npos) << why;
    put32be(16, 0x7fffffff);
    put32be(29, static_cast<std::uint32_t>(crc32(0, png.data() + 12, 17)));
    EXPECT_FALSE(Decode(png, &why).has_value());

    // JPEG: the frame header says 65500 x 65500.
    Bytes jpeg = MustEncode(Pattern(8, 8, Depth::Grey), {.format = Format::Jpeg});
    std::size_t sof = 2;
    while (sof + 9 < jpeg.size() && !(jpeg[sof] == 0xff && jpeg[sof + 1] == 0xc0)) ++sof;
    ASSERT_LT(sof + 9, jpeg.size());
    for (std::size_t at : {sof + 5, sof + 7}) {
        jpeg[at] = 0xff;
        jpeg[at + 1] = 0xdc;
    }
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Decode(jpeg, &why).has_value());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(CodecHostile, NotAnImage) {
    std::string why;
    EXPECT_FALSE(Decode({}, &why).has_value());
    const Bytes text = {'h', 'e', 'l', 'l', 'o'};
    EXPECT_FALSE(Decode(text, &why).has_value());
    EXPECT_FALSE(why.empty());
    EXPECT_FALSE(DecodeFile("/nonexistent/file.tif", &why).has_value());
    EXPECT_FALSE(ReadFileInfo("/nonexistent/file.tif", &why).has_value());
    EXPECT_FALSE(DecodeFile("/", &why).has_value());
}

}  // namespace
}  // namespace kovran::imaging::codec
