// Rotation, flip, threshold and depth changes on tightly packed pictures.
#include <cstring>

#include "imaging/codec/codec.h"
#include "imaging/codec/codec_internal.h"

namespace kovran::imaging::codec {

namespace {

// ITU-R BT.601 luma in integers, rounded.
std::uint8_t Luma(const std::uint8_t* rgb) {
    return static_cast<std::uint8_t>((299 * rgb[0] + 587 * rgb[1] + 114 * rgb[2] + 500) / 1000);
}

Picture Like(const Picture& picture, int width, int height, Resolution res) {
    return {ImageBuffer(width, height, picture.pixels.Channels(), 0, res), picture.depth};
}

}  // namespace

Picture Rotate(const Picture& picture, Turn turn) {
    const ImageBuffer& in = picture.pixels;
    const int w = in.Width();
    const int h = in.Height();
    const int ch = in.Channels();
    const Resolution res = in.Res();
    switch (turn) {
        case Turn::None:
            return picture;
        case Turn::Half: {
            Picture out = Like(picture, w, h, res);
            for (int y = 0; y < h; ++y) {
                const std::uint8_t* src = in.Row(y);
                std::uint8_t* dst =
                    out.pixels.Row(h - 1 - y) + static_cast<std::ptrdiff_t>(w - 1) * ch;
                for (int x = 0; x < w; ++x, src += ch, dst -= ch) std::memcpy(dst, src, ch);
            }
            return out;
        }
        case Turn::Clockwise:
        case Turn::CounterClockwise: {
            // Output row r of a clockwise turn is input column r read bottom
            // to top; counter-clockwise reads column w-1-r top to bottom.
            Picture out = Like(picture, h, w, {res.y, res.x});
            const bool clockwise = turn == Turn::Clockwise;
            for (int y = 0; y < h; ++y) {
                const std::uint8_t* src = in.Row(y);
                const int outX = clockwise ? h - 1 - y : y;
                for (int x = 0; x < w; ++x, src += ch) {
                    const int outY = clockwise ? x : w - 1 - x;
                    std::memcpy(&out.pixels.At(outX, outY), src, ch);
                }
            }
            return out;
        }
    }
    return picture;
}

Picture FlipUpsideDown(const Picture& picture) {
    const ImageBuffer& in = picture.pixels;
    Picture out = Like(picture, in.Width(), in.Height(), in.Res());
    const auto row = static_cast<std::size_t>(in.Stride());
    for (int y = 0; y < in.Height(); ++y)
        if (row > 0) std::memcpy(out.pixels.Row(in.Height() - 1 - y), in.Row(y), row);
    return out;
}

Picture Threshold(const Picture& picture, int threshold) {
    const ImageBuffer& in = picture.pixels;
    Picture out{ImageBuffer(in.Width(), in.Height(), 1, 0, in.Res()), Depth::Bilevel};
    const int ch = in.Channels();
    for (int y = 0; y < in.Height(); ++y) {
        const std::uint8_t* src = in.Row(y);
        std::uint8_t* dst = out.pixels.Row(y);
        for (int x = 0; x < in.Width(); ++x, src += ch) {
            const int grey = ch >= 3 ? Luma(src) : src[0];
            dst[x] = grey < threshold ? 0 : 255;
        }
    }
    return out;
}

Picture ConvertDepth(const Picture& picture, Depth depth, int bilevelThreshold) {
    if (depth == picture.depth) return picture;
    if (depth == Depth::Bilevel) return Threshold(picture, bilevelThreshold);
    const ImageBuffer& in = picture.pixels;
    const int w = in.Width();
    const int inCh = in.Channels();
    Picture out{ImageBuffer(w, in.Height(), detail::Channels(depth), 0, in.Res()), depth};
    for (int y = 0; y < in.Height(); ++y) {
        const std::uint8_t* src = in.Row(y);
        std::uint8_t* dst = out.pixels.Row(y);
        if (depth == Depth::Grey) {
            // From Rgb, or from Bilevel whose samples are already 0 and 255.
            if (inCh >= 3)
                for (int x = 0; x < w; ++x)
                    dst[x] = Luma(src + static_cast<std::ptrdiff_t>(x) * inCh);
            else
                for (int x = 0; x < w; ++x) dst[x] = src[x] < detail::kBilevelSplit ? 0 : 255;
        } else {
            for (int x = 0; x < w; ++x) {
                const std::uint8_t v = picture.depth == Depth::Bilevel
                                           ? (src[x] < detail::kBilevelSplit ? 0 : 255)
                                           : src[x];
                dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = v;
            }
        }
    }
    return out;
}

}  // namespace kovran::imaging::codec
