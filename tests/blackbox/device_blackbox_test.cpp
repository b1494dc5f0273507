// The device list as a host sees it, against the simulator chosen through the
// environment, and against no simulator at all.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "blackbox/host_fixture.h"

namespace kovran::test {
namespace {

class HostDevices : public HostFixture {
  protected:
    void TearDown() override {
        HostFixture::TearDown();
        unsetenv("KOVRAN_USB");
        unsetenv("KOVRAN_SIM");
    }
    std::string List() {
        auto enumerate = KVX(KVXEnumerateDevices);
        const int needed = enumerate(nullptr, 0);
        EXPECT_GE(needed, 1);
        std::string text(static_cast<std::size_t>(needed), '\0');
        EXPECT_EQ(enumerate(text.data(), needed), needed);
        return text.c_str();
    }
};

TEST_F(HostDevices, TheDefaultSimulatedScannerIsListed) {
    setenv("KOVRAN_USB", "sim", 1);
    unsetenv("KOVRAN_SIM");
    Load();
    EXPECT_EQ(List(),
              "7E51\t0003\t123456\t\\\\?\\USB#VID_7E51&PID_0003#1-1#"
              "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\n");
}

TEST_F(HostDevices, AnUnreadableProfileNeverFallsBackToTheDefault) {
    setenv("KOVRAN_USB", "sim", 1);
    setenv("KOVRAN_SIM", (dir / "missing.profile").c_str(), 1);
    Load();
    EXPECT_EQ(List(), "");
}

}  // namespace
}  // namespace kovran::test
