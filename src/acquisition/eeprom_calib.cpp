#include "acquisition/eeprom_calib.h"

#include <algorithm>

namespace kovran::acquisition {
namespace {

constexpr std::uint8_t kIndex300 = 3;
constexpr std::uint8_t kIndex600 = 6;
constexpr std::uint8_t kStructure = 1;
constexpr std::size_t kResolutionAt = 16;
constexpr std::size_t kSizeAt = 18;
constexpr int kRearSide = 0;
constexpr int kFrontSide = 1;

std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void Resample(const std::vector<std::uint8_t>& from, std::uint8_t* to, int toPixels) {
    const auto fromPixels = static_cast<long long>(from.size());
    for (int x = 0; x < toPixels; ++x)
        to[x] = from[static_cast<std::size_t>(x * fromPixels / toPixels)];
}

}  // namespace

std::uint8_t EepromResolutionIndex(int dpiH) {
    if (dpiH == 300) return kIndex300;
    if (dpiH == 600) return kIndex600;
    return 0;
}

std::size_t EepromDataSize(const EepromExpectation& e) {
    if (e.sides <= 0 || e.pixels <= 0) return 0;
    const std::size_t record = kEepromRecordHeaderBytes + 2 * static_cast<std::size_t>(e.pixels);
    return kEepromHeaderBytes + static_cast<std::size_t>(e.sides) * kEepromColours * record;
}

bool CheckEepromInfo(std::span<const std::uint8_t, kEepromBlockBytes> info,
                     const EepromExpectation& e, std::uint32_t* storedSize, std::string* error) {
    // The stored serial ends at its first NUL or at the field's end, never
    // beyond it.
    const auto serialEnd = std::find(info.begin(), info.begin() + kEepromSerialBytes, 0);
    const std::string stored(info.begin(), serialEnd);
    if (e.serial.empty() || stored != e.serial) {
        *error = "invalid EEPROM calibration data - sn";
        return false;
    }
    if (info[kResolutionAt] != e.resolutionIndex) {
        *error = "invalid EEPROM calibration data - dpi";
        return false;
    }
    *storedSize = Le32(info.data() + kSizeAt);
    const std::size_t expected = EepromDataSize(e);
    if (expected == 0 || *storedSize != expected) {
        *error = "invalid EEPROM calibration data - size";
        return false;
    }
    return true;
}

bool ParseEepromData(std::span<const std::uint8_t> data, const EepromExpectation& e,
                     std::vector<EepromSide>* sides, std::string* error) {
    const std::size_t expected = EepromDataSize(e);
    if (expected == 0 || data.size() < expected) {
        *error = "invalid data in calibration read";
        return false;
    }
    const std::uint8_t* h = data.data();
    const int sizeCol = Le16(h + 4);
    if (sizeCol != e.pixels) {
        *error = "invalid sizeCol in EEPROM";
        return false;
    }
    if (h[0] != kStructure || h[1] != e.sides || h[2] != kEepromColours) {
        *error = "invalid structure in calibration update";
        return false;
    }
    if (h[3] != e.resolutionIndex) {
        *error = "invalid dpi or color in calibration update";
        return false;
    }
    const auto pixels = static_cast<std::size_t>(sizeCol);
    std::vector<EepromSide> out(static_cast<std::size_t>(e.sides));
    std::size_t at = kEepromHeaderBytes;
    int sequence = 0;
    for (int s = 0; s < e.sides; ++s) {
        const int sideCode = e.sides == 1 || s == 1 ? kFrontSide : kRearSide;
        for (int c = 0; c < kEepromColours; ++c, ++sequence) {
            // The size was checked above, but each record is checked again
            // against what is left, so that no layout mistake reads beyond.
            if (data.size() - at < kEepromRecordHeaderBytes + 2 * pixels) {
                *error = "invalid data in calibration read";
                return false;
            }
            const std::uint8_t* r = data.data() + at;
            if (r[0] != sequence) {
                *error = "invalid sequence in calibration update";
                return false;
            }
            if (r[2] != c) {
                *error = "invalid color in calibration update";
                return false;
            }
            if (r[1] != sideCode || r[3] != e.resolutionIndex) {
                *error = "invalid dpi or color in calibration update";
                return false;
            }
            EepromSide& side = out[static_cast<std::size_t>(s)];
            const auto ci = static_cast<std::size_t>(c);
            side.level[ci] = Le16(r + 4);
            side.whiteLevel[ci] = r[6];
            side.blackLevel[ci] = r[7];
            const std::uint8_t* white = r + kEepromRecordHeaderBytes;
            side.white[ci].assign(white, white + pixels);
            side.black[ci].assign(white + pixels, white + 2 * pixels);
            at += kEepromRecordHeaderBytes + 2 * pixels;
        }
    }
    *sides = std::move(out);
    return true;
}

bool EepromToFileSides(const std::vector<EepromSide>& eeprom, const EepromTarget& target,
                       std::vector<BcfSide>* out, std::string* error) {
    if (target.channels != 1 && target.channels != kEepromColours) {
        *error = "invalid color in calibration update";
        return false;
    }
    if (eeprom.empty() || target.pixels <= 0 ||
        target.rear.size() != target.layout.sideBytes.size()) {
        *error = "invalid structure in calibration update";
        return false;
    }
    const auto filePixels = static_cast<std::size_t>(target.pixels);
    std::vector<BcfSide> sides;
    for (std::size_t i = 0; i < target.rear.size(); ++i) {
        const std::size_t bytes = target.layout.sideBytes[i];
        if (bytes != filePixels * static_cast<std::size_t>(target.channels)) {
            *error = "invalid dpi or color in calibration update";
            return false;
        }
        if (target.rear[i] && eeprom.size() < 2) {
            *error = "invalid structure in calibration update";
            return false;
        }
        const EepromSide& from = target.rear[i] ? eeprom.front() : eeprom.back();
        BcfSide side;
        side.white.assign(bytes, 0);
        side.black.assign(bytes, 0);
        for (int c = 0; c < target.channels; ++c) {
            const auto ci = static_cast<std::size_t>(c);
            if (from.white[ci].empty() || from.black[ci].size() != from.white[ci].size()) {
                *error = "memory color in calibration update";
                return false;
            }
            Resample(from.white[ci], side.white.data() + ci * filePixels, target.pixels);
            Resample(from.black[ci], side.black.data() + ci * filePixels, target.pixels);
            side.whiteLevel[ci] = from.whiteLevel[ci];
            side.blackLevel[ci] = from.blackLevel[ci];
        }
        // Grey runs on the red lamp's line; every lamp takes its level.
        for (std::size_t c = 0; c < kEepromColours; ++c)
            side.level[c] = from.level[target.channels == 1 ? 0 : c];
        sides.push_back(std::move(side));
    }
    *out = std::move(sides);
    return true;
}

}  // namespace kovran::acquisition
