#include "sim/sim_backend.h"

#include <gtest/gtest.h>

#include "sim/eeprom_calibration.h"
#include "sim/sim_test_util.h"

namespace kovran::sim {
namespace {

using simio::Command;
using simio::Raw;
using simio::Read;
using simio::Write;

constexpr std::uint16_t kFw = 0x5012;
constexpr const char* kDefaultPath =
    "\\\\?\\USB#VID_7E51&PID_0003#1-1#{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}";

std::unique_ptr<platform::UsbDevice> OpenFirst(SimBackend& backend) {
    auto list = backend.Enumerate();
    if (list.empty()) return nullptr;
    int error = -1;
    auto dev = backend.Open(list.front().path, &error);
    EXPECT_EQ(error, dev ? 0 : error);
    return dev;
}

DeviceProfile WithFirmware(std::uint16_t fw, std::uint32_t word = 0x2, std::uint8_t cis = 5) {
    DeviceProfile p;
    p.firmware = fw;
    p.configWord = word;
    p.cisVoltage = cis;
    return p;
}

TEST(SimBackend, DefaultDeviceIdentifiesAsTheMainFamilyScanner) {
    SimBackend backend({DefaultDeviceProfile()});
    auto list = backend.Enumerate();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].path, kDefaultPath);
    EXPECT_EQ(list[0].vid, 0x7E51);
    EXPECT_EQ(list[0].pid, 3);
    EXPECT_STREQ(backend.Name(), "sim");
    int error = -1;
    auto dev = backend.Open(kDefaultPath, &error);
    ASSERT_TRUE(dev);
    EXPECT_EQ(error, 0);

    // Serial: string descriptor 4, as the 34-byte buffer of the driver asks.
    std::vector<std::uint8_t> d;
    ASSERT_EQ(Raw(*dev, 0x80, 6, 0x0304, 0, 34, &d), 0);
    EXPECT_EQ(d,
              (std::vector<std::uint8_t>{14, 3, '1', 0, '2', 0, '3', 0, '4', 0, '5', 0, '6', 0}));
    EXPECT_EQ(Raw(*dev, 0x80, 6, 0x0303, 0, 34), 31);  // index 3 is not the serial here

    auto v = Read(*dev, kFw, 0xD0, 2, 5);
    EXPECT_EQ(v.error, 0);
    EXPECT_EQ(v.transferred, 5u);
    EXPECT_EQ(v.bytes, (std::vector<std::uint8_t>{2, 5, 0, 1, 2}));

    // Configuration word 0x0A057982 and second word 0x0030 in the layout
    // above 0x3FFF: byte 1, byte 3, bytes 4-5, bytes 6-7.
    auto c = Read(*dev, kFw, 0xD0, 1, 8);
    ASSERT_EQ(c.transferred, 8u);
    std::uint32_t word = ((c.bytes[4] | (c.bytes[5] << 8)) * 256u + c.bytes[3]) * 256u + c.bytes[1];
    EXPECT_EQ(word, 0x0A057982u);
    EXPECT_EQ(c.bytes[7] * 256 + c.bytes[6], 0x0030);
    EXPECT_TRUE(word & (1u << 8));   // feeder
    EXPECT_TRUE(word & (1u << 1));   // rear
    EXPECT_TRUE(word & (1u << 12));  // MICR

    auto m = Read(*dev, kFw, 0xD0, 0x28, 16);
    ASSERT_EQ(m.transferred, 16u);
    EXPECT_EQ(m.bytes[1] & 1, 1);     // head usable
    EXPECT_GE(m.bytes[4] * 10, 100);  // a valid grey line-rate limit
    EXPECT_EQ(m.bytes[13] | (m.bytes[14] << 8), 1296);

    auto s = Read(*dev, kFw, 0xD1, 0x14, 8);
    EXPECT_EQ(s.transferred, 8u);
    EXPECT_EQ(Read(*dev, kFw, 0xD0, 0x0C, 8).transferred, 8u);

    std::uint32_t packet = 0;
    EXPECT_EQ(dev->BulkInPacketSize(&packet), 0);
    EXPECT_EQ(packet, 512u);
    EXPECT_EQ(backend.Device(0).FeederCount(), 5u);
}

TEST(SimBackend, StatusWordFollowsTheDevice) {
    SimBackend backend({DefaultDeviceProfile()});
    auto dev = OpenFirst(backend);
    ASSERT_TRUE(dev);
    auto status = [&] {
        auto r = Read(*dev, kFw, 0xD0, 3, 8);
        EXPECT_EQ(r.transferred, 8u);
        return static_cast<std::uint32_t>(r.bytes[1] | (r.bytes[2] << 8) | (r.bytes[3] << 16) |
                                          (r.bytes[4] << 24));
    };
    // Cheques in the feeder: document at the input, photocell covered;
    // external power; not enabled before the enable command.
    EXPECT_EQ(status(), 0x4u | 0x10000u | 0x20000u);
    ASSERT_EQ(Command(*dev, kFw, 0xD0, 9), 0);
    EXPECT_EQ(status() & 0x2u, 0x2u);
    ASSERT_EQ(Command(*dev, kFw, 0xD2, 5), 0);
    EXPECT_EQ(status() & 0x1000u, 0x1000u);
    backend.Device(0).ForceStatus(0x8 | 0x01000000, 0x10000);  // busy, flag bit 8; no power
    EXPECT_EQ(status(), 0x2u | 0x4u | 0x8u | 0x1000u | 0x20000u | 0x01000000u);
    ASSERT_EQ(Command(*dev, kFw, 0xD0, 0x0A), 0);
    EXPECT_EQ(status() & 0x2u, 0u);

    // An empty feeder uncovers both paper sensors.
    SimBackend empty({WithFirmware(0x5012, kConfigFeeder)});
    auto dev2 = OpenFirst(empty);
    auto r = Read(*dev2, kFw, 0xD0, 3, 8);
    EXPECT_EQ(r.bytes[1] & 0x4, 0);
    EXPECT_EQ(r.bytes[3], 0x01);  // power only
    // Firmware up to 0x30FF has an 8-bit flag value: byte 4 stays 0.
    DeviceProfile old = WithFirmware(0x30FF);
    SimBackend oldBackend({old});
    auto dev3 = OpenFirst(oldBackend);
    oldBackend.Device(0).ForceStatus(0x01000000, 0);
    EXPECT_EQ(Read(*dev3, 0x30FF, 0xD0, 3, 8).bytes[4], 0);
}

TEST(SimBackend, ConfigurationBlockLayoutPerFamily) {
    struct Case {
        std::uint16_t fw;
        std::uint16_t ask;
        std::vector<std::uint8_t> expected;
    };
    // Word 0x00123456, second word 0xBEEF, CIS voltage 5.
    const Case cases[] = {
        {0x1005, 2, {0x01, 0x56}},
        {0x2000, 2, {0x01, 0x56}},
        {0x2000, 3, {0x01, 0x56}},  // the family hands out two bytes
        {0x2010, 3, {0x01, 0x56, 5}},
        {0x3005, 4, {0x01, 0x56, 5, 0x34}},
        {0x3107, 8, {0x01, 0x56, 5, 0x34, 0, 0, 0, 0}},
        {0x4005, 8, {0x01, 0x56, 5, 0x34, 0x12, 0x00, 0xEF, 0xBE}},
    };
    for (const Case& c : cases) {
        DeviceProfile p = WithFirmware(c.fw, 0x00123456);
        p.configWord2 = 0xBEEF;
        SimBackend backend({p});
        auto dev = OpenFirst(backend);
        ASSERT_TRUE(dev);
        auto r = Read(*dev, c.fw, 0xD0, 1, c.ask);
        EXPECT_EQ(r.error, 0) << std::hex << c.fw;
        ASSERT_EQ(r.transferred, c.expected.size()) << std::hex << c.fw;
        r.bytes.resize(r.transferred);
        EXPECT_EQ(r.bytes, c.expected) << std::hex << c.fw;
    }
}

TEST(SimBackend, OldFirmwareAnswersOnlyTheRequestCodeForm) {
    SimBackend backend({WithFirmware(0x1005)});
    auto dev = OpenFirst(backend);
    ASSERT_TRUE(dev);
    // The transport's first guess on such a device is the register form,
    // which it must see refused before it tries the other.
    auto wrongForm = Read(*dev, 0x3000, 0xD0, 2, 5);
    EXPECT_EQ(wrongForm.error, 31);
    EXPECT_EQ(wrongForm.transferred, 0u);
    auto v = Read(*dev, 0x1005, 0xD0, 2, 5);
    EXPECT_EQ(v.error, 0);
    EXPECT_EQ(v.bytes, (std::vector<std::uint8_t>{2, 1, 0, 0, 5}));
    // A write of the old family answers as many bytes as it carries.
    auto lamp = Read(*dev, 0x1005, 0xD1, 0x0A, 8);
    EXPECT_EQ(lamp.error, 0);
    EXPECT_EQ(lamp.transferred, 8u);
    EXPECT_EQ(Read(*dev, 0x1005, 0xD1, 0x0A, 7).error, 31);
    // And the other way round: a new device refuses the old form.
    SimBackend fresh({DefaultDeviceProfile()});
    auto dev2 = OpenFirst(fresh);
    EXPECT_EQ(Read(*dev2, 0x1005, 0xD0, 2, 5).error, 31);
}

TEST(SimBackend, CommandsChangeTheDevice) {
    SimBackend backend({DefaultDeviceProfile()});
    auto dev = OpenFirst(backend);
    ASSERT_TRUE(dev);
    SimulatedScanner& sim = backend.Device(0);

    // Counters: read, increment by one each.
    auto counter = [&](std::uint8_t sub) {
        auto r = Read(*dev, kFw, 0xD0, sub, 4);
        EXPECT_EQ(r.transferred, 4u);
        return r.bytes[0] | (r.bytes[1] << 8) | (r.bytes[2] << 16) | (r.bytes[3] << 24);
    };
    int pages = counter(0x2A);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Command(*dev, kFw, 0xD0, 0x2B), 0);
    EXPECT_EQ(counter(0x2A), pages + 3);
    ASSERT_EQ(Command(*dev, kFw, 0xD0, 0x2E), 0);
    EXPECT_EQ(counter(0x2D), 1);

    // Photo tuning keeps the eight bytes written; a short write is refused.
    std::vector<std::uint8_t> tune{1, 2, 3, 4, 5, 6, 7, 8};
    std::size_t n = 0;
    ASSERT_EQ(Write(*dev, kFw, 0xD0, 0x14, tune, &n), 0);
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(Read(*dev, kFw, 0xD0, 0x15, 8).bytes, tune);
    EXPECT_EQ(Write(*dev, kFw, 0xD0, 0x14, {1, 2, 3}), 31);
    // Data commands must go the right way.
    EXPECT_EQ(Read(*dev, kFw, 0xD0, 0x14, 8).error, 31);

    // Buzzer on with a tone, off without data.
    ASSERT_EQ(Write(*dev, kFw, 0xD0, 0x22, {7}), 0);
    EXPECT_EQ(sim.Inspect([](const ScannerModel& m) { return m.BuzzerTone(); }), 7);
    ASSERT_EQ(Command(*dev, kFw, 0xD0, 0x23), 0);
    EXPECT_EQ(sim.Inspect([](const ScannerModel& m) { return m.BuzzerTone(); }), 0);

    // Feed start / stop of the 0x3000 family.
    ASSERT_EQ(Command(*dev, kFw, 0xD1, 0x36), 0);
    EXPECT_TRUE(sim.Inspect([](const ScannerModel& m) { return m.Feeding(); }));
    ASSERT_EQ(Command(*dev, kFw, 0xD1, 0x37), 0);
    EXPECT_FALSE(sim.Inspect([](const ScannerModel& m) { return m.Feeding(); }));
    // The older feed commands do not exist here (register 18 means nothing).
    EXPECT_EQ(Command(*dev, kFw, 0xD1, 0x08), 31);

    // The start command keeps its 33 bytes; a no-data command takes none.
    std::vector<std::uint8_t> start(33, 0x5A);
    ASSERT_EQ(Write(*dev, kFw, 0xD1, 0x33, start), 0);
    EXPECT_EQ(sim.Inspect([](const ScannerModel& m) { return m.StartCommand(); }), start);
    EXPECT_EQ(Read(*dev, kFw, 0xD1, 0x34, 2).error, 31);

    // Hardware key: as long as asked, padded with zeros.
    auto key = Read(*dev, kFw, 0xD0, 8, 12);
    EXPECT_EQ(key.transferred, 12u);
    EXPECT_EQ(key.bytes[0], 0x4B);
    EXPECT_EQ(key.bytes[11], 0);

    // A read asking more than the reply is short.
    auto longAsk = Read(*dev, kFw, 0xD0, 2, 8);
    EXPECT_EQ(longAsk.error, 0);
    EXPECT_EQ(longAsk.transferred, 5u);

    auto history = sim.Inspect([](const ScannerModel& m) { return m.History(); });
    ASSERT_FALSE(history.empty());
    EXPECT_EQ(history.back().cls, 0xD0);
    EXPECT_EQ(history.back().sub, 2);
}

// The EEPROM calibration: choosing a block restarts it; each read hands
// out the next 64 bytes, the information block first; a blank device and
// an unknown resolution answer 0xFF; the faults change the stored size and
// silence one data block.
TEST(SimBackend, TheEepromCalibrationIsHandedOutBlockByBlock) {
    DeviceProfile p = DefaultDeviceProfile();
    p.eepromCalibration = true;
    p.eepromCalibrationFailBlock = 2;
    SimBackend backend({p});
    auto dev = OpenFirst(backend);
    ASSERT_TRUE(dev);
    const std::vector<std::uint8_t> image = EepromCalibrationImage(p, 3);
    // Information block, header and 6 records of 8 + 2 x 2592 bytes.
    ASSERT_EQ(image.size(), 64u + (8 + 6 * (8 + 2 * 2592) + 63) / 64 * 64);
    EXPECT_EQ(std::string(image.begin(), image.begin() + 6), "123456");
    EXPECT_EQ(image[16], 3);
    EXPECT_EQ(image[18] | (image[19] << 8), 8 + 6 * (8 + 2 * 2592));

    ASSERT_EQ(Write(*dev, kFw, 0xD0, 0x11, {3}), 0);
    auto info = Read(*dev, kFw, 0xD0, 0x13, 64);
    ASSERT_EQ(info.transferred, 64u);
    EXPECT_EQ(info.bytes, std::vector<std::uint8_t>(image.begin(), image.begin() + 64));
    EXPECT_EQ(Read(*dev, kFw, 0xD0, 0x13, 64).bytes,
              std::vector<std::uint8_t>(image.begin() + 64, image.begin() + 128));
    // The silent block answers nothing, again and again.
    EXPECT_EQ(Read(*dev, kFw, 0xD0, 0x13, 64).transferred, 0u);
    EXPECT_EQ(Read(*dev, kFw, 0xD0, 0x13, 64).transferred, 0u);
    // Choosing again starts over.
    ASSERT_EQ(Write(*dev, kFw, 0xD0, 0x11, {3}), 0);
    EXPECT_EQ(Read(*dev, kFw, 0xD0, 0x13, 64).bytes, info.bytes);
    ASSERT_EQ(Write(*dev, kFw, 0xD0, 0x11, {5}), 0);
    EXPECT_EQ(Read(*dev, kFw, 0xD0, 0x13, 64).bytes, std::vector<std::uint8_t>(64, 0xFF));

    p.eepromCalibrationSize = 7;
    const std::vector<std::uint8_t> lying = EepromCalibrationImage(p, 6);
    EXPECT_EQ(lying[16], 6);
    EXPECT_EQ(lying[18], 7);
    EXPECT_EQ(lying[19] | lying[20] | lying[21], 0);
    p.eepromCalibration = false;
    EXPECT_EQ(EepromCalibrationImage(p, 3), std::vector<std::uint8_t>(64, 0xFF));
}

TEST(SimBackend, OlderFirmwareTakesTheModeCodesAfterTheModeCommand) {
    const std::uint16_t fw = 0x2100;
    SimBackend backend({WithFirmware(fw)});
    auto dev = OpenFirst(backend);
    ASSERT_TRUE(dev);
    ASSERT_EQ(Command(*dev, fw, 0xD1, 0x0F), 0);
    // Line code 1003 (its low byte 0xEB) and resolution code 17.
    ASSERT_EQ(Command(*dev, fw, 0xD1, 0xEB), 0);
    ASSERT_EQ(Command(*dev, fw, 0xD1, 17), 0);
    EXPECT_EQ(backend.Device(0).Inspect([](const ScannerModel& m) { return m.ModeParameters(); }),
              (std::vector<std::uint8_t>{0xEB, 17}));
    // Outside a mode command the same register means nothing.
    EXPECT_EQ(Command(*dev, fw, 0xD1, 17), 31);
    // Enable and feed are D1 commands below 0x3000.
    ASSERT_EQ(Command(*dev, fw, 0xD1, 5), 0);
    ASSERT_EQ(Command(*dev, fw, 0xD1, 8), 0);
    EXPECT_TRUE(backend.Device(0).Inspect([](const ScannerModel& m) { return m.Enabled(); }));
    EXPECT_TRUE(backend.Device(0).Inspect([](const ScannerModel& m) { return m.Feeding(); }));
    EXPECT_EQ(Command(*dev, fw, 0xD0, 9), 31);
}

TEST(SimBackend, SerialDescriptorsAsTheProfileMakesThem) {
    struct Case {
        const char* serial;
        std::optional<std::vector<std::uint8_t>> raw;
        std::vector<std::uint8_t> expected;
    };
    const Case cases[] = {
        {"", std::nullopt, {2, 3}},
        {"1234567", std::nullopt, {16, 3, '1', 0, '2', 0, '3', 0, '4', 0, '5', 0, '6', 0, '7', 0}},
        {"1\xE2\x82\xAC", std::nullopt, {6, 3, '1', 0, 0xAC, 0x20}},         // "1€"
        {"\xF0\x9F\x98\x80", std::nullopt, {6, 3, 0x3D, 0xD8, 0x00, 0xDE}},  // surrogate pair
        {"\xFF", std::nullopt, {4, 3, 0xFD, 0xFF}},                          // broken UTF-8
        {"x", std::vector<std::uint8_t>{}, {}},
        {"x", std::vector<std::uint8_t>{5, 3, '1', 0, '2'}, {5, 3, '1', 0, '2'}},
    };
    for (const Case& c : cases) {
        DeviceProfile p;
        p.serial = c.serial;
        p.serialDescriptor = c.raw;
        SimBackend backend({p});
        auto dev = OpenFirst(backend);
        std::vector<std::uint8_t> d;
        EXPECT_EQ(Raw(*dev, 0x80, 6, 0x0304, 0, 255, &d), 0);
        EXPECT_EQ(d, c.expected) << c.serial;
    }
    // An 18-character serial does not fit the driver's 34 bytes: cut there.
    DeviceProfile p;
    p.serial = "123456789012345678";
    SimBackend backend({p});
    auto dev = OpenFirst(backend);
    std::vector<std::uint8_t> d;
    EXPECT_EQ(Raw(*dev, 0x80, 6, 0x0304, 0, 34, &d), 0);
    EXPECT_EQ(d.size(), 34u);
    EXPECT_EQ(d[0], 38);
    // Other vendors carry the serial in descriptor 3.
    DeviceProfile other;
    other.vid = 0x0638;
    other.serial = "AB";
    SimBackend otherBackend({other});
    auto dev2 = OpenFirst(otherBackend);
    EXPECT_EQ(Raw(*dev2, 0x80, 6, 0x0303, 0, 34, &d), 0);
    EXPECT_EQ(d, (std::vector<std::uint8_t>{6, 3, 'A', 0, 'B', 0}));
}

TEST(SimBackend, SeveralDevicesEnumerateInProfileOrder) {
    DeviceProfile a;
    a.serial = "000001";
    DeviceProfile b;
    b.serial = "000002";
    b.pid = 11;
    b.highSpeed = false;
    SimBackend backend({a, b});
    auto list = backend.Enumerate();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_NE(list[0].path, list[1].path);
    EXPECT_EQ(list[1].pid, 11);
    EXPECT_NE(list[1].path.find("PID_000B#1-2#"), std::string::npos);
    int error = 0;
    auto dev = backend.Open(list[1].path, &error);
    ASSERT_TRUE(dev);
    std::uint32_t packet = 0;
    EXPECT_EQ(dev->BulkInPacketSize(&packet), 0);
    EXPECT_EQ(packet, 64u);
    EXPECT_EQ(backend.FindBySerial("000002"), &backend.Device(1));
    EXPECT_EQ(backend.FindBySerial("nope"), nullptr);
    EXPECT_FALSE(backend.Open("\\\\?\\USB#VID_7E51&PID_0003#9-9#{X}", &error));
    EXPECT_EQ(error, 2);
    // Paths are matched without regard to case, as the transport upper-cases.
    std::string lower = list[0].path;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_TRUE(backend.Open(lower, &error));
}

TEST(SimBackend, BulkPipesWithoutAStream) {
    SimBackend backend({DefaultDeviceProfile()});
    auto dev = OpenFirst(backend);
    ASSERT_TRUE(dev);
    std::vector<std::uint8_t> buffer(4096, 0xEE);
    platform::BulkTransferId id = 0;
    std::size_t n = 99;
    // Nothing to stream: a short read of 0 bytes.
    ASSERT_EQ(dev->SubmitBulk(platform::BulkPipe::In, buffer.data(), buffer.size(), &id), 0);
    EXPECT_EQ(dev->PollBulk(id, &n), 0);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(dev->PollBulk(id, &n), 87);  // reported once, then forgotten
    // OUT data is taken whole.
    ASSERT_EQ(dev->SubmitBulk(platform::BulkPipe::Out, buffer.data(), 484, &id), 0);
    EXPECT_EQ(dev->WaitBulk(id, &n, 100), 0);
    EXPECT_EQ(n, 484u);
    EXPECT_EQ(backend.Device(0).BulkOutBytes(), 484u);
}

}  // namespace
}  // namespace kovran::sim
