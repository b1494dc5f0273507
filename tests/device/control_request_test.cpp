#include "device/control_request.h"

#include <gtest/gtest.h>

namespace kovran::device {
namespace {

TEST(ControlRequest, RegisterNumbersOfTheThreeClasses) {
    EXPECT_EQ(RegisterNumber(0xD1, 0x36), 64);
    EXPECT_EQ(RegisterNumber(0xD1, 0x1F + 3), 0x22 + 10);
    EXPECT_EQ(RegisterNumber(0xD2, 5), 55);
    EXPECT_EQ(RegisterNumber(0xD0, 0x28), 0x28);
    // 0xD1 and 0xD2 keep only the sub-code's low byte; 0xD0 all of it.
    EXPECT_EQ(RegisterNumber(0xD1, 0x136), 64);
    EXPECT_EQ(RegisterNumber(0xD0, 0x1234), 0x1234);
    EXPECT_FALSE(RegisterNumber(0xD0, 0x10000));
}

TEST(ControlRequest, SetupPackets) {
    const platform::UsbSetup read8 = RegisterSetup(platform::Direction::In, 3, 8);
    EXPECT_EQ(read8.requestType, 0xC0);
    EXPECT_EQ(read8.request, 0x04);
    EXPECT_EQ(read8.value, 3);
    EXPECT_EQ(read8.index, 0);
    EXPECT_EQ(read8.length, 8);
    EXPECT_EQ(RegisterSetup(platform::Direction::In, 3, 1).request, 0x0C);
    EXPECT_EQ(RegisterSetup(platform::Direction::Out, 3, 0).request, 0x0C);
    EXPECT_EQ(RegisterSetup(platform::Direction::Out, 3, 2).requestType, 0x40);

    const platform::UsbSetup old = CommandRequestSetup(0xD1, 0x236, 33);
    EXPECT_EQ(old.requestType, 0xC0);
    EXPECT_EQ(old.request, 0xD1);
    EXPECT_EQ(old.value, 0x36);
    EXPECT_EQ(old.length, 33);
}

}  // namespace
}  // namespace kovran::device
