// A 300 dpi grey cheque front drawn for the encoding benchmarks: paper with
// a faint texture and a printed band, a frame, ruled lines, rows of
// text-like strokes with soft edges and a codeline, about 2100 x 900 pixels
// (7 x 3 inches). Deterministic: every run encodes the same picture.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>

#include "imaging/codec/codec.h"

namespace kovran::bench {

inline imaging::codec::Picture ChequeFront(int width = 2100, int height = 900) {
    using imaging::codec::Depth;
    imaging::codec::Picture p{imaging::ImageBuffer(width, height, 1, 0, {300, 300}), Depth::Grey};
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> noise(-4, 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            // Paper, with a lighter printed band across the top third.
            const int base = y < height / 3 ? 214 + (x / 30) % 8 : 226;
            p.pixels.At(x, y) = static_cast<std::uint8_t>(base + noise(rng));
        }
    const auto ink = [&p, width, height](int x0, int y0, int w, int h, int level) {
        for (int y = std::max(0, y0); y < std::min(height, y0 + h); ++y)
            for (int x = std::max(0, x0); x < std::min(width, x0 + w); ++x) {
                // Soft edges: the outermost pixels take half the ink.
                const bool edge = x == x0 || y == y0 || x == x0 + w - 1 || y == y0 + h - 1;
                std::uint8_t& px = p.pixels.At(x, y);
                const int v = edge ? (px + level) / 2 : level;
                px = static_cast<std::uint8_t>(std::min<int>(px, v));
            }
    };
    // Frame and ruled lines (payee, amount in words, signature).
    ink(20, 20, width - 40, 4, 60);
    ink(20, height - 24, width - 40, 4, 60);
    ink(20, 20, 4, height - 40, 60);
    ink(width - 24, 20, 4, height - 40, 60);
    for (int line : {330, 450, 570}) ink(120, line, width - 700, 3, 70);
    ink(width - 520, 300, 420, 70, 120);  // the amount box
    // Text: words of strokes, 30 to 40 pixels high, in rows.
    std::uniform_int_distribution<int> strokeKind(0, 3);
    std::uniform_int_distribution<int> wordLength(3, 9);
    const int rows[] = {60, 120, 280, 400, 520, 640};
    for (int row : rows) {
        int x = 120;
        while (x < width - 600) {
            const int letters = wordLength(rng);
            for (int i = 0; i < letters; ++i, x += 22) {
                switch (strokeKind(rng)) {
                    case 0:  // a stem
                        ink(x, row, 4, 32, 40);
                        break;
                    case 1:  // a bowl
                        ink(x, row + 10, 16, 4, 40);
                        ink(x, row + 28, 16, 4, 40);
                        ink(x, row + 10, 4, 22, 40);
                        ink(x + 12, row + 10, 4, 22, 40);
                        break;
                    case 2:  // a cross
                        ink(x + 6, row, 4, 32, 40);
                        ink(x, row + 14, 16, 4, 40);
                        break;
                    default:  // an ascender with a foot
                        ink(x, row - 6, 4, 38, 40);
                        ink(x, row + 28, 14, 4, 40);
                        break;
                }
            }
            x += 30;
        }
    }
    // The codeline: heavy characters along the bottom.
    for (int x = 150; x < width - 300; x += 38) {
        ink(x, height - 120, 8, 44, 20);
        ink(x + 8, height - 120 + (x / 38) % 3 * 12, 12, 10, 20);
    }
    return p;
}

}  // namespace kovran::bench
