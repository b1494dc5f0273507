// KOVRAN_USB picks the backend; the device list shows what it finds.
#include <cstdlib>

#include "KovranMS.h"
#include "api/log_fixture.h"
#include "device/device_list.h"
#include "device/usb_selection.h"
#include "root/composition.h"
#include "sim/sim_backend.h"
#include "support/scoped_env.h"

namespace kovran::test {
namespace {

class SelectionTest : public LogFixture {
  protected:
    void SetUp() override {
        LogFixture::SetUp();
        Ini("[General]\nLog=1\nLogSize=0\n");
        StartAtLoad();
    }
};

TEST_F(SelectionTest, EnvironmentChoosesTheBackend) {
    {
        ScopedEnv usb("KOVRAN_USB", nullptr);
        auto b = root::MakeUsbBackendFromEnvironment();
        ASSERT_TRUE(b);
        EXPECT_STREQ(b->Name(), "libusb");
    }
    {
        ScopedEnv usb("KOVRAN_USB", "sim");
        ScopedEnv sim("KOVRAN_SIM", nullptr);
        auto b = root::MakeUsbBackendFromEnvironment();
        ASSERT_TRUE(b);
        EXPECT_STREQ(b->Name(), "sim");
        EXPECT_EQ(b->Enumerate().size(), 1u);
        EXPECT_NE(LogBytes().find("USB backend sim: simulated scanner"), std::string::npos);
    }
    {
        // A profile that cannot be read is never replaced by the default.
        ScopedEnv usb("KOVRAN_USB", "sim");
        ScopedEnv sim("KOVRAN_SIM", (dir / "missing.profile").c_str());
        EXPECT_FALSE(root::MakeUsbBackendFromEnvironment());
    }
    {
        ScopedEnv usb("KOVRAN_USB", "winusb");
        root::InstallComposition();
        EXPECT_FALSE(root::MakeUsbBackendFromEnvironment());
        EXPECT_NE(LogBytes().find("unknown USB backend KOVRAN_USB=winusb"), std::string::npos);
        // The choice is made once; with none usable no device is found.
        EXPECT_EQ(device::UsbBackendInUse(), nullptr);
        EXPECT_EQ(KVXEnumerateDevices(nullptr, 0), 1);
    }
}

TEST_F(SelectionTest, DeviceListThroughTheExport) {
    std::vector<sim::DeviceProfile> profiles;
    auto add = [&](std::uint16_t pid, const char* serial, const char* location) {
        sim::DeviceProfile p = sim::DefaultDeviceProfile();
        p.pid = pid;
        p.serial = serial;
        p.location = location;
        profiles.push_back(p);
    };
    add(3, "000111", "1-1");
    add(7, "000222", "1-2");  // not a scanner
    add(0x0B, "000333", "2-4.1");
    device::InstallUsbBackend(std::make_unique<sim::SimBackend>(profiles));

    const std::string expected =
        "7E51\t0003\t000111\t\\\\?\\USB#VID_7E51&PID_0003#1-1#{6BDD1FC6-810F-11D0-BEC7-"
        "08002BE2092F}\n"
        "7E51\t000B\t000333\t\\\\?\\USB#VID_7E51&PID_000B#2-4.1#{6BDD1FC6-810F-11D0-BEC7-"
        "08002BE2092F}\n";
    const int needed = KVXEnumerateDevices(nullptr, 0);
    EXPECT_EQ(needed, static_cast<int>(expected.size()) + 1);
    std::string buf(static_cast<std::size_t>(needed), 'x');
    EXPECT_EQ(KVXEnumerateDevices(buf.data(), needed), needed);
    EXPECT_EQ(std::string(buf.c_str()), expected);
    EXPECT_EQ(KVXGetLastResult(), 0);

    EXPECT_EQ(KVXEnumerateDevices(buf.data(), needed - 1), -1);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(KVXGetLastResult(), -3);
    EXPECT_EQ(KVXEnumerateDevices(nullptr, 10), -1);
}

}  // namespace
}  // namespace kovran::test
