// Small pictures for the codec tests, and files written for the reference
// decoders.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

#include "imaging/codec/codec.h"

namespace kovran::imaging::codec::test {

// A smooth ramp (grey, colour) or a pattern of dots (bilevel): lossless
// codecs must give it back exactly, JPEG closely.
inline Picture Pattern(int w, int h, Depth depth, Resolution res = {300, 300}) {
    const int ch = depth == Depth::Rgb ? 3 : 1;
    Picture p{ImageBuffer(w, h, ch, 0, res), depth};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < ch; ++c)
                p.pixels.At(x, y, c) =
                    depth == Depth::Bilevel
                        ? ((x / 3 + y / 2) % 3 == 0 ? 0 : 255)
                        : static_cast<std::uint8_t>(std::min(255, x * 2 + y * 2 + c * 30));
    return p;
}

inline Bytes MustEncode(const Picture& p, const EncodeOptions& o) {
    std::string why;
    auto bytes = Encode(p, o, &why);
    EXPECT_TRUE(bytes.has_value()) << why;
    return bytes.value_or(Bytes{});
}

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// Largest difference of two pictures of the same size.
inline int MaxDifference(const ImageBuffer& a, const ImageBuffer& b) {
    int most = 0;
    for (std::size_t i = 0; i < a.Bytes() && i < b.Bytes(); ++i)
        most = std::max(most, std::abs(a.Data()[i] - b.Data()[i]));
    return most;
}

}  // namespace kovran::imaging::codec::test
