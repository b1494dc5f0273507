#include "sim/profile_parser.h"

#include <gtest/gtest.h>

#include <random>

#include "sim/sim_backend.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace kovran::sim {
namespace {

std::string ExampleProfilePath() {
    return std::string(KOVRAN_SOURCE_DIR) + "/data/sim/example.profile";
}

TEST(ProfileParser, ReadsTheExampleProfile) {
    std::vector<DeviceProfile> devices;
    std::string error;
    ASSERT_TRUE(LoadProfileFile(ExampleProfilePath(), &devices, &error)) << error;
    ASSERT_EQ(devices.size(), 2u);
    const DeviceProfile& a = devices[0];
    EXPECT_EQ(a.name, "desk scanner");
    EXPECT_EQ(a.serial, "012345");
    EXPECT_EQ(a.firmware, 0x5012);
    EXPECT_EQ(a.configWord, 0x0A057982u);
    EXPECT_EQ(a.micrBlock[1], 0x43);
    EXPECT_EQ(a.micrBlock[15], 0x00);
    EXPECT_EQ(a.pageCounter, 1500u);
    EXPECT_EQ(a.documents, 3u);
    EXPECT_EQ(a.location, "1-2");
    const DeviceProfile& b = devices[1];
    EXPECT_EQ(b.pid, 9);
    EXPECT_EQ(b.vid, 0x7E51);  // default
    EXPECT_FALSE(b.highSpeed);
    EXPECT_EQ(b.fw3000Version, 0x3005);
    ASSERT_TRUE(b.serialDescriptor);
    EXPECT_EQ(b.serialDescriptor->size(), 7u);
    EXPECT_FALSE(b.pageCounterRegister);
    EXPECT_FALSE(b.externalPower);
    ASSERT_EQ(b.faults.size(), 2u);
    EXPECT_TRUE(std::holds_alternative<NotReady>(b.faults[0]));
    EXPECT_TRUE(std::holds_alternative<SlowReply>(b.faults[1]));
}

TEST(ProfileParser, DefaultDeviceIsTheDocumentedOne) {
    DeviceProfile d = DefaultDeviceProfile();
    EXPECT_EQ(d.name, "default");  // the embedded text parsed
    EXPECT_EQ(d.pid, 3);
    EXPECT_EQ(d.firmware & 0xF000, 0x5000);
    EXPECT_TRUE(d.highSpeed);
    EXPECT_EQ(d.serial.size(), 6u);
    EXPECT_EQ(d.serial.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_TRUE(d.configWord & kConfigFeeder);
    EXPECT_TRUE(d.configWord & kConfigRear);
    EXPECT_TRUE(d.configWord & kConfigMicr);
    EXPECT_GT(d.documents, 0u);
}

TEST(ProfileParser, AcceptsHarmlessVariations) {
    std::vector<DeviceProfile> devices;
    std::string error;
    const char* text =
        "; comment\r\n\r\n[device]\r\n  serial =   \r\nfirmware=0x3107\r\n"
        "serial_descriptor =\r\nconfig_block = 01 02\r\n[device]\r\n";
    ASSERT_TRUE(ParseProfiles(text, &devices, &error)) << error;
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].serial, "");
    EXPECT_EQ(devices[0].firmware, 0x3107);
    ASSERT_TRUE(devices[0].serialDescriptor);
    EXPECT_TRUE(devices[0].serialDescriptor->empty());
    EXPECT_EQ(EncodeConfigBlock(devices[0])[1], 0x02);
    EXPECT_EQ(EncodeConfigBlock(devices[0])[2], 0x00);
}

TEST(ProfileParser, RefusesBrokenFilesWithTheLine) {
    struct Case {
        std::string text;
        std::string error;  // the start of the message
    };
    const std::string longLine(5000, 'x');
    const std::string longSerial(127, '1');
    std::string key65;
    for (int i = 0; i < 65; ++i) key65 += "00 ";
    std::string seventeen;
    for (int i = 0; i < 17; ++i) seventeen += "[device]\n";
    const Case cases[] = {
        {"", "no [device] section"},
        {"# only a comment\n", "no [device] section"},
        {"serial = 1\n", "line 1: key outside a [device] section"},
        {"[device]\ncolour = yes\n", "line 2: unknown key \"colour\""},
        {"[device]\npid = 3\npid = 4\n", "line 3: key \"pid\" given twice"},
        {"[device]\n[devices]\n", "line 2: unknown section"},
        {"[device]\njust text\n", "line 2: expected \"key = value\""},
        {"[device]\n = 3\n", "line 2: missing key"},
        {"[device]\npid = 0x10000\n", "line 2: \"pid\" needs a number"},
        {"[device]\npid = -1\n", "line 2: \"pid\" needs a number"},
        {"[device]\npid = 3x\n", "line 2: \"pid\" needs a number"},
        {"[device]\npid =\n", "line 2: \"pid\" needs a number"},
        {"[device]\nconfig_word = 0x100000000\n", "line 2:"},
        {"[device]\nspeed = super\n", "line 2: \"speed\" is high or full"},
        {"[device]\nplugged = maybe\n", "line 2: \"plugged\" needs yes or no"},
        {"[device]\nmicr_block = 00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF 00\n",
         "line 2: more than 16 bytes"},
        {"[device]\nconfig_block = 0 1\n", "line 2: bytes must be two hex digits"},
        {"[device]\nconfig_block = 0x01\n", "line 2: bytes must be two hex digits"},
        {"[device]\nconfig_block = 0G\n", "line 2: bytes must be two hex digits"},
        {"[device]\nconfig_block = 0102\n", "line 2: bytes must be two hex digits"},
        {"[device]\nhardware_key = " + key65 + "\n", "line 2: more than 64 bytes"},
        {"[device]\ndocuments = 1001\n", "line 2: \"documents\" needs a number up to 1000"},
        {"[device]\nfault = explode\n", "line 2: fault: unknown fault"},
        {"[device]\ntransfer_log =\n", "line 2: \"transfer_log\" needs a path"},
        {"[device]\nserial = " + longSerial + "\n", "line 1: serial: more than 126"},
        {"[device]\nlocation = 1/2\n", "line 1: location: only digits"},
        {"[device]\nlocation = 1-1\n[device]\nlocation = 1-1\n", "line 3: location 1-1 used twice"},
        {"[device]\nlocation = 1-2\n[device]\n", "line 3: location 1-2 used twice for the same"},
        {"[device]\nname = " + longLine + "\n", "line 2: line longer than 4096 bytes"},
        {std::string("[device]\nname = a\0b\n", 20), "profile holds a NUL byte"},
        {seventeen, "line 17: more than 16 devices"},
    };
    for (const Case& c : cases) {
        std::vector<DeviceProfile> devices(1);
        std::string error;
        bool ok = ParseProfiles(c.text, &devices, &error);
        EXPECT_FALSE(ok) << c.text;
        EXPECT_TRUE(devices.empty()) << c.text;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << "got \"" << error << "\" for " << c.text;
    }
}

TEST(ProfileParser, SurvivesMutatedProfiles) {
    std::vector<DeviceProfile> devices;
    std::string error;
    ASSERT_TRUE(LoadProfileFile(ExampleProfilePath(), &devices, &error));
    std::string base;
    {
        FILE* f = std::fopen(ExampleProfilePath().c_str(), "rb");
        ASSERT_TRUE(f);
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) base.append(buf, n);
        std::fclose(f);
    }
    std::mt19937 rng(1234);
    const char alphabet[] = "=[]#\n 0x1F-z\xFF";
    int accepted = 0;
    for (int round = 0; round < 2000; ++round) {
        std::string text = base;
        int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits && !text.empty(); ++e) {
            std::size_t at = rng() % text.size();
            switch (rng() % 3) {
                case 0:
                    text[at] = alphabet[rng() % (sizeof alphabet - 1)];
                    break;
                case 1:
                    text.erase(at, 1 + rng() % 8);
                    break;
                default:
                    text.insert(at, 1, alphabet[rng() % (sizeof alphabet - 1)]);
                    break;
            }
        }
        if (ParseProfiles(text, &devices, &error)) {
            ++accepted;
            // Whatever was accepted must make a working backend.
            test::FakeClock clock;  // the example arms slow replies
            test::ClockScope scope(clock);
            SimBackend backend(devices);
            for (const auto& info : backend.Enumerate()) {
                int err = 0;
                auto dev = backend.Open(info.path, &err);
                if (!dev) continue;
                std::uint8_t buf[64];
                std::size_t n = 0;
                dev->Control({0x80, 6, 0x0304, 0, 34}, buf, &n, 10);
                EXPECT_LE(n, 34u);
            }
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
    EXPECT_GT(accepted, 0);
}

TEST(ProfileParser, FactoryRefusesABrokenFileInsteadOfFallingBack) {
    test::TempDir dir;
    std::string error;
    EXPECT_FALSE(MakeSimBackend((dir / "missing.profile").c_str(), &error));
    EXPECT_NE(error.find("missing.profile"), std::string::npos);
    test::WriteFileBytes(dir / "bad.profile", "[device]\nwhat = 1\n");
    EXPECT_FALSE(MakeSimBackend((dir / "bad.profile").c_str(), &error));
    EXPECT_NE(error.find("line 2"), std::string::npos);
    EXPECT_FALSE(MakeSimBackendFromEnv((dir / "bad.profile").c_str()));

    auto fallback = MakeSimBackendFromEnv("");
    ASSERT_TRUE(fallback);
    EXPECT_EQ(fallback->Enumerate().size(), 1u);
    auto defaults = MakeSimBackendFromEnv(nullptr);
    ASSERT_TRUE(defaults);
    test::WriteFileBytes(dir / "two.profile", "[device]\nserial = 1\n[device]\nserial = 2\n");
    auto two = MakeSimBackendFromEnv((dir / "two.profile").c_str());
    ASSERT_TRUE(two);
    EXPECT_EQ(two->Enumerate().size(), 2u);
}

}  // namespace
}  // namespace kovran::sim
