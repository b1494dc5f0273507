// TIFF reading (first page) and writing in the five compressions.
#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/codec/tiff_io.h"

namespace kovran::imaging::codec::detail {

namespace {

struct TiffLayout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t bits = 1;
    std::uint16_t samples = 1;
    std::uint16_t photometric = 0;
    bool hasPhotometric = false;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t compression = COMPRESSION_NONE;
    Resolution res;
};

std::optional<TiffLayout> ReadLayout(TIFF* t, std::string* error) {
    TiffLayout l;
    if (TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &l.width) != 1 ||
        TIFFGetField(t, TIFFTAG_IMAGELENGTH, &l.height) != 1)
        return Fail(error, "TIFF without its size");
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &l.bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &l.samples);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &l.planar);
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &l.compression);
    l.hasPhotometric = TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &l.photometric) == 1;
    float x = 0.0f;
    float y = 0.0f;
    std::uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(t, TIFFTAG_RESOLUTIONUNIT, &unit);
    const double scale = unit == RESUNIT_INCH ? 1.0 : unit == RESUNIT_CENTIMETER ? 2.54 : 0.0;
    if (TIFFGetField(t, TIFFTAG_XRESOLUTION, &x) == 1 && x > 0.0f && x < 1e6f) l.res.x = x * scale;
    if (TIFFGetField(t, TIFFTAG_YRESOLUTION, &y) == 1 && y > 0.0f && y < 1e6f) l.res.y = y * scale;
    if (!FitsBuffer(l.width, l.height, 1))
        return Fail(error, "TIFF of " + std::to_string(l.width) + " x " + std::to_string(l.height) +
                               " pixels");
    return l;
}

bool Grey(const TiffLayout& l) {
    return l.photometric == PHOTOMETRIC_MINISBLACK || l.photometric == PHOTOMETRIC_MINISWHITE;
}

// Striped, interleaved 1-bit or 8-bit grey or 8-bit RGB: read row by row.
std::optional<Picture> ReadScanlines(TiffHandle& h, const TiffLayout& l, Depth depth,
                                     std::string* error) {
    TIFF* t = h.Get();
    const int channels = Channels(depth);
    if (!FitsBuffer(l.width, l.height, channels)) return Fail(error, "TIFF too large");
    const tmsize_t lineBytes = TIFFScanlineSize(t);
    const auto need = (static_cast<std::size_t>(l.width) * l.bits * l.samples + 7) / 8;
    if (lineBytes <= 0 || static_cast<std::size_t>(lineBytes) < need)
        return Fail(error, "TIFF with inconsistent line size");
    std::vector<std::uint8_t> line(static_cast<std::size_t>(lineBytes));
    Picture out{
        ImageBuffer(static_cast<int>(l.width), static_cast<int>(l.height), channels, 0, l.res),
        depth};
    const bool white = l.photometric == PHOTOMETRIC_MINISWHITE;
    for (std::uint32_t y = 0; y < l.height; ++y) {
        if (TIFFReadScanline(t, line.data(), y, 0) < 0 || h.Failed())
            return Fail(error, h.Reason());
        std::uint8_t* dst = out.pixels.Row(static_cast<int>(y));
        if (depth == Depth::Bilevel) {
            UnpackBits(line.data(), static_cast<int>(l.width), dst, white ? 1 : 0);
        } else if (white) {
            for (std::uint32_t x = 0; x < l.width; ++x)
                dst[x] = static_cast<std::uint8_t>(255 - line[x]);
        } else {
            std::memcpy(dst, line.data(), static_cast<std::size_t>(l.width) * channels);
        }
    }
    return out;
}

// Any other layout libtiff can read, through its RGBA reader.
std::optional<Picture> ReadRgba(TiffHandle& h, const TiffLayout& l, std::string* error) {
    TIFF* t = h.Get();
    char why[1024] = {};
    if (TIFFRGBAImageOK(t, why) != 1) return Fail(error, std::string("TIFF: ") + why);
    if (!FitsBuffer(l.width, l.height, 4)) return Fail(error, "TIFF too large");
    std::vector<std::uint32_t> raster(static_cast<std::size_t>(l.width) * l.height);
    if (TIFFReadRGBAImageOriented(t, l.width, l.height, raster.data(), ORIENTATION_TOPLEFT, 0) !=
            1 ||
        h.Failed())
        return Fail(error, h.Reason());
    const bool allGrey = std::all_of(raster.begin(), raster.end(), [](std::uint32_t p) {
        return TIFFGetR(p) == TIFFGetG(p) && TIFFGetG(p) == TIFFGetB(p);
    });
    const bool blackWhite =
        allGrey && l.bits == 1 && std::all_of(raster.begin(), raster.end(), [](std::uint32_t p) {
            return TIFFGetR(p) == 0 || TIFFGetR(p) == 255;
        });
    const Depth depth = blackWhite ? Depth::Bilevel : allGrey ? Depth::Grey : Depth::Rgb;
    const int channels = Channels(depth);
    Picture out{
        ImageBuffer(static_cast<int>(l.width), static_cast<int>(l.height), channels, 0, l.res),
        depth};
    std::uint8_t* dst = out.pixels.Data();
    for (std::uint32_t p : raster) {
        *dst++ = static_cast<std::uint8_t>(TIFFGetR(p));
        if (channels == 3) {
            *dst++ = static_cast<std::uint8_t>(TIFFGetG(p));
            *dst++ = static_cast<std::uint8_t>(TIFFGetB(p));
        }
    }
    return out;
}

}  // namespace

std::optional<FileInfo> TiffInfo(File file, std::string* error) {
    TiffHandle h;
    if (!h.OpenRead(file, error)) return std::nullopt;
    const auto l = ReadLayout(h.Get(), error);
    if (!l) return std::nullopt;
    return FileInfo{static_cast<int>(l->width), static_cast<int>(l->height), l->res.x};
}

std::optional<Picture> DecodeTiff(File file, std::string* error) {
    TiffHandle h;
    if (!h.OpenRead(file, error)) return std::nullopt;
    TIFF* t = h.Get();
    auto l = ReadLayout(t, error);
    if (!l) return std::nullopt;
    // Uncompressed pixels lie in the file as they are: a file shorter than
    // its declared pixels is refused before their buffer is made.
    const auto declaredBits = static_cast<unsigned long long>(l->width) * l->height * l->bits *
                              std::max<std::uint16_t>(l->samples, 1);
    if (l->compression == COMPRESSION_NONE && declaredBits / 8 > file.size())
        return Fail(error, "TIFF declares more pixels than its file holds");
    if (l->hasPhotometric && l->photometric == PHOTOMETRIC_YCBCR &&
        l->compression == COMPRESSION_JPEG) {
        // libjpeg converts to RGB while it decodes.
        TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        l->photometric = PHOTOMETRIC_RGB;
    }
    const bool lines = l->hasPhotometric && TIFFIsTiled(t) == 0 && l->planar == PLANARCONFIG_CONTIG;
    if (lines && l->samples == 1 && Grey(*l) && (l->bits == 1 || l->bits == 8))
        return ReadScanlines(h, *l, l->bits == 1 ? Depth::Bilevel : Depth::Grey, error);
    if (lines && l->samples == 3 && l->bits == 8 && l->photometric == PHOTOMETRIC_RGB)
        return ReadScanlines(h, *l, Depth::Rgb, error);
    return ReadRgba(h, *l, error);
}

bool IsTiff(Format format) {
    return format == Format::TiffG3 || format == Format::TiffG4 || format == Format::TiffLzw ||
           format == Format::TiffNone || format == Format::TiffJpeg;
}

bool WriteTiffPage(TIFF* t, const Picture& picture, const EncodeOptions& options,
                   std::string* error) {
    if (!CheckPicture(picture, error)) return false;
    const bool ccitt = options.format == Format::TiffG3 || options.format == Format::TiffG4;
    const bool bilevel = picture.depth == Depth::Bilevel;
    if (ccitt && !bilevel) return Fail(error, "CCITT compression of a picture deeper than 1 bit");
    if (options.format == Format::TiffJpeg && bilevel)
        return Fail(error, "JPEG compression of a bilevel picture");
    if (options.format == Format::TiffJpeg && (options.quality < 1 || options.quality > 100))
        return Fail(error, "JPEG quality " + std::to_string(options.quality));

    const ImageBuffer& in = picture.pixels;
    const bool rgb = picture.depth == Depth::Rgb;
    std::uint16_t compression = COMPRESSION_NONE;
    switch (options.format) {
        case Format::TiffG3:
            compression = COMPRESSION_CCITTFAX3;
            break;
        case Format::TiffG4:
            compression = COMPRESSION_CCITTFAX4;
            break;
        case Format::TiffLzw:
            compression = COMPRESSION_LZW;
            break;
        case Format::TiffJpeg:
            compression = COMPRESSION_JPEG;
            break;
        default:
            break;
    }
    std::uint16_t photometric = bilevel ? PHOTOMETRIC_MINISWHITE
                                : rgb   ? PHOTOMETRIC_RGB
                                        : PHOTOMETRIC_MINISBLACK;
    if (compression == COMPRESSION_JPEG && rgb) photometric = PHOTOMETRIC_YCBCR;

    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(in.Width()));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(in.Height()));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<std::uint16_t>(bilevel ? 1 : 8));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<std::uint16_t>(rgb ? 3 : 1));
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
    if (compression == COMPRESSION_JPEG) {
        TIFFSetField(t, TIFFTAG_JPEGQUALITY, options.quality);
        if (rgb) TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    if (compression == COMPRESSION_LZW && !bilevel)
        TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (in.Res().x > 0.0 && in.Res().y > 0.0) {
        TIFFSetField(t, TIFFTAG_XRESOLUTION, static_cast<float>(in.Res().x));
        TIFFSetField(t, TIFFTAG_YRESOLUTION, static_cast<float>(in.Res().y));
        TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    }
    // CCITT data compresses best as one strip (each strip restarts the
    // coding); the other codecs take libtiff's strips of about 8 KB.
    const std::uint32_t rows =
        ccitt ? static_cast<std::uint32_t>(in.Height()) : TIFFDefaultStripSize(t, 0);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rows);

    // libtiff may change the row it is given (the predictor works in place),
    // so every row goes through a scratch line.
    const std::size_t lineBytes = bilevel ? (static_cast<std::size_t>(in.Width()) + 7) / 8
                                          : static_cast<std::size_t>(in.Stride());
    std::vector<std::uint8_t> line(lineBytes);
    for (int y = 0; y < in.Height(); ++y) {
        if (bilevel)
            PackBits(in.Row(y), in.Width(), line.data(), 1);
        else
            std::memcpy(line.data(), in.Row(y), lineBytes);
        if (TIFFWriteScanline(t, line.data(), static_cast<std::uint32_t>(y), 0) != 1)
            return Fail(error, "TIFF: cannot write line " + std::to_string(y));
    }
    if (TIFFWriteDirectory(t) != 1) return Fail(error, "TIFF: cannot write the directory");
    return true;
}

std::optional<Bytes> EncodeTiff(const Picture& picture, const EncodeOptions& options,
                                std::string* error) {
    if (!IsTiff(options.format)) return Fail(error, "not a TIFF format");
    Bytes out;
    {
        TiffHandle h;
        if (!h.OpenWrite(&out, error)) return std::nullopt;
        std::string why;
        if (!WriteTiffPage(h.Get(), picture, options, &why))
            return Fail(error, h.Failed() ? h.Reason() : why);
        if (!h.Close(error)) return std::nullopt;
    }
    return out;
}

}  // namespace kovran::imaging::codec::detail
