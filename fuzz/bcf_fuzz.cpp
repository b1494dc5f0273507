// The calibration file reader on arbitrary bytes: the first byte picks the
// layout (levels, sides and their lengths), the rest is the file. Whatever
// the reader accepts must write back to the same bytes, and the shaping of
// what it read must stay inside the references.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "acquisition/calib_file.h"

using namespace kovran::acquisition;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::uint8_t pick = data[0];
    const int channels = 1 + (pick >> 6) % 3;
    const int pixels = 8 + ((data[1] | (data[2] << 8)) % 120);
    BcfLayout layout;
    layout.levels = (pick & 1) != 0 ? 5 : (pick & 2) != 0 ? 3 : 4;
    const int sides = 1 + (pick >> 2) % 3;
    for (int s = 0; s < sides; ++s)
        layout.sideBytes.push_back(static_cast<std::uint16_t>(s == 2 ? pixels : pixels * channels));
    const std::span<const std::uint8_t> file(data + 3, size - 3);
    std::vector<BcfSide> read;
    std::string error;
    if (!ParseBcf(file, layout, &read, &error)) return 0;
    const std::vector<std::uint8_t> again = SerializeBcf(layout, read);
    if (again.size() != file.size() || !std::equal(again.begin(), again.end(), file.begin()))
        std::abort();
    for (std::size_t s = 0; s < read.size(); ++s) {
        BcfSide& side = read[s];
        const int c = s == 2 ? 1 : channels;
        bool replaced = false;
        const std::size_t before = side.white.size();
        ShapeReferences({.channels = c,
                         .pixels = pixels,
                         .left = pick % 7,
                         .right = pixels - (pick >> 4) % 5,
                         .dpiH = 1 + (pick >> 3) % 40},
                        side.whiteLevel, side.blackLevel, side.white, side.black, &replaced);
        if (side.white.size() != before || side.black.size() != before) std::abort();
    }
    return 0;
}
