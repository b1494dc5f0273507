// JPEG files for DCTDecode: the header through libjpeg (size, precision,
// colour space, density) and a walk over the marker segments that proves
// the file reaches its end-of-image marker, so that a file cut short is
// refused instead of embedded half.
#include <fcntl.h>

#include <csetjmp>
#include <cstdio>
#include <span>

#include <jpeglib.h>

#include "imaging/image_view.h"
#include "imaging/pdf/pdf_image.h"
#include "platform/file_descriptor.h"

namespace kovran::imaging::pdf {

namespace {

struct JpegHeader {
    int width = 0;
    int height = 0;
    int components = 0;
    int precision = 0;
    bool grey = false;
    double dpiX = 0;
};

struct JumpingErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void ErrorExit(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JumpingErrorManager*>(info->err)->jump, 1);
}

void SilentMessage(j_common_ptr) {}

// Only plain C objects live in this frame: libjpeg reports errors by the
// long jump, which must not cross a destructor.
bool ReadJpegHeader(const std::uint8_t* data, std::size_t size, JpegHeader& out) {
    jpeg_decompress_struct info;
    JumpingErrorManager err;
    info.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.output_message = SilentMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    out.width = static_cast<int>(info.image_width);
    out.height = static_cast<int>(info.image_height);
    out.components = info.num_components;
    out.precision = info.data_precision;
    out.grey = info.jpeg_color_space == JCS_GRAYSCALE;
    if (info.density_unit == 1)
        out.dpiX = info.X_density;
    else if (info.density_unit == 2)
        out.dpiX = info.X_density * 2.54;
    jpeg_destroy_decompress(&info);
    return true;
}

// Segment by segment from SOI; entropy-coded data is skipped up to the next
// marker (0xFF followed by neither a stuffed 0x00 nor a restart marker).
bool ReachesEndOfImage(std::span<const std::uint8_t> d) {
    const std::size_t n = d.size();
    if (n < 4 || d[0] != 0xFF || d[1] != 0xD8) return false;
    std::size_t pos = 2;
    for (;;) {
        if (pos >= n || d[pos] != 0xFF) return false;
        while (pos < n && d[pos] == 0xFF) ++pos;
        if (pos >= n) return false;
        const std::uint8_t marker = d[pos++];
        if (marker == 0xD9) return true;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;
        if (pos + 2 > n) return false;
        const std::size_t length = (std::size_t{d[pos]} << 8) | d[pos + 1];
        if (length < 2 || length > n - pos) return false;
        pos += length;
        if (marker != 0xDA) continue;
        for (;;) {
            if (pos + 1 >= n) return false;
            if (d[pos] != 0xFF) {
                ++pos;
                continue;
            }
            const std::uint8_t next = d[pos + 1];
            if (next == 0xFF) {
                ++pos;
            } else if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
                pos += 2;
            } else {
                break;
            }
        }
    }
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    return fd.valid() && platform::ReadAllBytes(fd.get(), kMaxBufferBytes, bytes);
}

std::span<const std::uint8_t> AsBytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

}  // namespace

std::optional<ImageGeometry> ReadJpegGeometry(const std::string& path) {
    std::string file;
    JpegHeader header;
    if (!ReadWholeFile(path, file) || !ReadJpegHeader(AsBytes(file).data(), file.size(), header))
        return std::nullopt;
    return ImageGeometry{.width = header.width, .height = header.height, .dpiX = header.dpiX};
}

std::optional<PdfImageData> LoadJpegImage(const std::string& path) {
    std::string file;
    JpegHeader header;
    if (!ReadWholeFile(path, file)) return std::nullopt;
    const std::span<const std::uint8_t> bytes = AsBytes(file);
    if (!ReadJpegHeader(bytes.data(), bytes.size(), header)) return std::nullopt;
    // 12-bit and four-colour (CMYK, YCCK) JPEGs have no faithful DCTDecode
    // form under the colour spaces the pages declare.
    if (header.width <= 0 || header.height <= 0 || header.precision != 8) return std::nullopt;
    if (header.components != 1 && header.components != 3) return std::nullopt;
    if (!ReachesEndOfImage(bytes)) return std::nullopt;
    PdfImageData image;
    image.width = header.width;
    image.height = header.height;
    image.dpiX = header.dpiX;
    image.bitsPerComponent = header.precision;
    image.rgb = !header.grey;
    image.filter = PdfFilter::Dct;
    image.bytes.assign(bytes.begin(), bytes.end());
    return image;
}

}  // namespace kovran::imaging::pdf
