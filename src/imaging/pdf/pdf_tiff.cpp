// TIFF files for the image XObjects. One strip in a coding PDF decodes the
// same way (CCITT group 3 1D, group 4, LZW without predictor, none) is
// embedded as it is, after a trial decode proves the strip whole: a strip
// byte count that lies would otherwise put a broken image into a file that
// looks valid. Everything else is decoded by libtiff and re-encoded as one
// strip.
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <memory>

#include <tiffio.h>

#include "imaging/image_view.h"
#include "imaging/pdf/pdf_image.h"
#include "platform/process_lock.h"

namespace kovran::imaging::pdf {

namespace {

// A bounded wait: the re-encoding's memory sink is this call's own, so the
// lock only keeps the step exclusive as it always was; a holder that hangs
// must not stop every PDF of the machine.
constexpr unsigned kPdfLockTimeoutMs = 30000;

struct TiffFaults {
    bool any = false;
};

int RecordFault(TIFF*, void* userData, const char*, const char*, va_list) {
    static_cast<TiffFaults*>(userData)->any = true;
    return 1;  // handled: nothing reaches libtiff's global handler (stderr)
}

struct OptionsDeleter {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};
struct TiffDeleter {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffDeleter>;
using OptionsPtr = std::unique_ptr<TIFFOpenOptions, OptionsDeleter>;

OptionsPtr QuietOptions(TiffFaults& faults) {
    OptionsPtr options(TIFFOpenOptionsAlloc());
    if (!options) return options;
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), RecordFault, &faults);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), RecordFault, &faults);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(kMaxBufferBytes));
    return options;
}

struct TiffLayout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t bitsPerSample = 1;
    std::uint16_t samplesPerPixel = 1;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t photometric = PHOTOMETRIC_MINISWHITE;
    std::uint16_t fillOrder = FILLORDER_MSB2LSB;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t predictor = 1;
    std::uint32_t group3Options = 0;
    std::uint32_t strips = 0;
    double dpiX = 0;
    std::size_t rowBytes = 0;
    std::size_t imageBytes = 0;
};

double HorizontalDpi(TIFF* tif) {
    float x = 0;
    std::uint16_t unit = RESUNIT_INCH;
    if (!TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x) || !(x > 0)) return 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (unit == RESUNIT_CENTIMETER) return x * 2.54;
    return unit == RESUNIT_INCH ? x : 0;
}

// The layout, or false for anything a PDF image cannot show faithfully.
bool ReadLayout(TIFF* tif, TiffLayout& l) {
    if (TIFFIsTiled(tif)) return false;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &l.width) ||
        !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &l.height))
        return false;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &l.bitsPerSample);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &l.samplesPerPixel);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &l.compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &l.fillOrder);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &l.planar);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &l.photometric))
        l.photometric = l.samplesPerPixel == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISWHITE;
    if (l.compression == COMPRESSION_LZW || l.compression == COMPRESSION_ADOBE_DEFLATE ||
        l.compression == COMPRESSION_DEFLATE)
        TIFFGetFieldDefaulted(tif, TIFFTAG_PREDICTOR, &l.predictor);
    if (l.compression == COMPRESSION_CCITTFAX3)
        TIFFGetFieldDefaulted(tif, TIFFTAG_GROUP3OPTIONS, &l.group3Options);
    l.strips = TIFFNumberOfStrips(tif);
    l.dpiX = HorizontalDpi(tif);

    if (l.width == 0 || l.height == 0 || l.strips == 0) return false;
    const bool grey = l.samplesPerPixel == 1 && (l.photometric == PHOTOMETRIC_MINISWHITE ||
                                                 l.photometric == PHOTOMETRIC_MINISBLACK);
    const bool rgb = l.samplesPerPixel == 3 && l.bitsPerSample == 8 &&
                     (l.photometric == PHOTOMETRIC_RGB ||
                      (l.photometric == PHOTOMETRIC_YCBCR && l.compression == COMPRESSION_JPEG));
    if (!grey && !rgb) return false;
    if (l.bitsPerSample != 1 && l.bitsPerSample != 2 && l.bitsPerSample != 4 &&
        l.bitsPerSample != 8)
        return false;
    if (rgb && l.planar != PLANARCONFIG_CONTIG) return false;
    const std::uint64_t rowBits = std::uint64_t{l.width} * l.samplesPerPixel * l.bitsPerSample;
    const std::uint64_t rowBytes = (rowBits + 7) / 8;
    if (rowBytes > kMaxBufferBytes / l.height) return false;
    l.rowBytes = static_cast<std::size_t>(rowBytes);
    l.imageBytes = l.rowBytes * l.height;
    return true;
}

bool IsCcitt(std::uint16_t compression) {
    return compression == COMPRESSION_CCITTFAX3 || compression == COMPRESSION_CCITTFAX4;
}

// One strip that a PDF filter decodes as libtiff does.
bool EmbeddableRaw(const TiffLayout& l, LzwUse lzw) {
    if (l.strips != 1 || l.fillOrder == FILLORDER_LSB2MSB) return false;
    switch (l.compression) {
        case COMPRESSION_NONE:
            return true;
        case COMPRESSION_CCITTFAX3:
            // 2D coding needs K > 0, fill bits a byte-aligned decoder.
            return l.bitsPerSample == 1 &&
                   (l.group3Options & (GROUP3OPT_2DENCODING | GROUP3OPT_FILLBITS)) == 0;
        case COMPRESSION_CCITTFAX4:
            return l.bitsPerSample == 1;
        case COMPRESSION_LZW:
            return lzw == LzwUse::Allowed && l.predictor == 1;
        default:
            return false;
    }
}

bool IsCcitt(std::uint16_t compression);

// Decodes every strip into one buffer prefilled with `fill`; false on any
// libtiff complaint or a total that is not the image's size.
bool DecodeStripsOnce(TIFF* tif, const TiffLayout& l, TiffFaults& faults, std::uint8_t fill,
                      std::vector<std::uint8_t>& out) {
    out.assign(l.imageBytes, fill);
    faults.any = false;
    std::size_t filled = 0;
    for (std::uint32_t s = 0; s < l.strips && filled < out.size(); ++s) {
        const tmsize_t n = TIFFReadEncodedStrip(tif, s, out.data() + filled,
                                                static_cast<tmsize_t>(out.size() - filled));
        if (n < 0 || faults.any) return false;
        filled += static_cast<std::size_t>(n);
    }
    return filled == out.size() && !faults.any;
}

bool DecodeStrips(TIFF* tif, const TiffLayout& l, TiffFaults& faults,
                  std::vector<std::uint8_t>& out) {
    if (l.compression == COMPRESSION_JPEG && l.photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    if (!DecodeStripsOnce(tif, l, faults, 0x00, out)) return false;
    if (!IsCcitt(l.compression)) return true;
    // libtiff's fax decoders stop quietly at the end of a cut strip and
    // leave the rows after it unwritten; a second decode over another fill
    // shows whether every row was written.
    std::vector<std::uint8_t> again;
    if (!DecodeStripsOnce(tif, l, faults, 0xFF, again)) return false;
    // The decoder never writes the pad bits after a row's last pixel, so
    // those bits keep each fill and are left out of the comparison.
    const std::uint64_t rowBits = std::uint64_t{l.width} * l.bitsPerSample * l.samplesPerPixel;
    const auto padMask =
        static_cast<std::uint8_t>(rowBits % 8 == 0 ? 0xFF : 0xFF << (8 - rowBits % 8));
    for (std::size_t row = 0; row < l.height; ++row) {
        const std::size_t at = row * l.rowBytes;
        const std::size_t last = at + l.rowBytes - 1;
        if (!std::equal(out.begin() + static_cast<std::ptrdiff_t>(at),
                        out.begin() + static_cast<std::ptrdiff_t>(last),
                        again.begin() + static_cast<std::ptrdiff_t>(at)) ||
            ((out[last] ^ again[last]) & padMask) != 0)
            return false;
        // What is re-encoded or compared later must not depend on the fill.
        out[last] &= padMask;
    }
    return true;
}

// The memory file the TIFF encoder writes into.
struct MemorySink {
    std::vector<std::uint8_t> data;
    std::uint64_t pos = 0;
};

tmsize_t SinkRead(thandle_t h, void* buf, tmsize_t size) {
    auto* sink = static_cast<MemorySink*>(h);
    if (size < 0 || sink->pos >= sink->data.size()) return 0;
    const std::size_t n =
        std::min<std::size_t>(static_cast<std::size_t>(size), sink->data.size() - sink->pos);
    std::memcpy(buf, sink->data.data() + sink->pos, n);
    sink->pos += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t SinkWrite(thandle_t h, void* buf, tmsize_t size) {
    auto* sink = static_cast<MemorySink*>(h);
    if (size < 0 || sink->pos + static_cast<std::uint64_t>(size) > 2 * kMaxBufferBytes) return -1;
    const std::size_t end = static_cast<std::size_t>(sink->pos) + static_cast<std::size_t>(size);
    if (end > sink->data.size()) sink->data.resize(end);
    std::memcpy(sink->data.data() + sink->pos, buf, static_cast<std::size_t>(size));
    sink->pos = end;
    return size;
}

toff_t SinkSeek(thandle_t h, toff_t offset, int whence) {
    auto* sink = static_cast<MemorySink*>(h);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR) base = sink->pos;
    if (whence == SEEK_END) base = sink->data.size();
    sink->pos = base + offset;
    return sink->pos;
}

int SinkClose(thandle_t) {
    return 0;
}
toff_t SinkSize(thandle_t h) {
    return static_cast<MemorySink*>(h)->data.size();
}
int SinkMap(thandle_t, void**, toff_t*) {
    return 0;
}
void SinkUnmap(thandle_t, void*, toff_t) {}

// Encodes the decoded image as one strip of `compression` and returns the
// strip's bytes (the encoder's file header and directory are not kept).
bool EncodeOneStrip(const TiffLayout& l, std::uint16_t compression,
                    std::vector<std::uint8_t>& pixels, std::vector<std::uint8_t>& out) {
    TiffFaults faults;
    OptionsPtr options = QuietOptions(faults);
    MemorySink sink;
    if (!options) return false;
    TiffPtr tif(TIFFClientOpenExt("KVXPdf strip", "w", &sink, SinkRead, SinkWrite, SinkSeek,
                                  SinkClose, SinkSize, SinkMap, SinkUnmap, options.get()));
    if (!tif) return false;
    const bool rgb = l.samplesPerPixel == 3;
    TIFFSetField(tif.get(), TIFFTAG_IMAGEWIDTH, l.width);
    TIFFSetField(tif.get(), TIFFTAG_IMAGELENGTH, l.height);
    TIFFSetField(tif.get(), TIFFTAG_BITSPERSAMPLE, l.bitsPerSample);
    TIFFSetField(tif.get(), TIFFTAG_COMPRESSION, compression);
    TIFFSetField(tif.get(), TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif.get(), TIFFTAG_ROWSPERSTRIP, l.height + 1);
    TIFFSetField(tif.get(), TIFFTAG_PHOTOMETRIC, rgb ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif.get(), TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
    TIFFSetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, l.samplesPerPixel);
    TIFFSetField(tif.get(), TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif.get(), TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif.get(), TIFFTAG_XRESOLUTION, 300.0f);
    TIFFSetField(tif.get(), TIFFTAG_YRESOLUTION, 300.0f);
    if (compression == COMPRESSION_CCITTFAX4) TIFFSetField(tif.get(), TIFFTAG_GROUP4OPTIONS, 0);
    if (TIFFWriteEncodedStrip(tif.get(), 0, pixels.data(), static_cast<tmsize_t>(pixels.size())) <
            0 ||
        faults.any)
        return false;
    std::uint64_t* offsets = nullptr;
    std::uint64_t* counts = nullptr;
    if (!TIFFGetField(tif.get(), TIFFTAG_STRIPOFFSETS, &offsets) ||
        !TIFFGetField(tif.get(), TIFFTAG_STRIPBYTECOUNTS, &counts) || offsets == nullptr ||
        counts == nullptr || counts[0] == 0 || offsets[0] > sink.data.size() ||
        counts[0] > sink.data.size() - offsets[0])
        return false;
    const auto begin = sink.data.begin() + static_cast<std::ptrdiff_t>(offsets[0]);
    out.assign(begin, begin + static_cast<std::ptrdiff_t>(counts[0]));
    return true;
}

bool Deflate(const std::vector<std::uint8_t>& in, std::vector<std::uint8_t>& out) {
    uLongf size = compressBound(static_cast<uLong>(in.size()));
    out.resize(size);
    if (compress2(out.data(), &size, in.data(), static_cast<uLong>(in.size()),
                  Z_DEFAULT_COMPRESSION) != Z_OK)
        return false;
    out.resize(size);
    return true;
}

PdfFilter FilterOf(std::uint16_t compression) {
    switch (compression) {
        case COMPRESSION_CCITTFAX3:
            return PdfFilter::CcittG3;
        case COMPRESSION_CCITTFAX4:
            return PdfFilter::CcittG4;
        case COMPRESSION_LZW:
            return PdfFilter::Lzw;
        default:
            return PdfFilter::None;
    }
}

bool LoadRaw(TIFF* tif, const TiffLayout& l, TiffFaults& faults, long long fileSize,
             PdfImageData& image) {
    std::uint64_t* counts = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts) || counts == nullptr ||
        counts[0] == 0 || counts[0] > static_cast<std::uint64_t>(fileSize))
        return false;
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(counts[0]));
    faults.any = false;
    if (TIFFReadRawStrip(tif, 0, raw.data(), static_cast<tmsize_t>(raw.size())) !=
            static_cast<tmsize_t>(raw.size()) ||
        faults.any)
        return false;
    std::vector<std::uint8_t> decoded;
    if (!DecodeStrips(tif, l, faults, decoded)) return false;
    if (l.compression == COMPRESSION_NONE) {
        // Readers take exactly rows x row bytes; extra bytes are dropped.
        if (raw.size() < l.imageBytes) return false;
        raw.resize(l.imageBytes);
    }
    image.bytes = std::move(raw);
    image.filter = FilterOf(l.compression);
    return true;
}

bool LoadReencoded(TIFF* tif, const TiffLayout& l, TiffFaults& faults, LzwUse lzw,
                   PdfImageData& image) {
    std::vector<std::uint8_t> pixels;
    if (!DecodeStrips(tif, l, faults, pixels)) return false;
    const bool ccitt = IsCcitt(l.compression) && l.bitsPerSample == 1;
    const bool keepLzw = l.compression == COMPRESSION_LZW && lzw == LzwUse::Allowed;
    if (ccitt || keepLzw) {
        // Held from before the sink is filled until its bytes are ours.
        const std::unique_ptr<platform::ProcessLock> lock =
            platform::ProcessLock::Open(kPdfLockName);
        const platform::ProcessLock::Hold hold =
            lock ? lock->Acquire(kPdfLockTimeoutMs) : platform::ProcessLock::Hold{};
        if (!EncodeOneStrip(l, l.compression, pixels, image.bytes)) return false;
        image.filter = FilterOf(l.compression);
        return true;
    }
    if (l.compression == COMPRESSION_NONE) {
        image.bytes = std::move(pixels);
        image.filter = PdfFilter::None;
        return true;
    }
    // LZW where PDF/A forbids it, and codings without a PDF filter.
    if (!Deflate(pixels, image.bytes)) return false;
    image.filter = PdfFilter::Flate;
    return true;
}

// The most bytes the stored strips can decode to. A directory may claim a
// page of a gigabyte over a few bytes of data; the decode buffer is only
// allocated when the data could fill it. Bounds per coding: CCITT codes at
// least one bit per row; PackBits gives 128 bytes for 2; deflate at most
// about 1032 for 1; LZW at most 4096 bytes per 9-bit code; JPEG two bits
// per 8 x 8 block of at most three samples; others count as LZW.
std::uint64_t MostDecodedBytes(TIFF* tif, const TiffLayout& l, long long fileSize) {
    std::uint64_t* counts = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts) || counts == nullptr) return 0;
    const auto size = static_cast<std::uint64_t>(fileSize);
    std::uint64_t coded = 0;
    for (std::uint32_t s = 0; s < l.strips && coded < size; ++s) coded += std::min(counts[s], size);
    coded = std::min(coded, size);
    switch (l.compression) {
        case COMPRESSION_NONE:
            return coded;
        case COMPRESSION_CCITTFAX3:
        case COMPRESSION_CCITTFAX4:
            return std::min<std::uint64_t>(coded * 8 + l.strips, l.height) * l.rowBytes;
        case COMPRESSION_PACKBITS:
            return coded * 64;
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE:
            return coded * 1040;
        case COMPRESSION_JPEG:
            return coded * 4 * 64 * 3;
        default:
            return coded * 4096;
    }
}

long long FileSizeOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<long long>(st.st_size);
}

TiffPtr OpenForReading(const std::string& path, TiffFaults& faults) {
    OptionsPtr options = QuietOptions(faults);
    if (!options) return nullptr;
    return TiffPtr(TIFFOpenExt(path.c_str(), "r", options.get()));
}

}  // namespace

std::optional<ImageGeometry> ReadTiffGeometry(const std::string& path) {
    TiffFaults faults;
    TiffPtr tif = OpenForReading(path, faults);
    std::uint32_t w = 0;
    std::uint32_t h = 0;
    if (!tif || !TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &w) ||
        !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &h) || w > 0x7FFFFFFF || h > 0x7FFFFFFF)
        return std::nullopt;
    return ImageGeometry{.width = static_cast<int>(w),
                         .height = static_cast<int>(h),
                         .dpiX = HorizontalDpi(tif.get())};
}

std::optional<PdfImageData> LoadTiffImage(const std::string& path, LzwUse lzw) {
    const long long fileSize = FileSizeOf(path);
    if (fileSize <= 0) return std::nullopt;
    TiffFaults faults;
    TiffPtr tif = OpenForReading(path, faults);
    TiffLayout layout;
    if (!tif || !ReadLayout(tif.get(), layout)) return std::nullopt;
    if (MostDecodedBytes(tif.get(), layout, fileSize) < layout.imageBytes) return std::nullopt;
    PdfImageData image;
    image.width = static_cast<int>(layout.width);
    image.height = static_cast<int>(layout.height);
    image.dpiX = layout.dpiX;
    image.bitsPerComponent = layout.bitsPerSample;
    image.rgb = layout.samplesPerPixel == 3;
    const bool ok = EmbeddableRaw(layout, lzw)
                        ? LoadRaw(tif.get(), layout, faults, fileSize, image)
                        : LoadReencoded(tif.get(), layout, faults, lzw, image);
    if (!ok) return std::nullopt;
    // CCITT codes carry the bits of the samples with 0 as the "white" run,
    // which a PDF reader draws white: a BlackIsZero file's runs of 0 are
    // black and need Decode [1 0]. Other data is samples, which a
    // WhiteIsZero file stores inverted.
    const bool ccitt = image.filter == PdfFilter::CcittG3 || image.filter == PdfFilter::CcittG4;
    image.invert = (layout.photometric == PHOTOMETRIC_MINISWHITE) != ccitt;
    return image;
}

}  // namespace kovran::imaging::pdf
