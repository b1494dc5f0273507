// Files of the codec layer read back by the reference decoders (libjpeg,
// libtiff, libpng used directly), and files of the reference encoders read
// by the codec layer.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include "imaging/codec_pictures.h"
#include "support/temp_dir.h"

namespace kovran::imaging::codec {
namespace {

using test::MaxDifference;
using test::MustEncode;
using test::Pattern;

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// What libtiff reads of one directory.
struct TiffTags {
    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 0, samples = 0, compression = 0, photometric = 0, unit = 0;
    float xres = 0, yres = 0;
};

TiffTags ReadTags(TIFF* t) {
    TiffTags g;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &g.width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &g.height);
    TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &g.bits);
    TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &g.samples);
    TIFFGetField(t, TIFFTAG_COMPRESSION, &g.compression);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &g.photometric);
    TIFFGetField(t, TIFFTAG_RESOLUTIONUNIT, &g.unit);
    TIFFGetField(t, TIFFTAG_XRESOLUTION, &g.xres);
    TIFFGetField(t, TIFFTAG_YRESOLUTION, &g.yres);
    return g;
}

// The pixels of the current directory through libtiff's RGBA reader, as
// the picture's channels.
ImageBuffer ReadTiffPixels(TIFF* t, int channels) {
    std::uint32_t w = 0, h = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    std::vector<std::uint32_t> raster(static_cast<std::size_t>(w) * h);
    EXPECT_EQ(TIFFReadRGBAImageOriented(t, w, h, raster.data(), ORIENTATION_TOPLEFT, 1), 1);
    ImageBuffer out(static_cast<int>(w), static_cast<int>(h), channels);
    for (std::size_t i = 0; i < raster.size(); ++i) {
        out.Data()[i * channels] = static_cast<std::uint8_t>(TIFFGetR(raster[i]));
        if (channels == 3) {
            out.Data()[i * 3 + 1] = static_cast<std::uint8_t>(TIFFGetG(raster[i]));
            out.Data()[i * 3 + 2] = static_cast<std::uint8_t>(TIFFGetB(raster[i]));
        }
    }
    return out;
}

TEST(CodecReference, JpegByLibjpeg) {
    kovran::test::TempDir dir;
    for (Depth depth : {Depth::Grey, Depth::Rgb}) {
        const Picture p = Pattern(61, 37, depth, {300, 200});
        const Bytes b = MustEncode(p, {.format = Format::Jpeg, .quality = 90});
        jpeg_decompress_struct cinfo{};
        jpeg_error_mgr err{};
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, b.data(), b.size());
        ASSERT_EQ(jpeg_read_header(&cinfo, TRUE), JPEG_HEADER_OK);
        EXPECT_EQ(cinfo.image_width, 61u);
        EXPECT_EQ(cinfo.image_height, 37u);
        EXPECT_EQ(cinfo.num_components, depth == Depth::Rgb ? 3 : 1);
        EXPECT_EQ(cinfo.density_unit, 1);
        EXPECT_EQ(cinfo.X_density, 300);
        EXPECT_EQ(cinfo.Y_density, 200);
        jpeg_start_decompress(&cinfo);
        std::vector<std::uint8_t> row(61 * 3);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW r = row.data();
            jpeg_read_scanlines(&cinfo, &r, 1);
        }
        jpeg_finish_decompress(&cinfo);
        EXPECT_EQ(err.num_warnings, 0);
        jpeg_destroy_decompress(&cinfo);

        std::string why;
        const auto back = Decode(b, &why);
        ASSERT_TRUE(back.has_value()) << why;
        EXPECT_EQ(back->depth, depth);
        EXPECT_EQ(back->pixels.Res(), (Resolution{300, 200}));
        EXPECT_LE(MaxDifference(back->pixels, p.pixels), 24);
        test::WriteBytes(dir / "a.jpg", b);
        const auto info = ReadFileInfo(dir / "a.jpg", &why);
        ASSERT_TRUE(info.has_value()) << why;
        EXPECT_EQ(info->width, 61);
        EXPECT_EQ(info->height, 37);
        EXPECT_EQ(info->dpiX, 300.0);
    }
}

TEST(CodecReference, JpegQualityChangesTheSize) {
    const Picture p = Pattern(200, 100, Depth::Grey);
    EXPECT_LT(MustEncode(p, {.format = Format::Jpeg, .quality = 10}).size(),
              MustEncode(p, {.format = Format::Jpeg, .quality = 95}).size());
}

struct TiffCase {
    Format format;
    Depth depth;
    std::uint16_t compression;
    std::uint16_t photometric;
    int tolerance;
};

TEST(CodecReference, EveryTiffCompressionByLibtiff) {
    const TiffCase cases[] = {
        {Format::TiffG3, Depth::Bilevel, COMPRESSION_CCITTFAX3, PHOTOMETRIC_MINISWHITE, 0},
        {Format::TiffG4, Depth::Bilevel, COMPRESSION_CCITTFAX4, PHOTOMETRIC_MINISWHITE, 0},
        {Format::TiffLzw, Depth::Bilevel, COMPRESSION_LZW, PHOTOMETRIC_MINISWHITE, 0},
        {Format::TiffLzw, Depth::Grey, COMPRESSION_LZW, PHOTOMETRIC_MINISBLACK, 0},
        {Format::TiffLzw, Depth::Rgb, COMPRESSION_LZW, PHOTOMETRIC_RGB, 0},
        {Format::TiffNone, Depth::Bilevel, COMPRESSION_NONE, PHOTOMETRIC_MINISWHITE, 0},
        {Format::TiffNone, Depth::Grey, COMPRESSION_NONE, PHOTOMETRIC_MINISBLACK, 0},
        {Format::TiffNone, Depth::Rgb, COMPRESSION_NONE, PHOTOMETRIC_RGB, 0},
        {Format::TiffJpeg, Depth::Grey, COMPRESSION_JPEG, PHOTOMETRIC_MINISBLACK, 24},
        {Format::TiffJpeg, Depth::Rgb, COMPRESSION_JPEG, PHOTOMETRIC_YCBCR, 40},
    };
    kovran::test::TempDir dir;
    for (const TiffCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "format " << static_cast<int>(c.format) << " depth "
                                        << static_cast<int>(c.depth));
        const Picture p = Pattern(67, 45, c.depth, {300, 150});
        const Bytes b = MustEncode(p, {.format = c.format, .quality = 90});
        test::WriteBytes(dir / "a.tif", b);
        TiffPtr t(TIFFOpen((dir / "a.tif").c_str(), "r"));
        ASSERT_TRUE(t);
        const TiffTags g = ReadTags(t.get());
        EXPECT_EQ(g.width, 67u);
        EXPECT_EQ(g.height, 45u);
        EXPECT_EQ(g.compression, c.compression);
        EXPECT_EQ(g.photometric, c.photometric);
        EXPECT_EQ(g.bits, c.depth == Depth::Bilevel ? 1 : 8);
        EXPECT_EQ(g.samples, c.depth == Depth::Rgb ? 3 : 1);
        EXPECT_EQ(g.unit, RESUNIT_INCH);
        EXPECT_EQ(g.xres, 300.0f);
        EXPECT_EQ(g.yres, 150.0f);
        EXPECT_EQ(TIFFNumberOfDirectories(t.get()), 1);
        const ImageBuffer pixels = ReadTiffPixels(t.get(), p.pixels.Channels());
        EXPECT_LE(MaxDifference(pixels, p.pixels), c.tolerance);

        std::string why;
        const auto back = Decode(b, &why);
        ASSERT_TRUE(back.has_value()) << why;
        EXPECT_EQ(back->depth, c.depth);
        EXPECT_EQ(back->pixels.Res(), (Resolution{300, 150}));
        EXPECT_LE(MaxDifference(back->pixels, p.pixels), c.tolerance);
        const auto info = ReadFileInfo(dir / "a.tif", &why);
        ASSERT_TRUE(info.has_value()) << why;
        EXPECT_EQ(info->width, 67);
        EXPECT_EQ(info->dpiX, 300.0);
    }
}

TEST(CodecReference, PngByLibpng) {
    kovran::test::TempDir dir;
    for (Depth depth : {Depth::Bilevel, Depth::Grey, Depth::Rgb}) {
        SCOPED_TRACE(static_cast<int>(depth));
        const Picture p = Pattern(33, 21, depth, {300, 300});
        const Bytes b = MustEncode(p, {.format = Format::Png});
        test::WriteBytes(dir / "a.png", b);
        std::unique_ptr<std::FILE, FileCloser> f(std::fopen((dir / "a.png").c_str(), "rb"));
        ASSERT_TRUE(f);
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_init_io(png, f.get());
        png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
        EXPECT_EQ(png_get_image_width(png, info), 33u);
        EXPECT_EQ(png_get_image_height(png, info), 21u);
        EXPECT_EQ(png_get_bit_depth(png, info), depth == Depth::Bilevel ? 1 : 8);
        EXPECT_EQ(png_get_color_type(png, info),
                  depth == Depth::Rgb ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY);
        png_uint_32 x = 0, y = 0;
        int unit = -1;
        EXPECT_NE(png_get_pHYs(png, info, &x, &y, &unit), 0u);
        EXPECT_EQ(x, 11811u);
        EXPECT_EQ(y, 11811u);
        EXPECT_EQ(unit, PNG_RESOLUTION_METER);
        png_bytepp rows = png_get_rows(png, info);
        if (depth == Depth::Bilevel)
            EXPECT_EQ(rows[0][0] >> 7, 0);  // the first pixel is black, stored as 0
        else
            EXPECT_EQ(std::memcmp(rows[20], p.pixels.Row(20), p.pixels.Stride()), 0);
        png_destroy_read_struct(&png, &info, nullptr);

        std::string why;
        const auto back = Decode(b, &why);
        ASSERT_TRUE(back.has_value()) << why;
        EXPECT_EQ(back->depth, depth);
        EXPECT_EQ(back->pixels, p.pixels);
        const auto fi = ReadFileInfo(dir / "a.png", &why);
        ASSERT_TRUE(fi.has_value()) << why;
        EXPECT_EQ(fi->height, 21);
        EXPECT_EQ(fi->dpiX, 300.0);
    }
}

TEST(CodecReference, MultipageTiffGrowsByOnePagePerAppend) {
    kovran::test::TempDir dir;
    const std::string path = dir / "multi.tif";
    TiffPageWriter writer;
    EXPECT_FALSE(writer.IsOpen());
    std::string why;
    EXPECT_FALSE(writer.AppendPage(Pattern(8, 8, Depth::Bilevel), &why));
    ASSERT_TRUE(writer.Open(path, {.format = Format::TiffG4}, &why)) << why;
    ASSERT_TRUE(writer.AppendPage(Pattern(40, 30, Depth::Bilevel, {200, 200}), &why)) << why;
    // A grey page is reduced to one bit for group 4.
    ASSERT_TRUE(writer.AppendPage(Pattern(50, 20, Depth::Grey, {300, 300}), &why)) << why;
    EXPECT_EQ(writer.Pages(), 2);
    {
        // Complete after every page: another reader sees both already.
        TiffPtr t(TIFFOpen(path.c_str(), "r"));
        ASSERT_TRUE(t);
        EXPECT_EQ(TIFFNumberOfDirectories(t.get()), 2);
    }
    ASSERT_TRUE(writer.AppendPage(Pattern(10, 60, Depth::Rgb, {100, 100}), &why)) << why;
    EXPECT_EQ(writer.Pages(), 3);
    writer.Close();
    EXPECT_FALSE(writer.IsOpen());

    TiffPtr t(TIFFOpen(path.c_str(), "r"));
    ASSERT_TRUE(t);
    ASSERT_EQ(TIFFNumberOfDirectories(t.get()), 3);
    const std::uint32_t widths[] = {40, 50, 10};
    const std::uint32_t heights[] = {30, 20, 60};
    const float dpis[] = {200, 300, 100};
    for (int page = 0; page < 3; ++page) {
        ASSERT_EQ(TIFFSetDirectory(t.get(), static_cast<tdir_t>(page)), 1);
        const TiffTags g = ReadTags(t.get());
        EXPECT_EQ(g.width, widths[page]) << page;
        EXPECT_EQ(g.height, heights[page]) << page;
        EXPECT_EQ(g.compression, COMPRESSION_CCITTFAX4) << page;
        EXPECT_EQ(g.bits, 1) << page;
        EXPECT_EQ(g.xres, dpis[page]) << page;
    }
    ASSERT_EQ(TIFFSetDirectory(t.get(), 0), 1);
    EXPECT_EQ(MaxDifference(ReadTiffPixels(t.get(), 1), Pattern(40, 30, Depth::Bilevel).pixels), 0);
}

TEST(CodecReference, MultipageJpegRefusesABilevelPageAndGoesOn) {
    kovran::test::TempDir dir;
    const std::string path = dir / "multi.tif";
    TiffPageWriter writer;
    std::string why;
    EXPECT_FALSE(writer.Open(path, {.format = Format::Png}, &why));
    EXPECT_FALSE(writer.Open(path, {.format = Format::TiffJpeg, .quality = 0}, &why));
    ASSERT_TRUE(writer.Open(path, {.format = Format::TiffJpeg, .quality = 60}, &why)) << why;
    ASSERT_TRUE(writer.AppendPage(Pattern(32, 16, Depth::Grey), &why)) << why;
    EXPECT_FALSE(writer.AppendPage(Pattern(32, 16, Depth::Bilevel), &why));
    EXPECT_FALSE(why.empty());
    ASSERT_TRUE(writer.AppendPage(Pattern(32, 16, Depth::Rgb), &why)) << why;
    EXPECT_EQ(writer.Pages(), 2);
    writer.Close();
    TiffPtr t(TIFFOpen(path.c_str(), "r"));
    ASSERT_TRUE(t);
    EXPECT_EQ(TIFFNumberOfDirectories(t.get()), 2);
    EXPECT_EQ(ReadTags(t.get()).compression, COMPRESSION_JPEG);
    // The decoder takes the first page.
    const auto first = DecodeFile(path, &why);
    ASSERT_TRUE(first.has_value()) << why;
    EXPECT_EQ(first->depth, Depth::Grey);
}

TEST(CodecReference, RefusedDepthsAndQualities) {
    std::string why;
    const Picture grey = Pattern(8, 8, Depth::Grey);
    const Picture bilevel = Pattern(8, 8, Depth::Bilevel);
    EXPECT_FALSE(Encode(grey, {.format = Format::TiffG3}, &why));
    EXPECT_FALSE(Encode(grey, {.format = Format::TiffG4}, &why));
    EXPECT_FALSE(Encode(bilevel, {.format = Format::Jpeg}, &why));
    EXPECT_FALSE(Encode(bilevel, {.format = Format::TiffJpeg}, &why));
    EXPECT_FALSE(Encode(grey, {.format = Format::Jpeg, .quality = 0}, &why));
    EXPECT_FALSE(Encode(grey, {.format = Format::Jpeg, .quality = 101}, &why));
    EXPECT_FALSE(Encode(grey, {.format = Format::TiffJpeg, .quality = 101}, &why));
    EXPECT_FALSE(Encode(grey, {.format = static_cast<Format>(7)}, &why));
    EXPECT_FALSE(Encode(Picture{ImageBuffer(8, 8, 3), Depth::Grey}, {.format = Format::Png}, &why));
    EXPECT_FALSE(Encode(Picture{}, {.format = Format::Bmp}, &why));
    EXPECT_FALSE(why.empty());
    EXPECT_TRUE(Encode(grey, {.format = Format::Jpeg, .quality = 1}, &why));
    EXPECT_TRUE(Encode(grey, {.format = Format::Jpeg, .quality = 100}, &why));
}

// Files the reference encoders write in layouts the codec layer does not
// write itself.
TEST(CodecReference, LibtiffPalettesTilesAndMinIsBlack) {
    kovran::test::TempDir dir;
    const std::string path = dir / "ref.tif";
    {
        TiffPtr t(TIFFOpen(path.c_str(), "w"));
        ASSERT_TRUE(t);
        // Page 1: 4-bit palette of grey levels, tiled.
        std::uint16_t r[16], g[16], b[16];
        for (int i = 0; i < 16; ++i) r[i] = g[i] = b[i] = static_cast<std::uint16_t>(i * 17 * 257);
        TIFFSetField(t.get(), TIFFTAG_IMAGEWIDTH, 20u);
        TIFFSetField(t.get(), TIFFTAG_IMAGELENGTH, 20u);
        TIFFSetField(t.get(), TIFFTAG_BITSPERSAMPLE, 4);
        TIFFSetField(t.get(), TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(t.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
        TIFFSetField(t.get(), TIFFTAG_COLORMAP, r, g, b);
        TIFFSetField(t.get(), TIFFTAG_TILEWIDTH, 16u);
        TIFFSetField(t.get(), TIFFTAG_TILELENGTH, 16u);
        TIFFSetField(t.get(), TIFFTAG_XRESOLUTION, 118.0f);
        TIFFSetField(t.get(), TIFFTAG_YRESOLUTION, 118.0f);
        TIFFSetField(t.get(), TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
        std::vector<std::uint8_t> tile(16 * 16 / 2, 0x5a);
        for (std::uint32_t y = 0; y < 20; y += 16)
            for (std::uint32_t x = 0; x < 20; x += 16)
                ASSERT_GT(TIFFWriteTile(t.get(), tile.data(), x, y, 0, 0), 0);
    }
    std::string why;
    const auto p = DecodeFile(path, &why);
    ASSERT_TRUE(p.has_value()) << why;
    EXPECT_EQ(p->depth, Depth::Grey);
    EXPECT_EQ(p->pixels.At(0, 0), 5 * 17);
    EXPECT_EQ(p->pixels.At(1, 0), 10 * 17);
    EXPECT_NEAR(p->pixels.Res().x, 299.72, 0.01);

    const std::string one = dir / "one.tif";
    {
        TiffPtr t(TIFFOpen(one.c_str(), "w"));
        TIFFSetField(t.get(), TIFFTAG_IMAGEWIDTH, 9u);
        TIFFSetField(t.get(), TIFFTAG_IMAGELENGTH, 1u);
        TIFFSetField(t.get(), TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(t.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        std::uint8_t row[2] = {0xf0, 0x80};
        ASSERT_EQ(TIFFWriteScanline(t.get(), row, 0, 0), 1);
    }
    const auto b = DecodeFile(one, &why);
    ASSERT_TRUE(b.has_value()) << why;
    EXPECT_EQ(b->depth, Depth::Bilevel);
    EXPECT_EQ(std::vector<int>(b->pixels.Data(), b->pixels.Data() + 9),
              (std::vector<int>{255, 255, 255, 255, 0, 0, 0, 0, 255}));
    EXPECT_EQ(b->pixels.Res(), (Resolution{}));
}

TEST(CodecReference, LibpngPaletteAndInterlace) {
    kovran::test::TempDir dir;
    for (bool colour : {false, true}) {
        const std::string path = dir / "p.png";
        {
            std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
            png_structp png =
                png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
            png_infop info = png_create_info_struct(png);
            png_init_io(png, f.get());
            png_set_IHDR(png, info, 5, 3, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_ADAM7,
                         PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
            png_color palette[2] = {{10, 10, 10},
                                    {200, 200, colour ? png_byte{50} : png_byte{200}}};
            png_set_PLTE(png, info, palette, 2);
            png_write_info(png, info);
            png_set_interlace_handling(png);
            png_byte rows[3][5] = {{0, 1, 0, 1, 0}, {1, 1, 1, 1, 1}, {0, 0, 0, 0, 1}};
            png_bytep pointers[3] = {rows[0], rows[1], rows[2]};
            for (int pass = 0; pass < 7; ++pass) png_write_rows(png, pointers, 3);
            png_write_end(png, info);
            png_destroy_write_struct(&png, &info);
        }
        std::string why;
        const auto p = DecodeFile(path, &why);
        ASSERT_TRUE(p.has_value()) << why;
        EXPECT_EQ(p->depth, colour ? Depth::Rgb : Depth::Grey);
        EXPECT_EQ(p->pixels.At(1, 0), 200);
        EXPECT_EQ(p->pixels.At(4, 2, colour ? 2 : 0), colour ? 50 : 200);
        EXPECT_EQ(p->pixels.At(3, 2), 10);
        EXPECT_EQ(p->pixels.Res(), (Resolution{}));
    }
}

}  // namespace
}  // namespace kovran::imaging::codec
