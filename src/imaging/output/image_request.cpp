#include "imaging/output/image_request.h"

#include "api/log.h"
#include "api/settings.h"

namespace kovran::imaging::output {

namespace {

KVXResult Refuse(const char* text) {
    LogPair("err - ", text);
    return KVX_ERR_INV_PARAMETER;
}

bool DepthOf(int bits, std::initializer_list<int> allowed) {
    for (int a : allowed)
        if (bits == a) return true;
    return false;
}

}  // namespace

bool IsJpegFormat(int format) {
    return format == kFormatJpeg || format == kFormatTiffJpeg || format == kFormatPdfJpeg;
}

bool IsPdfFormat(int format) {
    return format == kFormatPdfJpeg || format == kFormatPdfTiff;
}

ImageRequest FromRequestWord(std::int16_t word, std::int16_t value) {
    const auto w = static_cast<std::uint16_t>(word);
    ImageRequest r;
    r.format = w & 0x0F;
    r.rotation = (w & kRotationAuto) != 0 ? kRotationAuto : (w & 0x300);
    r.flip = (w & kFlipBit) != 0;
    r.order = (w & kRgbBit) != 0 ? ByteOrder::Rgb : ByteOrder::Bgr;
    if (IsJpegFormat(r.format))
        r.quality = value;
    else
        r.bitsPerPixel = value;
    return r;
}

std::int16_t RequestWord(int format, int rotation) {
    return static_cast<std::int16_t>((format & 0x0F) | (rotation & 0x700));
}

KVXResult ValidateRequest(const ImageRequest& request, Destination destination) {
    const int bits = request.bitsPerPixel;
    if (request.channel != 0) {
        const std::int32_t colour = Settings().scan.color;
        const bool infrared = request.channel == kChannelInfrared;
        const bool enabled = infrared ? (colour & 0x08) != 0 : (colour & 0x10) != 0;
        if (request.channel != kChannelInfrared && request.channel != kChannelUltraviolet)
            return Refuse("Image Elaboration - invalid image format");
        if (!enabled)
            return Refuse(infrared ? "Image Elaboration - IR not enabled"
                                   : "Image Elaboration - UV not enabled");
        if (bits == 24)
            return Refuse(infrared ? "Image Elaboration - IR with invalid bpp"
                                   : "Image Elaboration - UV with invalid bpp");
    }
    switch (request.format) {
        case kFormatJpeg:
        case kFormatTiffJpeg:
        case kFormatPdfJpeg: {
            const bool automatic =
                request.format != kFormatTiffJpeg && request.quality == kAutoQuality;
            if (!automatic && (request.quality < 1 || request.quality > 100))
                return Refuse("Image Elaboration - JPEG with invalid quality");
            if (bits == 1) return Refuse("Image Elaboration - JPEG with B&W depth");
            break;
        }
        case kFormatTiffG3:
        case kFormatTiffG4:
            if (!DepthOf(bits, {0, 1})) return Refuse("Image Elaboration -  with TIF invalid bpp");
            break;
        case kFormatTiffLzw:
            if (!DepthOf(bits, {0, 1, 8, 24}))
                return Refuse("Image Elaboration - LZW with invalid bpp");
            break;
        case kFormatBmp:
            if (!DepthOf(bits, {0, 1, 8, 24}))
                return Refuse("Image Elaboration - BMP with invalid bpp");
            break;
        case kFormatTiff:
            if (!DepthOf(bits, {0, 1, 8, 24}))
                return Refuse("Image Elaboration - with TIF invalid bpp");
            break;
        case kFormatPng:
            break;
        case kFormatPdfTiff:
            // The page is a group 3 TIFF at 1 bit, LZW otherwise.
            if (!DepthOf(bits, {0, 1, 8, 24}))
                return Refuse("Image Elaboration - LZW with invalid bpp");
            break;
        default:
            return Refuse("Image Elaboration - invalid image format");
    }
    if (IsPdfFormat(request.format) && destination == Destination::Memory)
        return Refuse("Image Elaboration - invalid image format");
    return KVX_OK;
}

}  // namespace kovran::imaging::output
