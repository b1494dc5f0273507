#include "device/serial_number.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/usb_vendors.h"

namespace kovran::device {
namespace {

TEST(SerialNumber, HighAndLowNumbers) {
    EXPECT_EQ(ParseSerialNumbers("012345", platform::kMainVendor).low, 12345);
    EXPECT_EQ(ParseSerialNumbers("012345", platform::kMainVendor).high, 0);
    EXPECT_EQ(ParseSerialNumbers("1234567", platform::kMainVendor).low, 1234567);
    EXPECT_EQ(ParseSerialNumbers("12345678", platform::kMainVendor).low, 12345678);
    // Nine characters: the first is the high number.
    const SerialNumbers nine = ParseSerialNumbers("912345678", platform::kMainVendor);
    EXPECT_EQ(nine.high, 9);
    EXPECT_EQ(nine.low, 12345678);
    // Sixteen and more: only the last fifteen count.
    const SerialNumbers sixteen = ParseSerialNumbers("9123456787654321", platform::kMainVendor);
    EXPECT_EQ(sixteen.high, 1234567);
    EXPECT_EQ(sixteen.low, 87654321);
    const SerialNumbers eighteen = ParseSerialNumbers("AB1234567876543210", platform::kMainVendor);
    EXPECT_EQ(eighteen.high, 2345678);
    EXPECT_EQ(eighteen.low, 76543210);
    // Non-digits count as zero on the main vendor.
    EXPECT_EQ(ParseSerialNumbers("12A4", platform::kMainVendor).low, 1204);
    EXPECT_EQ(ParseSerialNumbers("12A4", platform::kOtherVendors[0]).low, 12);
    EXPECT_EQ(ParseSerialNumbers("", platform::kMainVendor).low, 0);
}

TEST(SerialNumber, DescriptorText) {
    const std::vector<std::uint8_t> d{12, 3, '0', 0, '1', 0, '2', 0, '3', 0, '4', 0};
    EXPECT_EQ(SerialFromDescriptor(d.data(), d.size()), "01234");
    EXPECT_EQ(SerialFromDescriptor(d.data(), 0), "");
    EXPECT_EQ(SerialFromDescriptor(nullptr, 12), "");
    // Odd lengths drop the half character.
    EXPECT_EQ(SerialFromDescriptor(d.data(), 7), "01");
    const std::vector<std::uint8_t> odd{7, 3, '0', 0, '1', 0, '2', 0};
    EXPECT_EQ(SerialFromDescriptor(odd.data(), odd.size()), "01");
    // A declared length below 2, a NUL inside, characters beyond Latin-1.
    const std::vector<std::uint8_t> tiny{1, 3, '0', 0};
    EXPECT_EQ(SerialFromDescriptor(tiny.data(), tiny.size()), "");
    const std::vector<std::uint8_t> nul{8, 3, '7', 0, 0, 0, '8', 0};
    EXPECT_EQ(SerialFromDescriptor(nul.data(), nul.size()), "7");
    const std::vector<std::uint8_t> wide{8, 3, 0xE9, 0, 0xAC, 0x20, 0x3D, 0xD8};
    EXPECT_EQ(SerialFromDescriptor(wide.data(), wide.size()), "\xE9??");
    // A full 64-byte reply of 31 characters.
    std::vector<std::uint8_t> full{64, 3};
    for (int i = 0; i < 31; ++i)
        full.insert(full.end(), {static_cast<std::uint8_t>('a' + i % 26), 0});
    EXPECT_EQ(SerialFromDescriptor(full.data(), full.size()).size(), 31u);
}

}  // namespace
}  // namespace kovran::device
