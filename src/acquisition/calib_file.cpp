#include "acquisition/calib_file.h"

#include <algorithm>
#include <cstdio>

#include "api/config_dir.h"

namespace kovran::acquisition {
namespace {

constexpr std::int32_t kColourModeBias = 16;
constexpr std::uint16_t kRearOffBit = 512;
constexpr std::size_t kLongestSerial = 15;
constexpr std::size_t kLongestDirectoryAndSerial = 255;
constexpr std::uint16_t kFirstFirmwareWithVersionInName = 0x3001;
constexpr char kNoSerialName[] = "vclb";
constexpr int kLowestThreshold = 20;
constexpr int kDarkBlackMargin = 100;
constexpr int kDarkBlackLimit = 200;
constexpr int kEdgeExtraPixels = 8;
constexpr int kDustRun = 2;  // more dark pixels in a row than this are dust

std::string Format(const char* format, const std::string& a, unsigned b, unsigned c) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, b, c);
    return a + buffer;
}

// Repairs a dark white reference from the pixel's own black.
struct Repair {
    int mb = 0;
    int delta = 0;
    bool eeprom = false;
    void operator()(std::uint8_t& white, std::uint8_t& black) const {
        if (eeprom) black = static_cast<std::uint8_t>(mb);
        white = static_cast<std::uint8_t>(std::min(255, int{black} + delta));
    }
};

// Counts dark pixels in a row; true once the run is dust.
struct RunCounter {
    int run = 0;
    bool dust = false;
    void Dark() {
        if (++run > kDustRun) dust = true;
    }
    void Bright() { run = 0; }
};

}  // namespace

std::uint16_t CalibrationModeCode(const ModeCodeInputs& in) {
    const int c2 = in.cmc7Strip ? in.stripVariant : 0;
    const int c1 = in.cmc7Strip && in.stripVariant == 0 ? 1 : 0;
    int code = in.infrared ? 1 : 0;
    code = code * 2 + c1;
    code = code * 2 + c2;
    code = code * 2 + (in.highSpeed ? 1 : 0);
    code = code * 2 + (in.backlight ? 1 : 0);
    code = code * 2 + (in.ultraviolet ? 1 : 0);
    code = (code * 64 + in.colourMode + kColourModeBias) * 16 + in.typeDoc;
    if (in.rearOff && in.rearSwitchable) code += kRearOffBit;
    return static_cast<std::uint16_t>(code);
}

std::string CalibrationFilePrefix(std::uint16_t pid, const std::string& serial) {
    if (serial.empty()) return kNoSerialName;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "pid_0x%04x_sn_", pid);
    return buffer +
           (serial.size() > kLongestSerial ? std::string(kNoSerialName) : FileNamePart(serial));
}

std::string CalibrationFileName(const FileNameInputs& in, bool* badSerial, bool* badDirectory) {
    *badSerial = in.serial.size() > kLongestSerial;
    std::string serial = *badSerial ? std::string(kNoSerialName) : FileNamePart(in.serial);
    std::string name;
    if (in.serial.empty())
        name = kNoSerialName;
    else if (in.naming == CalibrationNaming::New)
        name = CalibrationFilePrefix(in.pid, in.serial);
    else
        name = serial;
    if (in.firmware < kFirstFirmwareWithVersionInName) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "_%04x", in.mode);
        name += buffer;
    } else if (in.naming == CalibrationNaming::New) {
        name = Format("_fw_0x%04x_%04x", name, in.firmware, in.mode);
    } else {
        name = Format("_%04x_%04x", name, in.mode, in.firmware);
    }
    if (in.infrared) name += "_ir";
    if (in.ultraviolet) name += "_uv";
    name += ".bcf";
    *badDirectory = in.directory.size() + in.serial.size() >= kLongestDirectoryAndSerial;
    if (in.directory.empty() || *badDirectory) return name;
    return in.directory + "/" + name;
}

std::size_t BcfSize(const BcfLayout& layout) {
    if (layout.levels != 3 && layout.levels != 5) return 0;
    std::size_t total = 0;
    const auto n = static_cast<std::size_t>(layout.levels);
    for (std::uint16_t bytes : layout.sideBytes) total += n * 2 + n + bytes + n + bytes;
    return total;
}

bool ParseBcf(std::span<const std::uint8_t> bytes, const BcfLayout& layout,
              std::vector<BcfSide>* sides, std::string* error) {
    const std::size_t expected = BcfSize(layout);
    if (expected == 0) {
        *error = "no sides to read";
        return false;
    }
    if (bytes.empty()) {
        *error = "empty: the calibration of this mode failed";
        return false;
    }
    if (bytes.size() != expected) {
        *error = bytes.size() < expected ? "file too short" : "trailing bytes";
        return false;
    }
    const auto n = static_cast<std::size_t>(layout.levels);
    std::vector<BcfSide> out(layout.sideBytes.size());
    std::size_t at = 0;
    // Every read below stays inside: the length matched the layout above.
    for (std::size_t s = 0; s < out.size(); ++s) {
        BcfSide& side = out[s];
        const std::size_t length = layout.sideBytes[s];
        for (std::size_t i = 0; i < n; ++i, at += 2)
            side.level[i] = static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
        for (std::size_t i = 0; i < n; ++i) side.whiteLevel[i] = bytes[at++];
        side.white.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                          bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
        for (std::size_t i = 0; i < n; ++i) side.blackLevel[i] = bytes[at++];
        side.black.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                          bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
    }
    *sides = std::move(out);
    return true;
}

std::vector<std::uint8_t> SerializeBcf(const BcfLayout& layout, const std::vector<BcfSide>& sides) {
    std::vector<std::uint8_t> out;
    out.reserve(BcfSize(layout));
    const auto n = static_cast<std::size_t>(layout.levels);
    const BcfSide empty;
    auto put = [&out](const std::vector<std::uint8_t>& reference, std::size_t length) {
        for (std::size_t i = 0; i < length; ++i)
            out.push_back(i < reference.size() ? reference[i] : 0);
    };
    for (std::size_t s = 0; s < layout.sideBytes.size(); ++s) {
        const BcfSide& side = s < sides.size() ? sides[s] : empty;
        for (std::size_t i = 0; i < n; ++i) {
            out.push_back(static_cast<std::uint8_t>(side.level[i] & 0xFF));
            out.push_back(static_cast<std::uint8_t>(side.level[i] >> 8));
        }
        for (std::size_t i = 0; i < n; ++i) out.push_back(side.whiteLevel[i]);
        put(side.white, layout.sideBytes[s]);
        for (std::size_t i = 0; i < n; ++i) out.push_back(side.blackLevel[i]);
        put(side.black, layout.sideBytes[s]);
    }
    return out;
}

ShapeOutcome ShapeReferences(const ShapeInputs& in, std::span<const std::uint8_t> whiteLevel,
                             std::span<const std::uint8_t> blackLevel,
                             std::vector<std::uint8_t>& white, std::vector<std::uint8_t>& black,
                             bool* deltaReplaced) {
    *deltaReplaced = false;
    const int pixels = in.pixels;
    const int left = std::clamp(in.left, 0, pixels);
    const int right = std::clamp(in.right, left, pixels);
    int d = in.dpiH;
    if (right - left < d) {
        d = (right - left) / 4;
        *deltaReplaced = true;
    }
    if (in.channels <= 0 || left + d >= right - d) return ShapeOutcome::Unusable;
    const std::size_t needed =
        static_cast<std::size_t>(pixels) * static_cast<std::size_t>(in.channels);
    if (white.size() < needed || black.size() < needed) return ShapeOutcome::Unusable;
    bool dust = false;
    for (int c = 0; c < in.channels; ++c) {
        const auto ci = static_cast<std::size_t>(c);
        const int wl = ci < whiteLevel.size() ? whiteLevel[ci] : 255;
        const int bl = ci < blackLevel.size() ? blackLevel[ci] : 0;
        std::uint8_t* w = white.data() + ci * static_cast<std::size_t>(pixels);
        std::uint8_t* b = black.data() + ci * static_cast<std::size_t>(pixels);
        const int t = std::max(kLowestThreshold, (bl + 2 * wl) / 3 - bl);
        long sumW = 0;
        long sumB = 0;
        long count = 0;
        for (int x = left + d; x < right - d; ++x) {
            if (w[x] > b[x] + t) {
                sumW += w[x];
                sumB += b[x];
                ++count;
            }
        }
        // A sheet with no bright pixel at all keeps the side's levels.
        int mb = count > 0 ? static_cast<int>(sumB / count) : bl;
        int mw = count > 0 ? static_cast<int>(sumW / count) : wl;
        if (mw < t) mw = std::max(wl, mb + t);
        mb = std::clamp(mb, 0, 255);
        mw = std::clamp(mw, 0, 255);
        const int delta = mw - mb;
        const int half = delta / 2;
        const int edge = half * 3 / 2;
        const Repair repair{.mb = mb, .delta = delta, .eeprom = in.eeprom};

        for (int x = 0; x < pixels; ++x) {
            if (b[x] > mb + kDarkBlackMargin || b[x] > kDarkBlackLimit)
                b[x] = static_cast<std::uint8_t>(mb);
        }
        for (int x = 0; x < left; ++x) {
            w[x] = static_cast<std::uint8_t>(mw);
            b[x] = static_cast<std::uint8_t>(mb);
        }
        // Dark pixels are repaired; a run of them is dust.
        auto darkPixels = [&](int x, int to, int step) {
            RunCounter runs;
            for (; x != to; x += step) {
                if (w[x] < b[x] + half) {
                    repair(w[x], b[x]);
                    runs.Dark();
                } else {
                    runs.Bright();
                }
            }
            dust = dust || runs.dust;
        };
        // One inch next to an image border: the dim edge first, a few
        // pixels beyond it, then dark pixels as in the inner range.
        auto inch = [&](int from, int to, int step) {
            int x = from;
            while (x != to && w[x] < b[x] + edge) {
                repair(w[x], b[x]);
                x += step;
            }
            for (int extra = 0; extra < kEdgeExtraPixels && x != to; ++extra, x += step)
                repair(w[x], b[x]);
            darkPixels(x, to, step);
        };
        inch(left, left + d, 1);
        darkPixels(left + d, std::max(left + d, right - d), 1);
        inch(right - 1, right - d - 1, -1);
        for (int x = right; x < pixels; ++x) {
            w[x] = static_cast<std::uint8_t>(mw);
            b[x] = static_cast<std::uint8_t>(mb);
        }
    }
    return dust ? ShapeOutcome::Dust : ShapeOutcome::Clean;
}

}  // namespace kovran::acquisition
