// Layouts the reference encoders write and the codec layer never does (odd
// bits per sample, planes, tiles, YCbCr, many pages, 16-bit and alpha PNG,
// progressive JPEG), every format at every small width, and a progressive
// JPEG whose header asks libjpeg for gigabytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include "imaging/codec_pictures.h"
#include "support/temp_dir.h"

namespace kovran::imaging::codec {
namespace {

using test::Pattern;

// Decodes the file; the picture's size, depth and first two samples and
// last sample, or a failure.
struct Seen {
    int width = 0, height = 0, depth = 0, first = -1, second = -1, last = -1;
    bool operator==(const Seen&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Seen& s) {
    return o << s.width << "x" << s.height << " depth " << s.depth << " samples " << s.first << ","
             << s.second << ".." << s.last;
}
Seen Read(const std::string& path) {
    std::string why;
    const auto p = DecodeFile(path, &why);
    EXPECT_TRUE(p.has_value()) << path << ": " << why;
    if (!p) return {};
    return {p->pixels.Width(),   p->pixels.Height(),  static_cast<int>(p->depth),
            p->pixels.Data()[0], p->pixels.Data()[1], p->pixels.Data()[p->pixels.Bytes() - 1]};
}

void WriteTiff(const std::string& path, std::uint32_t w, std::uint32_t h, int bits, int samples,
               int photometric, int planar, int compression, bool tiled, int pages = 1) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    for (int page = 0; page < pages; ++page) {
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, planar);
        TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
        if (compression == COMPRESSION_JPEG && photometric == PHOTOMETRIC_YCBCR)
            TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        if (tiled) {
            TIFFSetField(t, TIFFTAG_TILEWIDTH, 16u);
            TIFFSetField(t, TIFFTAG_TILELENGTH, 16u);
            const tmsize_t ts = TIFFTileSize(t);
            std::vector<std::uint8_t> tile(ts, 0x6b);
            for (std::uint32_t y = 0; y < h; y += 16)
                for (std::uint32_t x = 0; x < w; x += 16)
                    for (int s = 0; s < (planar == PLANARCONFIG_SEPARATE ? samples : 1); ++s)
                        TIFFWriteTile(t, tile.data(), x, y, 0, s);
        } else {
            TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, compression == COMPRESSION_JPEG ? 16u : h);
            const tmsize_t ls = TIFFScanlineSize(t);
            std::vector<std::uint8_t> line(ls);
            for (int s = 0; s < (planar == PLANARCONFIG_SEPARATE ? samples : 1); ++s)
                for (std::uint32_t y = 0; y < h; ++y) {
                    for (tmsize_t i = 0; i < ls; ++i)
                        line[i] = static_cast<std::uint8_t>(i * 7 + y + s * 50);
                    TIFFWriteScanline(t, line.data(), y, s);
                }
        }
        TIFFWriteDirectory(t);
    }
    TIFFClose(t);
}

TEST(CodecLayouts, TiffOfEveryKind) {
    kovran::test::TempDir dir;
    const auto p = [&](const char* n) { return dir / n; };
    constexpr int contig = PLANARCONFIG_CONTIG;
    constexpr int separate = PLANARCONFIG_SEPARATE;
    WriteTiff(p("a"), 17, 5, 2, 1, PHOTOMETRIC_MINISBLACK, contig, COMPRESSION_NONE, false);
    EXPECT_EQ(Read(p("a")), (Seen{17, 5, 8, 0, 0, 0}));
    WriteTiff(p("b"), 17, 5, 4, 1, PHOTOMETRIC_MINISWHITE, contig, COMPRESSION_LZW, false);
    EXPECT_EQ(Read(p("b")), (Seen{17, 5, 8, 255, 255, 204}));
    WriteTiff(p("c"), 17, 5, 16, 1, PHOTOMETRIC_MINISBLACK, contig, COMPRESSION_NONE, false);
    EXPECT_EQ(Read(p("c")), (Seen{17, 5, 8, 7, 21, 235}));
    WriteTiff(p("d"), 17, 5, 16, 3, PHOTOMETRIC_RGB, contig, COMPRESSION_LZW, false);
    EXPECT_EQ(Read(p("d")), (Seen{17, 5, 24, 7, 21, 199}));
    WriteTiff(p("e"), 17, 5, 8, 3, PHOTOMETRIC_RGB, separate, COMPRESSION_NONE, false);
    EXPECT_EQ(Read(p("e")), (Seen{17, 5, 24, 0, 50, 216}));
    WriteTiff(p("f"), 33, 20, 8, 3, PHOTOMETRIC_RGB, separate, COMPRESSION_LZW, true);
    EXPECT_EQ(Read(p("f")), (Seen{33, 20, 8, 107, 107, 107}));
    WriteTiff(p("g"), 33, 20, 8, 1, PHOTOMETRIC_MINISBLACK, contig, COMPRESSION_NONE, true);
    EXPECT_EQ(Read(p("g")), (Seen{33, 20, 8, 107, 107, 107}));
    WriteTiff(p("h"), 33, 20, 1, 1, PHOTOMETRIC_MINISWHITE, contig, COMPRESSION_CCITTFAX4, true);
    EXPECT_EQ(Read(p("h")), (Seen{33, 20, 1, 255, 0, 255}));
    WriteTiff(p("i"), 9, 5, 8, 2, PHOTOMETRIC_MINISBLACK, contig, COMPRESSION_NONE, false);
    EXPECT_EQ(Read(p("i")), (Seen{9, 5, 8, 0, 14, 116}));
    // JPEG inside TIFF, YCbCr subsampled and grey: lossy, so sizes only.
    WriteTiff(p("j"), 37, 35, 8, 3, PHOTOMETRIC_YCBCR, contig, COMPRESSION_JPEG, false);
    EXPECT_EQ(Read(p("j")).depth, 24);
    EXPECT_EQ(Read(p("j")).height, 35);
    WriteTiff(p("k"), 37, 35, 8, 1, PHOTOMETRIC_MINISBLACK, contig, COMPRESSION_JPEG, false);
    EXPECT_EQ(Read(p("k")).depth, 8);
    // The first of many pages; one strip of twelve million samples.
    WriteTiff(p("l"), 8, 8, 8, 1, PHOTOMETRIC_MINISBLACK, contig, COMPRESSION_LZW, false, 300);
    EXPECT_EQ(Read(p("l")), (Seen{8, 8, 8, 0, 7, 56}));
    WriteTiff(p("m"), 4000, 3000, 8, 1, PHOTOMETRIC_MINISBLACK, contig, COMPRESSION_LZW, false);
    EXPECT_EQ(Read(p("m")), (Seen{4000, 3000, 8, 0, 7, 16}));
}

void WritePng(const std::string& path, int w, int h, int bits, int type, bool interlace,
              bool trns) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, bits, type, interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (type == PNG_COLOR_TYPE_PALETTE) {
        png_color pal[4] = {{0, 0, 0}, {255, 255, 255}, {0, 0, 0}, {255, 255, 255}};
        png_set_PLTE(png, info, pal, 1 << std::min(bits, 2));
        if (trns) {
            png_byte a[2] = {0, 128};
            png_set_tRNS(png, info, a, 2, nullptr);
        }
    } else if (trns) {
        png_color_16 c{};
        c.gray = 1;
        c.red = c.green = c.blue = 1;
        png_set_tRNS(png, info, nullptr, 0, &c);
    }
    png_write_info(png, info);
    const std::size_t rb = png_get_rowbytes(png, info);
    std::vector<png_byte> row(rb);
    for (std::size_t i = 0; i < rb; ++i) row[i] = static_cast<png_byte>(i * 37);
    png_set_interlace_handling(png);
    const int passes = interlace ? 7 : 1;
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < h; ++y) png_write_row(png, row.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

TEST(CodecLayouts, PngOfEveryKind) {
    kovran::test::TempDir dir;
    const auto p = [&](const char* n) { return dir / n; };
    WritePng(p("a"), 13, 7, 16, PNG_COLOR_TYPE_GRAY, false, false);
    EXPECT_EQ(Read(p("a")), (Seen{13, 7, 8, 0, 74, 120}));
    WritePng(p("b"), 13, 7, 16, PNG_COLOR_TYPE_RGB_ALPHA, true, false);
    EXPECT_EQ(Read(p("b")), (Seen{13, 7, 24, 0, 74, 116}));
    WritePng(p("c"), 13, 7, 1, PNG_COLOR_TYPE_PALETTE, false, true);
    EXPECT_EQ(Read(p("c")), (Seen{13, 7, 1, 0, 0, 0}));
    WritePng(p("d"), 13, 7, 8, PNG_COLOR_TYPE_GRAY_ALPHA, false, false);
    EXPECT_EQ(Read(p("d")), (Seen{13, 7, 8, 0, 74, 120}));
    WritePng(p("e"), 13, 7, 1, PNG_COLOR_TYPE_GRAY, true, true);
    EXPECT_EQ(Read(p("e")).depth, 1);
    WritePng(p("f"), 13, 7, 2, PNG_COLOR_TYPE_GRAY, false, false);
    EXPECT_EQ(Read(p("f")), (Seen{13, 7, 8, 0, 0, 85}));
    WritePng(p("g"), 13, 7, 2, PNG_COLOR_TYPE_PALETTE, false, false);
    EXPECT_EQ(Read(p("g")), (Seen{13, 7, 8, 0, 0, 255}));
}

void WriteJpeg(const std::string& path, int w, int h, int comps, J_COLOR_SPACE cs,
               bool progressive) {
    jpeg_compress_struct c{};
    jpeg_error_mgr e{};
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    jpeg_stdio_dest(&c, f);
    c.image_width = w;
    c.image_height = h;
    c.input_components = comps;
    c.in_color_space = cs;
    jpeg_set_defaults(&c);
    if (progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<JSAMPLE> row(w * comps);
    for (std::size_t i = 0; i < row.size(); ++i) row[i] = static_cast<JSAMPLE>(i * 5);
    for (int y = 0; y < h; ++y) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
}

TEST(CodecLayouts, ProgressiveAndCmykJpeg) {
    kovran::test::TempDir dir;
    WriteJpeg(dir / "a.jpg", 31, 17, 3, JCS_RGB, true);
    const Seen progressive = Read(dir / "a.jpg");
    EXPECT_EQ(progressive.depth, 24);
    EXPECT_EQ(progressive.width, 31);
    // libjpeg does not turn CMYK into RGB: refused, with its reason.
    WriteJpeg(dir / "b.jpg", 31, 17, 4, JCS_CMYK, false);
    std::string why;
    EXPECT_FALSE(DecodeFile(dir / "b.jpg", &why).has_value());
    EXPECT_NE(why.find("JPEG"), std::string::npos) << why;
}

// A progressive file keeps every coefficient until its last scan: a header
// of a few hundred bytes that says 18000 x 18000 in colour would have
// libjpeg allocate two gigabytes. Refused for its working memory, before
// any scan is read or the picture's buffer made.
TEST(CodecLayouts, ProgressiveJpegOfAHugeDeclaredSize) {
    kovran::test::TempDir dir;
    const std::string path = dir / "h.jpg";
    WriteJpeg(path, 64, 64, 3, JCS_RGB, true);
    std::ifstream in(path, std::ios::binary);
    Bytes jpeg((std::istreambuf_iterator<char>(in)), {});
    std::size_t sof = 2;
    while (sof + 9 < jpeg.size() && !(jpeg[sof] == 0xff && jpeg[sof + 1] == 0xc2)) ++sof;
    ASSERT_LT(sof + 9, jpeg.size());
    for (std::size_t at : {sof + 5, sof + 7}) {
        jpeg[at] = 0x46;  // 0x4650 = 18000
        jpeg[at + 1] = 0x50;
    }
    std::string why;
    EXPECT_FALSE(Decode(jpeg, &why).has_value());
    EXPECT_NE(why.find("working memory"), std::string::npos) << why;
}

// Every format at widths 1 to 17 (1-bit rows end mid-byte), one and three
// rows: lossless formats give every sample back.
TEST(CodecLayouts, EveryFormatAtSmallWidths) {
    for (int w = 1; w <= 17; ++w)
        for (Depth d : {Depth::Bilevel, Depth::Grey, Depth::Rgb})
            for (Format f : {Format::Jpeg, Format::TiffG3, Format::TiffG4, Format::TiffLzw,
                             Format::Bmp, Format::TiffNone, Format::TiffJpeg, Format::Png}) {
                if ((f == Format::TiffG3 || f == Format::TiffG4) && d != Depth::Bilevel) continue;
                if ((f == Format::Jpeg || f == Format::TiffJpeg) && d == Depth::Bilevel) continue;
                for (int h : {1, 3}) {
                    auto pic = Pattern(w, h, d);
                    std::string why;
                    auto bytes = Encode(pic, {.format = f}, &why);
                    const std::string what = std::to_string(w) + "x" + std::to_string(h) +
                                             " depth " + std::to_string(static_cast<int>(d)) +
                                             " format " + std::to_string(static_cast<int>(f));
                    ASSERT_TRUE(bytes.has_value()) << what << ": " << why;
                    const auto back = Decode(*bytes, &why);
                    ASSERT_TRUE(back.has_value()) << what << ": " << why;
                    const bool lossy = f == Format::Jpeg || f == Format::TiffJpeg;
                    EXPECT_EQ(back->depth, d) << what;
                    EXPECT_EQ(back->pixels.Width(), w) << what;
                    EXPECT_EQ(back->pixels.Height(), h) << what;
                    if (!lossy) {
                        EXPECT_EQ(test::MaxDifference(back->pixels, pic.pixels), 0) << what;
                    }
                }
            }
}

}  // namespace
}  // namespace kovran::imaging::codec

namespace kovran::imaging::codec {
namespace {

// Sides beyond JPEG's 65500: refused with libjpeg's reason, while the
// formats without that limit give every sample back.
TEST(CodecLayouts, SidesBeyondJpegsLimit) {
    const Picture wide = Pattern(70000, 2, Depth::Grey);
    const Picture tall = Pattern(2, 70000, Depth::Bilevel);
    std::string why;
    EXPECT_FALSE(Encode(wide, {.format = Format::Jpeg}, &why).has_value());
    EXPECT_NE(why.find("JPEG"), std::string::npos) << why;
    EXPECT_FALSE(Encode(wide, {.format = Format::TiffJpeg}, &why).has_value());
    EXPECT_FALSE(why.empty());
    for (Format f : {Format::Png, Format::Bmp, Format::TiffLzw, Format::TiffNone}) {
        const auto back = Decode(test::MustEncode(wide, {.format = f}), &why);
        ASSERT_TRUE(back.has_value()) << why;
        EXPECT_EQ(test::MaxDifference(back->pixels, wide.pixels), 0);
        EXPECT_EQ(back->pixels.Width(), 70000);
    }
    for (Format f : {Format::TiffG3, Format::TiffG4, Format::Png, Format::Bmp}) {
        const auto back = Decode(test::MustEncode(tall, {.format = f}), &why);
        ASSERT_TRUE(back.has_value()) << why;
        EXPECT_EQ(test::MaxDifference(back->pixels, tall.pixels), 0);
        EXPECT_EQ(back->pixels.Height(), 70000);
    }
}

}  // namespace
}  // namespace kovran::imaging::codec

namespace kovran::imaging::codec {
namespace {

// A strip cut short inside an intact file: the compressed formats must not
// pass the missing rows off as white or black.
TEST(CodecLayouts, TiffStripCutShort) {
    kovran::test::TempDir dir;
    const Picture bilevel = Pattern(64, 64, Depth::Bilevel);
    const Picture grey = Pattern(64, 64, Depth::Grey);
    struct Case {
        Format f;
        const Picture* p;
    };
    for (const Case c : {Case{Format::TiffG4, &bilevel}, Case{Format::TiffG3, &bilevel},
                         Case{Format::TiffLzw, &grey}, Case{Format::TiffJpeg, &grey}}) {
        const std::string full = dir / "full.tif";
        test::WriteBytes(full, test::MustEncode(*c.p, {.format = c.f}));
        const std::string cut = dir / "cut.tif";
        {
            TIFF* in = TIFFOpen(full.c_str(), "r");
            TIFF* out = TIFFOpen(cut.c_str(), "w");
            ASSERT_EQ(TIFFNumberOfStrips(in), 1u);
            std::vector<std::uint8_t> raw(TIFFRawStripSize(in, 0));
            ASSERT_GT(TIFFReadRawStrip(in, 0, raw.data(), raw.size()), 0);
            TIFFSetField(out, TIFFTAG_IMAGEWIDTH, 64u);
            TIFFSetField(out, TIFFTAG_IMAGELENGTH, 64u);
            std::uint16_t v = 0;
            TIFFGetField(in, TIFFTAG_BITSPERSAMPLE, &v);
            TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, v);
            TIFFGetField(in, TIFFTAG_COMPRESSION, &v);
            TIFFSetField(out, TIFFTAG_COMPRESSION, v);
            TIFFGetField(in, TIFFTAG_PHOTOMETRIC, &v);
            TIFFSetField(out, TIFFTAG_PHOTOMETRIC, v);
            if (c.f == Format::TiffLzw) TIFFSetField(out, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
            if (c.f == Format::TiffJpeg) {
                void* tables = nullptr;
                std::uint32_t n = 0;
                if (TIFFGetField(in, TIFFTAG_JPEGTABLES, &n, &tables))
                    TIFFSetField(out, TIFFTAG_JPEGTABLES, n, tables);
            }
            TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, 64u);
            TIFFWriteRawStrip(out, 0, raw.data(), static_cast<tmsize_t>(raw.size() / 3));
            TIFFClose(out);
            TIFFClose(in);
        }
        std::string why;
        EXPECT_FALSE(DecodeFile(cut, &why).has_value()) << static_cast<int>(c.f);
        EXPECT_NE(why.find("TIFF"), std::string::npos) << why;
    }
}

}  // namespace
}  // namespace kovran::imaging::codec
