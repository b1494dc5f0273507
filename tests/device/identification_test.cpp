// The identification rules against their tables: the firmware digits, the
// configuration block of each family, the firmware from which each
// configuration bit counts, the model and serial exceptions, the MICR head
// block, the sensor option byte, the feature flags and the handle.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "device/identification.h"

namespace kovran::device {
namespace {

DeviceFacts Facts(std::uint16_t fw, std::uint16_t pid = 3, std::int32_t serialLow = 123456,
                  bool highSpeed = true) {
    return {.pid = pid,
            .firmware = fw,
            .serialHigh = 0,
            .serialLow = serialLow,
            .highSpeed = highSpeed};
}

DeviceCapabilities Configured(const DeviceFacts& facts, std::uint32_t word, std::uint16_t word2 = 0,
                              AdfIni adf = AdfIni::Enabled) {
    DeviceCapabilities caps;
    ApplyConfiguration(facts, {.word = word, .word2 = word2, .cisVoltage = 12}, adf, &caps);
    return caps;
}

TEST(FirmwareDigits, FourNibblesMostSignificantFirstWithBit15Apart) {
    const std::uint8_t plain[] = {0x02, 5, 0, 1, 2};
    const std::uint8_t flagged[] = {0x02, 0xA, 2, 0, 7};
    ASSERT_TRUE(FirmwareFromDigits(plain, 5));
    EXPECT_EQ(FirmwareFromDigits(plain, 5)->version, 0x5012);
    EXPECT_FALSE(FirmwareFromDigits(plain, 5)->flag15);
    EXPECT_EQ(FirmwareFromDigits(flagged, 5)->version, 0x2207);
    EXPECT_TRUE(FirmwareFromDigits(flagged, 5)->flag15);
    EXPECT_FALSE(FirmwareFromDigits(plain, 4));
    EXPECT_FALSE(FirmwareFromDigits(nullptr, 5));
}

TEST(ConfigurationBlock, EachFamilyHasItsLengthAndLayout) {
    struct Row {
        std::uint16_t fw;
        unsigned length;
        std::uint32_t word;
        std::uint16_t word2;
        std::uint8_t cis;
    };
    const std::uint8_t block[8] = {0x01, 0x82, 0x0C, 0x79, 0x05, 0x0A, 0x30, 0x00};
    const Row rows[] = {
        {0x1005, 2, 0x82, 0, 12},          {0x1FFF, 2, 0x82, 0, 12},
        {0x2000, 2, 0x82, 0, 5},           {0x200F, 2, 0x82, 0, 5},
        {0x2010, 3, 0x82, 0, 0x0C},        {0x2FFF, 3, 0x82, 0, 0x0C},
        {0x3000, 4, 0x7982, 0, 0x0C},      {0x3106, 4, 0x7982, 0, 0x0C},
        {0x3107, 8, 0x7982, 0, 0x0C},      {0x3FFF, 8, 0x7982, 0, 0x0C},
        {0x4000, 8, 0x0A057982, 0x30, 12}, {0x5012, 8, 0x0A057982, 0x30, 12},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.fw);
        EXPECT_EQ(ConfigurationBlockLength(r.fw), r.length);
        const ConfigurationWords w = DecodeConfigurationBlock(r.fw, block, r.length);
        EXPECT_EQ(w.word, r.word);
        EXPECT_EQ(w.word2, r.word2);
        EXPECT_EQ(w.cisVoltage, r.cis);
    }
    EXPECT_EQ(DecodeConfigurationBlock(0x5012, block, 4).word, 0u) << "a short block is no word";
}

TEST(ConfigurationBits, EachBitCountsFromItsFirmware) {
    struct Row {
        int bit;
        std::uint16_t fw;
        std::uint16_t pid;
        bool applies;
    };
    const Row rows[] = {
        {1, 0x1005, 3, true},    {4, 0x1005, 3, true},   {6, 0x2001, 3, true},
        {7, 0x1006, 3, false},   {7, 0x1007, 3, true},   {7, 0x1FFF, 3, false},
        {7, 0x2000, 3, true},    {2, 0x2FFF, 3, false},  {2, 0x3000, 3, true},
        {8, 0x2FFF, 3, false},   {8, 0x3000, 3, true},   {12, 0x3006, 3, false},
        {12, 0x3007, 3, true},   {14, 0x3103, 3, false}, {14, 0x3104, 3, true},
        {16, 0x4004, 3, false},  {16, 0x4005, 3, true},  {17, 0x3FFF, 3, false},
        {17, 0x4000, 3, true},   {18, 0x4004, 3, false}, {18, 0x4005, 3, true},
        {19, 0x4005, 3, false},  {19, 0x4006, 3, true},  {19, 0x500F, 3, true},
        {19, 0x5010, 3, false},  {20, 0x4009, 3, false}, {20, 0x400A, 3, true},
        {22, 0x5000, 3, false},  {22, 0x5001, 3, true},  {24, 0x5009, 3, false},
        {24, 0x500A, 3, true},   {31, 0x500A, 3, true},  {25, 0x4010, 3, false},
        {25, 0x4011, 3, true},   {27, 0x5002, 3, false}, {27, 0x5003, 3, true},
        {29, 0x5003, 3, false},  {29, 0x5004, 3, true},  {29, 0x5004, 14, true},
        {29, 0x5004, 11, false}, {29, 0x5004, 5, false}, {30, 0x3000, 3, true},
        {3, 0x5012, 3, false},   {15, 0x5012, 3, false}, {21, 0x5012, 3, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << "bit " << r.bit << " fw " << std::hex << r.fw);
        EXPECT_EQ(ConfigurationBitApplies(r.bit, Facts(r.fw, r.pid)), r.applies);
    }
    EXPECT_FALSE(Configuration2BitApplies(1, Facts(0x5009)));
    EXPECT_TRUE(Configuration2BitApplies(1, Facts(0x500A)));
    EXPECT_FALSE(Configuration2BitApplies(5, Facts(0x5010)));
    EXPECT_TRUE(Configuration2BitApplies(5, Facts(0x5011)));
}

TEST(ConfigurationBits, CapabilitiesFollowTheirBitsOnlyWhereTheyCount) {
    const std::uint32_t all = 0xFFFFFFFF;
    // Below the 0x3000 family there is no feeder, inkjet, MICR head,
    // backlight nor double feed sensor, whatever the word says.
    const DeviceCapabilities old = Configured(Facts(0x2206), all);
    EXPECT_TRUE(old.rearCamera);
    EXPECT_TRUE(old.reportsStatus200);
    EXPECT_TRUE(old.reportsStatus40000);
    EXPECT_FALSE(old.adf);
    EXPECT_FALSE(old.inkjetType1Present);
    EXPECT_FALSE(old.micrHeadPresent);
    EXPECT_FALSE(old.backlight);
    EXPECT_FALSE(old.doubleFeedSensor);

    const DeviceCapabilities full = Configured(Facts(0x5012), all, 0xFFFF);
    EXPECT_TRUE(full.adf);
    EXPECT_TRUE(full.inkjetType1Present);
    EXPECT_TRUE(full.inkjetType2Present);
    EXPECT_FALSE(full.inkjetType1) << "usable only once the block was read";
    EXPECT_TRUE(full.micrHeadPresent);
    EXPECT_TRUE(full.backlight);
    EXPECT_TRUE(full.noModes6And7);
    EXPECT_TRUE(full.calibrationOption24);
    EXPECT_TRUE(full.calibrationOption31);
    EXPECT_TRUE(full.photoTuning);
    EXPECT_TRUE(full.buzzer);
    EXPECT_TRUE(full.reportsStatus4000000);
    EXPECT_FALSE(full.slowAcquisition) << "bit 19 counts up to FW 0x500F";

    // The rear camera of the oldest families is always there.
    EXPECT_TRUE(Configured(Facts(0x200F), 0).rearCamera);
    EXPECT_FALSE(Configured(Facts(0x2010), 0).rearCamera);
    EXPECT_TRUE(Configured(Facts(0x2010), 2).rearCamera);

    EXPECT_TRUE(Configured(Facts(0x4006), 1u << 19).slowAcquisition);
    EXPECT_FALSE(Configured(Facts(0x5010), 0, 0x20).buzzer);
    EXPECT_TRUE(Configured(Facts(0x5011), 0, 0x20).buzzer);
}

TEST(ConfigurationBits, ExternalPowerSensingByFamily) {
    struct Row {
        std::uint16_t fw;
        std::uint32_t word;
        bool sensing;
    };
    const Row rows[] = {
        {0x2020, 0, false},        {0x2021, 0, true},        {0x20FF, 0, true},
        {0x2100, 0, true},         {0x2FFF, 0, true},        {0x3000, 1u << 14, false},
        {0x3103, 1u << 14, false}, {0x3104, 1u << 14, true}, {0x3104, 0, false},
        {0x1005, 1u << 14, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.fw);
        EXPECT_EQ(Configured(Facts(r.fw), r.word).externalPowerSensing, r.sensing);
    }
}

TEST(ConfigurationBits, ModelAndSerialExceptions) {
    const std::uint32_t aligner = 1u << 30;
    // Six PID 3 units on FW 0x5005 claim aligner data they lack.
    for (std::int32_t serial : {360584, 360599, 360608, 360620, 360621, 360623}) {
        const DeviceCapabilities c = Configured(Facts(0x5005, 3, serial), aligner);
        EXPECT_FALSE(c.alignerData) << serial;
        EXPECT_FALSE(c.ConfigurationBit(30)) << serial;
    }
    EXPECT_TRUE(Configured(Facts(0x5005, 3, 360585), aligner).alignerData);
    EXPECT_TRUE(Configured(Facts(0x5006, 3, 360584), aligner).alignerData);
    EXPECT_TRUE(Configured(Facts(0x5005, 4, 360584), aligner).alignerData);
    DeviceFacts highSerial = Facts(0x5005, 3, 360584);
    highSerial.serialHigh = 1;
    EXPECT_TRUE(Configured(highSerial, aligner).alignerData);

    EXPECT_TRUE(Configured(Facts(0x3000, 3, 360199), 0).optionFlag26);
    EXPECT_FALSE(Configured(Facts(0x3000, 4, 360199), 0).optionFlag26);

    // The ini switches the feeder off.
    const DeviceCapabilities off = Configured(Facts(0x5012), 1u << 8, 0, AdfIni::Disabled);
    EXPECT_FALSE(off.adf);
    EXPECT_TRUE(off.adfDisabledByIni);

    // PID 11 reads the codeline on the rear.
    EXPECT_EQ(Configured(Facts(0x5012, 11), 0).codelineSide, 0);
    EXPECT_EQ(Configured(Facts(0x5012, 11), 0).otherSide, 1);
    EXPECT_EQ(Configured(Facts(0x5012, 3), 0).codelineSide, 1);
}

TEST(ConfigurationBits, AnInkjetIsUsableOnlyWithItsBlock) {
    DeviceCapabilities c = Configured(Facts(0x5012), (1u << 9) | (1u << 10));
    MarkInkjetsUsable(true, false, &c);
    EXPECT_TRUE(c.inkjetType1);
    EXPECT_FALSE(c.inkjetType2);
    MarkInkjetsUsable(false, true, &c);
    EXPECT_FALSE(c.inkjetType1);
    EXPECT_TRUE(c.inkjetType2);
    DeviceCapabilities none = Configured(Facts(0x5012), 0);
    MarkInkjetsUsable(true, true, &none);
    EXPECT_FALSE(none.inkjetType1) << "a block without the configuration bit is no inkjet";
}

// The simulator's default head: usable, front, rotation 256, offset 200,
// grey limit 600, ratios 10 and 5, colour limit 300, width 1296.
std::array<std::uint8_t, 16> DefaultHead() {
    return {0x28, 0x43, 0x90, 0x01, 0x3C, 0x0A, 0x05, 0x00,
            0x00, 0x00, 0x1E, 0x00, 0x00, 0x10, 0x05, 0x00};
}

TEST(MicrHeadBlock, TheValuesOfTheDefaultHead) {
    const auto b = DefaultHead();
    const MicrHead m = DecodeMicrHead(Facts(0x5012), b.data(), b.size());
    EXPECT_TRUE(m.usable);
    EXPECT_TRUE(m.frontSide);
    EXPECT_EQ(m.rotation, 256);
    EXPECT_FALSE(m.flag1);
    EXPECT_EQ(m.offset, 200);
    EXPECT_EQ(m.greyLineRateLimit, 600);
    EXPECT_EQ(m.ratioOneSide, 10);
    EXPECT_EQ(m.ratioBothSides, 5);
    EXPECT_EQ(m.colourResolutionLimit, 300);
    EXPECT_EQ(m.imageWidth300, 1296);
    EXPECT_EQ(m.windowHigh, 130);
    EXPECT_EQ(m.windowLow, -130);
}

TEST(MicrHeadBlock, RulesThatChangeOneValue) {
    struct Row {
        const char* what;
        DeviceFacts facts;
        int byte;
        std::uint8_t value;
        bool usable;
        std::int32_t rotation;
        std::int16_t offset;
        std::uint16_t width;
        std::uint16_t colour;
    };
    const Row rows[] = {
        {"full speed", Facts(0x5012, 3, 1, false), 1, 0x43, false, 256, 200, 1296, 300},
        {"no head bit", Facts(0x5012), 1, 0x42, false, 256, 200, 1296, 300},
        {"line rate 90", Facts(0x5012), 4, 9, false, 256, 200, 1296, 300},
        {"line rate 100", Facts(0x5012), 4, 10, true, 256, 200, 1296, 300},
        {"bit 6 clear", Facts(0x5012), 1, 0x03, true, 768, 200, 1296, 300},
        {"old rotation bit 2", Facts(0x3103), 1, 0x47, true, 256, 200, 0, 100},
        {"old rotation bit 2 clear", Facts(0x3103), 1, 0x43, true, 768, 200, 0, 100},
        {"width from 0x3105", Facts(0x3104), 13, 0x10, true, 256, 200, 0, 100},
        {"colour from the line rate", Facts(0x3105), 10, 0, true, 256, 200, 1296, 200},
        {"negative offset", Facts(0x5012), 3, 0xFF, true, 256, -100, 1296, 300},
        {"PID 11 bit 6 set", Facts(0x5012, 11), 1, 0x43, true, 768, 200, 1296, 300},
        {"PID 11 bit 6 clear", Facts(0x5012, 11), 1, 0x03, true, 256, 200, 1296, 300},
        {"PID 11 series", Facts(0x5012, 11, 330103), 1, 0x43, true, 768, -282, 1296, 300},
        {"PID 11 past the series", Facts(0x5012, 11, 330107), 1, 0x43, true, 768, 200, 1296, 300},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        auto b = DefaultHead();
        b[static_cast<std::size_t>(r.byte)] = r.value;
        if (r.byte == 3) b[2] = 0x38;  // 0xFF38 / 2 = -100
        const MicrHead m = DecodeMicrHead(r.facts, b.data(), b.size());
        EXPECT_EQ(m.usable, r.usable);
        EXPECT_EQ(m.rotation, r.rotation);
        EXPECT_EQ(m.offset, r.offset);
        EXPECT_EQ(m.imageWidth300, r.width);
        EXPECT_EQ(m.colourResolutionLimit, r.colour);
    }
    auto b = DefaultHead();
    EXPECT_FALSE(DecodeMicrHead(Facts(0x5012), b.data(), 15).usable) << "15 bytes";
    // PID 11 with head flag 1 and no width: 1296.
    b[1] = 0x49;
    b[13] = 0;
    b[14] = 0;
    EXPECT_EQ(DecodeMicrHead(Facts(0x5012, 11), b.data(), b.size()).imageWidth300, 1296);
    EXPECT_EQ(DecodeMicrHead(Facts(0x5012, 3), b.data(), b.size()).imageWidth300, 0);
}

TEST(SensorOptionByte, FlagsByModelAndFirmware) {
    struct Row {
        const char* what;
        std::uint16_t pid;
        std::uint16_t fw;
        std::optional<std::uint8_t> byte;
        const char* flags;  // flags 1 to 5
        std::uint16_t type;
    };
    const Row rows[] = {
        {"not read", 3, 0x3103, std::nullopt, "11111", 0},
        {"up to 0x4000 the byte only gives the type", 3, 0x4000, 0x07, "11111", 0},
        {"above 0x4000 the bits clear flags", 3, 0x4001, 0x07, "00001", 0},
        {"above 0x4000 bit 1", 3, 0x4001, 0x02, "11011", 0},
        {"PID 11 below 0x4000", 11, 0x3500, 0x00, "00001", 0},
        {"PID 11 from 0x4000", 11, 0x4000, 0x06, "11111", 0},
        {"PID 11 from 0x4000, bit 0", 11, 0x4000, 0x01, "00001", 0},
        {"type 8 keeps flag 5", 3, 0x5011, 0x08, "11111", 8},
        {"type 16 clears flag 5", 3, 0x5011, 0x10, "11110", 16},
        {"type 32 clears flag 5", 3, 0x5011, 0x20, "11110", 32},
        {"type 24 keeps flag 5", 3, 0x5011, 0x18, "11111", 24},
        {"above 0x5011 flag 5 is off", 3, 0x5012, 0x00, "11110", 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const SensorOptions s = DecodeSensorOptions(Facts(r.fw, r.pid), r.byte);
        std::string flags;
        for (int i = 1; i <= 5; ++i) flags += s.flag[static_cast<std::size_t>(i)] ? '1' : '0';
        EXPECT_EQ(flags, r.flags);
        EXPECT_EQ(s.sensorType, r.type);
    }
    EXPECT_TRUE(ReadsSensorOptions(0x3104));
    EXPECT_FALSE(ReadsSensorOptions(0x3103));
}

TEST(FeatureFlags, ByFirmwareAlone) {
    struct Row {
        std::uint16_t fw;
        const char* flags;  // flags 1 to 11
    };
    const Row rows[] = {
        {0x1005, "01000000000"}, {0x2003, "01100000000"}, {0x2008, "01101000000"},
        {0x2009, "01101000100"}, {0x2010, "01100000100"}, {0x2021, "00100111111"},
        {0x20FF, "00100111111"}, {0x2100, "01000001111"}, {0x2101, "01000001111"},
        {0x2102, "01100001111"}, {0x2103, "00100101111"}, {0x2110, "00100101111"},
        {0x2111, "00100111111"}, {0x2200, "00100101111"}, {0x2202, "00100101111"},
        {0x2203, "00100111111"}, {0x3000, "00100111111"}, {0x3001, "01111111111"},
        {0x3106, "01111111111"}, {0x3107, "11111111111"}, {0x5012, "11111111111"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << std::hex << r.fw);
        const DeviceFacts facts = Facts(r.fw);
        const auto f = FeatureFlags(facts, Configured(facts, 0));
        std::string flags;
        for (int i = 1; i <= 11; ++i) flags += f[static_cast<std::size_t>(i)] ? '1' : '0';
        EXPECT_EQ(flags, r.flags);
    }
}

TEST(FeatureFlags, Bit22AndTheMicrSeriesTurnFlagsOff) {
    const DeviceFacts facts = Facts(0x5012);
    auto f = FeatureFlags(facts, Configured(facts, 1u << 22));
    EXPECT_FALSE(f[1]);
    EXPECT_FALSE(f[2]);
    EXPECT_TRUE(f[3]);
    // Bit 22 counts above FW 0x5000 only.
    const DeviceFacts older = Facts(0x5000);
    f = FeatureFlags(older, Configured(older, 1u << 22));
    EXPECT_TRUE(f[1]);
    const DeviceFacts series = Facts(0x5012, 11, 330100);
    f = FeatureFlags(series, Configured(series, 0));
    EXPECT_TRUE(f[1]);
    EXPECT_FALSE(f[2]);
}

TEST(Handle, SerialAndModelMakeTheHandle) {
    EXPECT_EQ(HandleFor(3, 12345, 99), 3012345);
    EXPECT_EQ(HandleFor(14, 1234567, 99), 14234567);
    EXPECT_EQ(HandlePid(0x0638, 0x1A2A), 5);
    EXPECT_EQ(HandlePid(0x7E51, 0x1A2A), 0x1A2A);
    EXPECT_EQ(HandleFor(0, 0, 4711), 4711) << "a random value replaces 0";
    EXPECT_EQ(HandleFor(0, 1000000, 0), 0) << "and the PID a random 0";
    EXPECT_EQ(HandleFor(0, -1, 5), 1) << "-1 means no device";
}

}  // namespace
}  // namespace kovran::device
