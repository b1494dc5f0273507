// The device's EEPROM copy of its calibration as the library reads it: the
// simulator's blocks (made from its sensor model) are taken whole, and
// every damaged length, field or order is refused with its reason instead
// of being read beyond the bytes there are.
#include "acquisition/eeprom_calib.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "sim/device_profile.h"
#include "sim/eeprom_calibration.h"

namespace kovran::test {
namespace {

using acquisition::BcfSide;
using acquisition::CheckEepromInfo;
using acquisition::EepromExpectation;
using acquisition::EepromSide;
using acquisition::EepromTarget;
using acquisition::kEepromBlockBytes;
using acquisition::ParseEepromData;

constexpr int kPixels300 = 2592;
constexpr std::size_t kRecord = 8 + 2 * kPixels300;

sim::DeviceProfile EepromDevice() {
    sim::DeviceProfile p;
    p.serial = "123456";
    p.configWord = sim::kConfigRear;
    p.eepromCalibration = true;
    return p;
}

EepromExpectation Expect300() {
    return {.serial = "123456", .resolutionIndex = 3, .sides = 2, .pixels = kPixels300};
}

std::span<const std::uint8_t, kEepromBlockBytes> Info(const std::vector<std::uint8_t>& image) {
    return std::span<const std::uint8_t, kEepromBlockBytes>(image.data(), kEepromBlockBytes);
}

std::vector<std::uint8_t> Data(const std::vector<std::uint8_t>& image) {
    return {image.begin() + kEepromBlockBytes, image.end()};
}

std::string InfoError(const std::vector<std::uint8_t>& image, const EepromExpectation& e,
                      std::uint32_t* stored = nullptr) {
    std::uint32_t size = 0;
    std::string error;
    if (CheckEepromInfo(Info(image), e, &size, &error)) return "";
    if (stored) *stored = size;
    return error;
}

std::string DataError(const std::vector<std::uint8_t>& data, const EepromExpectation& e) {
    std::vector<EepromSide> sides;
    std::string error;
    return ParseEepromData(data, e, &sides, &error) ? "" : error;
}

TEST(EepromCalibration, TheDevicesBlockIsReadWholeAndMatchesItsSensor) {
    const auto image = sim::EepromCalibrationImage(EepromDevice(), 3);
    ASSERT_EQ(InfoError(image, Expect300()), "");
    std::vector<EepromSide> sides;
    std::string error;
    ASSERT_TRUE(ParseEepromData(Data(image), Expect300(), &sides, &error)) << error;
    ASSERT_EQ(sides.size(), 2u);
    for (const EepromSide& side : sides) {
        for (int c = 0; c < 3; ++c) {
            ASSERT_EQ(side.white[c].size(), static_cast<std::size_t>(kPixels300));
            EXPECT_EQ(side.level[c], 63);
            // A white sheet on a gain of 0.85 to 1 and a dark of 0 to 8.
            EXPECT_GT(side.whiteLevel[c], 200);
            EXPECT_LT(side.blackLevel[c], 10);
        }
    }
    // The front's first red pixel as the record carries it: after the
    // header, the three rear records and the front red record's header.
    const std::size_t frontRed = 8 + 3 * kRecord + 8;
    EXPECT_EQ(sides[1].white[0][0], Data(image)[frontRed]);
    EXPECT_EQ(sides[1].black[0][0], Data(image)[frontRed + kPixels300]);

    // Grey takes the red line; the file's pixels are those of the mode.
    EepromTarget grey{.channels = 1,
                      .pixels = 1296,
                      .layout = {.levels = 3, .sideBytes = {1296}},
                      .rear = {false}};
    std::vector<BcfSide> file;
    ASSERT_TRUE(acquisition::EepromToFileSides(sides, grey, &file, &error)) << error;
    ASSERT_EQ(file.size(), 1u);
    EXPECT_EQ(file[0].white[1], sides[1].white[0][2]);
    EXPECT_EQ(file[0].level[2], 63);
}

TEST(EepromCalibration, TheInformationBlockMustNameThisDeviceResolutionAndSize) {
    const auto image = sim::EepromCalibrationImage(EepromDevice(), 3);
    EepromExpectation other = Expect300();
    other.serial = "123457";
    EXPECT_EQ(InfoError(image, other), "invalid EEPROM calibration data - sn");
    // A serial that fills the whole field, with no end, is compared within it.
    other.serial = std::string(16, '1');
    auto full = image;
    std::fill_n(full.begin(), 16, '1');
    EXPECT_EQ(InfoError(full, other), "");
    other.serial = std::string(17, '1');
    EXPECT_EQ(InfoError(full, other), "invalid EEPROM calibration data - sn");
    // A blank EEPROM and a device without serial number.
    EXPECT_EQ(InfoError(std::vector<std::uint8_t>(64, 0xFF), Expect300()),
              "invalid EEPROM calibration data - sn");
    other = Expect300();
    other.serial.clear();
    EXPECT_EQ(InfoError(std::vector<std::uint8_t>(64, 0), other),
              "invalid EEPROM calibration data - sn");

    other = Expect300();
    other.resolutionIndex = 6;
    EXPECT_EQ(InfoError(image, other), "invalid EEPROM calibration data - dpi");

    // A size claiming more (or less) than this device's sensor gives.
    for (std::uint32_t bad : {0u, 1u, 31153u, 31159u, 0xFFFFFFFFu}) {
        sim::DeviceProfile p = EepromDevice();
        p.eepromCalibrationSize = bad;
        std::uint32_t stored = 0;
        EXPECT_EQ(InfoError(sim::EepromCalibrationImage(p, 3), Expect300(), &stored),
                  "invalid EEPROM calibration data - size")
            << bad;
        EXPECT_EQ(stored, bad);
    }
    // A device without a rear sensor keeps one side.
    sim::DeviceProfile front = EepromDevice();
    front.configWord = 0;
    EepromExpectation one = Expect300();
    one.sides = 1;
    EXPECT_EQ(InfoError(sim::EepromCalibrationImage(front, 3), one), "");
    EXPECT_EQ(InfoError(sim::EepromCalibrationImage(front, 3), Expect300()),
              "invalid EEPROM calibration data - size");
}

TEST(EepromCalibration, ShortOrDamagedDataIsRefusedWithItsReason) {
    const auto data = Data(sim::EepromCalibrationImage(EepromDevice(), 3));
    const std::size_t size = acquisition::EepromDataSize(Expect300());
    ASSERT_EQ(size, 8 + 6 * kRecord);
    ASSERT_GE(data.size(), size);
    EXPECT_EQ(DataError(data, Expect300()), "");

    // Every length short of the whole, down to nothing.
    for (std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{8},
                            std::size_t{16}, kRecord, size - 1}) {
        EXPECT_EQ(
            DataError({data.begin(), data.begin() + static_cast<std::ptrdiff_t>(cut)}, Expect300()),
            "invalid data in calibration read")
            << cut;
    }
    auto damaged = [&](std::size_t at, std::uint8_t value) {
        auto d = data;
        d[at] = value;
        return DataError(d, Expect300());
    };
    // sizeCol claiming more pixels than the records hold, or none.
    EXPECT_EQ(damaged(5, 0xFF), "invalid sizeCol in EEPROM");
    EXPECT_EQ(damaged(4, 0), "invalid sizeCol in EEPROM");
    EXPECT_EQ(damaged(0, 2), "invalid structure in calibration update");
    EXPECT_EQ(damaged(1, 3), "invalid structure in calibration update");
    EXPECT_EQ(damaged(2, 5), "invalid structure in calibration update");
    EXPECT_EQ(damaged(3, 6), "invalid dpi or color in calibration update");
    // The second record: sequence, side, colour, resolution.
    const std::size_t second = 8 + kRecord;
    EXPECT_EQ(damaged(second, 7), "invalid sequence in calibration update");
    EXPECT_EQ(damaged(second + 1, 1), "invalid dpi or color in calibration update");
    EXPECT_EQ(damaged(second + 2, 4), "invalid color in calibration update");
    EXPECT_EQ(damaged(second + 3, 6), "invalid dpi or color in calibration update");

    // An expectation of no pixels or no sides reads nothing.
    EepromExpectation none = Expect300();
    none.pixels = 0;
    EXPECT_EQ(DataError(data, none), "invalid data in calibration read");
    none = Expect300();
    none.sides = 0;
    EXPECT_EQ(DataError(data, none), "invalid data in calibration read");
}

TEST(EepromCalibration, ModesTheEepromCannotServeAreRefused) {
    const auto data = Data(sim::EepromCalibrationImage(EepromDevice(), 3));
    std::vector<EepromSide> sides;
    std::string error;
    ASSERT_TRUE(ParseEepromData(data, Expect300(), &sides, &error));
    std::vector<BcfSide> file;
    // Infrared beside the colours: four channels.
    EepromTarget ir{
        .channels = 4, .pixels = 100, .layout = {.levels = 5, .sideBytes = {400}}, .rear = {false}};
    EXPECT_FALSE(acquisition::EepromToFileSides(sides, ir, &file, &error));
    EXPECT_EQ(error, "invalid color in calibration update");
    // A rear wanted from a device that keeps the front only.
    EepromTarget rear{
        .channels = 3, .pixels = 100, .layout = {.levels = 3, .sideBytes = {300}}, .rear = {true}};
    const std::vector<EepromSide> frontOnly{sides[1]};
    EXPECT_FALSE(acquisition::EepromToFileSides(frontOnly, rear, &file, &error));
    EXPECT_EQ(error, "invalid structure in calibration update");
    // Side bytes that do not fit the channels.
    EepromTarget odd{
        .channels = 3, .pixels = 100, .layout = {.levels = 3, .sideBytes = {299}}, .rear = {false}};
    EXPECT_FALSE(acquisition::EepromToFileSides(sides, odd, &file, &error));
    EXPECT_EQ(error, "invalid dpi or color in calibration update");
    // The sides and their description disagree.
    EepromTarget uneven{.channels = 3,
                        .pixels = 100,
                        .layout = {.levels = 3, .sideBytes = {300}},
                        .rear = {false, false}};
    EXPECT_FALSE(acquisition::EepromToFileSides(sides, uneven, &file, &error));
}

}  // namespace
}  // namespace kovran::test
