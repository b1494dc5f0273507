// A scripted USB backend for the transport's tests: the vendor control
// transfers the transport must send, in order, each with its canned reply
// or error; string descriptors come from the device entries. Anything
// unexpected is recorded as a mismatch and refused with 31.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/usb_backend.h"

namespace kovran::test {

struct FakeNode {
    platform::UsbDeviceInfo info;
    std::vector<std::uint8_t> descriptor;  // reply to GET_DESCRIPTOR (string 4 or 3)
    bool present = true;
    int openError = 0;  // refuse opens with this error (0: open)
    int failOpens = 0;  // refuse this many more opens with 21
    std::uint32_t packet = 512;
};

struct FakeExchange {
    platform::UsbSetup setup;
    std::vector<std::uint8_t> out;    // OUT: the data expected
    std::vector<std::uint8_t> reply;  // IN: the bytes answered
    int error = 0;                    // refuse with this
    long reportExtra = 0;             // claim this many bytes more (or fewer) than answered
    bool unplugs = false;             // the device vanishes with this transfer (error 2)
    std::function<void()> during;     // runs inside the transfer
};

class FakeUsb : public platform::UsbBackend {
  public:
    std::vector<FakeNode> nodes;
    std::deque<FakeExchange> script;
    std::vector<platform::UsbSetup> seen;  // vendor transfers as received
    std::vector<std::string> mismatches;
    int opens = 0;
    int failedOpens = 0;

    // A scanner of vendor 0x7E51 with the serial number's descriptor.
    FakeNode& AddScanner(std::uint16_t pid, const std::string& serial,
                         const std::string& location = "1-1");
    static std::vector<std::uint8_t> Descriptor(const std::u16string& text);

    FakeExchange& ExpectIn(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                           std::uint16_t length, std::vector<std::uint8_t> reply = {});
    FakeExchange& ExpectOut(std::uint8_t request, std::uint16_t value,
                            std::vector<std::uint8_t> data);
    FakeExchange& ExpectError(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                              std::uint16_t length, int error);

    std::vector<platform::UsbDeviceInfo> Enumerate() override;
    std::unique_ptr<platform::UsbDevice> Open(const std::string& path, int* error) override;
    const char* Name() const override { return "fake"; }

    int Control(FakeNode& node, const platform::UsbSetup& setup, std::uint8_t* data,
                std::size_t* transferred);
    FakeNode* Find(const std::string& path);
};

}  // namespace kovran::test
