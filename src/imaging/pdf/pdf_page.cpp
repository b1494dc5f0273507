// Pages of one image: the page sized from the image, the image embedded as
// an XObject and drawn over the page by its content stream.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "api/frame_state.h"
#include "api/log.h"
#include "imaging/codec/codec.h"
#include "imaging/pdf/pdf_document.h"
#include "imaging/pdf/pdf_image.h"

namespace kovran::imaging::pdf {

namespace {

// PDF/A-1 keeps names within the 127 bytes of the PDF 1.4 limits.
constexpr std::size_t kArchiveNameLimit = 127;
constexpr double kPi = 3.1415926535;

// "%.2f" without the locale: a host running under a locale with a decimal
// comma must still get PDF numbers.
void AppendFixed2(std::string& out, double value) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 2);
    out.append(buf, r.ptr);
}

void AppendMatrix(std::string& out, const double (&m)[6]) {
    for (int i = 0; i < 6; ++i) {
        if (i > 0) out += ' ';
        AppendFixed2(out, m[i]);
    }
    out += " cm\n";
}

const char* FilterName(PdfFilter f) {
    switch (f) {
        case PdfFilter::Dct:
            return "DCTDecode";
        case PdfFilter::CcittG3:
        case PdfFilter::CcittG4:
            return "CCITTFaxDecode";
        case PdfFilter::Lzw:
            return "LZWDecode";
        case PdfFilter::Flate:
            return "FlateDecode";
        case PdfFilter::None:
            break;
    }
    return nullptr;
}

void DescribeJpeg(PdfDictionary& d, const PdfImageData& image) {
    d.SetName("Filter", "DCTDecode");
    d.SetInteger("BitsPerComponent", image.bitsPerComponent);
    d.SetName("ColorSpace", image.rgb ? "DeviceRGB" : "DeviceGray");
    d.SetInteger("Width", image.width);
    d.SetInteger("Height", image.height);
}

void DescribeTiff(PdfDictionary& d, const PdfImageData& image) {
    d.SetInteger("BitsPerComponent", image.bitsPerComponent);
    d.SetName("ColorSpace", image.rgb ? "DeviceRGB" : "DeviceGray");
    if (const char* filter = FilterName(image.filter)) d.SetName("Filter", filter);
    if (image.filter == PdfFilter::CcittG3 || image.filter == PdfFilter::Lzw)
        d.SetInteger("DecodeParms/K", 0);
    if (image.filter == PdfFilter::CcittG4) d.SetInteger("DecodeParms/K", -1);
    d.SetInteger("DecodeParms/Columns", image.width);
    d.SetInteger("DecodeParms/Rows", image.height);
    d.SetInteger("Width", image.width);
    d.SetInteger("Height", image.height);
    if (image.invert) d.SetRaw("Decode", "[1 0]");
}

std::optional<PdfImageData> LoadImage(const std::string& imageFile, PdfImageKind kind,
                                      bool archive) {
    if (kind == PdfImageKind::Jpeg) return LoadJpegImage(imageFile);
    return LoadTiffImage(imageFile, archive ? LzwUse::Forbidden : LzwUse::Allowed);
}

void PlaceLoaded(PdfDocument& document, PdfPage& page, const PdfBox& box,
                 const std::string& imageFile, PdfImageKind kind, PdfImageData image) {
    PdfObject& object = document.NewObject(page.page);
    const std::string name = ImageResourceName(imageFile, document.options.archive);
    page.page->dictionary.SetReference("Resources/XObject/" + name, object.number);
    PdfDictionary& d = object.dictionary;
    d.SetName("Type", "XObject");
    d.SetName("Subtype", "Image");
    d.SetName("Name", name);
    if (kind == PdfImageKind::Jpeg)
        DescribeJpeg(d, image);
    else
        DescribeTiff(d, image);
    object.streamBytes = std::move(image.bytes);

    // The system always places upright; the angle stays in the matrix.
    const double angle = 0.0 * kPi / 180.0;
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    std::string& text = page.content->streamText;
    text += "q\n\n";
    AppendMatrix(text, {c, s, -s, c, box.left, page.height - box.bottom});
    AppendMatrix(text, {box.right - box.left, 0, 0, box.bottom - box.top, 0, 0});
    text += "/" + name + " Do\n";
    text += "Q\n\n";
}

bool IsTiffFormat(int kind) {
    return kind == 1 || kind == 2 || kind == 3 || kind == 5 || kind == 6;
}

std::optional<ImageGeometry> ReadAnyGeometry(const std::string& imageFile) {
    const std::optional<codec::FileInfo> info = codec::ReadFileInfo(imageFile);
    if (!info) return std::nullopt;
    return ImageGeometry{.width = info->width, .height = info->height, .dpiX = info->dpiX};
}

}  // namespace

std::string MediaBoxFor(int width, int height, int dpi) {
    const std::int64_t r = dpi < 1 ? 1 : dpi;
    std::int64_t w = std::int64_t{width} * 72 / r;
    std::int64_t h = std::int64_t{height} * 72 / r;
    const std::int64_t g = std::max({std::int64_t{100}, w * 100 / 841, h * 100 / 841});
    if (g > 100) {
        w = w * 100 / g;
        h = h * 100 / g;
    }
    if (w > 593) w = 594;
    if (h > 840) h = 841;
    char box[64];
    std::snprintf(box, sizeof box, "[0 0 %03lld %03lld]", static_cast<long long>(w),
                  static_cast<long long>(h));
    return box;
}

std::string ImageResourceName(const std::string& imageFile, bool archive) {
    std::string plain = imageFile;
    for (char& c : plain)
        if (c == '\\' || c == ':' || c == '/' || c == ' ') c = '_';
    std::string name = EscapeName(plain);
    if (!archive) return name;
    std::size_t drop = 0;
    while (name.size() > kArchiveNameLimit && drop < plain.size())
        name = EscapeName(std::string_view(plain).substr(++drop));
    return name;
}

bool PdfPlaceImage(PdfDocument& document, PdfPage& page, const PdfBox& box,
                   const std::string& imageFile, PdfImageKind kind) {
    std::optional<PdfImageData> image = LoadImage(imageFile, kind, document.options.archive);
    if (!image) return false;
    PlaceLoaded(document, page, box, imageFile, kind, std::move(*image));
    return true;
}

int PdfAddImagePage(PdfDocument& document, const char* imageFile, int format) {
    if (imageFile == nullptr) {
        LogPairValue("err - ", "pdf with null filename", format);
        SetLastResult(KVX_ERR_INV_PARAMETER);
        return kPdfPageFailed;
    }
    const int kind = format & 0xF;
    const bool placeable = kind == 0 || IsTiffFormat(kind);
    const PdfImageKind imageKind = kind == 0 ? PdfImageKind::Jpeg : PdfImageKind::Tiff;
    // The image is read whole before the page exists: a file that cannot be
    // embedded leaves the document as it was.
    std::optional<PdfImageData> image;
    std::optional<ImageGeometry> geometry;
    if (placeable) {
        image = LoadImage(imageFile, imageKind, document.options.archive);
        if (image) geometry = ImageGeometry{image->width, image->height, image->dpiX};
    } else {
        geometry = ReadAnyGeometry(imageFile);
    }
    if (!geometry || geometry->width <= 0 || geometry->height <= 0) {
        LogPairValue("err - ", "pdf with invalid filename", format);
        SetLastResult(KVX_ERR_INV_PARAMETER);
        return kPdfPageFailed;
    }
    // Files state resolutions as rationals (TIFF) or per centimetre; the
    // nearest whole dpi keeps 300 dpi from becoming 299.
    const int dpi = static_cast<int>(std::lround(std::clamp(geometry->dpiX, 0.0, 1e6)));
    PdfPage page = PdfNewPage(document, MediaBoxFor(geometry->width, geometry->height, dpi));
    if (!placeable) {
        LogPairValue("err - ", "pdf with invalid image format", format);
        SetLastResult(KVX_ERR_INV_PARAMETER);
        return kPdfPageFailed;
    }
    const PdfBox box{.top = 0,
                     .left = 0,
                     .bottom = static_cast<double>(page.height),
                     .right = static_cast<double>(page.width)};
    PlaceLoaded(document, page, box, imageFile, imageKind, std::move(*image));
    return kPdfPageAdded;
}

}  // namespace kovran::imaging::pdf
