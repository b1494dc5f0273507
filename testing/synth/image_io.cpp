#include "testing/synth/image_io.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include "testing/synth/synth_error.h"

namespace kovran::synth {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

[[noreturn]] void Fail(const std::string& reason) {
    throw SynthError(reason);
}

// libpng reports errors by longjmp; the jump target stays inside these
// functions and no object with a destructor lives between setjmp and the
// libpng calls, apart from those declared before setjmp.
struct PngWrite {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngWrite() { png_destroy_write_struct(&png, &info); }
};
struct PngRead {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngRead() { png_destroy_read_struct(&png, &info, nullptr); }
};

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void JpegErrorExit(j_common_ptr info) {
    auto* err = reinterpret_cast<JpegError*>(info->err);
    std::longjmp(err->jump, 1);
}

}  // namespace

void WritePng(const ImageBuffer& image, const std::string& path, double dpi) {
    FilePtr file(std::fopen(path.c_str(), "wb"));
    if (!file) Fail("cannot create " + path);
    PngWrite w;
    w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!w.png) Fail("png_create_write_struct failed");
    w.info = png_create_info_struct(w.png);
    if (!w.info) Fail("png_create_info_struct failed");
    std::vector<png_bytep> rows(image.Height());
    for (int y = 0; y < image.Height(); ++y) rows[y] = const_cast<png_bytep>(image.Row(y));
    if (setjmp(png_jmpbuf(w.png))) Fail("libpng error writing " + path);
    png_init_io(w.png, file.get());
    png_set_IHDR(w.png, w.info, image.Width(), image.Height(), 8,
                 image.Channels() == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (dpi > 0.0) {
        const auto ppm = static_cast<png_uint_32>(dpi / 0.0254 + 0.5);
        png_set_pHYs(w.png, w.info, ppm, ppm, PNG_RESOLUTION_METER);
    }
    png_set_compression_level(w.png, 2);
    png_set_rows(w.png, w.info, rows.data());
    png_write_png(w.png, w.info, PNG_TRANSFORM_IDENTITY, nullptr);
    if (std::fflush(file.get()) != 0) Fail("write error on " + path);
}

void WritePnm(const ImageBuffer& image, const std::string& path) {
    FilePtr file(std::fopen(path.c_str(), "wb"));
    if (!file) Fail("cannot create " + path);
    std::fprintf(file.get(), "P%c\n%d %d\n255\n", image.Channels() == 3 ? '6' : '5', image.Width(),
                 image.Height());
    if (std::fwrite(image.Data(), 1, image.Bytes(), file.get()) != image.Bytes() ||
        std::fflush(file.get()) != 0)
        Fail("write error on " + path);
}

ImageBuffer ReadPng(const std::string& path) {
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) Fail("cannot open " + path);
    PngRead r;
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!r.png) Fail("png_create_read_struct failed");
    r.info = png_create_info_struct(r.png);
    if (!r.info) Fail("png_create_info_struct failed");
    if (setjmp(png_jmpbuf(r.png))) Fail("libpng error reading " + path);
    png_init_io(r.png, file.get());
    png_set_user_limits(r.png, 1 << 15, 1 << 15);
    png_read_png(r.png, r.info,
                 PNG_TRANSFORM_STRIP_16 | PNG_TRANSFORM_PACKING | PNG_TRANSFORM_EXPAND |
                     PNG_TRANSFORM_STRIP_ALPHA,
                 nullptr);
    const int w = static_cast<int>(png_get_image_width(r.png, r.info));
    const int h = static_cast<int>(png_get_image_height(r.png, r.info));
    const int ch = png_get_channels(r.png, r.info);
    if (ch != 1 && ch != 3) Fail("unsupported channel count in " + path);
    if (png_get_rowbytes(r.png, r.info) < static_cast<std::size_t>(w) * ch)
        Fail("short rows in " + path);
    ImageBuffer out(w, h, ch);
    png_bytepp rows = png_get_rows(r.png, r.info);
    for (int y = 0; y < h; ++y)
        std::copy(rows[y], rows[y] + static_cast<std::size_t>(w) * ch, out.Row(y));
    return out;
}

void JpegRoundTrip(ImageBuffer& image, int quality) {
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    JpegError err;
    jpeg_compress_struct cinfo;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = JpegErrorExit;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(buffer);
        Fail("libjpeg error while encoding");
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(image.Width());
    cinfo.image_height = static_cast<JDIMENSION>(image.Height());
    cinfo.input_components = image.Channels();
    cinfo.in_color_space = image.Channels() == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality < 1 ? 1 : (quality > 100 ? 100 : quality), TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = image.Row(static_cast<int>(cinfo.next_scanline));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);

    JpegError derr;
    jpeg_decompress_struct dinfo;
    dinfo.err = jpeg_std_error(&derr.mgr);
    derr.mgr.error_exit = JpegErrorExit;
    if (setjmp(derr.jump)) {
        jpeg_destroy_decompress(&dinfo);
        std::free(buffer);
        Fail("libjpeg error while decoding");
    }
    jpeg_create_decompress(&dinfo);
    jpeg_mem_src(&dinfo, buffer, size);
    jpeg_read_header(&dinfo, TRUE);
    jpeg_start_decompress(&dinfo);
    if (static_cast<int>(dinfo.output_width) != image.Width() ||
        static_cast<int>(dinfo.output_height) != image.Height() ||
        dinfo.output_components != image.Channels()) {
        jpeg_destroy_decompress(&dinfo);
        std::free(buffer);
        Fail("JPEG round trip changed the image geometry");
    }
    while (dinfo.output_scanline < dinfo.output_height) {
        JSAMPROW row = image.Row(static_cast<int>(dinfo.output_scanline));
        jpeg_read_scanlines(&dinfo, &row, 1);
    }
    jpeg_finish_decompress(&dinfo);
    jpeg_destroy_decompress(&dinfo);
    std::free(buffer);
}

}  // namespace kovran::synth
