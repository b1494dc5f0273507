#include "imaging/output/encode_image.h"

#include "api/log.h"
#include "api/settings.h"
#include "imaging/codec/codec.h"

namespace kovran::imaging::output {

namespace {

codec::Turn TurnOf(int rotation) {
    switch (rotation) {
        case 0x100:
            return codec::Turn::Clockwise;
        case 0x200:
            return codec::Turn::Half;
        case 0x300:
            return codec::Turn::CounterClockwise;
        default:
            return codec::Turn::None;
    }
}

// The depth the format and the request leave the picture at.
codec::Picture ToDepth(codec::Picture picture, const EncodeParams& params) {
    using codec::Depth;
    const bool ccitt = params.format == kFormatTiffG3 || params.format == kFormatTiffG4;
    const bool jpeg = params.format == kFormatJpeg || params.format == kFormatTiffJpeg;
    int bits = params.bitsPerPixel;
    if (ccitt) bits = 1;
    if (bits == 1) {
        if (picture.depth != Depth::Bilevel) return codec::Threshold(picture, params.threshold);
        return picture;
    }
    if (bits == 8 && picture.depth != Depth::Grey)
        return codec::ConvertDepth(picture, Depth::Grey, params.threshold);
    if (bits == 24 && picture.depth != Depth::Rgb)
        return codec::ConvertDepth(picture, Depth::Rgb, params.threshold);
    if (jpeg && picture.depth == Depth::Bilevel)
        return codec::ConvertDepth(picture, Depth::Grey, params.threshold);
    return picture;
}

}  // namespace

int BilevelThreshold() {
    const int t = Settings().scan.bwThreshold;
    return t > 0 ? t : 128;
}

std::optional<Bytes> EncodeImage(std::span<const std::uint8_t> bitmap, const EncodeParams& params) {
    std::optional<codec::Picture> decoded = codec::Decode(bitmap);
    if (!decoded) {
        LogPair("err - ", "error encoding image");
        return std::nullopt;
    }
    return EncodePicture(std::move(*decoded), params);
}

std::optional<Bytes> EncodePicture(codec::Picture picture, const EncodeParams& params) {
    if (const codec::Turn turn = TurnOf(params.rotation); turn != codec::Turn::None)
        picture = codec::Rotate(picture, turn);
    if (params.flip) picture = codec::FlipUpsideDown(picture);
    picture = ToDepth(std::move(picture), params);
    const bool quarter = params.rotation == 0x100 || params.rotation == 0x300;
    const double x = quarter ? params.dpiV : params.dpiH;
    const double y = quarter ? params.dpiH : params.dpiV;
    picture.pixels.SetResolution({x, y});
    codec::EncodeOptions options;
    options.format = static_cast<codec::Format>(params.format);
    options.quality = params.quality;
    options.bmpOrder =
        params.order == ByteOrder::Rgb ? codec::ChannelOrder::Rgb : codec::ChannelOrder::Bgr;
    return codec::Encode(picture, options);
}

}  // namespace kovran::imaging::output
