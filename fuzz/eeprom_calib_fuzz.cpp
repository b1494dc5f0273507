// The EEPROM calibration reader on arbitrary bytes: the first byte picks
// what the device should hold (sides, resolution, a small sensor), the
// next 64 are the information block, the rest the data. Whatever the
// reader accepts must have every reference at the expected length, and
// the file sides made from it must fit their layout.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "acquisition/eeprom_calib.h"

using namespace kovran::acquisition;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 + kEepromBlockBytes) return 0;
    const std::uint8_t pick = data[0];
    EepromExpectation expect{.serial = "FUZZ01",
                             .resolutionIndex = static_cast<std::uint8_t>((pick & 1) ? 6 : 3),
                             .sides = (pick & 2) ? 2 : 1,
                             .pixels = 1 + data[1] % 64};
    const std::span<const std::uint8_t, kEepromBlockBytes> info(data + 2, kEepromBlockBytes);
    std::uint32_t stored = 0;
    std::string error;
    const bool infoOk = CheckEepromInfo(info, expect, &stored, &error);
    if (infoOk && stored != EepromDataSize(expect)) std::abort();

    const std::span<const std::uint8_t> rest(data + 2 + kEepromBlockBytes,
                                             size - 2 - kEepromBlockBytes);
    std::vector<EepromSide> sides;
    if (!ParseEepromData(rest, expect, &sides, &error)) return 0;
    if (sides.size() != static_cast<std::size_t>(expect.sides)) std::abort();
    for (const EepromSide& side : sides)
        for (int c = 0; c < kEepromColours; ++c)
            if (side.white[c].size() != static_cast<std::size_t>(expect.pixels) ||
                side.black[c].size() != static_cast<std::size_t>(expect.pixels))
                std::abort();

    const int channels = (pick & 4) ? 3 : 1;
    const int pixels = 1 + (pick >> 3) % 32;
    EepromTarget target{.channels = channels,
                        .pixels = pixels,
                        .layout = {.levels = 3, .sideBytes = {}},
                        .rear = {}};
    const bool withRear = (pick & 0x80) != 0;
    if (withRear) {
        target.layout.sideBytes.push_back(static_cast<std::uint16_t>(pixels * channels));
        target.rear.push_back(true);
    }
    target.layout.sideBytes.push_back(static_cast<std::uint16_t>(pixels * channels));
    target.rear.push_back(false);
    std::vector<BcfSide> file;
    if (!EepromToFileSides(sides, target, &file, &error)) {
        if (!withRear || expect.sides == 2) std::abort();
        return 0;
    }
    if (file.size() != target.rear.size()) std::abort();
    for (std::size_t s = 0; s < file.size(); ++s)
        if (file[s].white.size() != target.layout.sideBytes[s] ||
            file[s].black.size() != target.layout.sideBytes[s])
            std::abort();
    return 0;
}
