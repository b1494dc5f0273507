// Encoding a 300 dpi grey cheque front through the codec layer, each format
// next to the bare codec library (libjpeg, libtiff, libpng called directly)
// doing the same encoding with the same settings in the same run. At the
// end the ratio codec layer / bare codec is printed per format.
#include <benchmark/benchmark.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include "cheque_front.h"

namespace {

using namespace kovran;
using imaging::codec::Bytes;
using imaging::codec::Depth;
using imaging::codec::Format;
using imaging::codec::Picture;

constexpr int kJpegQuality = 80;
constexpr int kBilevelThreshold = 128;

const Picture& Front() {
    static const Picture front = bench::ChequeFront();
    return front;
}

// The front reduced to one bit, as the codec layer takes it for group 4.
const Picture& BilevelFront() {
    static const Picture front = imaging::codec::Threshold(Front(), kBilevelThreshold);
    return front;
}

// The same as libtiff takes it: rows of bits, MinIsWhite (black is 1).
struct PackedBits {
    int width = 0;
    int height = 0;
    std::size_t rowBytes = 0;
    std::vector<std::uint8_t> bits;
};
const PackedBits& PackedFront() {
    static const PackedBits packed = [] {
        const Picture& p = BilevelFront();
        PackedBits b{p.pixels.Width(),
                     p.pixels.Height(),
                     (static_cast<std::size_t>(p.pixels.Width()) + 7) / 8,
                     {}};
        b.bits.assign(b.rowBytes * b.height, 0);
        for (int y = 0; y < b.height; ++y)
            for (int x = 0; x < b.width; ++x)
                if (p.pixels.At(x, y) == 0)
                    b.bits[b.rowBytes * y + (x >> 3)] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
        return b;
    }();
    return packed;
}

void CountOutput(benchmark::State& state, std::size_t bytes) {
    state.counters["out_KB"] = static_cast<double>(bytes) / 1024.0;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(Front().pixels.Bytes()));
}

// ---- Through the codec layer ----------------------------------------------

void BM_Codec_Jpeg(benchmark::State& state) {
    std::size_t size = 0;
    for (auto _ : state) {
        auto bytes =
            imaging::codec::Encode(Front(), {.format = Format::Jpeg, .quality = kJpegQuality});
        if (!bytes) state.SkipWithError("encode");
        size = bytes ? bytes->size() : 0;
        benchmark::DoNotOptimize(bytes);
    }
    CountOutput(state, size);
}

// From the bilevel picture: the packing into bits is the codec layer's.
void BM_Codec_TiffG4(benchmark::State& state) {
    std::size_t size = 0;
    for (auto _ : state) {
        auto bytes = imaging::codec::Encode(BilevelFront(), {.format = Format::TiffG4});
        if (!bytes) state.SkipWithError("encode");
        size = bytes ? bytes->size() : 0;
        benchmark::DoNotOptimize(bytes);
    }
    CountOutput(state, size);
}

// From the grey front, with the threshold to one bit on the way.
void BM_Codec_TiffG4FromGrey(benchmark::State& state) {
    std::size_t size = 0;
    for (auto _ : state) {
        const Picture bilevel = imaging::codec::Threshold(Front(), kBilevelThreshold);
        auto bytes = imaging::codec::Encode(bilevel, {.format = Format::TiffG4});
        if (!bytes) state.SkipWithError("encode");
        size = bytes ? bytes->size() : 0;
        benchmark::DoNotOptimize(bytes);
    }
    CountOutput(state, size);
}

void BM_Codec_Png(benchmark::State& state) {
    std::size_t size = 0;
    for (auto _ : state) {
        auto bytes = imaging::codec::Encode(Front(), {.format = Format::Png});
        if (!bytes) state.SkipWithError("encode");
        size = bytes ? bytes->size() : 0;
        benchmark::DoNotOptimize(bytes);
    }
    CountOutput(state, size);
}

// ---- The bare codec libraries -----------------------------------------------

std::size_t BareJpeg(const Picture& p) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(p.pixels.Width());
    cinfo.image_height = static_cast<JDIMENSION>(p.pixels.Height());
    cinfo.input_components = 1;
    cinfo.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, kJpegQuality, TRUE);
    cinfo.density_unit = 1;
    cinfo.X_density = cinfo.Y_density = 300;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row =
            const_cast<std::uint8_t*>(p.pixels.Row(static_cast<int>(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return size;
}

void BM_Bare_Jpeg(benchmark::State& state) {
    std::size_t size = 0;
    for (auto _ : state) size = BareJpeg(Front());
    CountOutput(state, size);
}

// libtiff writing into memory needs its client procedures.
struct MemoryFile {
    std::vector<std::uint8_t> bytes;
    std::uint64_t position = 0;
};
tmsize_t MemRead(thandle_t, void*, tmsize_t) {
    return 0;
}
tmsize_t MemWrite(thandle_t h, void* data, tmsize_t n) {
    auto* f = static_cast<MemoryFile*>(h);
    if (f->position + n > f->bytes.size()) f->bytes.resize(f->position + n);
    std::memcpy(f->bytes.data() + f->position, data, static_cast<std::size_t>(n));
    f->position += n;
    return n;
}
toff_t MemSeek(thandle_t h, toff_t off, int whence) {
    auto* f = static_cast<MemoryFile*>(h);
    f->position = (whence == SEEK_SET   ? 0
                   : whence == SEEK_CUR ? f->position
                                        : f->bytes.size()) +
                  off;
    return f->position;
}
int MemClose(thandle_t) {
    return 0;
}
toff_t MemSize(thandle_t h) {
    return static_cast<MemoryFile*>(h)->bytes.size();
}
int MemMap(thandle_t, void**, toff_t*) {
    return 0;
}
void MemUnmap(thandle_t, void*, toff_t) {}

// libtiff alone, from bits packed beforehand.
std::size_t BareTiffG4(const PackedBits& p) {
    const int w = p.width;
    const int h = p.height;
    MemoryFile file;
    TIFF* t = TIFFClientOpen("memory", "wm", &file, MemRead, MemWrite, MemSeek, MemClose, MemSize,
                             MemMap, MemUnmap);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(w));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(h));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 300.0f);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, 300.0f);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(h));
    // libtiff may change the row it is given: each goes through a scratch line.
    std::vector<std::uint8_t> line(p.rowBytes);
    for (int y = 0; y < h; ++y) {
        std::memcpy(line.data(), p.bits.data() + p.rowBytes * y, p.rowBytes);
        TIFFWriteScanline(t, line.data(), static_cast<std::uint32_t>(y), 0);
    }
    TIFFWriteDirectory(t);
    TIFFClose(t);
    return file.bytes.size();
}

void BM_Bare_TiffG4(benchmark::State& state) {
    std::size_t size = 0;
    for (auto _ : state) size = BareTiffG4(PackedFront());
    CountOutput(state, size);
}

// What a host holding the grey front does with libtiff alone: one pass that
// thresholds and packs each row, then the same encoding as above. This is
// the baseline of every path that starts from grey.
PackedBits PackGrey(const Picture& p) {
    PackedBits b{p.pixels.Width(),
                 p.pixels.Height(),
                 (static_cast<std::size_t>(p.pixels.Width()) + 7) / 8,
                 {}};
    b.bits.assign(b.rowBytes * b.height, 0);
    for (int y = 0; y < b.height; ++y) {
        const std::uint8_t* row = p.pixels.Row(y);
        std::uint8_t* out = b.bits.data() + b.rowBytes * y;
        for (int x = 0; x < b.width; ++x)
            out[x >> 3] |= static_cast<std::uint8_t>((row[x] < kBilevelThreshold) << (7 - (x & 7)));
    }
    return b;
}

void BM_Bare_TiffG4FromGrey(benchmark::State& state) {
    std::size_t size = 0;
    for (auto _ : state) size = BareTiffG4(PackGrey(Front()));
    CountOutput(state, size);
}

void PngWrite(png_structp png, png_bytep data, png_size_t n) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}
void PngFlush(png_structp) {}

std::size_t BarePng(const Picture& p) {
    std::vector<std::uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, PngWrite, PngFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(p.pixels.Width()),
                 static_cast<png_uint_32>(p.pixels.Height()), 8, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_pHYs(png, info, 11811, 11811, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    for (int y = 0; y < p.pixels.Height(); ++y)
        png_write_row(png, const_cast<std::uint8_t*>(p.pixels.Row(y)));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out.size();
}

void BM_Bare_Png(benchmark::State& state) {
    std::size_t size = 0;
    for (auto _ : state) size = BarePng(Front());
    CountOutput(state, size);
}

// Each pair runs back to back so that both see the same machine load.
BENCHMARK(BM_Bare_Jpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Codec_Jpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bare_TiffG4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bare_TiffG4FromGrey)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Codec_TiffG4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Codec_TiffG4FromGrey)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bare_Png)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Codec_Png)->Unit(benchmark::kMillisecond);

// The console report, then one line per format: codec layer / bare codec
// in CPU time per encoding.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (!r.error_occurred && r.run_type == Run::RT_Iteration)
                cpu_[r.benchmark_name()] = r.GetAdjustedCPUTime();
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        // Each row: a layer's benchmark over the bare one doing the same
        // work. Retrieval starts from the grey side, so its group 4 is set
        // against the bare threshold-and-pack as well as against libtiff
        // alone on bits packed beforehand.
        const std::tuple<const char*, const char*, const char*> rows[] = {
            {"Codec", "Jpeg", "Jpeg"},
            {"Codec", "TiffG4", "TiffG4"},
            {"Codec", "TiffG4FromGrey", "TiffG4FromGrey"},
            {"Codec", "Png", "Png"},
            {"Retrieve", "Jpeg", "Jpeg"},
            {"Retrieve", "TiffG4", "TiffG4FromGrey"},
            {"Retrieve", "TiffG4", "TiffG4"},
            {"Retrieve", "Png", "Png"}};
        for (const auto& [layer, format, bareFormat] : rows) {
            const auto codec = cpu_.find(std::string("BM_") + layer + "_" + format);
            const auto bare = cpu_.find(std::string("BM_Bare_") + bareFormat);
            if (codec == cpu_.end() || bare == cpu_.end() || bare->second <= 0) continue;
            std::printf("ratio %-8s %-15s over bare %-15s %.3f  (%.2f ms / %.2f ms)\n", layer,
                        format, bareFormat, codec->second / bare->second, codec->second,
                        bare->second);
        }
    }

  private:
    std::map<std::string, double> cpu_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    PackedFront();  // drawn once, outside every measurement
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
