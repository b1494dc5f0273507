#include "sim/command_table.h"

#include <gtest/gtest.h>

#include <map>

namespace kovran::sim {
namespace {

using platform::UsbSetup;

constexpr std::uint16_t kFamilies[] = {0x1005, 0x1006, 0x2005, 0x200A, 0x2010, 0x2207, 0x3000,
                                       0x3005, 0x3104, 0x3107, 0x4005, 0x5012, 0xD012};

CommandFeatures AllOptional() {
    CommandFeatures f;
    f.fw3000Version = true;
    f.inkjet1Config = true;
    f.inkjet2Config = true;
    return f;
}

UsbSetup Packet(std::uint8_t type, std::uint8_t request, std::uint16_t value, std::uint16_t length,
                std::uint16_t index = 0) {
    return UsbSetup{type, request, value, index, length};
}

std::optional<DecodedRequest> Decode(std::uint16_t fw, const UsbSetup& s) {
    return DecodeVendorRequest(fw, AllOptional(), s);
}

TEST(CommandTable, EveryFamilyHasOneCommandPerRegisterAndRoundTrips) {
    for (std::uint16_t fw : kFamilies) {
        std::map<std::uint16_t, std::string> owners;
        for (const CommandSpec& c : CommandsOf(fw, AllOptional())) {
            std::string name = CommandName(c.cls, c.sub);
            auto [it, fresh] = owners.emplace(RegisterOf(c.cls, c.sub), name);
            if (FirmwareVersion(fw) >= kRegisterFormFirmware) {
                EXPECT_TRUE(fresh) << std::hex << "fw " << fw << ": " << name << " and "
                                   << it->second << " share a register";
            }
            const platform::Direction in =
                c.kind != DataKind::Out ? platform::Direction::In : platform::Direction::Out;
            std::uint16_t length = c.kind == DataKind::None ? 0 : c.length;
            auto decoded = Decode(fw, EncodeCommand(fw, c.cls, c.sub, in, length));
            ASSERT_TRUE(decoded) << std::hex << "fw " << fw << " " << name;
            EXPECT_EQ(decoded->cls, c.cls);
            EXPECT_EQ(decoded->sub, c.sub);
        }
    }
}

TEST(CommandTable, EveryReadAndWriteNamesItsHandler) {
    // A read without a handler would answer nothing; a write without one
    // would drop what the host sent.
    for (std::uint16_t fw : kFamilies) {
        for (const CommandSpec& c : CommandsOf(fw, AllOptional())) {
            if (c.kind == DataKind::None) continue;
            EXPECT_NE(c.handler, nullptr) << std::hex << "fw " << fw << " " << c.name;
        }
    }
}

TEST(CommandTable, EncodesRegisterAndRequestForms) {
    // Feed start of the 0x3000 family: register 0x36 + 10.
    UsbSetup s = EncodeCommand(0x3000, kClassD1, 0x36, platform::Direction::In, 0);
    EXPECT_EQ(s.requestType, 0xC0);
    EXPECT_EQ(s.request, 0x0C);
    EXPECT_EQ(s.value, 64);
    // The same command on firmware 0x1005 travels by request code.
    s = EncodeCommand(0x1005, kClassD1, 0x36, platform::Direction::In, 0);
    EXPECT_EQ(s.requestType, 0xC0);
    EXPECT_EQ(s.request, 0xD1);
    EXPECT_EQ(s.value, 0x36);
    // Stripe track 2 reads 64 bytes from register 3 + 50 with bRequest 4.
    s = EncodeCommand(0x5012, kClassD2, 0x03, platform::Direction::In, 64);
    EXPECT_EQ(s.request, 0x04);
    EXPECT_EQ(s.value, 53);
    // Writes use 0x40 in the register form, and stay reads in the old one.
    EXPECT_EQ(EncodeCommand(0x5012, kClassD0, 0x14, platform::Direction::Out, 8).requestType, 0x40);
    EXPECT_EQ(EncodeCommand(0x1005, kClassD1, 0x0A, platform::Direction::Out, 8).requestType, 0xC0);
    // Bit 15 of the version register does not change the protocol.
    EXPECT_EQ(EncodeCommand(0xA207, kClassD0, 0x02, platform::Direction::In, 5).request, 0x04);
}

TEST(CommandTable, RegisterMeaningDependsOnFamily) {
    // Register 12: 0xD0/0x0C from 0x4000, 0xD1/2 below 0x3000, nothing between.
    auto r = Decode(0x4005, Packet(0xC0, 0x04, 12, 8));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->cls, kClassD0);
    EXPECT_EQ(r->sub, 0x0C);
    r = Decode(0x2005, Packet(0xC0, 0x0C, 12, 0));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->cls, kClassD1);
    EXPECT_EQ(r->sub, 0x02);
    EXPECT_FALSE(Decode(0x3005, Packet(0xC0, 0x04, 12, 8)));
    // Register 30: sensor configuration only above 0x3103, "front acquired"
    // from 0x200A, refused in between.
    EXPECT_TRUE(Decode(0x3104, Packet(0xC0, 0x04, 30, 8)));
    EXPECT_FALSE(Decode(0x3103, Packet(0xC0, 0x04, 30, 8)));
    EXPECT_TRUE(Decode(0x2100, Packet(0xC0, 0x0C, 30, 1)));
    EXPECT_FALSE(Decode(0x2009, Packet(0xC0, 0x0C, 30, 1)));
    // Register 40: MICR head block above 0x3006, colour set-up below 0x3000.
    r = Decode(0x3007, Packet(0xC0, 0x04, 40, 16));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->cls, kClassD0);
    r = Decode(0x2100, Packet(0xC0, 0x0C, 40, 1));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->cls, kClassD1);
    EXPECT_FALSE(Decode(0x3006, Packet(0xC0, 0x04, 40, 16)));
    // Enable: 0xD0/9 from 0x3000, 0xD1/5 (register 15) below.
    EXPECT_TRUE(Decode(0x3000, Packet(0xC0, 0x0C, 9, 1)));
    EXPECT_FALSE(Decode(0x2FFF, Packet(0xC0, 0x0C, 9, 1)));
    EXPECT_TRUE(Decode(0x2FFF, Packet(0xC0, 0x0C, 15, 1)));
    EXPECT_FALSE(Decode(0x3000, Packet(0xC0, 0x0C, 15, 1)));
    // Photo tuning from 0x5003; counters above 0x3100 unless the device has none.
    EXPECT_FALSE(Decode(0x5002, Packet(0xC0, 0x04, 0x15, 8)));
    EXPECT_TRUE(Decode(0x5003, Packet(0xC0, 0x04, 0x15, 8)));
    EXPECT_FALSE(Decode(0x3100, Packet(0xC0, 0x04, 0x2A, 4)));
    CommandFeatures noInkjetCounter;
    noInkjetCounter.inkjetCounter = false;
    EXPECT_TRUE(DecodeVendorRequest(0x3101, noInkjetCounter, Packet(0xC0, 0x04, 0x2A, 4)));
    EXPECT_FALSE(DecodeVendorRequest(0x3101, noInkjetCounter, Packet(0xC0, 0x04, 0x2D, 4)));
}

TEST(CommandTable, TheOldFormVersionReadIsAProfileChoiceOfRegisterFirmware) {
    // What a host sends first: the version read in the old form.
    const UsbSetup oldForm = Packet(0xC0, 0xD0, 0x02, 5);
    EXPECT_FALSE(DecodeVendorRequest(0x5012, CommandFeatures{}, oldForm));
    CommandFeatures answering;
    answering.oldFormVersion = true;
    const auto decoded = DecodeVendorRequest(0x5012, answering, oldForm);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->cls, 0xD0);
    EXPECT_EQ(decoded->sub, 0x02);
    // Only the version read: other old-form commands still stall.
    EXPECT_FALSE(DecodeVendorRequest(0x5012, answering, Packet(0xC0, 0xD0, 0x03, 8)));
}

TEST(CommandTable, RefusesMalformedSetupPackets) {
    // The bRequest length rule: 4 above one byte, 12 otherwise.
    EXPECT_FALSE(Decode(0x5012, Packet(0xC0, 0x0C, 3, 8)));
    EXPECT_FALSE(Decode(0x5012, Packet(0xC0, 0x04, 9, 1)));
    EXPECT_TRUE(Decode(0x5012, Packet(0xC0, 0x04, 3, 8)));
    EXPECT_FALSE(Decode(0x5012, Packet(0xC0, 0x04, 3, 8, 1)));    // wIndex
    EXPECT_FALSE(Decode(0x5012, Packet(0xC0, 0x04, 8, 65)));      // above 64 bytes
    EXPECT_FALSE(Decode(0x5012, Packet(0xC1, 0x04, 3, 8)));       // not to the device
    EXPECT_FALSE(Decode(0x5012, Packet(0xC0, 0x04, 0x1003, 8)));  // no such register
    // Each form is understood only by its own firmware.
    EXPECT_FALSE(Decode(0x5012, Packet(0xC0, 0xD0, 2, 5)));
    EXPECT_FALSE(Decode(0x1005, Packet(0xC0, 0x04, 2, 5)));
    EXPECT_TRUE(Decode(0x1005, Packet(0xC0, 0xD0, 2, 5)));
    EXPECT_FALSE(Decode(0x1005, Packet(0x40, 0xD0, 2, 5)));  // old form only reads
    EXPECT_FALSE(Decode(0x1005, Packet(0xC0, 0xD3, 2, 5)));
    EXPECT_FALSE(Decode(0x1005, Packet(0xC0, 0xD1, 0x36, 0)));   // a 0x3000-family command
    EXPECT_FALSE(Decode(0x1005, Packet(0xC0, 0xD0, 0x102, 5)));  // sub-code above a byte
}

TEST(CommandTable, ReplyLengthsFollowTheFamily) {
    auto length = [](std::uint16_t fw, std::uint8_t cls, std::uint8_t sub) {
        auto c = FindCommand(fw, AllOptional(), cls, sub);
        return c ? static_cast<int>(c->length) : -1;
    };
    EXPECT_EQ(length(0x200F, kClassD0, 1), 2);
    EXPECT_EQ(length(0x2010, kClassD0, 1), 3);
    EXPECT_EQ(length(0x3106, kClassD0, 1), 4);
    EXPECT_EQ(length(0x3107, kClassD0, 1), 8);
    EXPECT_EQ(length(0x5012, kClassD0, 1), 8);
    EXPECT_EQ(length(0x5012, kClassD0, 2), 5);
    EXPECT_EQ(length(0x5012, kClassD0, 3), 8);
    EXPECT_EQ(length(0x5012, kClassD0, 0x28), 16);
    EXPECT_EQ(length(0x5012, kClassD0, 0x2A), 4);
    EXPECT_EQ(length(0x5012, kClassD0, 0x3C), 5);
    EXPECT_EQ(length(0x5012, kClassD1, 0x33), 33);
    EXPECT_EQ(length(0x5012, kClassD1, 0x14), 8);
    EXPECT_EQ(length(0x5012, kClassD2, 0x02), 64);
    EXPECT_EQ(length(0x5012, kClassD0, 0x51), 64);
}

}  // namespace
}  // namespace kovran::sim
