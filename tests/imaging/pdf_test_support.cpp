#include "imaging/pdf_test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include <jpeglib.h>
#include <tiffio.h>

#include "support/temp_dir.h"

namespace kovran::test::pdf {

Grey TestPattern(int width, int height) {
    Grey g{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height, 255)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool block = x < width / 2 && y >= height / 3 && y < 2 * height / 3;
            const bool stripe = y < height / 8;
            if (block || stripe) g.pixels[static_cast<std::size_t>(y) * width + x] = 0;
        }
    return g;
}

void WriteTiff(const std::string& path, const TiffSpec& s, const Grey& g) {
    std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFOpen(path.c_str(), "w"), TIFFClose);
    if (!tif) throw std::runtime_error("cannot create " + path);
    TIFF* t = tif.get();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, s.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, s.height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, s.bitsPerSample);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, s.samplesPerPixel);
    TIFFSetField(t, TIFFTAG_COMPRESSION, s.compression);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, s.photometric);
    TIFFSetField(t, TIFFTAG_FILLORDER, s.fillOrder);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, s.dpi);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, s.dpi);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    if (s.compression == COMPRESSION_CCITTFAX3)
        TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, s.group3Options);
    if (s.compression == COMPRESSION_LZW && s.predictor != 1)
        TIFFSetField(t, TIFFTAG_PREDICTOR, s.predictor);
    if (s.compression == COMPRESSION_JPEG) TIFFSetField(t, TIFFTAG_JPEGQUALITY, 90);
    const int rows = s.rowsPerStrip > 0 ? s.rowsPerStrip : s.height;
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rows);

    const std::size_t rowBytes =
        (static_cast<std::size_t>(s.width) * s.samplesPerPixel * s.bitsPerSample + 7) / 8;
    std::vector<std::uint8_t> data(rowBytes * s.height, 0);
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
            const std::uint8_t v = g.At(x * g.width / s.width, y * g.height / s.height);
            std::uint8_t* row = data.data() + rowBytes * y;
            if (s.bitsPerSample == 1) {
                const bool black = v < 128;
                const bool bit = s.photometric == PHOTOMETRIC_MINISWHITE ? black : !black;
                if (bit) row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
            } else {
                const std::uint8_t sample = s.photometric == PHOTOMETRIC_MINISWHITE
                                                ? static_cast<std::uint8_t>(255 - v)
                                                : v;
                for (int c = 0; c < s.samplesPerPixel; ++c) row[x * s.samplesPerPixel + c] = sample;
            }
        }
    for (int strip = 0, y = 0; y < s.height; ++strip, y += rows) {
        const int n = std::min(rows, s.height - y);
        if (TIFFWriteEncodedStrip(t, strip, data.data() + rowBytes * y,
                                  static_cast<tmsize_t>(rowBytes * n)) < 0)
            throw std::runtime_error("cannot write a strip of " + path);
    }
}

void WriteJpeg(const std::string& path, const Grey& g, int components, int dpi) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file) throw std::runtime_error("cannot create " + path);
    jpeg_compress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file.get());
    info.image_width = static_cast<JDIMENSION>(g.width);
    info.image_height = static_cast<JDIMENSION>(g.height);
    info.input_components = components;
    info.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    info.write_JFIF_header = TRUE;
    info.density_unit = dpi > 0 ? 1 : 0;
    info.X_density = static_cast<UINT16>(dpi > 0 ? dpi : 1);
    info.Y_density = info.X_density;
    jpeg_start_compress(&info, TRUE);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(g.width) * components);
    while (info.next_scanline < info.image_height) {
        const int y = static_cast<int>(info.next_scanline);
        for (int x = 0; x < g.width; ++x)
            for (int c = 0; c < components; ++c) row[x * components + c] = g.At(x, y);
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
}

CommandResult RunCommand(const std::string& command) {
    CommandResult r;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return r;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) r.output.append(buf.data(), n);
    const int status = ::pclose(pipe);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

bool HaveTool(const char* name) {
    return RunCommand(std::string("command -v ") + name).exitCode == 0;
}

::testing::AssertionResult QpdfClean(const std::string& pdf) {
    const CommandResult r = RunCommand("qpdf --check '" + pdf + "'");
    if (r.exitCode == 0 &&
        r.output.find("No syntax or stream encoding errors") != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "qpdf --check " << pdf << " exit " << r.exitCode << ":\n"
           << r.output;
}

Grey Render(const std::string& pdf, int page, int dpi) {
    TempDir tmp;
    const std::string prefix = tmp / "page";
    const CommandResult r =
        RunCommand("pdftoppm -r " + std::to_string(dpi) + " -f " + std::to_string(page) + " -l " +
                   std::to_string(page) + " -gray -singlefile '" + pdf + "' '" + prefix + "'");
    if (r.exitCode != 0) throw std::runtime_error("pdftoppm failed: " + r.output);
    const std::string pgm = ReadFileBytes(prefix + ".pgm");
    Grey g;
    int maxValue = 0;
    int consumed = 0;
    if (std::sscanf(pgm.c_str(), "P5 %d %d %d%n", &g.width, &g.height, &maxValue, &consumed) != 3)
        throw std::runtime_error("pdftoppm wrote no PGM");
    const std::size_t start = static_cast<std::size_t>(consumed) + 1;
    const std::size_t size = static_cast<std::size_t>(g.width) * g.height;
    if (pgm.size() < start + size) throw std::runtime_error("short PGM");
    g.pixels.assign(pgm.begin() + static_cast<std::ptrdiff_t>(start),
                    pgm.begin() + static_cast<std::ptrdiff_t>(start + size));
    return g;
}

::testing::AssertionResult ShowsPicture(const Grey& rendered, const Grey& picture) {
    if (std::abs(rendered.width - picture.width) > 1 ||
        std::abs(rendered.height - picture.height) > 1)
        return ::testing::AssertionFailure()
               << "rendered " << rendered.width << " x " << rendered.height << ", picture "
               << picture.width << " x " << picture.height;
    const int w = std::min(rendered.width, picture.width);
    const int h = std::min(rendered.height, picture.height);
    long differing = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if ((rendered.At(x, y) < 128) != (picture.At(x, y) < 128)) ++differing;
    const double share = static_cast<double>(differing) / (static_cast<double>(w) * h);
    if (share < 0.03) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << differing << " of " << w * h << " pixels differ in darkness";
}

XrefCheck ReadXref(const std::string& bytes) {
    XrefCheck x;
    const std::size_t at = bytes.rfind("startxref\r\n");
    if (at == std::string::npos) return x;
    x.startxref = std::atoll(bytes.c_str() + at + 11);
    if (x.startxref < 0 || static_cast<std::size_t>(x.startxref) >= bytes.size() ||
        bytes.compare(static_cast<std::size_t>(x.startxref), 6, "xref\r\n") != 0)
        return x;
    std::size_t pos = static_cast<std::size_t>(x.startxref) + 6;
    int first = -1;
    int count = -1;
    int used = 0;
    if (std::sscanf(bytes.c_str() + pos, "%d %d\r\n%n", &first, &count, &used) != 2) return x;
    pos = bytes.find("\r\n", pos) + 2;
    for (int i = 0; i < count; ++i, pos += 20) {
        if (pos + 20 > bytes.size() || bytes.compare(pos + 18, 2, "\r\n") != 0) {
            x.entriesAre20Bytes = false;
            break;
        }
        x.entryOffsets.push_back(std::atoll(bytes.substr(pos, 10).c_str()));
    }
    return x;
}

std::string ObjectText(const std::string& bytes, int number) {
    const std::string head = "\r\n" + std::to_string(number) + " 0 obj\r\n";
    const std::size_t at = bytes.find(head);
    if (at == std::string::npos) return {};
    const std::size_t end = bytes.find("endobj", at);
    return bytes.substr(at + 2, end == std::string::npos ? std::string::npos : end - at - 2);
}

}  // namespace kovran::test::pdf
