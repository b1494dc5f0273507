// The libusb backend's translations, which need no device.
#include <gtest/gtest.h>
#include <libusb.h>

#include "platform/usb_libusb.h"

namespace kovran::platform {
namespace {

TEST(LibusbBackend, DevicePathsRoundTrip) {
    const std::string path = LibusbDevicePath(0x7E51, 0x000B, 3, {1, 4, 12});
    EXPECT_EQ(path, "\\\\?\\USB#VID_7E51&PID_000B#3-1.4.12#{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}");
    const auto loc = ParseLibusbDevicePath(path);
    ASSERT_TRUE(loc);
    EXPECT_EQ(loc->vid, 0x7E51);
    EXPECT_EQ(loc->pid, 0x000B);
    EXPECT_EQ(loc->bus, 3);
    EXPECT_EQ(loc->ports, (std::vector<std::uint8_t>{1, 4, 12}));
    // The transport upper-cases paths; that changes nothing here.
    EXPECT_TRUE(ParseLibusbDevicePath(
        "\\\\?\\usb#vid_7e51&pid_000b#3-1#{6bdd1fc6-810f-11d0-bec7-08002be2092f}"));

    for (const char* bad :
         {"", "\\\\?\\USB#VID_7E51", "\\\\?\\USB#VID_7E5G&PID_0003#1-1#x",
          "\\\\?\\USB#VID_7E51&PID_0003#1#x", "\\\\?\\USB#VID_7E51&PID_0003#1-#x",
          "\\\\?\\USB#VID_7E51&PID_0003#1-256#x",
          "\\\\?\\USB#VID_7E51&PID_0003#1-1.2.3.4.5.6.7.8#x", "\\\\?\\USB#VID_7E51&PID_0003#1-1"})
        EXPECT_FALSE(ParseLibusbDevicePath(bad)) << bad;
}

TEST(LibusbBackend, ErrorsBecomeTheNumbersTheTransportTests) {
    EXPECT_EQ(WinErrorFromLibusb(LIBUSB_SUCCESS), 0);
    EXPECT_EQ(WinErrorFromLibusb(LIBUSB_ERROR_NO_DEVICE), 2);
    EXPECT_EQ(WinErrorFromLibusb(LIBUSB_ERROR_NOT_FOUND), 2);
    EXPECT_EQ(WinErrorFromLibusb(LIBUSB_ERROR_ACCESS), 5);
    EXPECT_EQ(WinErrorFromLibusb(LIBUSB_ERROR_IO), 21);
    EXPECT_EQ(WinErrorFromLibusb(LIBUSB_ERROR_PIPE), 31);
    EXPECT_EQ(WinErrorFromLibusb(LIBUSB_ERROR_OVERFLOW), 31);
    EXPECT_EQ(WinErrorFromLibusb(LIBUSB_ERROR_TIMEOUT), 1460);
    EXPECT_EQ(WinErrorFromLibusb(LIBUSB_ERROR_NO_MEM), 1450);
    EXPECT_EQ(WinErrorFromLibusb(LIBUSB_ERROR_BUSY), 170);
    EXPECT_EQ(WinErrorFromLibusb(-12345), 31);

    EXPECT_EQ(WinErrorFromTransferStatus(LIBUSB_TRANSFER_COMPLETED), 0);
    EXPECT_EQ(WinErrorFromTransferStatus(LIBUSB_TRANSFER_CANCELLED), 995);
    EXPECT_EQ(WinErrorFromTransferStatus(LIBUSB_TRANSFER_NO_DEVICE), 2);
    EXPECT_EQ(WinErrorFromTransferStatus(LIBUSB_TRANSFER_ERROR), 21);
    EXPECT_EQ(WinErrorFromTransferStatus(LIBUSB_TRANSFER_TIMED_OUT), 1460);
    EXPECT_EQ(WinErrorFromTransferStatus(LIBUSB_TRANSFER_STALL), 31);
}

TEST(LibusbBackend, ListsOnlyScannerVendors) {
    EXPECT_TRUE(IsListedVendor(0x7E51));
    EXPECT_TRUE(IsListedVendor(0x055F));
    EXPECT_FALSE(IsListedVendor(0x1D6B));  // root hubs
    auto backend = MakeLibusbBackend();
    if (!backend) GTEST_SKIP() << "libusb cannot start here";
    EXPECT_STREQ(backend->Name(), "libusb");
    for (const UsbDeviceInfo& d : backend->Enumerate()) {
        EXPECT_TRUE(IsListedVendor(d.vid)) << d.path;
        const auto loc = ParseLibusbDevicePath(d.path);
        ASSERT_TRUE(loc) << d.path;
        EXPECT_EQ(loc->vid, d.vid);
        EXPECT_EQ(loc->pid, d.pid);
    }
    int error = 0;
    EXPECT_FALSE(backend->Open("\\\\?\\USB#VID_7E51&PID_0003#250-9.9#{x}", &error));
    EXPECT_EQ(error, 2);
    EXPECT_FALSE(backend->Open("not a path", &error));
    EXPECT_EQ(error, 2);
}

}  // namespace
}  // namespace kovran::platform
