#include "blackbox/reference_decoders.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

namespace kovran::test {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void JpegFail(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

// The jump stays inside this function: nothing with a destructor lives
// between setjmp and the longjmp.
bool DecodeJpeg(std::FILE* f, JpegFacts* facts) {
    jpeg_decompress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.mgr);
    error.mgr.error_exit = &JpegFail;
    if (setjmp(error.jump) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, f);
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    facts->width = static_cast<int>(info.output_width);
    facts->height = static_cast<int>(info.output_height);
    facts->components = info.output_components;
    facts->densityUnit = info.density_unit;
    facts->xDensity = info.X_density;
    facts->yDensity = info.Y_density;
    JSAMPARRAY row = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                               info.output_width * info.output_components, 1);
    while (info.output_scanline < info.output_height) jpeg_read_scanlines(&info, row, 1);
    jpeg_finish_decompress(&info);
    const bool clean = error.mgr.num_warnings == 0;
    jpeg_destroy_decompress(&info);
    return clean;
}

void TiffQuiet(const char*, const char*, va_list) {}

}  // namespace

std::optional<JpegFacts> ReadJpeg(const std::string& path) {
    File f(std::fopen(path.c_str(), "rb"));
    if (!f) return std::nullopt;
    JpegFacts facts;
    if (!DecodeJpeg(f.get(), &facts)) return std::nullopt;
    return facts;
}

std::optional<std::vector<TiffPage>> ReadTiff(const std::string& path) {
    TIFFSetErrorHandler(&TiffQuiet);
    TIFFSetWarningHandler(&TiffQuiet);
    std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFOpen(path.c_str(), "r"), &TIFFClose);
    if (!tif) return std::nullopt;
    std::vector<TiffPage> pages;
    do {
        TiffPage p;
        std::uint32_t w = 0, h = 0;
        std::uint16_t bps = 1, spp = 1, comp = 1, unit = 2;
        TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &h);
        TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bps);
        TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &spp);
        TIFFGetFieldDefaulted(tif.get(), TIFFTAG_COMPRESSION, &comp);
        TIFFGetFieldDefaulted(tif.get(), TIFFTAG_RESOLUTIONUNIT, &unit);
        if (!TIFFGetField(tif.get(), TIFFTAG_XRESOLUTION, &p.xResolution)) p.xResolution = 0;
        if (!TIFFGetField(tif.get(), TIFFTAG_YRESOLUTION, &p.yResolution)) p.yResolution = 0;
        p.width = static_cast<int>(w);
        p.height = static_cast<int>(h);
        p.bitsPerSample = bps;
        p.samplesPerPixel = spp;
        p.compression = comp;
        p.resolutionUnit = unit;
        const tmsize_t stripSize = TIFFStripSize(tif.get());
        if (stripSize <= 0) return std::nullopt;
        std::vector<unsigned char> strip(static_cast<std::size_t>(stripSize));
        for (tstrip_t s = 0; s < TIFFNumberOfStrips(tif.get()); ++s)
            if (TIFFReadEncodedStrip(tif.get(), s, strip.data(), stripSize) < 0)
                return std::nullopt;
        pages.push_back(p);
    } while (TIFFReadDirectory(tif.get()));
    return pages;
}

std::optional<PngFacts> ReadPng(const std::string& path) {
    File f(std::fopen(path.c_str(), "rb"));
    if (!f) return std::nullopt;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    // The simplified reader decodes every pixel; the low-level one gives
    // the header facts.
    if (!png_image_begin_read_from_stdio(&image, f.get())) return std::nullopt;
    std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return std::nullopt;
    std::rewind(f.get());
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    PngFacts facts;
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_read_struct(&png, &info, nullptr);
        return std::nullopt;
    }
    png_init_io(png, f.get());
    png_read_info(png, info);
    facts.width = static_cast<int>(png_get_image_width(png, info));
    facts.height = static_cast<int>(png_get_image_height(png, info));
    facts.bitDepth = png_get_bit_depth(png, info);
    facts.colourType = png_get_color_type(png, info);
    png_uint_32 x = 0, y = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &x, &y, &unit) != 0 && unit == PNG_RESOLUTION_METER) {
        facts.xPixelsPerMetre = x;
        facts.yPixelsPerMetre = y;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return facts;
}

std::optional<BmpFacts> ReadBmp(const std::vector<unsigned char>& b) {
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') return std::nullopt;
    auto u32 = [&](std::size_t o) {
        return static_cast<unsigned>(b[o] | (b[o + 1] << 8) | (b[o + 2] << 16) |
                                     (static_cast<unsigned>(b[o + 3]) << 24));
    };
    BmpFacts f;
    f.fileSize = u32(2);
    f.width = static_cast<int>(u32(18));
    f.height = static_cast<int>(u32(22));
    f.bitsPerPixel = b[28] | (b[29] << 8);
    f.xPixelsPerMetre = static_cast<int>(u32(38));
    f.yPixelsPerMetre = static_cast<int>(u32(42));
    const std::size_t row = (static_cast<std::size_t>(f.width) * f.bitsPerPixel / 8 + 3) & ~3u;
    const std::size_t palette = f.bitsPerPixel <= 8 ? (std::size_t{1} << f.bitsPerPixel) * 4 : 0;
    if (u32(10) != 54 + palette || f.fileSize != b.size() ||
        b.size() != 54 + palette + row * static_cast<std::size_t>(f.height))
        return std::nullopt;
    return f;
}

}  // namespace kovran::test
