// The calibration file's name, its exact layout and the shaping of the
// references it holds.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "acquisition/calib_file.h"

namespace kovran::acquisition {
namespace {

TEST(CalibrationModeCode, FollowsTheSettingsBitByBit) {
    // Colour, document type 1, both sides, no options: ((2 + 16) x 16) + 1.
    EXPECT_EQ(CalibrationModeCode({.colourMode = 2, .typeDoc = 1}), 0x0121);
    EXPECT_EQ(CalibrationModeCode({.colourMode = 1}), (1 + 16) * 16);
    // The rear switched off counts only where the rear can be switched.
    EXPECT_EQ(CalibrationModeCode({.colourMode = 2, .typeDoc = 1, .rearOff = true}), 0x0121 + 512);
    EXPECT_EQ(CalibrationModeCode(
                  {.colourMode = 2, .typeDoc = 1, .rearOff = true, .rearSwitchable = false}),
              0x0121);
    // Ultraviolet is the lowest option bit, infrared the highest.
    EXPECT_EQ(CalibrationModeCode({.ultraviolet = true, .colourMode = 1}), (64 + 17) * 16);
    EXPECT_EQ(CalibrationModeCode({.backlight = true, .colourMode = 1}), (128 + 17) * 16);
    EXPECT_EQ(CalibrationModeCode({.highSpeed = true, .colourMode = 1}), (256 + 17) * 16);
    EXPECT_EQ(CalibrationModeCode({.infrared = true, .colourMode = 1}) & 0xFFFF,
              ((32 * 64 + 17) * 16) & 0xFFFF);
    // A strip without a variant sets c1; with one, c2 carries it.
    EXPECT_EQ(CalibrationModeCode({.cmc7Strip = true, .colourMode = 1}), (1024 + 17) * 16 & 0xFFFF);
    EXPECT_EQ(CalibrationModeCode({.cmc7Strip = true, .stripVariant = 1, .colourMode = 1}),
              (512 + 17) * 16);
}

TEST(CalibrationFileName, NamesTheDeviceTheFirmwareAndTheMode) {
    bool badSerial = true;
    bool badDirectory = true;
    FileNameInputs in{
        .directory = "/cfg", .pid = 3, .serial = "300123", .firmware = 0x5012, .mode = 0x0121};
    EXPECT_EQ(CalibrationFileName(in, &badSerial, &badDirectory),
              "/cfg/pid_0x0003_sn_300123_fw_0x5012_0121.bcf");
    EXPECT_FALSE(badSerial);
    EXPECT_FALSE(badDirectory);
    in.naming = CalibrationNaming::Old;
    EXPECT_EQ(CalibrationFileName(in, &badSerial, &badDirectory), "/cfg/300123_0121_5012.bcf");
    in.naming = CalibrationNaming::New;
    in.firmware = 0x2201;
    in.infrared = true;
    in.ultraviolet = true;
    EXPECT_EQ(CalibrationFileName(in, &badSerial, &badDirectory),
              "/cfg/pid_0x0003_sn_300123_0121_ir_uv.bcf");
}

TEST(CalibrationFileName, ADeviceWithoutAUsableSerialNumberUsesVclb) {
    bool badSerial = false;
    bool badDirectory = false;
    FileNameInputs in{.directory = "", .pid = 3, .serial = "", .firmware = 0x5012, .mode = 0x0110};
    EXPECT_EQ(CalibrationFileName(in, &badSerial, &badDirectory), "vclb_fw_0x5012_0110.bcf");
    in.serial = "0123456789abcdef";  // 16 characters
    EXPECT_EQ(CalibrationFileName(in, &badSerial, &badDirectory),
              "pid_0x0003_sn_vclb_fw_0x5012_0110.bcf");
    EXPECT_TRUE(badSerial);
    in.serial = "1";
    in.directory = std::string(254, 'd');
    EXPECT_EQ(CalibrationFileName(in, &badSerial, &badDirectory),
              "pid_0x0003_sn_1_fw_0x5012_0110.bcf");
    EXPECT_TRUE(badDirectory);
}

TEST(CalibrationFileName, ASerialNumberCannotLeadTheFileOutOfItsDirectory) {
    bool badSerial = true;
    bool badDirectory = true;
    FileNameInputs in{.directory = "/cfg",
                      .pid = 3,
                      .serial = "../../etc/x\n",
                      .firmware = 0x5012,
                      .mode = 0x0110,
                      .naming = CalibrationNaming::Old};
    EXPECT_EQ(CalibrationFileName(in, &badSerial, &badDirectory),
              "/cfg/.._.._etc_x__0110_5012.bcf");
    EXPECT_FALSE(badSerial);
    in.naming = CalibrationNaming::New;
    in.serial = "a\\b/c";
    EXPECT_EQ(CalibrationFileName(in, &badSerial, &badDirectory),
              "/cfg/pid_0x0003_sn_a_b_c_fw_0x5012_0110.bcf");
}

BcfSide Side(std::size_t bytes, std::uint8_t seed) {
    BcfSide s;
    s.level = {40, 41, 42, 0, 0};
    s.whiteLevel = {230, 231, 232, 0, 0};
    s.blackLevel = {4, 5, 6, 0, 0};
    s.white.resize(bytes);
    s.black.resize(bytes);
    for (std::size_t i = 0; i < bytes; ++i) {
        s.white[i] = static_cast<std::uint8_t>(200 + (i + seed) % 50);
        s.black[i] = static_cast<std::uint8_t>((i * 7 + seed) % 9);
    }
    return s;
}

TEST(BcfFile, ReadsBackWhatWasWrittenAndRefusesAnyOtherLength) {
    const BcfLayout layout{.levels = 3, .sideBytes = {30, 30, 10}};
    const std::vector<BcfSide> sides{Side(30, 1), Side(30, 2), Side(10, 3)};
    const std::vector<std::uint8_t> bytes = SerializeBcf(layout, sides);
    ASSERT_EQ(bytes.size(), BcfSize(layout));
    EXPECT_EQ(bytes.size(), 3 * (6 + 3 + 3) + 2 * (30 + 30 + 10));
    // Lamp levels little-endian first, then the white levels.
    EXPECT_EQ(bytes[0], 40);
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(bytes[6], 230);

    std::vector<BcfSide> read;
    std::string error;
    ASSERT_TRUE(ParseBcf(bytes, layout, &read, &error)) << error;
    ASSERT_EQ(read.size(), 3u);
    for (std::size_t s = 0; s < 3; ++s) {
        EXPECT_EQ(read[s].white, sides[s].white);
        EXPECT_EQ(read[s].black, sides[s].black);
        EXPECT_EQ(read[s].level[2], 42);
        EXPECT_EQ(read[s].blackLevel[1], 5);
    }

    std::vector<std::uint8_t> longer = bytes;
    longer.push_back(0);
    EXPECT_FALSE(ParseBcf(longer, layout, &read, &error));
    EXPECT_EQ(error, "trailing bytes");
    const std::vector<std::uint8_t> shorter(bytes.begin(), bytes.end() - 1);
    EXPECT_FALSE(ParseBcf(shorter, layout, &read, &error));
    EXPECT_FALSE(ParseBcf({}, layout, &read, &error));
    // The file of another mode (five levels) is another length.
    EXPECT_FALSE(ParseBcf(bytes, {.levels = 5, .sideBytes = {30, 30, 10}}, &read, &error));
    EXPECT_FALSE(ParseBcf(bytes, {.levels = 4, .sideBytes = {30, 30, 10}}, &read, &error));
}

// A sheet seen as white 240 over black 5 on every pixel of 4 inches at 10
// dpi (40 pixels), with some pixels made dark.
struct Sheet {
    std::vector<std::uint8_t> white = std::vector<std::uint8_t>(40, 240);
    std::vector<std::uint8_t> black = std::vector<std::uint8_t>(40, 5);
    bool deltaReplaced = false;
    ShapeOutcome Shape(int left = 0, int right = 40) {
        const std::uint8_t wl[1] = {240};
        const std::uint8_t bl[1] = {5};
        return ShapeReferences(
            {.channels = 1, .pixels = 40, .left = left, .right = right, .dpiH = 10}, wl, bl, white,
            black, &deltaReplaced);
    }
};

TEST(ReferenceShaping, RepairsIsolatedDarkPixelsAndFindsDustInRuns) {
    Sheet isolated;
    isolated.white[15] = 60;
    isolated.white[20] = 60;
    isolated.white[21] = 60;
    EXPECT_EQ(isolated.Shape(), ShapeOutcome::Clean);
    EXPECT_EQ(isolated.white[15], 240);
    EXPECT_EQ(isolated.white[21], 240);

    Sheet dust;
    dust.white[20] = dust.white[21] = dust.white[22] = 60;
    EXPECT_EQ(dust.Shape(), ShapeOutcome::Dust);
    EXPECT_EQ(dust.white[22], 240);

    // A black reference lit up by something is put back to the mean.
    Sheet bright;
    bright.black[17] = 150;
    EXPECT_EQ(bright.Shape(), ShapeOutcome::Clean);
    EXPECT_EQ(bright.black[17], 5);
}

TEST(ReferenceShaping, TheSheetsEdgeIsRepairedWithoutCountingAsDust) {
    Sheet edge;
    // The sheet starts at pixel 4: the sensor sees the background before.
    for (int x = 0; x < 4; ++x) edge.white[static_cast<std::size_t>(x)] = 20;
    EXPECT_EQ(edge.Shape(), ShapeOutcome::Clean);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(edge.white[static_cast<std::size_t>(x)], 240) << x;

    // Outside the image: the sheet's mean.
    Sheet margins;
    margins.white[1] = 90;
    margins.white[38] = 90;
    EXPECT_EQ(margins.Shape(3, 37), ShapeOutcome::Clean);
    EXPECT_EQ(margins.white[1], 240);
    EXPECT_EQ(margins.white[38], 240);

    // An image narrower than an inch keeps a quarter of its width clear.
    Sheet narrow;
    EXPECT_EQ(narrow.Shape(10, 19), ShapeOutcome::Clean);
    EXPECT_TRUE(narrow.deltaReplaced);
    Sheet empty;
    EXPECT_EQ(empty.Shape(10, 10), ShapeOutcome::Unusable);
    // An image of two inches exactly leaves no inner range.
    Sheet twoInches;
    EXPECT_EQ(twoInches.Shape(10, 30), ShapeOutcome::Unusable);
}

}  // namespace
}  // namespace kovran::acquisition
