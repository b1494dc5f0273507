#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "api/frame.h"
#include "api/frame_state.h"
#include "api/log_fixture.h"
#include "api/monitor.h"
#include "api/names.h"
#include "device/device_record.h"
#include "root/composition.h"
#include "support/hosted_library.h"

namespace kovran::test {
namespace {

class MonitorTest : public LogFixture {
  protected:
    void SetUp() override {
        LogFixture::SetUp();
        root::InstallComposition();  // the guard's reopen and the device summary
        std::filesystem::create_directories(clientDir());
        setenv("KOVRAN_OSTRA_RECORD", record().c_str(), 1);
        unsetenv("KOVRAN_OSTRA_INIT");
    }
    void TearDown() override {
        unsetenv("KOVRAN_OSTRA_RECORD");
        unsetenv("KOVRAN_OSTRA_INIT");
        LogFixture::TearDown();
    }
    std::string clientDir() const { return dir / "ostra"; }
    std::string record() const { return dir / "calls.txt"; }
    std::string component() const { return clientDir() + "/libGSOstraDll.so"; }
    void Install(const std::string& built) {
        std::filesystem::copy_file(built, component(),
                                   std::filesystem::copy_options::overwrite_existing);
    }
    void Start(const std::string& general, const std::string& eostra = "") {
        Ini("[General]\nLogTimeStamp=0\n" + general + "[EOstra]\nPathClientOstra=" + clientDir() +
            "\n" + eostra);
        StartAtLoad();
        mark_ = LogBytes().size();
    }
    std::string Logged() const { return LogBytes().substr(mark_); }
    std::string Calls() const { return ReadFileBytes(record()); }

  private:
    std::size_t mark_ = 0;
};

TEST_F(MonitorTest, AReadyComponentIsInitialisedOnceAndTold) {
    Install(BuiltMonitorStandInPath());
    Start("Debug=128\n", "mode=2\nmask=5\n");
    MonitorLoad();
    MonitorLoad();
    ASSERT_TRUE(Monitor().forwarding);
    const std::string module = Names().modulePath;
    EXPECT_EQ(Calls(), "OstraInit 2 " + clientDir() +
                           "/iqa.ini 5\n"
                           "OstraLogExt 8 9 0 1 [" +
                           module + "] [2.2.5.5] 0 0\n");
    EXPECT_EQ(Logged(), component() + "\r\n" +
                            "EOstra mode 2\r\r\nEOstra mask 5\r\r\n"
                            "EOstra IQA config " +
                            clientDir() + "/iqa.ini\r\n" +
                            "EOstra\t0x00000008\t0x00000009\t0x00000000\t0x00000001\t" + module +
                            "\t2.2.5.5\t0x00000000\t0x00000000\r\n");
    EXPECT_EQ(MonitorEvent(4, 4, 3, 0, "HW", "0x0003"), 7);  // the component's own answer
    EXPECT_EQ(MonitorIqa("front.jpg", "rear.jpg"), 0);
}

TEST_F(MonitorTest, WithoutAUsableComponentForwardingStaysOff) {
    struct Case {
        const char* what;
        std::string installed;  // empty: no file
        const char* initAnswer;
    } cases[] = {
        {"missing", "", "1"},
        {"incomplete", BuiltIncompleteMonitorStandInPath(), "1"},
        {"refusing", BuiltMonitorStandInPath(), "0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        if (!c.installed.empty()) Install(c.installed);
        setenv("KOVRAN_OSTRA_INIT", c.initAnswer, 1);
        Start("");
        MonitorLoad();
        EXPECT_FALSE(Monitor().forwarding);
        const std::string tail = "error loading Ostra " + component() + "\r\nEOstra off\r\n";
        ASSERT_GE(Logged().size(), tail.size());
        EXPECT_EQ(Logged().substr(Logged().size() - tail.size()), tail);
        EXPECT_EQ(MonitorEvent(2, 2, 0, 64), 0);
        EXPECT_EQ(MonitorIqa("f", "r"), 1);
        device::UpdateIdentity([](DeviceIdentity& id) { id.serialLow = 99; });
        SetLastResult(-21);
        ApiLeave();
        const std::string calls = Calls();
        EXPECT_EQ(calls.find("OstraLogExt"), std::string::npos) << calls;
        std::filesystem::remove(record());
        TearDown();
    }
}

TEST_F(MonitorTest, SwitchedOffInTheIni) {
    Install(BuiltMonitorStandInPath());
    Start("", "onoff=0\n");
    MonitorLoad();
    EXPECT_EQ(Logged(), "EOstra off\r\n");
    EXPECT_EQ(Calls(), "");
}

TEST_F(MonitorTest, LeaveMapsResultsToEvents) {
    Install(BuiltMonitorStandInPath());
    Start("");
    MonitorLoad();
    device::UpdateIdentity([](DeviceIdentity& id) { id.serialLow = 123456; });
    Frame().deviceState = DeviceState::Open;
    Frame().currentHandle = 9;
    std::filesystem::remove(record());

    for (int code : {-111, -112, -114, -113, -81, -90, -22, 0, 5, -3}) {
        SetLastResult(code);
        ApiLeave();
    }
    EXPECT_EQ(Calls(),
              "OstraLogExt 2 32 0 2 [] [Double] 0 0\n"
              "OstraLogExt 2 32 0 4 [] [Sequence] 0 0\n"
              "OstraLogExt 2 32 0 4 [] [Sequence] 0 0\n"
              "OstraLogExt 2 32 0 8 [] [Edge] 0 0\n"
              "OstraLogExt 2 32 0 1 [] [Incomplete stamp] 0 0\n"
              "OstraLogExt 1024 1024 0 16 [] [IQA] 0 0\n"
              "OstraLogExt 2 2 0 1 [] [CALIBRATION] 0 0\n");
    std::filesystem::remove(record());

    // A device error is reported once; a lost handle also says the device is
    // gone.
    SetLastResult(-21);
    ApiLeave();
    SetLastResult(-18);
    ApiLeave();
    Frame().deviceState = DeviceState::Failed;
    SetLastResult(-14);
    ApiLeave();
    EXPECT_EQ(Calls(),
              "OstraLogExt 2 2 0 64 [] [] 0 0\n"
              "OstraLogExt 8 10 0 0 [] [] 0 0\n");
    EXPECT_TRUE(Monitor().deviceErrorSent);

    // Success on a usable device whose serial can be announced again clears
    // the mark.
    Frame().deviceState = DeviceState::Open;
    SetLastResult(0);
    ApiLeave();
    EXPECT_FALSE(Monitor().deviceErrorSent);

    // Without a device (serial low 0) nothing is sent.
    std::filesystem::remove(record());
    device::UpdateIdentity([](DeviceIdentity& id) { id.serialLow = 0; });
    SetLastResult(-111);
    ApiLeave();
    EXPECT_EQ(Calls(), "");
}

}  // namespace
}  // namespace kovran::test
