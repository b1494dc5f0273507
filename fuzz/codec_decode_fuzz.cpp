// Fuzz target for the image decoders of the codec layer (JPEG, TIFF, PNG,
// BMP by signature): any bytes must either be refused or give a picture
// that describes its own buffer; a small picture must survive a lossless
// round trip through PNG and BMP.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "imaging/codec/codec.h"

namespace codec = kovran::imaging::codec;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

void RoundTrip(const codec::Picture& p, codec::Format format) {
    const auto bytes = codec::Encode(p, {.format = format});
    Check(bytes.has_value());
    const auto back = codec::Decode(*bytes);
    Check(back.has_value() && back->depth == p.depth && back->pixels.Width() == p.pixels.Width() &&
          back->pixels.Height() == p.pixels.Height() &&
          std::memcmp(back->pixels.Data(), p.pixels.Data(), p.pixels.Bytes()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string why;
    const auto picture = codec::Decode(std::span(data, size), &why);
    if (!picture) {
        Check(!why.empty());
        return 0;
    }
    const auto& px = picture->pixels;
    Check(!px.Empty());
    Check(px.Channels() == (picture->depth == codec::Depth::Rgb ? 3 : 1));
    Check(px.Bytes() == static_cast<std::size_t>(px.Width()) * px.Height() * px.Channels());
    if (static_cast<long long>(px.Width()) * px.Height() <= 256 * 256) {
        RoundTrip(*picture, codec::Format::Png);
        RoundTrip(*picture, codec::Format::Bmp);
    }
    return 0;
}
